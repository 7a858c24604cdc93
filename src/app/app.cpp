#include "app/app.h"

#include <cwchar>

namespace varn {

AppState app;

namespace {

constexpr DWORD kProgramPathChars = 32768;

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

std::wstring GetProgramPath() {
  std::wstring path(kProgramPathChars, L'\0');
  DWORD length = GetModuleFileNameW(nullptr, path.data(), kProgramPathChars);
  path.resize(length < kProgramPathChars ? length : 0);
  return path;
}

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

bool IsStartupCommandLine(const wchar_t* commandLine) {
  return commandLine != nullptr && wcsstr(commandLine, L"--startup") != nullptr;
}

RECT MainWindowRect(int dpi, const RECT& work) {
  RECT frame{0, 0, MulDiv(kClientWidth96, dpi, 96), MulDiv(kClientHeight96, dpi, 96)};
  AdjustWindowRect(&frame, kMainWindowStyle, FALSE);
  int width = frame.right - frame.left;
  int height = frame.bottom - frame.top;
  int x = work.left + ((work.right - work.left) - width) / 2;
  int y = work.top + ((work.bottom - work.top) - height) / 2;
  return RECT{x, y, x + width, y + height};
}

void RestoreMainWindow() {
  if (windowState.mainWindow == nullptr) return;
  ShowWindow(windowState.mainWindow, SW_RESTORE);
  SetForegroundWindow(windowState.mainWindow);
}

}  // namespace varn
