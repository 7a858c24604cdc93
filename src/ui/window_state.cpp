#include "ui/window_state.h"

namespace varn {

WindowState windowState;

HWND ControlWindow(int id) {
  return windowState.mainWindow != nullptr ? GetDlgItem(windowState.mainWindow, id) : nullptr;
}

int Scaled(int size96) { return MulDiv(size96, windowState.dpi, 96); }

void RestoreMainWindow() {
  if (windowState.mainWindow == nullptr) return;
  ShowWindow(windowState.mainWindow, SW_RESTORE);
  SetForegroundWindow(windowState.mainWindow);
}

void ScheduleSteadyStatus() {
  if (windowState.mainWindow != nullptr) SetTimer(windowState.mainWindow, kTimerSteadyStatus, kSteadyStatusMs, nullptr);
}

}  // namespace varn
