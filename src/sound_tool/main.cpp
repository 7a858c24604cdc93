// SoundVolumeView.exe, the product's sound helper: one audio change per run, asked for by
// VARNListenFix.exe in one of six argument forms (command_line.h), made through the Windows
// audio policy interface (policy_config.h) and read back through Core Audio. Exit code 0 only
// when the change was made and shows; otherwise one line on standard error says why
// (exit_codes.h, docs/sound-tool.md). /Check prints what the tool relies on and changes nothing.

#include <windows.h>
#include <objbase.h>

#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "endpoint_commands.h"
#include "exit_codes.h"
#include "self_check.h"

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
void WriteLine(DWORD which, const std::wstring& line) {
  HANDLE error = GetStdHandle(which);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
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
  if (outcome.exitCode != kDone) WriteLine(STD_ERROR_HANDLE, L"SoundVolumeView: " + outcome.reason + L"\r\n");
  return outcome.exitCode;
}

Outcome Carry(const Command& command) {
  if (command.action != Action::kCheck) return Execute(command);
  std::vector<std::wstring> lines;
  Outcome outcome = SelfCheck(&lines);
  std::wstring text;
  for (const std::wstring& line : lines) text += line + L"\r\n";
  WriteLine(STD_OUTPUT_HANDLE, text);
  return outcome;
}

// A single-threaded apartment: the policy class is reported registered "Both", but were it
// "Apartment", a multithreaded caller would get it through a proxy that this undocumented
// interface does not have, and every call would fail. In-process objects of either model are
// called directly from here, and no call of ours crosses apartments, so no message pump is
// needed.
int Run() {
  std::wstring why;
  std::optional<Command> command = ParseCommand(SplitCommandLine(GetCommandLineW()), &why);
  if (!command) return Finish(Outcome{kBadArguments, L"bad arguments: " + why});
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) {
    return Finish(Outcome{kInterfaceUnavailable, L"COM could not start (CoInitializeEx " + HexCode(hr) + L")"});
  }
  // Every interface is released inside Carry, before the apartment ends.
  Outcome outcome = Carry(*command);
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
