#include "support/program.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <cstdio>
#include <shellapi.h>

namespace testing_support {

namespace {
constexpr wchar_t kWindowClass[] = L"VARNListenFixWindow";
}

ProgramRun::ProgramRun(const TempDir& scratch) {
  // A folder of its own: a second run must not copy over a program that still runs, and each
  // run's log stays its own.
  for (int n = 1; n < 100; ++n) {
    appDir_ = scratch / (n == 1 ? std::wstring(L"app") : L"app-" + std::to_wstring(n));
    if (CreateDirectoryW(appDir_.c_str(), nullptr) || GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  std::wstring tests = ThisExeDirectory();
  std::wstring build = tests.substr(0, tests.find_last_of(L"\\/"));
  programPath_ = appDir_ + L"\\VARNListenFix.exe";
  CopyFileW((build + L"\\VARNListenFix.exe").c_str(), programPath_.c_str(), FALSE);
  // A tool that is not there would pass for the program's "tool missing" path: say so loudly.
  const std::wstring tool = SoundToolToInstall();
  if (!CopyFileW(tool.c_str(), (appDir_ + L"\\SoundVolumeView.exe").c_str(), FALSE)) {
    const DWORD error = GetLastError();
    ADD_FAILURE() << "no sound tool at " << Utf8(tool) << " (error " << error << ")";
  }
}

ProgramRun::~ProgramRun() {
  if (process_.hProcess != nullptr) {
    if (Running()) {
      TerminateProcess(process_.hProcess, 99);
      WaitForSingleObject(process_.hProcess, 5000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
}

bool ProgramRun::Start(const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + programPath_ + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  window_ = nullptr;
  if (StartTestProcess(programPath_.c_str(), commandLine, FALSE, 0, appDir_.c_str(), startup, process_)) return true;
  std::fprintf(stderr, "ProgramRun: %ls did not start (error %lu)\n", programPath_.c_str(), GetLastError());
  return false;
}

HWND ProgramRun::WaitForWindow(DWORD timeoutMs) {
  WaitUntil([&] {
    HWND candidate = FindProgramWindow();
    DWORD owner = 0;
    if (candidate != nullptr) GetWindowThreadProcessId(candidate, &owner);
    if (owner == process_.dwProcessId) window_ = candidate;
    return window_ != nullptr || !Running();
  }, timeoutMs);
  return window_;
}

int ProgramRun::WaitForExit(DWORD timeoutMs) {
  if (process_.hProcess == nullptr) return -1;
  if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process_.hProcess, &code);
  return static_cast<int>(code);
}

bool ProgramRun::Running() const {
  return process_.hProcess != nullptr && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

void ProgramRun::PostCommand(int id) {
  if (window_ != nullptr) PostMessageW(window_, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

std::wstring ProgramRun::LogPath() const { return logPath_.empty() ? appDir_ + L"\\VARNListenFix.log" : logPath_; }

std::vector<std::string> ProgramRun::LogLines() const {
  std::vector<std::string> lines;
  for (const std::string& line : SplitCrLfLines(ReadBytes(LogPath()))) {
    lines.push_back(line.size() > 24 ? line.substr(24) : line);
  }
  return lines;
}

DestructionProbe::DestructionProbe(const ProgramRun& program, HWND window) {
  const std::wstring& path = program.ProgramPath();
  resultPath_ = path.substr(0, path.find_last_of(L'\\') + 1) + L"destruction-probe.txt";
  DeleteFileW(resultPath_.c_str());
  module_ = LoadLibraryW((ThisExeDirectory() + L"\\destruction_probe.dll").c_str());
  if (module_ == nullptr) return;
  auto procedure = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(module_, "AfterWindowProcedure")));
  DWORD thread = GetWindowThreadProcessId(window, nullptr);
  // A hook on a thread of another process runs there: the system loads the module into it.
  if (procedure != nullptr && thread != 0) hook_ = SetWindowsHookExW(WH_CALLWNDPROCRET, procedure, module_, thread);
}

DestructionProbe::~DestructionProbe() {
  if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
  if (module_ != nullptr) FreeLibrary(module_);
}

std::string DestructionProbe::TrayIconAtDestruction() const { return ReadBytes(resultPath_); }

namespace {
constexpr wchar_t kDesktopKey[] = L"Control Panel\\Desktop";
constexpr wchar_t kLogPixels[] = L"LogPixels";
}  // namespace

ScopedLogPixels::ScopedLogPixels(DWORD dpi) {
  DWORD size = sizeof(previous_);
  hadValue_ = RegGetValueW(HKEY_CURRENT_USER, kDesktopKey, kLogPixels, RRF_RT_REG_DWORD, nullptr, &previous_,
                           &size) == ERROR_SUCCESS;
  applied_ = RegSetKeyValueW(HKEY_CURRENT_USER, kDesktopKey, kLogPixels, REG_DWORD, &dpi, sizeof(dpi)) ==
             ERROR_SUCCESS;
}

ScopedLogPixels::~ScopedLogPixels() {
  if (hadValue_) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kDesktopKey, kLogPixels, REG_DWORD, &previous_, sizeof(previous_));
  } else {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kDesktopKey, kLogPixels);
  }
}

std::vector<ChildControl> ReadChildControls(HWND window) {
  std::vector<ChildControl> controls;
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    ChildControl control;
    control.id = GetDlgCtrlID(child);
    wchar_t className[64] = {};
    GetClassNameW(child, className, 64);
    control.className = className;
    // Sent, not read from the window record: a control of another process may keep its text
    // to itself.
    wchar_t text[256] = {};
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(child, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &ignored);
    control.text = text;
    control.style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
    GetWindowRect(child, &control.rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&control.rect), 2);
    controls.push_back(control);
  }
  return controls;
}

HWND FindProgramWindow() { return FindWindowW(kWindowClass, nullptr); }

bool TrayIconExists(HWND window, UINT id) {
  NOTIFYICONDATAW probe{};
  probe.cbSize = sizeof(probe);
  probe.hWnd = window;
  probe.uID = id;
  probe.uFlags = 0;
  return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}

bool ShellShowsBalloon(const std::wstring& text) {
  struct Search {
    const std::wstring& text;
    bool found;
  } search{text, false};
  // The shell draws a balloon as a tooltip window of its own with the balloon style; the window
  // text is the balloon's text while it is shown.
  EnumWindows([](HWND candidate, LPARAM data) -> BOOL {
    auto* search = reinterpret_cast<Search*>(data);
    wchar_t className[32] = {};
    if (GetClassNameW(candidate, className, 32) == 0 || wcscmp(className, TOOLTIPS_CLASSW) != 0) return TRUE;
    if ((GetWindowLongW(candidate, GWL_STYLE) & TTS_BALLOON) == 0 || !IsWindowVisible(candidate)) return TRUE;
    wchar_t shown[300] = {};
    DWORD_PTR ignored = 0;
    if (SendMessageTimeoutW(candidate, WM_GETTEXT, 300, reinterpret_cast<LPARAM>(shown), SMTO_ABORTIFHUNG,
                            2000, &ignored) != 0 &&
        search->text == shown) {
      search->found = true;
      return FALSE;
    }
    return TRUE;
  }, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<HWND> VisibleMenus(DWORD processId) {
  struct Search {
    DWORD processId;
    std::vector<HWND> menus;
  } search{processId, {}};
  // Top-level windows come in z-order, so a menu opened inside another one's loop comes first.
  EnumWindows([](HWND candidate, LPARAM data) -> BOOL {
    auto* search = reinterpret_cast<Search*>(data);
    wchar_t className[16] = {};
    DWORD owner = 0;
    GetWindowThreadProcessId(candidate, &owner);
    if (owner == search->processId && GetClassNameW(candidate, className, 16) > 0 &&
        wcscmp(className, L"#32768") == 0 && IsWindowVisible(candidate)) {
      search->menus.push_back(candidate);
    }
    return TRUE;
  }, reinterpret_cast<LPARAM>(&search));
  return search.menus;
}

}  // namespace testing_support
