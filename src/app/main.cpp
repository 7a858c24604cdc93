// Entry point: one instance per logon session, the start banner, the logon start without a
// window when nothing was chosen yet, and the message loop.

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "app/app.h"
#include "controller/flag_events.h"
#include "diagnostics/version.h"
#include "log/log.h"
#include "base/path.h"
#include "base/scoped_handles.h"
#include "base/text.h"
#include "tool_runner/tool_runner.h"
#include "settings/saved_choice.h"

namespace varn {

namespace {

// The program runs elevated from a folder the user may be able to write to; DLLs must come
// from the system directory only. Looked up at run time: unpatched Windows 7 lacks the call.
void RestrictDllSearchToSystem() {
  using SetDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto setDirectories = reinterpret_cast<SetDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDirectories != nullptr) setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

int SystemDpi() {
  using GetDpiFn = UINT(WINAPI*)();
  auto getDpi = reinterpret_cast<GetDpiFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForSystem")));
  if (getDpi != nullptr) return static_cast<int>(getDpi());
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return 96;
  int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi < 1 ? 96 : dpi;
}

void WriteStartBanner(const std::wstring& programPath, const wchar_t* commandLine) {
  if (IsLogFallback()) LogWarn(L"app", L"程序目录不可写，日志已回退到: " + LogFilePath());
  LogInfo(L"app", L"================ 程序启动 ================");
  LogInfo(L"app", FormatText(L"版本=%s(%s) 日志级别=%s", kVersionText, kFileVersionText,
                             LogThreshold() != 0 ? L"INFO" : L"TRACE"));
  LogInfo(L"app", L"程序路径=" + programPath);
  LogInfo(L"app", FormatText(L"系统=%s", OsVersionText().c_str()));
  LogInfo(L"app", FormatText(L"命令行=%s",
                             commandLine != nullptr && *commandLine != L'\0' ? commandLine : L"(无)"));
}

void RegisterMainWindowClass() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = ProgramInstance();
  windowClass.hIcon = static_cast<HICON>(
      LoadImageW(ProgramInstance(), MAKEINTRESOURCEW(1), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
  windowClass.hIconSm = static_cast<HICON>(LoadImageW(ProgramInstance(), MAKEINTRESOURCEW(1), IMAGE_ICON, 16, 16, 0));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  // The window paints its own background (WM_ERASEBKGND), in the colour its controls use.
  windowClass.hbrBackground = nullptr;
  windowClass.lpszClassName = kMainWindowClass;
  RegisterClassExW(&windowClass);
}

int RunMessageLoop() {
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace

}  // namespace varn

using namespace varn;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int showCommand) {
  RestrictDllSearchToSystem();
  const InstanceClaim claim = ClaimInstanceMutex();
  if (claim == InstanceClaim::Failed) return 1;
  if (claim == InstanceClaim::AlreadyRunning) {
    HWND running = FindWindowW(kMainWindowClass, nullptr);
    if (running != nullptr) PostMessageW(running, WM_APP_ACTIVATE, 0, 0);
    return 0;
  }

  ComApartment com(COINIT_APARTMENTTHREADED);
  windowState.dpi = SystemDpi();
  std::wstring programPath = GetProgramPath();
  OpenLog(programPath);
  LocateSoundTool(programPath);
  WriteStartBanner(programPath, commandLine);

  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  RegisterMainWindowClass();

  const bool startupMode = IsStartupCommandLine(commandLine);
  NoteStartupMode(startupMode);
  LogInfo(L"app", startupMode ? L"启动方式=开机自启（窗口隐藏，常驻托盘）" : L"启动方式=手动/托盘启动（显示主窗口）");
  if (startupMode && (LoadChoice(ChoiceSide::Capture).empty() || LoadChoice(ChoiceSide::Render).empty())) {
    LogWarn(L"app", L"开机自启但尚未保存过通道选择，本次不启动界面（等用户手动设置一次）");
    return 0;
  }

  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  RECT frame = MainWindowRect(windowState.dpi, work);
  HWND window = CreateWindowExW(0, kMainWindowClass, kWindowTitle, kMainWindowStyle, frame.left,
                                frame.top, frame.right - frame.left, frame.bottom - frame.top,
                                nullptr, nullptr, ProgramInstance(), nullptr);
  if (window == nullptr) return 1;
  if (startupMode) {
    ShowWindow(window, SW_HIDE);
  } else {
    ShowWindow(window, showCommand);
    UpdateWindow(window);
  }
  return RunMessageLoop();
}
