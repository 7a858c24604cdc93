// SoundVolumeView.exe, the product's sound helper: one audio change per run, asked for by
// VARNListenFix.exe in one of six argument forms (command_line.h), made through the Windows
// audio policy interface (policy_config.h). Exit code 0 only when the change was made;
// otherwise one line on standard error says why (exit_codes.h, docs/sound-tool.md).

#include <windows.h>
#include <objbase.h>

#include <optional>
#include <string>

#include "command_line.h"
#include "endpoint_commands.h"
#include "exit_codes.h"

namespace sound_tool {

namespace {

// The program runs elevated, and so does this tool, from a folder the user may be able to
// write to: DLLs come from the system folder only. Looked up at run time, as unpatched
// Windows 7 lacks the call.
void RestrictDllSearchToSystem() {
  using SetDirectoriesFn = BOOL(WINAPI*)(DWORD);
  auto setDirectories = reinterpret_cast<SetDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (setDirectories != nullptr) setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// A console gets the text as it is; a file or pipe gets UTF-8.
void WriteErrorLine(const std::wstring& text) {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
  const std::wstring line = L"SoundVolumeView: " + text + L"\r\n";
  DWORD mode = 0, written = 0;
  if (GetConsoleMode(error, &mode)) {
    WriteConsoleW(error, line.c_str(), static_cast<DWORD>(line.size()), &written, nullptr);
    return;
  }
  int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return;
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), bytes.data(), size, nullptr, nullptr);
  WriteFile(error, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

int Finish(const Outcome& outcome) {
  if (outcome.exitCode != kDone) WriteErrorLine(outcome.reason);
  return outcome.exitCode;
}

// Multithreaded: the tool has no window and pumps no messages, which a single-threaded
// apartment would need for any call that crossed apartments. The policy and enumerator
// objects are free-threaded in-process objects, so no proxy stands between either way.
int Run() {
  std::wstring why;
  std::optional<Command> command = ParseCommand(SplitCommandLine(GetCommandLineW()), &why);
  if (!command) return Finish(Outcome{kBadArguments, L"bad arguments: " + why});
  HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(hr)) {
    return Finish(Outcome{kInterfaceUnavailable, L"COM could not start (CoInitializeEx " + HexCode(hr) + L")"});
  }
  // Every interface is released inside Execute, before the apartment ends.
  Outcome outcome = Execute(*command);
  CoUninitialize();
  return Finish(outcome);
}

}  // namespace

}  // namespace sound_tool

int wmain() {
  sound_tool::RestrictDllSearchToSystem();
  try {
    return sound_tool::Run();
  } catch (...) {
    // Only an allocation can throw here; the reason is written without allocating again.
    static const char kReason[] = "SoundVolumeView: out of memory\r\n";
    DWORD written = 0;
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error != nullptr && error != INVALID_HANDLE_VALUE) {
      WriteFile(error, kReason, sizeof(kReason) - 1, &written, nullptr);
    }
    return sound_tool::kInternalFailure;
  }
}
