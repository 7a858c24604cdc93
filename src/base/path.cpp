#include "base/path.h"

#include <windows.h>

#include <vector>

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

std::wstring WithoutLongPathPrefix(const std::wstring& path) {
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\" + path.substr(7);
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
  return path;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// FILE_FLAG_BACKUP_SEMANTICS so that a folder opens too; no access beyond its attributes, so
// that nothing another program holds open keeps us out.
std::wstring FinalPathOf(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::wstring();
  std::wstring final(kProgramPathChars, L'\0');
  DWORD length = GetFinalPathNameByHandleW(file, final.data(), kProgramPathChars, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  CloseHandle(file);
  if (length == 0 || length >= kProgramPathChars) return std::wstring();
  final.resize(length);
  return WithoutLongPathPrefix(final);
}

std::vector<std::wstring> FoldersAbove(const std::wstring& path) {
  const std::wstring plain = WithoutLongPathPrefix(path);
  // The root is the drive ("C:\") or the share ("\\server\share\"); above it nothing counts.
  size_t rootLength = 0;
  if (plain.size() >= 2 && plain[1] == L':') {
    rootLength = 3;
  } else if (plain.compare(0, 2, L"\\\\") == 0) {
    size_t server = plain.find_first_of(L"\\/", 2);
    size_t share = server == std::wstring::npos ? server : plain.find_first_of(L"\\/", server + 1);
    rootLength = share == std::wstring::npos ? plain.size() + 1 : share + 1;
  }
  std::vector<std::wstring> folders;
  std::wstring current = plain;
  for (;;) {
    std::wstring parent = ParentDirectory(current);
    if (parent.empty() || parent == current || parent.size() + 1 < rootLength) break;
    if (parent.size() < rootLength) parent = plain.substr(0, rootLength);
    folders.push_back(parent);
    if (parent.size() <= rootLength) break;
    current = parent;
  }
  return folders;
}

// A file that is not there yet is no link; a folder that cannot be looked at counts as one.
bool PassesThroughLink(const std::wstring& path) {
  const DWORD own = GetFileAttributesW(path.c_str());
  if (own == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return true;
  } else if ((own & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return true;
  }
  std::vector<std::wstring> folders = FoldersAbove(path);
  // A volume root is no link whatever it reports: Wine shows its drives, links to Unix folders,
  // as reparse points, and on Windows nobody but the administration can replace a root.
  if (!folders.empty() && IsSeparator(folders.back().back())) folders.pop_back();
  for (const std::wstring& folder : folders) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return true;
  }
  return false;
}

}  // namespace varn
