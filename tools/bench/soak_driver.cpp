// The Windows side of scripts/soak: changes the simulated world at random, as a restless
// machine would, while watching that the running program keeps answering. Seeded, so that a
// failing run can be repeated event for event (only the ids of re-plugged devices differ).
//
//   soak_driver <seed> <events> <out folder>
//
// Writes to the out folder:
//   events.txt   one line per event: its number, time (ms since 1601) and what changed
//   samples.txt  every 2 s "<ms since 1601> <handles> <slowest ping ms since the last sample>"
//   failures.txt what went wrong, one line each, first word crash, hang or registry (empty: nothing)
// At the end the world is put in order (every device there, enabled, unmuted, the card and
// phone the defaults) so that the script can check what the program makes of it.
// Exit code 0 when the window answered all along, 1 otherwise, 2 usage.

#include <windows.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "bench_common.h"
#include "settings/settings.h"
#include "sim_files.h"
#include "world.h"

namespace {

constexpr UINT kAnswerLimitMs = 1000;
constexpr DWORD kPingSliceMs = 250;
constexpr std::uint64_t kSampleEveryMs = 2000;

const wchar_t* const kDevices[] = {L"card", L"phone", L"bridge"};
const wchar_t* const kEndpoints[] = {L"card-in", L"phone-out", L"bridge-in", L"bridge-out"};

struct Soak {
  std::mt19937 random;
  HWND window = nullptr;
  DWORD processId = 0;
  std::wstring out;
  long long slowestPing = 0;
  std::uint64_t nextSampleAt = 0;
  bool failed = false;

  int Pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); }

  void Fail(const char* kind, const std::string& what) {
    failed = true;
    bench::AppendTextFile(out + L"\\failures.txt", std::string(kind) + " " + what + "\n");
  }

  // A window that is gone is a crash, one that does not answer within the limit a hang.
  void Ping() {
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
                                                      std::to_string(slowestPing) + "\n");
    slowestPing = 0;
    CheckSettings();
  }

  void CheckSettings();
  std::wstring Apply(audiosim::World& world);
};

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
  if (argc != 4) return 2;
  Soak soak;
  soak.random.seed(static_cast<unsigned>(_wtoi(argv[1])));
  const int events = _wtoi(argv[2]);
  soak.out = argv[3];
  bench::WriteTextFile(soak.out + L"\\events.txt", "");
  bench::WriteTextFile(soak.out + L"\\samples.txt", "");
  bench::WriteTextFile(soak.out + L"\\failures.txt", "");
  soak.window = bench::FindWindowOfClass(bench::kProgramClass);
  if (soak.window == nullptr) {
    soak.Fail("crash", "no program window");
    return 1;
  }
  soak.processId = bench::ProcessOf(soak.window);
  soak.Sample();
  for (int n = 1; n <= events && !soak.failed; ++n) {
    soak.Wait(soak.NextGap());
    std::wstring what;
    audiosim::UpdateWorld([&](audiosim::World& world) {
      what = soak.Apply(world);
      return true;
    });
    bench::AppendTextFile(soak.out + L"\\events.txt",
                          std::to_string(n) + " " + std::to_string(bench::NowMs()) + " " + bench::Utf8(what) + "\n");
    soak.Ping();
  }
  if (!PutInOrder()) soak.Fail("world", "could not be put in order");
  // Two quiet polls and some, still watching.
  soak.Wait(3500);
  soak.Sample();
  return soak.failed ? 1 : 0;
}
