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

#include "sim_files.h"
#include "world.h"

namespace {

constexpr wchar_t kJournalTimesName[] = L"journal-times.log";

enum ExitCode : int {
  kDone = 0,
  kBadArguments = 2,
  kUnknownId = 3,
  kWrongFlow = 4,
  kNotActive = 5,
  kNoWorld = 6,
};

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

// Endpoints are addressed by id only, as the real tool is by the program.
audiosim::Endpoint* ById(audiosim::World& world, const std::wstring& id) {
  for (audiosim::Endpoint& e : world.endpoints) if (e.id == id) return &e;
  return nullptr;
}

int Apply(audiosim::World& world, const std::vector<std::wstring>& args,
          const audiosim::Misbehaviour& fault) {
  audiosim::Endpoint* endpoint = ById(world, args[1]);
  if (endpoint == nullptr) return kUnknownId;
  const std::wstring& c = args[0];
  if (IsCommand(c, L"SetListenToThisDevice")) {
    if (endpoint->flow != audiosim::kCapture) return kWrongFlow;
    endpoint->listen = args[2] == L"1";
  } else if (IsCommand(c, L"SetPlaybackThroughDevice")) {
    audiosim::Endpoint* target = ById(world, args[2]);
    if (target == nullptr) return kUnknownId;
    if (endpoint->flow != audiosim::kCapture || target->flow != audiosim::kRender) return kWrongFlow;
    endpoint->listenTarget = target->id;
  } else if (IsCommand(c, L"SetDefault")) {
    if (audiosim::EffectiveState(*endpoint, audiosim::NowMs()) != audiosim::kStateActive) {
      return kNotActive;
    }
    audiosim::SetDefaultAllRoles(world, *endpoint);
  } else if (IsCommand(c, L"Enable")) {
    if (fault.enableDelayMs > 0 && !endpoint->enabled) {
      // A driver that is already coming up does not start over when asked again.
      if (endpoint->enableAtMs == 0) endpoint->enableAtMs = audiosim::NowMs() + fault.enableDelayMs;
    } else {
      audiosim::SetEnabled(world, *endpoint, true);
    }
  } else {
    audiosim::SetEnabled(world, *endpoint, false);
  }
  return kDone;
}

}  // namespace

int wmain() {
  const std::uint64_t startedMs = audiosim::NowMs();
  const wchar_t* commandLine = GetCommandLineW();
  std::wstring journal = audiosim::SimFile(audiosim::kJournalName);
  if (!journal.empty()) {
    audiosim::AppendFileBytes(journal, audiosim::ToUtf8(ArgumentText(commandLine)) + "\r\n");
  }
  // The benchmarks time a repair from a world change to the tool's start. They create this
  // file; the tests never do, so their simulator folders stay as they were. The second time is
  // the process's creation, the moment the caller asked for the run: what lies between the two
  // is the cost of starting a process, which under Wine is far above a Windows system's.
  std::wstring times = audiosim::SimFile(kJournalTimesName);
  if (!times.empty() && GetFileAttributesW(times.c_str()) != INVALID_FILE_ATTRIBUTES) {
    FILETIME created{}, exited{}, kernel{}, user{};
    std::uint64_t createdMs = startedMs;
    if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
      createdMs = ((static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime) / 10000;
    }
    audiosim::AppendFileBytes(times, std::to_string(startedMs) + " " + std::to_string(createdMs) + " " +
                                         audiosim::ToUtf8(ArgumentText(commandLine)) + "\r\n");
  }
  std::vector<std::wstring> args = SplitArguments(commandLine);
  std::wstring command = !args.empty() && args[0].size() > 1 ? args[0].substr(1) : std::wstring();
  audiosim::Misbehaviour fault = audiosim::MisbehaviourFor(command);
  if (fault.hang) Sleep(INFINITE);
  if (fault.delayMs > 0) Sleep(fault.delayMs);
  if (fault.forceExit) return static_cast<int>(fault.exitCode);
  if (!IsKnownForm(args)) return kBadArguments;
  if (fault.noEffect) return kDone;

  int result = kNoWorld;
  audiosim::UpdateWorld([&](audiosim::World& world) {
    result = Apply(world, args, fault);
    return result == kDone;
  });
  return result;
}
