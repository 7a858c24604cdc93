// The device watchdog on the real program and the simulated world: a chosen channel lost and
// back, a chosen endpoint back under a new id, the bridge unplugged, disabled and made the
// default, and a busy worker. Each scenario changes the world as the hardware or Windows
// would and watches the log, the sound tool's journal, the registry and the window.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "ui/window_state.h"
#include "audio/endpoints.h"
#include "settings/settings.h"
#include "support/program.h"
#include "support/program_scenario.h"
#include "world.h"

using namespace testing_support;

namespace {

using Lines = std::vector<std::string>;

constexpr int kConnectButton = varn::kConnectButtonId;
constexpr int kStatusLabel = varn::kStatusLabelId;
constexpr int kTrayConnect = varn::kCmdTrayConnect;
constexpr int kTrayExit = varn::kCmdTrayExit;

const char kCardName[] = "线路输入 (High Definition Audio Device)";
const char kPhoneName[] = "扬声器 (Phone Audio Adapter)";

std::wstring Wide(const std::string& utf8) {
  int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), length);
  return text;
}

class WatchScenario : public ProgramScenario {
 protected:
  // The card's input and the phone's output chosen and resolved, as a pick leaves them.
  void ChooseCardAndPhone() {
    varn::WriteSettingString(varn::kCaptureIdValue, L"DEVICE:" + Id(L"card-in"));
    varn::WriteSettingString(varn::kCaptureNameValue, Wide(kCardName));
    varn::WriteSettingString(varn::kLastCaptureResolvedValue, Id(L"card-in"));
    varn::WriteSettingString(varn::kRenderIdValue, L"DEVICE:" + Id(L"phone-out"));
    varn::WriteSettingString(varn::kRenderNameValue, Wide(kPhoneName));
    varn::WriteSettingString(varn::kLastRenderResolvedValue, Id(L"phone-out"));
  }

  // Closing only hides the window; a raised window shows again.
  void Hide() {
    PostMessageW(window_, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window_) == FALSE; }, 5000));
  }

  size_t LogSize() const { return program_->LogLines().size(); }

  // Waits until the watchdog has run again: a new name for the phone output changes the
  // endpoint list, which the next run logs. The name goes back afterwards, seen by a second run.
  void PassTwoRuns() {
    for (const char* name : {"扬声器 (Phone Audio Adapter Pro)", kPhoneName}) {
      const size_t from = LogSize();
      ASSERT_EQ(Audiosim(L"set phone-out \"name=" + Wide(name) + L"\""), 0);
      ASSERT_NE(WaitFor("[INFO ] [dev] 设备列表发生变化", from, 10000), kNowhere);
    }
  }

  size_t JournalSize() const { return Journal().size(); }
  Lines JournalFrom(size_t from) const {
    Lines journal = Journal();
    return from < journal.size() ? Lines(journal.begin() + static_cast<long>(from), journal.end()) : Lines();
  }
  static size_t Count(const Lines& lines, const std::string& line) {
    size_t count = 0;
    for (const std::string& l : lines) count += l == line ? 1 : 0;
    return count;
  }
  std::string Q(const wchar_t* alias) const { return Quoted(Id(alias)); }
  Lines RoutesOnOnce() const {
    return {"/SetPlaybackThroughDevice " + Q(L"card-in") + " " + Q(L"bridge-out"),
            "/SetListenToThisDevice " + Q(L"card-in") + " 1",
            "/SetPlaybackThroughDevice " + Q(L"bridge-in") + " " + Q(L"phone-out"),
            "/SetListenToThisDevice " + Q(L"bridge-in") + " 1"};
  }

  std::wstring Status() const {
    wchar_t text[512] = {};
    GetWindowTextW(GetDlgItem(window_, kStatusLabel), text, 512);
    return text;
  }
  bool WaitForStatus(const std::wstring& text, DWORD timeoutMs = kFewRuns) const {
    return WaitUntil([&] { return Status() == text; }, timeoutMs);
  }
  bool ConnectEnabled() const { return IsWindowEnabled(GetDlgItem(window_, kConnectButton)) != FALSE; }
};

