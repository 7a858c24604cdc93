#pragma once
// The window-thread flags as one record, and the copy of the window's state that the tasks
// writing the environment snapshot carry: taken on the window thread when such a task is
// submitted, read on the worker. Plain values only, so the worker never touches window-thread
// data.

#include <string>

namespace varn {

// The flags that decide what the window shows and does. The live set belongs to the route
// controller, which alone changes it (controller/flag_events.h); everyone else reads it or a
// copy of it.
struct WindowFlags {
  bool connectEnabled = true;        // the Connect button may be enabled
  bool bridgePresent = false;        // both bridge endpoints were present when last judged
  bool channelUnavailable = false;   // a chosen sound card input or phone output is missing or disabled
  bool unavailableHandled = false;   // that loss was reported once and input listening switched off
  bool startupReady = false;         // the start-up preparation task has finished
  bool listeningActive = false;      // both listen routes are on, as last reported by a task
  bool inputMayListen = false;       // routes were recorded since the input was last switched off
  bool autostartOn = true;           // autostart is wanted (check box and tray item)
  bool bridgeAbsentAtStart = false;  // the bridge was missing when the window was created
  bool muteNotified = false;         // the muted-input notice was shown for this mute episode
  bool startupMode = false;          // started with "--startup"
  bool exitRequested = false;        // the user chose "退出"
};

struct SnapshotInput {
  std::wstring statusText;  // the status text currently shown
  WindowFlags flags;
  int captureIndex = -1;  // selected item of the sound card input list; -1 for none
  int renderIndex = -1;   // selected item of the phone output list; -1 for none
  // The endpoint ids the picks resolved to when the copy was taken (item 0: the default of
  // that moment); empty without a pick.
  std::wstring captureResolvedId;
  std::wstring renderResolvedId;
};

}  // namespace varn
