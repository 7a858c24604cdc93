#pragma once
// Path helpers for the files the program places beside itself.

#include <string>

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

}  // namespace varn
