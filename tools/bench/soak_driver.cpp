// The Windows side of scripts/soak: changes the simulated world at random, as a restless
// machine would, and works the program as a restless user would (soak_user.h), while watching
// that the running program keeps answering and that no route strays. Seeded, so that a failing
// run can be repeated event for event (only the ids of re-plugged devices differ).
//
//   soak_driver <seed> <events> <out folder> <program folder>
//
// Writes to the out folder:
//   events.txt   one line per event: its number, time (ms since 1601) and what changed or did
//   samples.txt  every 2 s "<ms since 1601> <handles> <slowest ping ms since the last sample>
//                <process id>"
//   counts.txt   "<what> <how many>" lines: events, device events, picks, connects, cancels,
//                autostart switches, restarts, route checks, route violations
//   checks.txt   one line per quiet point: when, and the status line the window showed then
//   failures.txt what went wrong, one line each, first word crash, hang, registry, restart or
//                route (empty: nothing)
// Every 40 events and at the end the driver waits for a quiet program (two polls with no
// event, no task open) and judges the routes. At the end the world is put in order (every
// device there, enabled, unmuted, the card and phone the defaults) and the user picks and
// connects the card and the phone, so that the script can check what the program makes of it.
// Exit code 0 when the window answered all along and no route strayed, 1 otherwise, 2 usage.

#include <windows.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "bench_common.h"
#include "settings/settings.h"
#include "ui/window_state.h"
#include "sim_files.h"
#include "soak_user.h"
#include "world.h"

namespace {

constexpr UINT kAnswerLimitMs = 1000;
constexpr DWORD kPingSliceMs = 250;
constexpr std::uint64_t kSampleEveryMs = 2000;

constexpr int kQuietEvery = 40;
// Restarts come in the first half only, so that the second half has one long-lived program to
// judge handles and memory by.
constexpr int kRestartEvery = 1000;

const wchar_t* const kDevices[] = {L"card", L"phone", L"bridge", L"mic", L"speaker"};
const wchar_t* const kEndpoints[] = {L"card-in", L"phone-out", L"bridge-in", L"bridge-out", L"mic-in", L"speaker-out"};

struct Counts {
  int events = 0, device = 0, picks = 0, connects = 0, cancels = 0, toggles = 0, restarts = 0, checks = 0,
      violations = 0;
};

struct Soak {
  std::mt19937 random;
  soak::ProgramWindow program;
  HWND& window = program.window;
  DWORD& processId = program.processId;
  std::wstring out;
  Counts counts;
  long long slowestPing = 0;
  std::uint64_t nextSampleAt = 0;
  bool failed = false;
  bool stopped = false;  // a failure that ends the run: anything but a route that strays

  int Pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); }

  void Fail(const char* kind, const std::string& what) {
    failed = true;
    if (std::string(kind) != "route") stopped = true;
    bench::AppendTextFile(out + L"\\failures.txt", std::string(kind) + " " + what + "\n");
  }

  // A window that is gone is a crash, one that does not answer within the limit a hang. A box the
  // program shows is closed, as the user would.
  void Ping() {
    soak::CloseBox(program);
    if (!IsWindow(window)) {
      if (!failed) Fail("crash", "the window is gone");
      return;
    }
    long long ms = bench::PingMs(window, kAnswerLimitMs);
    if (ms < 0) Fail("hang", "no answer to WM_NULL within 1 s at " + std::to_string(bench::NowMs()));
    slowestPing = std::max(slowestPing, ms);
    if (bench::NowMs() >= nextSampleAt) Sample();
  }

  // Keeps pinging while it waits, so that a hang between two events is seen too.
  void Wait(DWORD ms) {
    for (DWORD left = ms; left > 0;) {
      DWORD slice = std::min(left, kPingSliceMs);
      Sleep(slice);
      left -= slice;
      Ping();
    }
  }

  // Most gaps are shorter than the program's 1.5 s poll, so that bursts and several changes
  // inside one poll happen; the mean stays near a third of a second.
  DWORD NextGap() {
    int kind = Pick(100);
    if (kind < 75) return 20 + Pick(181);
    if (kind < 97) return 200 + Pick(1301);
    return 1500 + Pick(1501);
  }

  void Sample() {
    nextSampleAt = bench::NowMs() + kSampleEveryMs;
    bench::AppendTextFile(out + L"\\samples.txt", std::to_string(bench::NowMs()) + " " +
                                                      std::to_string(bench::HandleCount(processId)) + " " +
                                                      std::to_string(slowestPing) + " " + std::to_string(processId) +
                                                      "\n");
    slowestPing = 0;
    CheckSettings();
  }

  void CheckSettings();
  std::wstring Apply(audiosim::World& world);
  std::wstring ActAsUser(int n, int events);
  void JudgeAtQuietPoint(const std::string& when);
  void WriteCounts() const;
};

void PingSoak(void* soak) { static_cast<Soak*>(soak)->Ping(); }

