#pragma once
// The status line: the one place that sets the text the user reads under the buttons. Window
// thread only.

#include <string>

namespace varn {

constexpr int kStatusLabelId = 105;

// Shows the text (when it changed) and logs it, a repeated text at most once a minute.
void SetStatusText(const std::wstring& text);
const std::wstring& CurrentStatusText();

}  // namespace varn
