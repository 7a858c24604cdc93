// Sends a menu command to the running program's main window, the way its tray menu does, and
// waits (up to 30 s) for the window to go away when asked to. For scripts/run and people.
// Usage: window_command <command id> [--wait-gone]
// Exit codes: 0 done, 1 usage, 2 no window, 3 the window did not go away in time.

#include <windows.h>

#include <cwchar>
#include <cstdlib>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 1;
  int id = _wtoi(argv[1]);
  bool waitGone = argc > 2 && wcscmp(argv[2], L"--wait-gone") == 0;
  HWND window = FindWindowW(L"VARNListenFixWindow", nullptr);
  if (window == nullptr) return 2;
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
  if (!waitGone) return 0;
  for (int i = 0; i < 300; ++i) {
    if (!IsWindow(window)) return 0;
    Sleep(100);
  }
  return 3;
}
