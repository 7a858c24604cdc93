#include "diagnostics/version.h"

#include <windows.h>

namespace varn {

namespace {

// Text values only: a value of another type (UBR is a DWORD on current Windows) reads as
// empty rather than as whatever its bytes would spell.
std::wstring ReadVersionValue(const wchar_t* name) {
  wchar_t buffer[512];  // 1024 bytes
  DWORD bytes = sizeof(buffer);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", name,
                   RRF_RT_REG_SZ, nullptr, buffer, &bytes) != ERROR_SUCCESS) {
    return std::wstring();
  }
  return buffer;
}

}  // namespace

std::wstring FormatOsVersion(const std::wstring& product, const std::wstring& displayVersion,
                             const std::wstring& build, const std::wstring& ubr) {
  std::wstring text = product + L" " + displayVersion + L" (build " + build;
  if (!ubr.empty()) text += L"." + ubr;
  return text + L")";
}

std::wstring OsVersionText() {
  return FormatOsVersion(ReadVersionValue(L"ProductName"), ReadVersionValue(L"DisplayVersion"),
                         ReadVersionValue(L"CurrentBuild"), ReadVersionValue(L"UBR"));
}

}  // namespace varn
