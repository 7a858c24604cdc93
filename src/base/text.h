#pragma once
// Text utilities shared by every subsystem: bounded wide formatting, the text of a Windows
// error code, and the UTF-16 to UTF-8 conversion used at the file boundary.

#include <cstdint>
#include <string>

namespace varn {

// printf-style wide formatting with the Microsoft conventions ("%s" takes a wide string).
// The result is cut at 2047 characters; the call never fails. The format must be a literal
// of the caller, never data: pass data through "%s".
std::wstring FormatText(const wchar_t* format, ...);

// "0x%08lX(%s)" with the system's message text for the code, "成功" for 0 and "未知" when the
// system has no text.
std::wstring FormatErrorCode(std::uint32_t code);

// The text as one line: a line break (CR LF, CR or LF) becomes " ｜ ", any other control
// character U+FFFD; tabs stay.
std::wstring OneLineText(const std::wstring& text);

// UTF-8 form of a UTF-16 text. An unpaired surrogate becomes U+FFFD, so the result is always
// valid UTF-8.
std::string Utf16ToUtf8(const std::wstring& text);

}  // namespace varn