TEST_F(WatchScenario, TheCardUnpluggedIsReportedOnceFollowedEveryRunAndReconnectedOnceWhenBack) {
  ChooseCardAndPhone();
  ASSERT_NE(Start(), nullptr);
  Hide();

  ASSERT_EQ(Audiosim(L"unplug card"), 0);
  const std::string stop = "/SetListenToThisDevice " + Q(L"card-in") + " 0";
  ASSERT_NE(WaitFor("[WARN ] [dev] 声卡通道不可用 录制:缺失=1 被禁用=0 播放:缺失=0 被禁用=0 VARN在线=1 目标录制=" +
                    Utf8(Id(L"card-in")) + " 目标播放=" + Utf8(Id(L"phone-out"))),
            kNowhere);
  EXPECT_TRUE(WaitUntil([] { return ShellShowsBalloon(L"请打开或者插入对应的USB声卡，设备恢复后将自动连接。"); }, 5000));
  EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window_) != FALSE; }, 5000)) << "the window is raised";
  EXPECT_TRUE(WaitForStatus(L"声卡输入通道已断开，恢复后将自动连接"));
  ASSERT_TRUE(WaitUntil([&] { return Count(Journal(), stop) == 3; }, kFewRuns)) << "the silent stop";
  EXPECT_EQ(JournalFrom(0), Lines(3, stop));

  // The status follows the state on every run; the loss is not reported again.
  ASSERT_EQ(Audiosim(L"disable phone-out"), 0);
  EXPECT_TRUE(WaitForStatus(L"声卡输入通道已断开、手机输出通道被禁用，恢复后将自动连接"));
  EXPECT_FALSE(ShellShowsBalloon(L"手机输出通道被禁用：请在系统声音设置中启用，恢复后将自动连接。"));
  ASSERT_EQ(Audiosim(L"enable phone-out"), 0);
  EXPECT_TRUE(WaitForStatus(L"声卡输入通道已断开，恢复后将自动连接"));
  EXPECT_EQ(JournalFrom(0), Lines(3, stop)) << "one silent stop per loss";

  // Back: one input recovery, each route switched on once; then the loss is over.
  const size_t plugged = JournalSize();
  const size_t before = LogSize();
  ASSERT_EQ(Audiosim(L"plug card"), 0);
  const size_t done = WaitFor("[INFO ] [work] 任务结束 op=4 ok=1", before);
  ASSERT_NE(done, kNowhere);
  EXPECT_NE(Find("[INFO ] [dev] 声卡通道已恢复 录制=" + Utf8(Id(L"card-in")) + " 播放=" + Utf8(Id(L"phone-out")), before),
            kNowhere);
  EXPECT_TRUE(WaitUntil([&] { return ConnectEnabled(); }, 5000)) << "connectEnabled set again";
  PassTwoRuns();
  EXPECT_EQ(Find("[INFO ] [work] 任务开始 [声卡恢复后重连]", done), kNowhere) << "unavailableHandled cleared";
  // Windows gave both defaults to the bridge while the card and the phone output were gone;
  // the recovery takes them back before it listens.
  Lines expected = {"/Disable " + Q(L"bridge-in"),  "/Enable " + Q(L"bridge-in"),
                    "/Disable " + Q(L"bridge-out"), "/Enable " + Q(L"bridge-out"),
                    "/SetDefault " + Q(L"card-in") + " all", "/SetDefault " + Q(L"phone-out") + " all"};
  for (const std::string& line : RoutesOnOnce()) expected.push_back(line);
  EXPECT_EQ(JournalFrom(plugged), expected);
  ExitThroughTrayWithACleanLog();
}

