// Stand-in for the outside sound tool, placed beside the program in tests and the demo. It
// journals every command line it receives, misbehaves when faults.txt says so, accepts exactly
// the argument forms the program uses and applies their effect to the simulated world.
//
// Exit codes: 0 done, 2 unknown argument form, 3 unknown endpoint id, 4 endpoint of the wrong
// flow, 5 the endpoint cannot become the default (not active), 6 no world to work on.

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sound_commands.h"

namespace {

enum ExitCode : int {
  kDone = 0,
  kBadArguments = 2,
  kUnknownId = 3,
  kWrongFlow = 4,
  kNotActive = 5,
  kNoWorld = 6,
};

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

// The six forms the program relies on, with the operands each takes.
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

int ExitCodeOf(audiosim::CommandResult result) {
  switch (result) {
    case audiosim::CommandResult::kDone: return kDone;
    case audiosim::CommandResult::kUnknownId: return kUnknownId;
    case audiosim::CommandResult::kWrongFlow: return kWrongFlow;
    case audiosim::CommandResult::kNotActive: return kNotActive;
  }
  return kNoWorld;
}

audiosim::CommandResult Apply(audiosim::World& world, const std::vector<std::wstring>& args,
                              const audiosim::Misbehaviour& fault) {
  const std::wstring& c = args[0];
  if (IsCommand(c, L"SetListenToThisDevice")) return audiosim::SetListening(world, args[1], args[2] == L"1");
  if (IsCommand(c, L"SetPlaybackThroughDevice")) return audiosim::SetListenTarget(world, args[1], args[2]);
  if (IsCommand(c, L"SetDefault")) return audiosim::SetDefault(world, args[1], audiosim::kRoles);
  return audiosim::SetEndpointEnabled(world, args[1], IsCommand(c, L"Enable"), fault.enableDelayMs);
}

}  // namespace

int wmain() {
  const std::uint64_t startedMs = audiosim::NowMs();
  const wchar_t* commandLine = GetCommandLineW();
  audiosim::Misbehaviour fault = audiosim::JournalToolRun(audiosim::ArgumentText(commandLine), startedMs);
  if (fault.hang) Sleep(INFINITE);
  if (fault.delayMs > 0) Sleep(fault.delayMs);
  if (fault.forceExit) return static_cast<int>(fault.exitCode);
  std::vector<std::wstring> args = SplitArguments(commandLine);
  if (!IsKnownForm(args)) return kBadArguments;
  if (fault.noEffect) return kDone;

  int result = kNoWorld;
  audiosim::UpdateWorld([&](audiosim::World& world) {
    result = ExitCodeOf(Apply(world, args, fault));
    return result == kDone;
  });
  return result;
}
