// A window hook that scenario tests load into the running program (it is never shipped). When
// the program's main window has handled WM_DESTROY, while the window and the program still
// exist, it asks the shell whether the window's tray icon is still there, and writes "present"
// or "gone" to destruction-probe.txt beside the program. From outside this cannot be seen:
// once the window is gone the shell drops its icons by itself, a little later.

#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

namespace {

void WriteBesideProgram(const char* text) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  std::wstring file(path, length);
  file = file.substr(0, file.find_last_of(L'\\') + 1) + L"destruction-probe.txt";
  HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(out, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
  CloseHandle(out);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK AfterWindowProcedure(int code, WPARAM wParam, LPARAM lParam) {
  const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
  wchar_t className[32] = {};
  if (code == HC_ACTION && call->message == WM_DESTROY && GetClassNameW(call->hwnd, className, 32) > 0 &&
      wcscmp(className, L"VARNListenFixWindow") == 0) {
    NOTIFYICONDATAW probe{};
    probe.cbSize = sizeof(probe);
    probe.hWnd = call->hwnd;
    probe.uID = 1;
    WriteBesideProgram(Shell_NotifyIconW(NIM_MODIFY, &probe) ? "present" : "gone");
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
