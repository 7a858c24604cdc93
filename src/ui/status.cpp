#include "ui/status.h"

#include <windows.h>

#include "ui/window_state.h"
#include "log/log.h"

namespace varn {

namespace {

constexpr DWORD kRepeatLogIntervalMs = 60000;

std::wstring currentText;
std::wstring lastLoggedText;
DWORD lastLoggedTick = 0;
bool loggedOnce = false;

}  // namespace

void SetStatusText(const std::wstring& text) { SetStatusTextAt(text, GetTickCount()); }

// A status text may span lines; the log writer keeps it on one, joined by " ｜ ".
void SetStatusTextAt(const std::wstring& text, DWORD nowMs) {
  if (text != currentText) {
    currentText = text;
    HWND label = ControlWindow(kStatusLabelId);
    if (label != nullptr) {
      SetWindowTextW(label, text.c_str());
      // Erase too, so that the colour chosen for the new text is painted at once.
      InvalidateRect(label, nullptr, TRUE);
      UpdateWindow(label);
    }
  }
  // Periodic callers repeat the same text every few seconds; the log needs it once a minute.
  // The difference of two tick counts stays right across the 49.7-day wrap.
  if (loggedOnce && text == lastLoggedText && nowMs - lastLoggedTick < kRepeatLogIntervalMs) return;
  LogApp(text);
  lastLoggedText = text;
  lastLoggedTick = nowMs;
  loggedOnce = true;
}

const std::wstring& CurrentStatusText() { return currentText; }

}  // namespace varn
