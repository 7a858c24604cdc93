#include "log/path.h"

#include <windows.h>

namespace varn {

namespace {
constexpr DWORD kProgramPathChars = 32768;
bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
}  // namespace

std::wstring GetProgramPath() {
  std::wstring path(kProgramPathChars, L'\0');
  DWORD length = GetModuleFileNameW(nullptr, path.data(), kProgramPathChars);
  path.resize(length < kProgramPathChars ? length : 0);
  return path;
}

std::wstring ParentDirectory(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return std::wstring();
  size_t end = slash;
  while (end > 0 && IsSeparator(path[end - 1])) --end;
  if (end > 0 && path[end - 1] == L':') return path.substr(0, end + 1);
  return path.substr(0, end);
}

std::wstring JoinPath(const std::wstring& directory, const std::wstring& name) {
  if (directory.empty()) return name;
  if (IsSeparator(directory.back())) return directory + name;
  return directory + L"\\" + name;
}

bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace varn
