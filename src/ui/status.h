#pragma once
// The status line: the one place that sets the text the user reads under the buttons, the
// resting text shown when nothing else is to be said, the colour class of a text, the
// muted-input notice, and the copy of the window's state that diagnostics read. Window thread
// only.

#include <windows.h>

#include <string>

#include "diagnostics/snapshot_input.h"
#include "worker/worker.h"

namespace varn {

// Colour classes of a status text.
enum class StatusClass : int {
  Plain = 0,
  Progress = 1,
  Good = 2,
  Problem = 3,
};

// Shows the text (when it changed) and logs it, a repeated text at most once a minute. A
// caller that knows what its text is says so; otherwise its wording decides (ClassifyStatus).
void SetStatusText(const std::wstring& text, StatusClass statusClass);
void SetStatusText(const std::wstring& text);
// The same with the tick count (GetTickCount) of the call given.
void SetStatusTextAt(const std::wstring& text, DWORD nowMs);
const std::wstring& CurrentStatusText();
// The class the current text was shown with: the colour of the status label.
StatusClass CurrentStatusClass();

// What the resting text is made from.
struct SteadyStatusFacts {
  WindowFlags flags;
  int captureIndex = -1;  // the picks; -1 for none
  int renderIndex = -1;
  std::wstring captureName;  // the names the picks resolve to; empty when unknown
  std::wstring renderName;
  bool bridgeCaptureListed = false;  // the bridge's endpoints are in the cached lists
  bool bridgeRenderListed = false;
  bool heldOffTheListedBridge = false;  // the ledger's routes play into the bridge's old endpoints
};
std::wstring ComposeSteadyStatus(const SteadyStatusFacts& facts);
// The resting text for these flags and the window's lists now.
std::wstring BuildSteadyStatus(const WindowFlags& flags);

// The class a text's wording says: problem words first, then the progress and good ones.
StatusClass ClassifyStatus(const std::wstring& text);
COLORREF StatusTextColor(StatusClass statusClass);

// "声卡输入通道已断开", "手机输出通道被禁用", both joined by "、", or empty.
std::wstring DescribeUnavailableChannels(bool captureMissing, bool renderMissing, bool captureDisabled,
                                         bool renderDisabled);

// Where notices go as tray balloons. Set by the owner of
// the tray icon; without it a notice is only logged.
using BalloonSink = void (*)(const std::wstring& title, const std::wstring& text, NoticeIcon icon);
void SetBalloonSink(BalloonSink sink);
// Hands a notice to that owner; dropped without one.
void ShowBalloon(const std::wstring& title, const std::wstring& text, NoticeIcon icon);

// The status text, these flags and what the picks resolve to now.
SnapshotInput CaptureWindowState(const WindowFlags& flags);

}  // namespace varn
