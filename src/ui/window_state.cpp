#include "ui/window_state.h"

namespace varn {

WindowState windowState;

bool connectEnabled = true;
bool bridgePresent = false;
bool channelUnavailable = false;
bool unavailableHandled = false;
bool startupReady = false;
bool listeningActive = false;
bool autostartOn = true;
bool bridgeAbsentAtStart = false;
bool muteNotified = false;
bool startupMode = false;
bool exitRequested = false;

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
