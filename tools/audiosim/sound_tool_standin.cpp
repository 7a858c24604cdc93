// Stand-in for the outside sound tool, placed beside the program in tests and the demo. It
// journals every command line it receives, misbehaves when faults.txt says so, and accepts
// exactly the argument forms the program uses; anything else ends with exit code 2.

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "sim_files.h"

namespace {

constexpr int kExitBadArguments = 2;

// The argument text exactly as the caller wrote it: everything after the program token and
// the blanks that follow it, parsed the way the Windows command line is.
std::wstring ArgumentText(const wchar_t* commandLine) {
  const wchar_t* p = commandLine;
  if (*p == L'"') {
    ++p;
    while (*p != L'\0' && *p != L'"') ++p;
    if (*p == L'"') ++p;
  } else {
    while (*p != L'\0' && *p != L' ' && *p != L'\t') ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  return std::wstring(p);
}

std::vector<std::wstring> SplitArguments(const wchar_t* commandLine) {
  std::vector<std::wstring> arguments;
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(commandLine, &count);
  if (argv == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(argv[i]);
  LocalFree(argv);
  return arguments;
}

bool IsCommand(const std::wstring& argument, const wchar_t* name) {
  return argument.size() > 1 && argument[0] == L'/' && _wcsicmp(argument.c_str() + 1, name) == 0;
}

// The six forms the program relies on, with the number of operands each takes.
bool IsKnownForm(const std::vector<std::wstring>& args) {
  if (args.empty()) return false;
  const std::wstring& c = args[0];
  if (IsCommand(c, L"SetListenToThisDevice")) {
    return args.size() == 3 && (args[2] == L"1" || args[2] == L"0");
  }
  if (IsCommand(c, L"SetPlaybackThroughDevice")) return args.size() == 3;
  if (IsCommand(c, L"SetDefault")) return args.size() == 3 && _wcsicmp(args[2].c_str(), L"all") == 0;
  if (IsCommand(c, L"Enable") || IsCommand(c, L"Disable")) return args.size() == 2;
  return false;
}

}  // namespace

int wmain() {
  const wchar_t* commandLine = GetCommandLineW();
  std::wstring journal = audiosim::SimFile(audiosim::kJournalName);
  if (!journal.empty()) {
    audiosim::AppendFileBytes(journal, audiosim::ToUtf8(ArgumentText(commandLine)) + "\r\n");
  }
  std::vector<std::wstring> args = SplitArguments(commandLine);
  std::wstring command = !args.empty() && args[0].size() > 1 ? args[0].substr(1) : std::wstring();
  audiosim::Misbehaviour fault = audiosim::MisbehaviourFor(command);
  if (fault.hang) Sleep(INFINITE);
  if (fault.delayMs > 0) Sleep(fault.delayMs);
  if (fault.forceExit) return static_cast<int>(fault.exitCode);
  return IsKnownForm(args) ? 0 : kExitBadArguments;
}