// A device event most of the time; otherwise the user: a pick and its connect, a connect, a
// cancel, the autostart switch; and a restart at fixed events of the first half.
std::wstring Soak::ActAsUser(int n, int events) {
  const int every = std::min(kRestartEvery, events);
  if (n % every == every / 2 && n <= (events + 1) / 2) {
    std::string problem;
    if (!soak::Restart(program, problem)) Fail("restart", problem);
    ++counts.restarts;
    return L"restart";
  }
  const int kind = Pick(100);
  if (kind < 84) return std::wstring();
  std::wstring did;
  if (kind < 90) {
    did = soak::PickAndConnect(program, random);
    if (!did.empty()) ++counts.picks;
  } else if (kind < 93) {
    did = soak::Connect(program);
    ++counts.connects;
  } else if (kind < 96) {
    did = soak::Cancel(program);
    ++counts.cancels;
  } else {
    did = soak::ToggleAutostart(program);
    ++counts.toggles;
  }
  return did.empty() ? L"pick (empty list)" : did;
}

void Soak::JudgeAtQuietPoint(const std::string& when) {
  soak::WaitUntilQuiet(program, PingSoak, this);
  ++counts.checks;
  bench::AppendTextFile(out + L"\\checks.txt", when + ": " + bench::Utf8(soak::StatusLine(program)) + "\n");
  for (const std::string& problem : soak::JudgeRoutes(program)) {
    ++counts.violations;
    Fail("route", when + ": " + problem);
  }
}

void Soak::WriteCounts() const {
  const std::pair<const char*, int> lines[] = {
      {"events", counts.events},     {"device", counts.device},     {"picks", counts.picks},
      {"connects", counts.connects}, {"cancels", counts.cancels},   {"toggles", counts.toggles},
      {"restarts", counts.restarts}, {"checks", counts.checks},     {"violations", counts.violations}};
  std::string text;
  for (const auto& [what, count] : lines) text += std::string(what) + " " + std::to_string(count) + "\n";
  bench::WriteTextFile(out + L"\\counts.txt", text);
}

audiosim::Endpoint MakeEndpoint(const wchar_t* id, audiosim::Flow flow, const wchar_t* alias, const wchar_t* device,
                                const wchar_t* name) {
  audiosim::Endpoint endpoint;
  endpoint.id = id;
  endpoint.flow = flow;
  endpoint.alias = alias;
  endpoint.device = device;
  endpoint.name = name;
  return endpoint;
}

// The second sound card input and phone output the user can pick between.
void AddSecondDevices(audiosim::World& world) {
  world.endpoints.push_back(MakeEndpoint(L"{0.0.1.00000000}.{5e0c1a77-0d1c-4a31-9f8e-2b6d4c3a1f10}", audiosim::kCapture,
                                         L"mic-in", L"mic", L"麦克风 (USB Mic)"));
  world.endpoints.push_back(MakeEndpoint(L"{0.0.0.00000000}.{7a3e9b21-6c44-4f0d-8d2a-91c5e0b3d720}", audiosim::kRender,
                                         L"speaker-out", L"speaker", L"扬声器 (USB Speaker)"));
}

// A re-plugged device leaves its old endpoints behind as not present, as Windows does; over
// thousands of events they would pile up, so only the newest instance is kept.
void ForgetOldInstances(audiosim::World& world, const std::wstring& device) {
  auto old = [&](const audiosim::Endpoint& e) { return e.device == device && e.alias.empty(); };
  world.endpoints.erase(std::remove_if(world.endpoints.begin(), world.endpoints.end(), old), world.endpoints.end());
}

std::wstring Soak::Apply(audiosim::World& world) {
  const std::wstring device = kDevices[Pick(3)];
  audiosim::Endpoint* endpoint = audiosim::FindEndpoint(world, kEndpoints[Pick(4)]);
  if (endpoint == nullptr) return L"none";
  switch (Pick(8)) {
    case 0: audiosim::SetPresent(world, device, true); return L"plug " + device;
    case 1: audiosim::SetPresent(world, device, false); return L"unplug " + device;
    case 2:
      audiosim::ReplugAsNewInstance(world, device);
      ForgetOldInstances(world, device);
      return L"replug " + device;
    case 3: audiosim::SetEnabled(world, *endpoint, false); return L"disable " + endpoint->alias;
    case 4: audiosim::SetEnabled(world, *endpoint, true); return L"enable " + endpoint->alias;
    case 5:
      // Windows makes only an active endpoint the default.
      if (audiosim::EffectiveState(*endpoint, audiosim::NowMs()) == audiosim::kStateActive) {
        audiosim::SetDefaultAllRoles(world, *endpoint);
      }
      return L"default " + endpoint->alias;
    case 6: endpoint->mute = !endpoint->mute; return L"mute " + endpoint->alias;
    default:
      endpoint->volume = Pick(101) / 100.0;
      return L"volume " + endpoint->alias + L" " + std::to_wstring(endpoint->volume);
  }
}

bool IdShaped(const std::wstring& text) {
  return text.size() > 16 && text.front() == L'{' && text.back() == L'}' &&
         text.find_first_of(L"\r\n\t") == std::wstring::npos;
}

