// The yardstick for the benchmarks: the least a tray utility can be under the same Wine and
// the same toolchain. A window, a tray icon and two idle timers at the program's poll and
// volume-guard periods, and nothing else, so that what the program costs beyond this is its
// own. Ends on WM_COMMAND 205, like the program's tray "exit".

#include <windows.h>
#include <shellapi.h>

namespace {

constexpr wchar_t kClassName[] = L"VARNBareTrayWindow";
constexpr UINT kTrayMessage = WM_APP + 1;
constexpr UINT kExitCommand = 205;

NOTIFYICONDATAW trayRecord{};

void AddTrayIcon(HWND window) {
  trayRecord.cbSize = sizeof(trayRecord);
  trayRecord.hWnd = window;
  trayRecord.uID = 1;
  trayRecord.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  trayRecord.uCallbackMessage = kTrayMessage;
  trayRecord.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  lstrcpynW(trayRecord.szTip, L"bare tray", ARRAYSIZE(trayRecord.szTip));
  Shell_NotifyIconW(NIM_ADD, &trayRecord);
  trayRecord.uVersion = NOTIFYICON_VERSION_4;
  Shell_NotifyIconW(NIM_SETVERSION, &trayRecord);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      AddTrayIcon(window);
      SetTimer(window, 1, 1500, nullptr);
      SetTimer(window, 2, 5000, nullptr);
      return 0;
    case WM_TIMER: return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kExitCommand) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      Shell_NotifyIconW(NIM_DELETE, &trayRecord);
      PostQuitMessage(0);
      return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kClassName;
  if (RegisterClassExW(&windowClass) == 0) return 1;
  HWND window = CreateWindowExW(0, kClassName, L"bare tray", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 480, 360, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  ShowWindow(window, SW_SHOW);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
