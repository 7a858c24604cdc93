#pragma once
// Which program and which system: the version texts of this build and the operating system
// line that the start banner and the environment snapshot carry.

#include <string>

namespace varn {

constexpr wchar_t kVersionText[] = L"7.3";
constexpr wchar_t kFileVersionText[] = L"7.3.0.0";

// "ProductName DisplayVersion (build CurrentBuild[.UBR])" from the registry.
std::wstring OsVersionText();
std::wstring FormatOsVersion(const std::wstring& product, const std::wstring& displayVersion,
                             const std::wstring& build, const std::wstring& ubr);

}  // namespace varn
