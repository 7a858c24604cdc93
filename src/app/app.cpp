#include "app/app.h"

#include <shellapi.h>

#include <cwchar>
#include <string>

namespace varn {

namespace {

KernelHandle instanceMutex;

}  // namespace

HINSTANCE ProgramInstance() { return GetModuleHandleW(nullptr); }

UINT TaskbarCreatedMessage() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
  return message;
}

InstanceClaim ClaimInstanceMutex() {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kInstanceMutexName);
  if (mutex == nullptr) return InstanceClaim::Failed;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return InstanceClaim::AlreadyRunning;
  }
  instanceMutex.reset(mutex);
  return InstanceClaim::Claimed;
}

void ReleaseInstanceMutex() { instanceMutex.reset(); }

// Whole arguments, split as the C runtime splits them: "--startup-disabled" or a path that
// holds the word is not the logon start. The line handed to wWinMain lacks the program's name,
// which the splitter reads by other rules; one is put in front.
bool IsStartupCommandLine(const wchar_t* commandLine) {
  if (commandLine == nullptr || *commandLine == L'\0') return false;
  const std::wstring line = std::wstring(L"VARNListenFix.exe ") + commandLine;
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(line.c_str(), &count);
  if (arguments == nullptr) return false;
  LocalMemory owned(arguments);
  for (int i = 1; i < count; ++i) {
    if (std::wcscmp(arguments[i], L"--startup") == 0) return true;
  }
  return false;
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

// Per-monitor aware, the window takes the DPI of the monitor it is created on, which may not
// be the system's; no WM_DPICHANGED says so at creation. Looked up at run time: Windows before
// 10 (1607) lacks the calls, and there the system DPI is the window's.
void AdoptWindowDpi(HWND window) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  using GetDpiFn = UINT(WINAPI*)(HWND);
  auto getDpi = reinterpret_cast<GetDpiFn>(reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")));
  int dpi = getDpi != nullptr ? static_cast<int>(getDpi(window)) : 0;
  if (dpi < 1 || dpi == windowState.dpi) return;
  windowState.dpi = dpi;

  // The frame was sized for the other DPI: the client area gets its size at this one, around
  // the same centre.
  RECT frame{0, 0, MulDiv(kClientWidth96, dpi, 96), MulDiv(kClientHeight96, dpi, 96)};
  using AdjustFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  auto adjust = reinterpret_cast<AdjustFn>(reinterpret_cast<void*>(GetProcAddress(user32, "AdjustWindowRectExForDpi")));
  if (adjust == nullptr || !adjust(&frame, kMainWindowStyle, FALSE, 0, static_cast<UINT>(dpi))) {
    AdjustWindowRect(&frame, kMainWindowStyle, FALSE);
  }
  RECT now{};
  GetWindowRect(window, &now);
  int width = frame.right - frame.left;
  int height = frame.bottom - frame.top;
  int x = (now.left + now.right - width) / 2;
  int y = (now.top + now.bottom - height) / 2;
  SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}


}  // namespace varn