TEST_F(WatchScenario, AFailedInputRecoveryKeepsConnectOffAndIsRetriedUntilItSucceeds) {
  ChooseCardAndPhone();
  ASSERT_NE(Start(), nullptr);
  ASSERT_EQ(Audiosim(L"unplug card"), 0);
  ASSERT_NE(WaitFor("[WARN ] [dev] 声卡通道不可用"), kNowhere);
  ASSERT_TRUE(WaitUntil([&] { return JournalSize() == 3; }, kFewRuns));

  SetFaults("SetPlaybackThroughDevice exit=5\n");
  const size_t before = LogSize();
  ASSERT_EQ(Audiosim(L"plug card"), 0);
  const size_t failed = WaitFor("[INFO ] [work] 任务结束 op=4 ok=0", before);
  ASSERT_NE(failed, kNowhere);
  EXPECT_TRUE(WaitUntil([] { return ShellShowsBalloon(L"请打开程序检查通道选择。"); }, 5000));
  // Failure clears connectEnabled: the button stays off, also while the worker idles between
  // two attempts; unavailableHandled stays, so the next run tries again.
  bool sawConnectEnabled = false;
  size_t failedAgain = kNowhere;
  WaitUntil([&] {
    sawConnectEnabled = sawConnectEnabled || ConnectEnabled();
    return (failedAgain = Find("[INFO ] [work] 任务结束 op=4 ok=0", failed + 1)) != kNowhere;
  }, kFewRuns);
  ASSERT_NE(failedAgain, kNowhere) << "retried";
  EXPECT_FALSE(sawConnectEnabled);
  EXPECT_NE(Find("[INFO ] [work] 任务开始 [声卡恢复后重连]", failed + 1), kNowhere);

  SetFaults("");
  EXPECT_NE(WaitFor("[INFO ] [work] 任务结束 op=4 ok=1", failedAgain), kNowhere);
  EXPECT_TRUE(WaitUntil([&] { return ConnectEnabled(); }, 5000));
  EXPECT_TRUE(WaitUntil([] { return ShellShowsBalloon(L"声卡已重新连接并恢复侦听。"); }, 5000));
  ExitThroughTrayWithACleanLog();
}

TEST_F(WatchScenario, AChosenInputBackUnderANewIdIsRecognisedAndItsRouteRebuiltThere) {
  ChooseCardAndPhone();
  // A re-plugged device takes the default, so that no default lands on the bridge meanwhile
  // (whose reclaim would rebuild the routes too).
  ASSERT_EQ(Audiosim(L"takeover on"), 0);
  ASSERT_NE(Start(), nullptr);
  program_->PostCommand(kTrayConnect);
  ASSERT_NE(WaitFor("[INFO ] [work] 任务结束 op=1 ok=1"), kNowhere);

  const std::wstring oldCard = Id(L"card-in");
  const size_t before = LogSize();
  const size_t replugged = JournalSize();
  ASSERT_EQ(Audiosim(L"replug card"), 0);
  const std::wstring newCard = Id(L"card-in");
  ASSERT_NE(newCard, oldCard);
  EXPECT_NE(WaitFor("[WARN ] [recov] 声卡输入端点 ID 变化，按名字认回 旧=" + Utf8(oldCard) + " 新=" + Utf8(newCard) +
                    " 名字=线路输入 (2- High Definition Audio Device)", before),
            kNowhere);
  // Written just after the line.
  EXPECT_TRUE(WaitUntil([&] { return varn::ReadSettingString(varn::kCaptureIdValue) == L"DEVICE:" + newCard; }, 5000))
      << Utf8(varn::ReadSettingString(varn::kCaptureIdValue));

  // The routes ran on the old id: one recovery rebuilds them on the new one, and the old one,
  // gone but still listening, is switched off first.
  const size_t rebuilt = WaitFor("[INFO ] [work] 任务结束 op=4 ok=1", before);
  ASSERT_NE(rebuilt, kNowhere);
  EXPECT_EQ(varn::ReadSettingString(varn::kLastCaptureResolvedValue), newCard) << "the ledger follows the routes";
  const Lines journal = Journal();
  EXPECT_EQ(Count(JournalFrom(replugged), "/SetListenToThisDevice " + Quoted(oldCard) + " 0"), 1u);
  EXPECT_EQ(Count(journal, "/SetPlaybackThroughDevice " + Quoted(newCard) + " " + Q(L"bridge-out")), 1u);
  EXPECT_EQ(Count(journal, "/SetListenToThisDevice " + Quoted(newCard) + " 1"), 1u);
  PassTwoRuns();
  EXPECT_EQ(Find("[WARN ] [dev] 声卡通道不可用"), kNowhere) << "no unavailability";
  EXPECT_EQ(Find("[INFO ] [work] 任务开始 [声卡恢复后重连]", rebuilt), kNowhere) << "reconnected once";
  ExitThroughTrayWithACleanLog();
}

