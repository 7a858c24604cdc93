#pragma once
// The application shell: start-up, the main window procedure and the tray. Process-wide values
// here live on the window thread for the whole run.

#include <windows.h>

#include <string>

#include "base/scoped_handles.h"
#include "ui/window_state.h"

namespace varn {

constexpr wchar_t kMainWindowClass[] = L"VARNListenFixWindow";
constexpr wchar_t kWindowTitle[] = L"泽沃尼亚音频无损转换器桥接软件 V7.3";
constexpr wchar_t kInstanceMutexName[] = L"Local\\VARNListenFix.SingleInstance";
constexpr int kClientWidth96 = 620;
constexpr int kClientHeight96 = 332;
constexpr DWORD kMainWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// Window messages of the main window.
constexpr UINT WM_APP_TRAY = 0x8001;
constexpr UINT WM_APP_ACTIVATE = 0x8002;
constexpr UINT WM_APP_PROGRESS = 0x800A;
constexpr UINT WM_APP_TASK_DONE = 0x800B;
constexpr UINT WM_APP_DEVICE_CHANGE = 0x800C;  // posted by the device-change client, no data

// Tray menu and window commands.
enum CommandId : int {
  kCmdTrayOpen = 201,
  kCmdTrayConnect = 202,
  kCmdTrayCancel = 203,
  kCmdTrayAutostart = 204,
  kCmdTrayExit = 205,
  kCmdTraySound = 206,
  kCmdExportDiagnostics = 207,
};

// The program's module: the instance handle of its own executable.
HINSTANCE ProgramInstance();
// The shell's "TaskbarCreated" message, registered at the first call; 0 when the registration
// failed.
UINT TaskbarCreatedMessage();
// The single-instance mutex, held from the start until the window is destroyed. When another
// instance holds it, or it cannot be made, this one holds nothing.
enum class InstanceClaim { Claimed, AlreadyRunning, Failed };
InstanceClaim ClaimInstanceMutex();
void ReleaseInstanceMutex();

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// "--startup" as one whole argument of the command line, case-sensitive.
bool IsStartupCommandLine(const wchar_t* commandLine);
// The main window's outer rectangle for a DPI, centred in the work area.
RECT MainWindowRect(int dpi, const RECT& workArea);

// The autostart check box (103) was clicked, or the tray item (204) chosen.
void AutostartToggled(bool fromTray);

// Takes the DPI the main window was created with as the window's DPI (windowState.dpi), and
// sizes the window for it when it is not the DPI the window was made for.
void AdoptWindowDpi(HWND window);


}  // namespace varn