// Every value the program keeps is of its type, ends where its size says, and holds what it
// may: a choice is DEFAULT or DEVICE: and an id, a remembered endpoint an id or nothing.
void Soak::CheckSettings() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, varn::kSettingsKeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameChars = 256, type = 0, bytes = 0;
    BYTE data[4096];
    bytes = sizeof(data);
    LONG status = RegEnumValueW(key, index, name, &nameChars, nullptr, &type, data, &bytes);
    if (status == ERROR_NO_MORE_ITEMS) break;
    const std::string shown = bench::Utf8(name);
    if (status != ERROR_SUCCESS) {
      Fail("registry", "value " + shown + " cannot be read");
      continue;
    }
    const std::wstring valueName = name;
    if (valueName == varn::kStartupEnabledValue || valueName == varn::kStartupConfiguredValue) {
      DWORD value = 0;
      if (type == REG_DWORD && bytes == 4) memcpy(&value, data, 4);
      if (type != REG_DWORD || bytes != 4 || value > 1) Fail("registry", "value " + shown + " is not a DWORD 0 or 1");
      continue;
    }
    std::wstring text(reinterpret_cast<const wchar_t*>(data), bytes / sizeof(wchar_t));
    if (type != REG_SZ || bytes % 2 != 0 || text.empty() || text.back() != L'\0' ||
        text.find(L'\0') != text.size() - 1) {
      Fail("registry", "value " + shown + " is not one terminated REG_SZ");
      continue;
    }
    text.pop_back();
    bool good = true;
    if (valueName == varn::kCaptureIdValue || valueName == varn::kRenderIdValue) {
      good = text == L"DEFAULT" || (text.rfind(L"DEVICE:", 0) == 0 && IdShaped(text.substr(7)));
    } else if (valueName.rfind(L"Last", 0) == 0) {
      good = text.empty() || IdShaped(text);
    } else if (valueName == varn::kCaptureNameValue || valueName == varn::kRenderNameValue) {
      good = text.find_first_of(L"\r\n") == std::wstring::npos;
    } else {
      Fail("registry", "unknown value " + shown);
    }
    if (!good) Fail("registry", "value " + shown + " holds " + bench::Utf8(text));
  }
  RegCloseKey(key);
}

// Everything back as the user set it up, so that the routes have one right state.
bool PutInOrder() {
  return audiosim::UpdateWorld([](audiosim::World& world) {
    for (const wchar_t* device : kDevices) audiosim::SetPresent(world, device, true);
    for (audiosim::Endpoint& e : world.endpoints) {
      if (e.alias.empty()) continue;
      audiosim::SetEnabled(world, e, true);
      e.mute = false;
    }
    audiosim::SetDefaultAllRoles(world, *audiosim::FindEndpoint(world, L"card-in"));
    audiosim::SetDefaultAllRoles(world, *audiosim::FindEndpoint(world, L"phone-out"));
    return true;
  });
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) return 2;
  Soak soak;
  soak.random.seed(static_cast<unsigned>(_wtoi(argv[1])));
  const int events = _wtoi(argv[2]);
  soak.out = argv[3];
  soak.program.appDir = argv[4];
  bench::WriteTextFile(soak.out + L"\\events.txt", "");
  bench::WriteTextFile(soak.out + L"\\checks.txt", "");
  bench::WriteTextFile(soak.out + L"\\samples.txt", "");
  bench::WriteTextFile(soak.out + L"\\failures.txt", "");
  soak.window = bench::FindWindowOfClass(bench::kProgramClass);
  if (soak.window == nullptr) {
    soak.Fail("crash", "no program window");
    return 1;
  }
  soak.processId = bench::ProcessOf(soak.window);
  audiosim::UpdateWorld([](audiosim::World& world) {
    AddSecondDevices(world);
    return true;
  });
  soak.Sample();
  for (int n = 1; n <= events && !soak.stopped; ++n) {
    soak.Wait(soak.NextGap());
    std::wstring what = soak.ActAsUser(n, events);
    if (what.empty()) {
      audiosim::UpdateWorld([&](audiosim::World& world) {
        what = soak.Apply(world);
        return true;
      });
      ++soak.counts.device;
    }
    ++soak.counts.events;
    bench::AppendTextFile(soak.out + L"\\events.txt",
                          std::to_string(n) + " " + std::to_string(bench::NowMs()) + " " + bench::Utf8(what) + "\n");
    soak.Ping();
    if (n % kQuietEvery == 0) soak.JudgeAtQuietPoint("after event " + std::to_string(n));
    soak.WriteCounts();
  }
  if (!PutInOrder()) soak.Fail("world", "could not be put in order");
  // The user makes the usual choice once more, so that the routes have one right state.
  soak.Wait(3500);
  audiosim::World world;
  audiosim::LoadWorld(world);
  soak::PickByName(soak.program, varn::kCaptureComboId, audiosim::FindEndpoint(world, L"card-in")->name);
  soak::PickByName(soak.program, varn::kRenderComboId, audiosim::FindEndpoint(world, L"phone-out")->name);
  soak::Connect(soak.program);
  soak.JudgeAtQuietPoint("at the end");
  soak.Sample();
  soak.WriteCounts();
  return soak.failed ? 1 : 0;
}