TEST_F(WatchScenario, TheBridgeUnpluggedStopsTheInputAndPluggedBackReconnectsEachRouteOnce) {
  ChooseCardAndPhone();
  ASSERT_NE(Start(), nullptr);
  Hide();

  // Slow enough to see the buttons while the stop runs: greyed, as for every task.
  SetFaults("SetListenToThisDevice delay=700\n");
  ASSERT_EQ(Audiosim(L"unplug bridge"), 0);
  const std::string stop = "/SetListenToThisDevice " + Q(L"card-in") + " 0";
  ASSERT_NE(WaitFor("[WARN ] [dev] VARN 端点从活动列表消失且不在禁用列表 → 判定为「已断开/拔出」"), kNowhere);
  EXPECT_TRUE(WaitUntil([&] { return !ConnectEnabled(); }, 2000)) << "Connect greyed while the stop runs";
  EXPECT_TRUE(WaitForStatus(L"VARN 已断开，已停止声卡输入侦听，等待重新连接..."));
  EXPECT_TRUE(WaitUntil([] { return ShellShowsBalloon(L"已停止声卡输入侦听，不会回退到系统默认播放设备。"); }, 5000));
  EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window_) != FALSE; }, 5000)) << "the window is raised";
  EXPECT_EQ(JournalFrom(0), Lines(3, stop));

  // Slow enough for the notices of the return to be seen before the reconnect's own.
  SetFaults("SetPlaybackThroughDevice delay=1500\n");
  const size_t plugged = JournalSize();
  const size_t before = LogSize();
  ASSERT_EQ(Audiosim(L"plug bridge"), 0);
  EXPECT_NE(WaitFor("[INFO ] [dev] 已重新检测到 USB Audio VARN，开始按恢复语义自动重连", before), kNowhere);
  EXPECT_TRUE(WaitUntil([] { return ShellShowsBalloon(L"正在自动恢复最后保存的侦听设置。"); }, 5000));
  const size_t done = WaitFor("[INFO ] [work] 任务结束 op=5 ok=1", before, 15000);
  ASSERT_NE(done, kNowhere);
  EXPECT_NE(Find("[INFO ] [app] 已检测到 USB Audio VARN，正在恢复侦听...", before), kNowhere);
  EXPECT_NE(Find("[INFO ] [route] 开始建立侦听 连接次数=1", before), kNowhere);
  SetFaults("");
  PassTwoRuns();
  EXPECT_EQ(JournalFrom(plugged), RoutesOnOnce());
  ExitThroughTrayWithACleanLog();
}

// The card away and a bridge endpoint disabled in the same moment: the loss is reported as the
// card's alone (the bridge is plugged in), the bridge endpoint is enabled all the same, and no
// reconnect comes before the card's recovery.
TEST_F(WatchScenario, ABridgeEndpointDisabledWhileTheCardIsAwayIsEnabledAndTheNoticeNamesTheCardOnly) {
  ChooseCardAndPhone();
  ASSERT_NE(Start(), nullptr);
  const size_t before = LogSize();
  ASSERT_TRUE(audiosim::UpdateWorld([](audiosim::World& w) {
    audiosim::SetPresent(w, L"card", false);
    audiosim::SetEnabled(w, *audiosim::FindEndpoint(w, L"bridge-in"), false);
    return true;
  }));
  ASSERT_NE(WaitFor("[WARN ] [dev] 声卡通道不可用 录制:缺失=1", before), kNowhere);
  EXPECT_TRUE(WaitUntil([] { return ShellShowsBalloon(L"请打开或者插入对应的USB声卡，设备恢复后将自动连接。"); }, 5000));
  EXPECT_NE(WaitFor("[INFO ] [work] 任务结束 op=6 ok=1", before, 15000), kNowhere) << "enabled while the card is away";
  EXPECT_TRUE(varn::IsActiveEndpoint(Id(L"bridge-in"), varn::Flow::Capture));
  EXPECT_TRUE(WaitForStatus(L"声卡输入通道已断开，恢复后将自动连接"));

  const size_t plugged = LogSize();
  ASSERT_EQ(Audiosim(L"plug card"), 0);
  EXPECT_NE(WaitFor("[INFO ] [work] 任务结束 op=4 ok=1", plugged), kNowhere);
  EXPECT_EQ(Find("[INFO ] [work] 任务开始 [端点启用后重连]", before), kNowhere) << "the recovery rebuilds the routes";
  EXPECT_EQ(ListeningRoutes(), ChosenRoutes(L"card-in", L"phone-out"));
  ExitThroughTrayWithACleanLog();
}

