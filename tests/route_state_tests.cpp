// The window-thread flags and the route ledger as tables: what each event does to the flags,
// which held routes a new connect must switch off first, and which busy-refused action waits
// for the volume guard.

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "controller/controller.h"
#include "controller/flag_events.h"
#include "controller/startup.h"
#include "routes/route_ledger.h"
#include "support/test_support.h"
#include "worker/worker.h"

namespace {

using varn::DeviceFinding;
using varn::WindowFlags;
using varn::WorkerOutcome;
using Op = varn::OperationKind;

// The route flags that are set, by name, in a fixed order.
std::string SetFlags(const WindowFlags& f) {
  std::string text;
  const std::pair<const char*, bool> flags[] = {
      {"bridgePresent", f.bridgePresent},           {"channelUnavailable", f.channelUnavailable},
      {"unavailableHandled", f.unavailableHandled}, {"connectEnabled", f.connectEnabled},
      {"listeningActive", f.listeningActive},       {"startupReady", f.startupReady},
      {"bridgeAbsentAtStart", f.bridgeAbsentAtStart}, {"inputMayListen", f.inputMayListen}};
  for (const auto& [name, set] : flags) {
    if (set) text += std::string(text.empty() ? "" : " ") + name;
  }
  return text;
}

WindowFlags FlagsNamed(const std::string& names) {
  WindowFlags f;
  f.connectEnabled = false;
  std::istringstream words(names);
  for (std::string word; words >> word;) {
    if (word == "bridgePresent") f.bridgePresent = true;
    if (word == "channelUnavailable") f.channelUnavailable = true;
    if (word == "unavailableHandled") f.unavailableHandled = true;
    if (word == "connectEnabled") f.connectEnabled = true;
    if (word == "listeningActive") f.listeningActive = true;
    if (word == "startupReady") f.startupReady = true;
    if (word == "bridgeAbsentAtStart") f.bridgeAbsentAtStart = true;
    if (word == "inputMayListen") f.inputMayListen = true;
  }
  return f;
}

WorkerOutcome Outcome(Op op, bool ok, int listening = -1, bool routesRecorded = false) {
  WorkerOutcome outcome;
  outcome.routesRecorded = routesRecorded;
  outcome.op = varn::OperationTag(op);
  outcome.ok = ok;
  outcome.listenKnown = listening >= 0;
  outcome.listening = listening == 1;
  return outcome;
}

TEST(FlagEvents, EachEventChangesTheFlagsOfItsRowOnly) {
  const std::string lost = "bridgePresent channelUnavailable unavailableHandled connectEnabled";
  const std::string working = "bridgePresent connectEnabled listeningActive startupReady";
  struct Row {
    const char* what;
    std::string before;
    std::function<void(WindowFlags&)> event;
    std::string after;
  };
  auto outcome = [](WorkerOutcome o, bool listed) { return [o, listed](WindowFlags& f) { varn::ApplyOutcome(f, o, listed); }; };
  auto finding = [](DeviceFinding d) { return [d](WindowFlags& f) { varn::ApplyFinding(f, d); }; };
  const Row rows[] = {
      {"recovery worked", lost, outcome(Outcome(Op::InputRecoveryReconnect, true, 1), false),
       "bridgePresent connectEnabled listeningActive"},
      {"recovery failed: retried, Connect off", lost, outcome(Outcome(Op::InputRecoveryReconnect, false, 0), false),
       "bridgePresent channelUnavailable unavailableHandled"},
      {"a connect that worked ends a loss", lost, outcome(Outcome(Op::ManualConnect, true, 1), false),
       "bridgePresent connectEnabled listeningActive"},
      {"a failed connect keeps it", lost, outcome(Outcome(Op::StartupAutoConnect, false, 0), false), lost},
      {"cancel", working + " inputMayListen", outcome(Outcome(Op::CancelListen, true, 0), false),
       "bridgePresent connectEnabled startupReady"},
      {"a failed cancel", working + " inputMayListen", outcome(Outcome(Op::CancelListen, false, 0), false),
       "bridgePresent connectEnabled startupReady inputMayListen"},
      {"a connect that failed after recording its routes", "bridgePresent connectEnabled",
       outcome(Outcome(Op::ManualConnect, false, 0, true), false), "bridgePresent connectEnabled inputMayListen"},
      {"a stop", "bridgePresent inputMayListen", outcome(Outcome(Op::RepeatStopInputListen, true, 0), false),
       "bridgePresent"},
      {"the reclaim reports no route state", working, outcome(Outcome(Op::DefaultReclaimReconnect, true), false),
       working},
      {"enabling failed and nothing listed", "bridgePresent connectEnabled",
       outcome(Outcome(Op::EnableBridgeEndpoints, false), false), "connectEnabled"},
      {"enabling worked", "connectEnabled", outcome(Outcome(Op::EnableBridgeEndpoints, true), true),
       "bridgePresent connectEnabled"},
      {"start-up work without the bridge since creation", "connectEnabled bridgeAbsentAtStart",
       outcome(Outcome(Op::StartupWork, true), false), "connectEnabled startupReady"},
      {"start-up work with the bridge", "connectEnabled bridgeAbsentAtStart",
       outcome(Outcome(Op::StartupWork, true), true), "bridgePresent connectEnabled startupReady bridgeAbsentAtStart"},
      {"channel lost", "bridgePresent inputMayListen", finding(DeviceFinding::ChannelLost), lost},
      {"routed endpoint moved while listening", working, finding(DeviceFinding::RoutedEndpointMoved),
       "bridgePresent unavailableHandled connectEnabled listeningActive startupReady"},
      {"routed endpoint moved while not listening", "bridgePresent connectEnabled",
       finding(DeviceFinding::RoutedEndpointMoved), "bridgePresent connectEnabled"},
      {"channels back", "channelUnavailable unavailableHandled connectEnabled", finding(DeviceFinding::ChannelsBack),
       lost},
      {"bridge back", "connectEnabled", finding(DeviceFinding::BridgeBack), "bridgePresent connectEnabled"},
      {"bridge unplugged", working + " inputMayListen", finding(DeviceFinding::BridgeUnplugged),
       "connectEnabled startupReady"},
      {"a usable pick", "bridgePresent channelUnavailable unavailableHandled", varn::ApplyUsablePick,
       "bridgePresent connectEnabled"},
  };
  for (const Row& row : rows) {
    WindowFlags flags = FlagsNamed(row.before);
    row.event(flags);
    EXPECT_EQ(SetFlags(flags), row.after) << row.what;
  }
}

TEST(RouteLedger, AConnectSwitchesOffTheHeldRoutesItDoesNotRebuild) {
  auto ledger = [](const wchar_t* input, const wchar_t* output, const wchar_t* bridgeCapture) {
    varn::RouteLedger l;
    l.input.id = input;
    l.output.id = output;
    l.bridgeCapture.id = bridgeCapture;
    l.bridgeRender.id = L"{bo}";
    return l;
  };
  const varn::RouteLedger next = ledger(L"{card}", L"{phone}", L"{bi}");
  auto moved = [](varn::RouteLedger l) {
    l.bridgeRender.id = L"{old bo}";
    return l;
  };
  struct Row {
    const char* what;
    varn::RouteLedger held;
    std::vector<std::wstring> stale;  // sources, in the order they are switched off
  };
  const Row rows[] = {
      {"nothing held", ledger(L"", L"", L""), {}},
      {"the same routes", next, {}},
      {"another input", ledger(L"{mic}", L"{phone}", L"{bi}"), {L"{mic}"}},
      {"another output: route 2 restarts", ledger(L"{card}", L"{speaker}", L"{bi}"), {L"{bi}"}},
      {"the bridge under a new id", ledger(L"{card}", L"{phone}", L"{old bi}"), {L"{old bi}"}},
      {"everything else", ledger(L"{mic}", L"{speaker}", L"{old bi}"), {L"{mic}", L"{old bi}"}},
      {"a known output without its bridge capture", ledger(L"", L"{speaker}", L""), {L"{bi}"}},
      {"the bridge playback under a new id: route 1 restarts", moved(ledger(L"{card}", L"{phone}", L"{bi}")), {L"{card}"}},
  };
  for (const Row& row : rows) {
    std::vector<std::wstring> stale;
    for (const varn::HeldRoute& route : varn::StaleRoutes(row.held, next)) stale.push_back(route.source.id);
    EXPECT_EQ(stale, row.stale) << row.what;
  }
}

// The guard's outcome never reaches a window here (there is none), as when a post fails: a
// busy-refused action waits only while the guard itself holds the worker, never for a guard
// that is over, and never runs after another task's outcome.
TEST(GuardWaiters, AnActionWaitsOnlyForTheGuardThatRunsNow) {
  varn::StartWorker(nullptr, WM_APP, WM_APP + 1);
  varn::SubmitEnforceVolumes();
  ASSERT_TRUE(testing_support::WaitUntil([] { return !varn::IsWorkerBusy(); }, 5000)) << "the dropped outcome";

  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  auto blocking = [release](Op op) {
    return [release, op](const varn::Progress&) {
      WaitForSingleObject(release, 5000);
      WorkerOutcome outcome;
      outcome.op = varn::OperationTag(op);
      return outcome;
    };
  };
  int ran = 0;
  ASSERT_TRUE(varn::SubmitTask(blocking(Op::ManualConnect), false, varn::OperationName(Op::ManualConnect)));
  EXPECT_FALSE(varn::RunAfterGuard(varn::GuardWaiter::RouteAction, [&] { ++ran; })) << "another task holds the worker";
  SetEvent(release);
  ASSERT_TRUE(testing_support::WaitUntil([] { return !varn::IsWorkerBusy(); }, 5000));

  ResetEvent(release);
  ASSERT_TRUE(varn::SubmitTask(blocking(Op::VolumeGuard), false, varn::OperationName(Op::VolumeGuard)));
  EXPECT_TRUE(varn::RunAfterGuard(varn::GuardWaiter::RouteAction, [&] { ++ran; }));
  varn::OnOutcomeTaken(Op::ManualConnect);
  varn::OnOutcomeTaken(Op::VolumeGuard);
  EXPECT_EQ(ran, 0) << "dropped by the outcome of another task";
  EXPECT_TRUE(varn::RunAfterGuard(varn::GuardWaiter::RouteAction, [&] { ++ran; }));
  varn::OnOutcomeTaken(Op::VolumeGuard);
  EXPECT_EQ(ran, 1) << "carried out once after the guard's";
  SetEvent(release);
  varn::StopWorker();
  CloseHandle(release);
}

}  // namespace
