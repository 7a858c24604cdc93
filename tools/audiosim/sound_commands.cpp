#include "sound_commands.h"

#include <windows.h>

namespace audiosim {

namespace {

constexpr wchar_t kJournalTimesName[] = L"journal-times.log";

// Endpoints are addressed by id only, as the real tool is by the program; aliases are for
// people and tests.
Endpoint* ById(World& world, const std::wstring& id) {
  for (Endpoint& e : world.endpoints) if (e.id == id) return &e;
  return nullptr;
}

}  // namespace

CommandResult SetListening(World& world, const std::wstring& captureId, bool on) {
  Endpoint* capture = ById(world, captureId);
  if (capture == nullptr) return CommandResult::kUnknownId;
  if (capture->flow != kCapture) return CommandResult::kWrongFlow;
  capture->listen = on;
  return CommandResult::kDone;
}

CommandResult SetListenTarget(World& world, const std::wstring& captureId, const std::wstring& renderId) {
  Endpoint* capture = ById(world, captureId);
  Endpoint* target = ById(world, renderId);
  if (capture == nullptr || target == nullptr) return CommandResult::kUnknownId;
  if (capture->flow != kCapture || target->flow != kRender) return CommandResult::kWrongFlow;
  capture->listenTarget = target->id;
  return CommandResult::kDone;
}

CommandResult SetDefault(World& world, const std::wstring& id, int role) {
  Endpoint* endpoint = ById(world, id);
  if (endpoint == nullptr) return CommandResult::kUnknownId;
  if (EffectiveState(*endpoint, NowMs()) != kStateActive) return CommandResult::kNotActive;
  if (role == kRoles) SetDefaultAllRoles(world, *endpoint);
  else world.defaults[endpoint->flow][role] = endpoint->id;
  return CommandResult::kDone;
}

CommandResult SetEndpointEnabled(World& world, const std::wstring& id, bool enabled, std::uint32_t enableDelayMs) {
  Endpoint* endpoint = ById(world, id);
  if (endpoint == nullptr) return CommandResult::kUnknownId;
  if (enabled && enableDelayMs > 0 && !endpoint->enabled) {
    if (endpoint->enableAtMs == 0) endpoint->enableAtMs = NowMs() + enableDelayMs;
  } else {
    SetEnabled(world, *endpoint, enabled);
  }
  return CommandResult::kDone;
}

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

std::wstring CommandName(const std::wstring& argumentText) {
  std::wstring first = argumentText.substr(0, argumentText.find_first_of(L" \t"));
  return first.size() > 1 ? first.substr(1) : std::wstring();
}

std::uint64_t ProcessCreatedMs() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return NowMs();
  return ((static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime) / 10000;
}

Misbehaviour JournalToolRun(const std::wstring& argumentText, std::uint64_t startedMs) {
  std::wstring journal = SimFile(kJournalName);
  if (!journal.empty()) AppendFileBytes(journal, ToUtf8(argumentText) + "\r\n");
  // The benchmarks time a repair from a world change to the tool's start, and route_tests the
  // pauses between runs. They create this file; elsewhere it is never there. The second time is
  // the process's creation, the moment the caller asked for the run: what lies between the two
  // is the cost of starting a process, which under Wine is far above a Windows system's.
  std::wstring times = SimFile(kJournalTimesName);
  if (!times.empty() && GetFileAttributesW(times.c_str()) != INVALID_FILE_ATTRIBUTES) {
    AppendFileBytes(times, std::to_string(startedMs) + " " + std::to_string(ProcessCreatedMs()) + " " +
                               ToUtf8(argumentText) + "\r\n");
  }
  return MisbehaviourFor(CommandName(argumentText));
}

}  // namespace audiosim
