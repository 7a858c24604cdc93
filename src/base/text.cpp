#include "base/text.h"

#include <windows.h>

#include <cstdarg>
#include <cwchar>

namespace varn {

namespace {
constexpr size_t kFormatBufferChars = 2048;
}

// msvcrt's _vsnwprintf is used on purpose: it keeps the Microsoft meaning of "%s" in a wide
// format (a wide string), which the C99 printf family of mingw would read as a narrow one.
std::wstring FormatText(const wchar_t* format, ...) {
  if (format == nullptr) return std::wstring();
  wchar_t buffer[kFormatBufferChars];
  va_list args;
  va_start(args, format);
  int written = _vsnwprintf(buffer, kFormatBufferChars - 1, format, args);
  va_end(args);
  // On truncation the function returns a negative count and may leave the buffer
  // unterminated; the last slot is ours.
  buffer[kFormatBufferChars - 1] = L'\0';
  size_t length = written >= 0 ? static_cast<size_t>(written) : wcslen(buffer);
  if (length > kFormatBufferChars - 1) length = kFormatBufferChars - 1;
  return std::wstring(buffer, length);
}

std::wstring FormatErrorCode(std::uint32_t code) {
  if (code == 0) return L"0x00000000(成功)";
  wchar_t* systemText = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(&systemText), 0, nullptr);
  std::wstring text;
  if (length != 0 && systemText != nullptr) text.assign(systemText, length);
  if (systemText != nullptr) LocalFree(systemText);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
  if (text.empty()) text = L"未知";
  return FormatText(L"0x%08lX(%s)", static_cast<unsigned long>(code), text.c_str());
}

// One event is one line, whatever text it carries: a device name or a command line with a
// line break in it must not be able to start a record of its own (a forged "[ERROR]" line in
// the log or the diagnostics file a user sends in). Breaks become the separator the status
// line uses, every other control character U+FFFD. Tabs stay.
std::wstring OneLineText(const std::wstring& text) {
  std::wstring line;
  line.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    wchar_t c = text[i];
    if (c == L'\r' || c == L'\n') {
      if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
      line += L" ｜ ";
    } else if ((c < 0x20 && c != L'\t') || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029) {
      line += static_cast<wchar_t>(0xFFFD);
    } else {
      line += c;
    }
  }
  return line;
}

// Written by hand rather than through WideCharToMultiByte: what the system does with a lone
// surrogate differs between Windows versions, and a log line must never carry invalid bytes.
std::string Utf16ToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (size_t i = 0; i < text.size(); ++i) {
    std::uint32_t cp = static_cast<std::uint16_t>(text[i]);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
      std::uint32_t low = static_cast<std::uint16_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

}  // namespace varn