TEST_F(WatchScenario, ADisabledBridgeEndpointIsEnabledOnEveryRunUntilActiveThenReconnectedOnce) {
  ChooseCardAndPhone();
  ASSERT_NE(Start(), nullptr);
  // The first task's three /Enable runs change nothing, so it fails however long it takes;
  // the next task's first run enables the endpoint.
  SetFaults("Enable to=3 noeffect\n");
  const size_t before = LogSize();
  ASSERT_EQ(Audiosim(L"disable bridge-in"), 0);
  const std::string disabled = "[WARN ] [dev] VARN 端点从活动列表消失且存在于禁用列表 → 判定为「被禁用」，尝试启用";
  const size_t first = WaitFor(disabled, before);
  ASSERT_NE(first, kNowhere);
  const size_t failed = WaitFor("[INFO ] [work] 任务结束 op=6 ok=0", first, 15000);
  ASSERT_NE(failed, kNowhere);
  const size_t again = WaitFor("[INFO ] [work] 任务开始 [启用被禁用的桥接器端点]", failed);
  ASSERT_NE(again, kNowhere) << "the next run tries again";
  const size_t enabled = WaitFor("[INFO ] [work] 任务结束 op=6 ok=1", again, 15000);
  ASSERT_NE(enabled, kNowhere);
  EXPECT_TRUE(varn::IsActiveEndpoint(Id(L"bridge-in"), varn::Flow::Capture));

  const size_t reconnect = WaitFor("[INFO ] [work] 任务开始 [端点启用后重连]", enabled);
  ASSERT_NE(reconnect, kNowhere);
  EXPECT_NE(WaitFor("[INFO ] [route] 开始建立侦听 连接次数=1", reconnect), kNowhere);
  EXPECT_NE(WaitFor("[INFO ] [work] 任务结束 op=7 ok=1", reconnect), kNowhere);
  Lines journal = Journal();
  EXPECT_GE(Count(journal, "/Enable " + Q(L"bridge-in")), 2u);
  EXPECT_EQ(Count(journal, "/SetListenToThisDevice " + Q(L"card-in") + " 1"), 1u);
  EXPECT_EQ(Count(journal, "/SetListenToThisDevice " + Q(L"bridge-in") + " 1"), 1u);
  ExitThroughTrayWithACleanLog();
}

// The start-up work finds it first: enabled there, the bridge counts as present and the one
// automatic connect builds the routes.
TEST_F(WatchScenario, ABridgeEndpointDisabledBeforeStartIsEnabledAndConnectedThoughTheBridgeWasNeverPresent) {
  ChooseCardAndPhone();
  ASSERT_EQ(Audiosim(L"disable bridge-in"), 0);
  ASSERT_NE(Start(L"", Startup::Raw), nullptr);
  const size_t found = WaitFor("[WARN ] [dev] 启动时发现处于禁用状态的桥接器端点 播放=(无) 录制=" + Utf8(Id(L"bridge-in")));
  ASSERT_NE(found, kNowhere);
  EXPECT_NE(WaitFor("[INFO ] [app] 操作完成 [启动自动连接] 结果=成功，当前在侦听", found), kNowhere)
      << "and the routes built";
  EXPECT_TRUE(varn::IsActiveEndpoint(Id(L"bridge-in"), varn::Flow::Capture));
  ExitThroughTrayWithACleanLog();
}

TEST_F(WatchScenario, TheBridgeRenderMadeTheDefaultIsReclaimedOnEveryRunUntilThePhoneIsDefaultAgain) {
  // Every enabled endpoint takes the default back, and the tool cannot set another one: the
  // bridge stays the default for as long as the fault lasts.
  ASSERT_EQ(Audiosim(L"takeover on"), 0);
  SetFaults("SetDefault exit=5\n");
  ASSERT_NE(Start(), nullptr);
  const size_t before = LogSize();
  ASSERT_EQ(Audiosim(L"default bridge-out"), 0);
  const std::string hijack = "[WARN ] [dev] 桥接器端点被设为系统默认设备 录制默认=" + Utf8(Id(L"card-in")) +
                             " 播放默认=" + Utf8(Id(L"bridge-out"));
  const std::string task = "[INFO ] [work] 任务开始 [默认设备夺回后重连]";
  size_t at = before;
  for (const std::string& line : {hijack, task, std::string("[INFO ] [work] 任务结束 op=3 ok=0"), hijack, task}) {
    at = WaitFor(line, at);
    ASSERT_NE(at, kNowhere) << "missing in order: " << line;
  }

  SetFaults("");
  const size_t reclaimed = WaitFor("[INFO ] [work] 任务结束 op=3 ok=1", at);
  ASSERT_NE(reclaimed, kNowhere);
  EXPECT_EQ(varn::DefaultEndpointId(varn::Flow::Render), Id(L"phone-out"));
  PassTwoRuns();
  EXPECT_EQ(Find(task, reclaimed), kNowhere) << "nothing to reclaim any more";
  EXPECT_EQ(varn::DefaultEndpointId(varn::Flow::Render), Id(L"phone-out"));
  ExitThroughTrayWithACleanLog();
}

