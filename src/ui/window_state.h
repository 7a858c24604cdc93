#pragma once
// State of the window thread that the shell (app/), the window's face (ui/) and the route
// controller (controller/) all use: the main window, its DPI, the control and timer ids. The
// flags that decide what the window shows and does belong to the controller
// (controller/flag_events.h). Window thread only, static lifetime. Nothing here includes any of
// those three folders, so each of them may include this.

#include <windows.h>

namespace varn {

// Controls of the main window.
enum ControlId : int {
  kCaptureComboId = 101,
  kRenderComboId = 102,
  kAutostartCheckId = 103,
  kConnectButtonId = 104,
  kStatusLabelId = 105,
  kCancelButtonId = 106,
  kTitleId = 107,
  kSubtitleId = 108,
  kHeaderBandId = 109,
  kSoundButtonId = 110,
};

// Timers of the main window.
enum TimerId : UINT_PTR {
  kTimerDevicePoll = 1,    // 1500 ms, repeating: device-change evaluation
  kTimerVolumeGuard = 2,   // 5000 ms, repeating: volume guard and muted-input check
  kTimerAutoConnect = 3,   // start-up auto-connect, 2000 ms then 1000 ms one-shots
  kTimerChoiceGuard = 4,   // 300 ms after a pick: volume guard
  kTimerSteadyStatus = 5,  // 8000 ms after a progress or result text: the resting text
  kTimerEarlyWatch = 6,    // shortly after a device-change notification: an early evaluation
};
constexpr UINT kSteadyStatusMs = 8000;

// The main window and its DPI: window-thread data with static lifetime, like the endpoint lists
// (ui/device_lists.h) and the window-thread flags (controller/flag_events.h). Worker tasks never
// touch it.
struct WindowState {
  HWND mainWindow = nullptr;
  int dpi = 96;  // the window's DPI; sizes are given at 96 and scaled with MulDiv
};
extern WindowState windowState;

// A control of the main window, or null.
HWND ControlWindow(int id);
// A size given at 96 DPI, at the window's DPI.
int Scaled(int size96);
// Restores the main window and brings it to the front.
void RestoreMainWindow();
// The resting status text follows 8000 ms from now (a later call restarts the wait).
void ScheduleSteadyStatus();

}  // namespace varn
