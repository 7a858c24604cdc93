#pragma once
// Runs the real VARNListenFix.exe the way a user would: from its own folder with a sound tool
// beside it (the stand-in, or the product's own: SoundToolToInstall), on the simulated world
// of the calling test. The program is driven through its window (posted commands) and
// observed through its log, exit code and window.

#include <windows.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace testing_support {

class ProgramRun {
 public:
  // Copies the program and the sound tool into a new folder <scratch>\app (app-2, ... for
  // later runs on the same scratch directory).
  explicit ProgramRun(const TempDir& scratch);
  ~ProgramRun();  // a program still running is killed
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  bool Start(const std::wstring& arguments = L"");
  // The program's main window once it exists (and belongs to this process), or null.
  HWND WaitForWindow(DWORD timeoutMs = 20000);
  // The exit code, or -1 when the process did not end in time.
  int WaitForExit(DWORD timeoutMs = 30000);
  bool Running() const;
  void PostCommand(int id);

  const std::wstring& ProgramPath() const { return programPath_; }
  const std::wstring& AppDirectory() const { return appDir_; }
  std::wstring LogPath() const;
  // For a run whose log is expected elsewhere than beside the program (the per-user fallback).
  void UseLogAt(const std::wstring& path) { logPath_ = path; }
  // Log lines without their time stamps ("[INFO ] [app] ...").
  std::vector<std::string> LogLines() const;

 private:
  std::wstring appDir_;
  std::wstring programPath_;
  std::wstring logPath_;
  PROCESS_INFORMATION process_{};
  HWND window_ = nullptr;
};

// Looks into the running program through a window hook (destruction_probe_hook.cpp): when its
// main window has handled WM_DESTROY, the window still there, was its tray icon removed?
class DestructionProbe {
 public:
  DestructionProbe(const ProgramRun& program, HWND window);
  ~DestructionProbe();
  DestructionProbe(const DestructionProbe&) = delete;
  DestructionProbe& operator=(const DestructionProbe&) = delete;

  bool Attached() const { return hook_ != nullptr; }
  // "gone" or "present"; empty while the window was not destroyed, or when the hook never ran.
  std::string TrayIconAtDestruction() const;

 private:
  HMODULE module_ = nullptr;
  HHOOK hook_ = nullptr;
  std::wstring resultPath_;
};

// Sets the DPI that Wine processes started from now on take as the system's (the user's
// "Control Panel\Desktop" LogPixels, which each process reads once as it starts), and puts
// the old value back, or removes it when there was none, when the scope ends.
class ScopedLogPixels {
 public:
  explicit ScopedLogPixels(DWORD dpi);
  ~ScopedLogPixels();
  ScopedLogPixels(const ScopedLogPixels&) = delete;
  ScopedLogPixels& operator=(const ScopedLogPixels&) = delete;

  bool Applied() const { return applied_; }

 private:
  bool applied_ = false;
  bool hadValue_ = false;
  DWORD previous_ = 0;
};

// A child window of another process's window, as seen from outside: its place and size are in
// the parent's client coordinates.
struct ChildControl {
  int id = 0;
  std::wstring className;
  std::wstring text;
  DWORD style = 0;
  RECT rect{};
};
// The children of a window in z-order (for controls made one after the other and never
// reordered: their creation order).
std::vector<ChildControl> ReadChildControls(HWND window);

// Any running main window of the program, whichever process owns it.
HWND FindProgramWindow();
// Whether the shell has an icon for this window and id.
bool TrayIconExists(HWND window, UINT id = 1);
// Whether the shell shows a balloon with this text, whichever icon it belongs to.
bool ShellShowsBalloon(const std::wstring& text);
// The popup menus of a process that are on the screen, the frontmost first.
std::vector<HWND> VisibleMenus(DWORD processId);

}  // namespace testing_support