TEST_F(WatchScenario, ABridgeDefaultWithNothingElseInItsFlowIsLeftAloneUntilAnotherEndpointComes) {
  ASSERT_NE(Start(), nullptr);
  // Without the card the bridge capture is the only input, and Windows makes it the default.
  // The routes the automatic connect built lose their input: it is switched off, but the
  // bridge endpoint is never disabled to move a default that cannot move.
  ASSERT_EQ(Audiosim(L"unplug card"), 0);
  ASSERT_NE(WaitFor("[INFO ] [dev] 设备列表发生变化"), kNowhere);
  PassTwoRuns();
  for (const std::string& line : Journal()) {
    if (line.rfind("/Disable", 0) == 0 || line.rfind("/SetDefault", 0) == 0) ADD_FAILURE() << "no reclaim: " << line;
  }
  EXPECT_TRUE(varn::IsActiveEndpoint(Id(L"bridge-in"), varn::Flow::Capture));

  // With the card back Windows has a choice again: the default is taken back onto it.
  const size_t before = LogSize();
  ASSERT_EQ(Audiosim(L"plug card"), 0);
  EXPECT_NE(WaitFor("[INFO ] [dev] 默认设备已夺回", before), kNowhere);
  EXPECT_EQ(varn::DefaultEndpointId(varn::Flow::Capture), Id(L"card-in"));
  EXPECT_TRUE(varn::IsActiveEndpoint(Id(L"bridge-in"), varn::Flow::Capture));
  ExitThroughTrayWithACleanLog();
}

TEST_F(WatchScenario, ABusyWorkerDefersTheDecisionToTheFirstIdleRunWhichSeesTheWorldAsItIsThen) {
  ChooseCardAndPhone();
  // A reclaim whose default switch takes 4 s keeps the worker busy across two runs.
  SetFaults("SetDefault delay=4000\n");
  ASSERT_NE(Start(), nullptr);
  ASSERT_EQ(Audiosim(L"default bridge-out"), 0);
  const size_t started = WaitFor("[INFO ] [work] 任务开始 [默认设备夺回后重连]");
  ASSERT_NE(started, kNowhere);
  ASSERT_TRUE(WaitUntil([&] { return Count(Journal(), "/SetDefault " + Q(L"phone-out") + " all") == 1; }, 5000));
  // While it waits for the default: the card goes for good, the phone output goes and comes back.
  ASSERT_EQ(Audiosim(L"unplug card"), 0);
  ASSERT_EQ(Audiosim(L"disable phone-out"), 0);
  ASSERT_NE(WaitFor("[INFO ] [dev] 设备列表发生变化", started), kNowhere) << "a run while busy";
  ASSERT_EQ(Audiosim(L"enable phone-out"), 0);

  const size_t ended = WaitFor("[INFO ] [work] 任务结束 op=3", started, 15000);
  ASSERT_NE(ended, kNowhere);
  const std::string lost = "[WARN ] [dev] 声卡通道不可用 ";
  const size_t reported = WaitFor(lost, started);
  ASSERT_NE(reported, kNowhere);
  EXPECT_GT(reported, ended) << "no decision while the task ran";
  EXPECT_NE(Find(lost + "录制:缺失=1 被禁用=0 播放:缺失=0 被禁用=0", started), kNowhere)
      << "decided on the phone output as it was after the task";
  EXPECT_TRUE(WaitForStatus(L"声卡输入通道已断开，恢复后将自动连接"));
  ExitThroughTrayWithACleanLog();
}

}  // namespace
