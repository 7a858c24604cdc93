// The Windows side of scripts/bench: watches a program come up, shapes the simulated world,
// and times repairs from a world change to the sound tool's first command. Figures go to
// files (never through a pipe: Wine's helpers would hold it open).
//
//   bench_probe watch <window class> <out file>   times to window, visible window and tray icon
//   bench_probe choose                            saves card-in and phone-out as the choices
//   bench_probe endpoints <count>                 the world with this many endpoints (2, or 4 and up)
//   bench_probe repair <bridge|card|default> <count> <seed> <out file>
//   bench_probe post <window class> <command id>
//   bench_probe routes <timeout ms> <out file>     waits for the routes to be as they should;
//                                                 the file says what still differs
//
// Times are milliseconds since 1601 on the system clock. Exit code 0 done, 1 failed, 2 usage.

#include <windows.h>

#include <random>
#include <string>
#include <vector>

#include "bench_common.h"
#include "sim_files.h"
#include "world.h"

namespace {

std::string Text(std::uint64_t value) { return std::to_string(value); }

// Started before the program, so that the polling is already running when it starts; the
// ".ready" file tells the script when it may start the program.
int Watch(const std::wstring& className, const std::wstring& outPath) {
  bench::WriteTextFile(outPath + L".ready", "");
  std::uint64_t windowAt = 0, visibleAt = 0, trayAt = 0;
  const std::uint64_t deadline = bench::NowMs() + 60000;
  while ((visibleAt == 0 || trayAt == 0) && bench::NowMs() < deadline) {
    HWND window = bench::FindWindowOfClass(className);
    if (window != nullptr) {
      std::uint64_t now = bench::NowMs();
      if (windowAt == 0) windowAt = now;
      if (visibleAt == 0 && IsWindowVisible(window)) visibleAt = now;
      if (trayAt == 0 && bench::TrayIconShown(window)) trayAt = now;
    }
    Sleep(1);
  }
  bench::WriteTextFile(outPath, "window " + Text(windowAt) + "\nvisible " + Text(visibleAt) + "\ntray " +
                                    Text(trayAt) + "\n");
  return visibleAt != 0 && trayAt != 0 ? 0 : 1;
}

// Extra active endpoints of made-up devices, flows taking turns, after the default four; with
// two, the bridge alone.
int ShapeEndpoints(int count) {
  if (count < 2 || count == 3) return 2;
  audiosim::World world = audiosim::DefaultWorld();
  if (count == 2) {
    std::vector<audiosim::Endpoint> bridge;
    for (const audiosim::Endpoint& e : world.endpoints) if (e.device == L"bridge") bridge.push_back(e);
    world.endpoints = bridge;
    for (auto& flow : world.defaults) for (std::wstring& id : flow) id.clear();
  }
  for (int n = 1; static_cast<int>(world.endpoints.size()) < count; ++n) {
    audiosim::Endpoint e;
    e.flow = n % 2 == 0 ? audiosim::kRender : audiosim::kCapture;
    e.id = audiosim::NewEndpointId(e.flow);
    e.device = L"extra" + std::to_wstring(n);
    e.alias = e.device + (e.flow == audiosim::kRender ? L"-out" : L"-in");
    e.name = (e.flow == audiosim::kRender ? L"扬声器 (Extra Device " : L"麦克风 (Extra Device ") +
             std::to_wstring(n) + L")";
    world.endpoints.push_back(e);
  }
  for (int flow = 0; flow < 2; ++flow) {
    for (const audiosim::Endpoint& e : world.endpoints) {
      if (e.flow == flow && world.defaults[flow][0].empty()) audiosim::SetDefaultAllRoles(world, e);
    }
  }
  return audiosim::SaveWorld(world) ? 0 : 1;
}

// Routes as they should be, and no tool started for more than one poll period.
bool WaitSettled(const std::wstring& times, DWORD timeoutMs) {
  const std::uint64_t deadline = bench::NowMs() + timeoutMs;
  size_t lines = bench::CountLines(times);
  std::uint64_t quietSince = bench::NowMs();
  while (bench::NowMs() < deadline) {
    Sleep(50);
    size_t now = bench::CountLines(times);
    if (now != lines) {
      lines = now;
      quietSince = bench::NowMs();
      continue;
    }
    if (bench::NowMs() - quietSince >= 1600 && bench::RouteProblem().empty()) return true;
  }
  return false;
}

bool Change(const std::wstring& kind, bool back) {
  return audiosim::UpdateWorld([&](audiosim::World& world) {
    if (kind == L"bridge" || kind == L"card") {
      audiosim::SetPresent(world, kind, back);
      return true;
    }
    // Taking the default back is the program's repair, so there is nothing to put back.
    if (back) return false;
    const audiosim::Endpoint* bridgeOut = audiosim::FindEndpoint(world, L"bridge-out");
    if (bridgeOut == nullptr) return false;
    audiosim::SetDefaultAllRoles(world, *bridgeOut);
    return true;
  });
}

// Each event comes at a random moment of the poll period, after the program has settled.
int Repair(const std::wstring& kind, int count, unsigned seed, const std::wstring& outPath) {
  if (kind != L"bridge" && kind != L"card" && kind != L"default") return 2;
  const std::wstring times = audiosim::SimFile(L"journal-times.log");
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> phase(0, 1499);
  bench::WriteTextFile(outPath, "");
  for (int i = 0; i < count; ++i) {
    if (!WaitSettled(times, 60000)) {
      bench::AppendTextFile(outPath, "unsettled " + bench::RouteProblem() + "\n");
      return 1;
    }
    Sleep(static_cast<DWORD>(phase(random)));
    const size_t before = bench::CountLines(times);
    if (!Change(kind, false)) return 1;
    const std::uint64_t changedAt = bench::NowMs();
    const std::uint64_t deadline = changedAt + 10000;
    while (bench::CountLines(times) == before && bench::NowMs() < deadline) Sleep(2);
    std::string line = bench::LineAt(times, before);
    if (line.empty()) {
      bench::AppendTextFile(outPath, "none\n");
    } else {
      // "<tool started> <tool process created> <arguments>", both in ms since 1601.
      char* rest = nullptr;
      std::uint64_t startedAt = _strtoui64(line.c_str(), &rest, 10);
      std::uint64_t createdAt = _strtoui64(rest, &rest, 10);
      long long latency = static_cast<long long>(startedAt) - static_cast<long long>(changedAt);
      long long toCreation = static_cast<long long>(createdAt) - static_cast<long long>(changedAt);
      bench::AppendTextFile(outPath, std::to_string(latency) + " " + std::to_string(toCreation) + " " +
                                         std::string(*rest == ' ' ? rest + 1 : rest) + "\n");
    }
    if (kind != L"default") Change(kind, true);
  }
  return WaitSettled(times, 60000) ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> a(argv + 1, argv + argc);
  if (a.size() == 3 && a[0] == L"watch") return Watch(a[1], a[2]);
  if (a.size() == 1 && a[0] == L"choose") return bench::ChooseCardAndPhone() ? 0 : 1;
  if (a.size() == 2 && a[0] == L"endpoints") return ShapeEndpoints(_wtoi(a[1].c_str()));
  if (a.size() == 5 && a[0] == L"repair") {
    return Repair(a[1], _wtoi(a[2].c_str()), static_cast<unsigned>(_wtoi(a[3].c_str())), a[4]);
  }
  if (a.size() == 3 && a[0] == L"routes") {
    const std::uint64_t deadline = bench::NowMs() + _wtoi(a[1].c_str());
    std::string problem = bench::RouteProblem();
    while (!problem.empty() && bench::NowMs() < deadline) {
      Sleep(100);
      problem = bench::RouteProblem();
    }
    bench::WriteTextFile(a[2], problem);
    return problem.empty() ? 0 : 1;
  }
  if (a.size() == 3 && a[0] == L"post") {
    HWND window = bench::FindWindowOfClass(a[1]);
    return window != nullptr && PostMessageW(window, WM_COMMAND, MAKEWPARAM(_wtoi(a[2].c_str()), 0), 0) ? 0 : 1;
  }
  return 2;
}
