#pragma once
// Path helpers for the files the program places beside itself, and the checks that keep the
// elevated program from following a link that an ordinary user put on one of its paths.

#include <string>
#include <vector>

namespace varn {

// Full path of the running program file; empty when it does not fit 32768 characters.
std::wstring GetProgramPath();

// The path without its last element; trailing separators are not kept, except the one of a
// drive root. Empty when the path has no separator.
std::wstring ParentDirectory(const std::wstring& path);
// The directory and the name joined by one backslash.
std::wstring JoinPath(const std::wstring& directory, const std::wstring& name);
// Any kind of file system entry; a failed query counts as missing.
bool PathExists(const std::wstring& path);

// "\\?\C:\x" -> "C:\x", "\\?\UNC\server\share\x" -> "\\server\share\x"; other paths as they are.
std::wstring WithoutLongPathPrefix(const std::wstring& path);
// The same path, letter case aside (as the file system compares names).
bool SamePath(const std::wstring& a, const std::wstring& b);
// The path of the file or folder as the file system resolves it: every link and junction
// followed, without the "\\?\" prefix. Empty when it cannot be opened.
std::wstring FinalPathOf(const std::wstring& path);
// The folders that hold the path, nearest first, down to and with its volume root ("C:\",
// "\\server\share\"). Worked out from the text alone.
std::vector<std::wstring> FoldersAbove(const std::wstring& path);
// True when the path itself or any folder that holds it, below the volume root, is a reparse
// point (a symbolic link, a junction, a mount point), or cannot be looked at. A last element
// that does not exist yet is no link.
bool PassesThroughLink(const std::wstring& path);

}  // namespace varn
