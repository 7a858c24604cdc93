#pragma once
// The status line: the one place that sets the text the user reads under the buttons. Window
// thread only.

#include <windows.h>

#include <string>

namespace varn {

// Shows the text (when it changed) and logs it, a repeated text at most once a minute.
void SetStatusText(const std::wstring& text);
// The same with the tick count (GetTickCount) of the call given.
void SetStatusTextAt(const std::wstring& text, DWORD nowMs);
const std::wstring& CurrentStatusText();

}  // namespace varn
