#include "ui/status.h"

#include <windows.h>

#include "app/app.h"
#include "log/log.h"

namespace varn {

namespace {

constexpr DWORD kRepeatLogIntervalMs = 60000;

std::wstring currentText;
std::wstring lastLoggedText;
DWORD lastLoggedTick = 0;
bool loggedOnce = false;

// A status text may span lines; the log keeps one line per event.
std::wstring OneLine(const std::wstring& text) {
  std::wstring line;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
      line += L" ｜ ";
      ++i;
    } else {
      line += text[i];
    }
  }
  return line;
}

}  // namespace

void SetStatusText(const std::wstring& text) {
  if (text != currentText) {
    currentText = text;
    HWND label = app.mainWindow != nullptr ? GetDlgItem(app.mainWindow, kStatusLabelId) : nullptr;
    if (label != nullptr) {
      SetWindowTextW(label, text.c_str());
      // Erase too, so that the colour chosen for the new text is painted at once.
      InvalidateRect(label, nullptr, TRUE);
      UpdateWindow(label);
    }
  }
  DWORD now = GetTickCount();
  // Periodic callers repeat the same text every few seconds; the log needs it once a minute.
  if (loggedOnce && text == lastLoggedText && now - lastLoggedTick < kRepeatLogIntervalMs) return;
  LogApp(OneLine(text));
  lastLoggedText = text;
  lastLoggedTick = now;
  loggedOnce = true;
}

const std::wstring& CurrentStatusText() { return currentText; }

}  // namespace varn
