#pragma once
// A copy of the window's state for the tasks that write the environment snapshot: taken on
// the window thread when such a task is submitted, read on the worker. Plain values only, so
// the worker never touches window-thread data.

#include <string>

namespace varn {

struct SnapshotInput {
  std::wstring statusText;  // the status text currently shown
  bool listeningActive = false;
  bool bridgePresent = false;
  bool channelUnavailable = false;
  bool connectEnabled = false;
  bool autostartOn = false;
  bool startupReady = false;
  bool startupMode = false;
  int captureIndex = -1;  // selected item of the sound card input list; -1 for none
  int renderIndex = -1;   // selected item of the phone output list; -1 for none
  // The endpoint ids the picks resolved to when the copy was taken (item 0: the default of
  // that moment); empty without a pick.
  std::wstring captureResolvedId;
  std::wstring renderResolvedId;
};

}  // namespace varn
