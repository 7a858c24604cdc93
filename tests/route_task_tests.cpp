// The worker task bodies that change routes and bridge endpoints, run on the simulated world:
// the commands they send, the registry values they leave, and every field of their outcome.

#include <gtest/gtest.h>

#include "audio/endpoints.h"
#include "routes/guard_tasks.h"
#include "routes/route_tasks.h"
#include "settings/settings.h"
#include "support/sim_fixture.h"
#include "world.h"

using namespace testing_support;
using varn::DeviceIdentity;
using varn::WorkerOutcome;

namespace {

using Lines = std::vector<std::string>;

class RouteTasks : public SimulatedWorldTest {
 protected:
  void SetUp() override {
    SimulatedWorldTest::SetUp();
    RegDeleteTreeW(HKEY_CURRENT_USER, varn::kSettingsKeyPath);
    InstallSoundTool();
    cardIn = {L"线路输入", Id(L"card-in")};
    phoneOut = {L"手机输出", Id(L"phone-out")};
    bridgeIn = {L"VARN录制", Id(L"bridge-in")};
    bridgeOut = {L"VARN播放", Id(L"bridge-out")};
  }
  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, varn::kSettingsKeyPath);
    SimulatedWorldTest::TearDown();
  }

  varn::ConnectRequest Request() const {
    varn::ConnectRequest r;
    r.capture = cardIn;
    r.render = phoneOut;
    r.bridgeCapture = bridgeIn;
    r.bridgeRender = bridgeOut;
    r.progressText = L"正在建立侦听...";
    r.successText = L"完成：已连接";
    return r;
  }

  std::string Q(const DeviceIdentity& e) const { return Quoted(e.id); }

  varn::Progress progress;
  DeviceIdentity cardIn, phoneOut, bridgeIn, bridgeOut;
};

TEST_F(RouteTasks, ConnectClosesTheStaleRouteBuildsBothAndRemembersTheEndpoints) {
  // The bridge came back as a new instance since the last connect.
  const DeviceIdentity oldBridgeIn = bridgeIn;
  ASSERT_EQ(Audiosim(L"replug bridge"), 0);
  bridgeIn.id = Id(L"bridge-in");
  bridgeOut.id = Id(L"bridge-out");
  varn::ConnectRequest r = Request();
  r.kind = varn::OperationKind::InputRecoveryReconnect;
  r.connectCount = 1;
  r.closeStaleRoutes = true;
  r.lastCaptureResolved = cardIn.id;         // unchanged
  r.lastRenderResolved = L"{old phone}";     // the phone output changed
  r.lastBridgeCaptureResolved = oldBridgeIn.id;
  r.lastBridgeRenderResolved = bridgeOut.id;
  r.showBalloon = true;
  r.successBalloonTitle = L"已连接";
  r.successBalloonText = L"两条路由已建立";

  WorkerOutcome outcome = varn::ConnectTaskBody(r, progress);
  EXPECT_EQ(Journal(), (Lines{"/SetListenToThisDevice " + Q(oldBridgeIn) + " 0",
                              "/SetPlaybackThroughDevice " + Q(cardIn) + " " + Q(bridgeOut),
                              "/SetListenToThisDevice " + Q(cardIn) + " 1",
                              "/SetPlaybackThroughDevice " + Q(bridgeIn) + " " + Q(phoneOut),
                              "/SetListenToThisDevice " + Q(bridgeIn) + " 1"}));
  EXPECT_EQ(varn::OperationOf(outcome), varn::OperationKind::InputRecoveryReconnect);
  EXPECT_TRUE(outcome.ok);
  EXPECT_TRUE(outcome.listenKnown);
  EXPECT_TRUE(outcome.listening);
  EXPECT_EQ(outcome.statusText, L"完成：已连接");
  EXPECT_TRUE(outcome.errorText.empty());
  EXPECT_EQ(outcome.balloonTitle, L"已连接");
  EXPECT_EQ(outcome.balloonText, L"两条路由已建立");
  EXPECT_EQ(outcome.balloonIcon, varn::NoticeIcon::Information);
  EXPECT_EQ(LogLinesContaining("[work] 进度: ").size(), 1u);
  EXPECT_EQ(varn::ReadSettingString(varn::kLastCaptureResolvedValue), cardIn.id);
  EXPECT_EQ(varn::ReadSettingString(varn::kLastRenderResolvedValue), phoneOut.id);
  EXPECT_EQ(varn::ReadSettingString(varn::kLastBridgeCaptureResolvedValue), bridgeIn.id);
  EXPECT_EQ(varn::ReadSettingString(varn::kLastBridgeRenderResolvedValue), bridgeOut.id);

  // Now only the sound card input changed (it came back as a new instance): listening is
  // switched off on the old one alone.
  const DeviceIdentity oldCardIn = cardIn;
  ASSERT_EQ(Audiosim(L"replug card"), 0);
  ASSERT_EQ(Audiosim(L"default card-in"), 0);
  cardIn.id = Id(L"card-in");
  ASSERT_TRUE(WriteBytes(dir / L"journal.log", ""));
  r = Request();
  r.connectCount = 1;
  r.closeStaleRoutes = true;
  r.lastCaptureResolved = oldCardIn.id;
  r.lastRenderResolved = phoneOut.id;
  r.lastBridgeCaptureResolved = bridgeIn.id;
  r.lastBridgeRenderResolved = bridgeOut.id;
  EXPECT_TRUE(varn::ConnectTaskBody(r, progress).ok);
  EXPECT_EQ(Journal(), (Lines{"/SetListenToThisDevice " + Q(oldCardIn) + " 0",
                              "/SetPlaybackThroughDevice " + Q(cardIn) + " " + Q(bridgeOut),
                              "/SetListenToThisDevice " + Q(cardIn) + " 1",
                              "/SetPlaybackThroughDevice " + Q(bridgeIn) + " " + Q(phoneOut),
                              "/SetListenToThisDevice " + Q(bridgeIn) + " 1"}));

  // A held input Windows has forgotten cannot play: nothing to switch off. One that stays on
  // stops the connect before anything is switched on, and the ledger keeps it.
  r.lastCaptureResolved = L"{0.0.1.00000000}.{forgotten}";
  ASSERT_TRUE(WriteBytes(dir / L"journal.log", ""));
  EXPECT_TRUE(varn::ConnectTaskBody(r, progress).ok);
  EXPECT_EQ(Journal().front(), "/SetPlaybackThroughDevice " + Q(cardIn) + " " + Q(bridgeOut));
  r.lastCaptureResolved = oldCardIn.id;
  SetFaults("SetListenToThisDevice exit=5\n");
  ASSERT_TRUE(WriteBytes(dir / L"journal.log", ""));
  const WorkerOutcome refused = varn::ConnectTaskBody(r, progress);
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(Journal(), Lines(3, "/SetListenToThisDevice " + Q(oldCardIn) + " 0")) << "three attempts, then nothing";
  EXPECT_EQ(LogLinesContaining("旧路由未能关闭").size(), 1u);
  EXPECT_EQ(varn::ReadSettingString(varn::kLastCaptureResolvedValue), cardIn.id) << "the ledger as the last connect left it";
}

TEST_F(RouteTasks, ConnectWhoseFollowedDefaultStaysTheBridgeIsNotUsable) {
  ASSERT_EQ(Audiosim(L"default bridge-out"), 0);
  SetFaults("Disable noeffect\n");  // the bridge cannot be pushed off the default
  varn::ConnectRequest r = Request();
  r.renderFollowsDefault = true;
  r.showErrorBox = true;
  r.showBalloon = true;
  r.failureBalloonTitle = L"连接失败";
  r.failureBalloonText = L"请检查设备";

  WorkerOutcome outcome = varn::ConnectTaskBody(r, progress);
  EXPECT_FALSE(outcome.ok);
  EXPECT_TRUE(outcome.listenKnown);
  EXPECT_FALSE(outcome.listening);
  EXPECT_TRUE(outcome.showErrorBox);
  EXPECT_EQ(outcome.statusText, L"失败：请检查 声卡输入[线路输入] 和 手机输出[手机输出] 的连接，以及辅助程序是否完整。");
  EXPECT_EQ(outcome.errorText,
            L"建立侦听未成功。请检查 声卡输入[线路输入] 和 手机输出[手机输出] 是否在线，以及辅助程序（SoundVolumeView.exe）是否完整。");
  EXPECT_EQ(outcome.balloonTitle, L"连接失败");
  EXPECT_EQ(outcome.balloonIcon, varn::NoticeIcon::Warning);
  EXPECT_TRUE(LogLinesContaining("进度: ").empty()) << "no progress for an unusable request";
  for (const std::string& line : Journal()) {
    EXPECT_EQ(line.rfind("/Disable ", 0), 0u) << "only the reclaim's attempts ran: " << line;
  }
  EXPECT_TRUE(varn::ReadSettingString(varn::kLastCaptureResolvedValue).empty());
}

TEST_F(RouteTasks, ReclaimAndReconnectListensOnceAndRecordsTheRoutes) {
  ASSERT_EQ(Audiosim(L"default bridge-in"), 0);
  varn::ConnectRequest r = Request();
  r.captureFollowsDefault = true;
  r.capture.id.clear();
  WorkerOutcome outcome = varn::DefaultReclaimTaskBody(r, progress);
  EXPECT_EQ(varn::OperationOf(outcome), varn::OperationKind::DefaultReclaimReconnect);
  EXPECT_TRUE(outcome.ok);
  EXPECT_FALSE(outcome.updateStatus);
  EXPECT_FALSE(outcome.listenKnown);
  EXPECT_EQ(outcome.statusText, L"默认设备已恢复，音频路由已重新侦听 1 次。");
  EXPECT_EQ(outcome.balloonTitle, L"已恢复系统默认设备和侦听");
  EXPECT_EQ(outcome.balloonText, L"VARN 已重新侦听 1 次并保持连接。");
  EXPECT_EQ(outcome.balloonIcon, varn::NoticeIcon::Information);
  EXPECT_EQ(varn::ReadSettingString(varn::kLastCaptureResolvedValue), cardIn.id) << "the default taken back";
  EXPECT_EQ(varn::ReadSettingString(varn::kLastRenderResolvedValue), phoneOut.id);
  EXPECT_EQ(varn::ReadSettingString(varn::kLastBridgeCaptureResolvedValue), bridgeIn.id) << "the whole ledger";
  EXPECT_EQ(varn::ReadSettingString(varn::kLastBridgeRenderResolvedValue), bridgeOut.id);
  Lines summary = LogLinesContaining("默认设备夺回重连结束");
  ASSERT_EQ(summary.size(), 1u);
  EXPECT_EQ(summary[0], "[INFO ] [route] 默认设备夺回重连结束 夺回成功=1 端点就绪=1 重连成功=1 目标 ①线路输入[" +
                            Utf8(cardIn.id) + "]→VARN播放[" + Utf8(bridgeOut.id) + "] ②VARN录制[" +
                            Utf8(bridgeIn.id) + "]→手机输出[" + Utf8(phoneOut.id) + "] 跟随默认(源=1 目标=0)");

  // The phone output is gone: no reconnect, the failure texts with a warning balloon.
  ASSERT_EQ(Audiosim(L"unplug phone"), 0);
  outcome = varn::DefaultReclaimTaskBody(r, progress);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.statusText, L"默认设备已恢复，但重新侦听失败，请点击立即连接。");
  EXPECT_EQ(outcome.balloonTitle, L"系统默认设备已恢复");
  EXPECT_EQ(outcome.balloonText, L"重新侦听未成功，请点击立即连接。");
  EXPECT_EQ(outcome.balloonIcon, varn::NoticeIcon::Warning);
  EXPECT_NE(LogLinesContaining("默认设备夺回重连结束").back().find("夺回成功=1 端点就绪=0 重连成功=0"), std::string::npos);

  // All endpoints are back (the bridge render was left disabled by that reclaim), but the
  // reclaim fails (the bridge grabs the default again and /SetDefault fails): no listen
  // command at all.
  ASSERT_EQ(Audiosim(L"plug phone"), 0);
  ASSERT_EQ(Audiosim(L"enable bridge-out"), 0);
  ASSERT_EQ(Audiosim(L"default phone-out"), 0);
  ASSERT_EQ(Audiosim(L"takeover on"), 0);
  ASSERT_EQ(Audiosim(L"default bridge-in"), 0);
  SetFaults("SetDefault exit=1\n");
  ASSERT_TRUE(WriteBytes(dir / L"journal.log", ""));
  outcome = varn::DefaultReclaimTaskBody(r, progress);
  EXPECT_FALSE(outcome.ok);
  const std::string last = LogLinesContaining("默认设备夺回重连结束").back();
  EXPECT_NE(last.find("夺回成功=0 端点就绪=1 重连成功=0"), std::string::npos) << last;
  EXPECT_EQ(outcome.balloonTitle, L"系统默认设备未能恢复") << "nothing was restored";
  EXPECT_EQ(outcome.statusText, L"系统默认设备仍是 VARN，未能夺回，请在声音设置中更换默认设备。");
  Lines journal = Journal();
  ASSERT_FALSE(journal.empty());
  EXPECT_EQ(journal.back(), "/SetDefault " + Q(cardIn) + " all") << "the reclaim ran and failed last";
  for (const std::string& line : journal) {
    EXPECT_EQ(line.find("/SetListenToThisDevice"), std::string::npos) << line;
    EXPECT_EQ(line.find("/SetPlaybackThroughDevice"), std::string::npos) << line;
  }
}

TEST_F(RouteTasks, CancelStopsAtTheFirstFailedSwitchOff) {
  SetFaults("SetListenToThisDevice exit=1\n");
  WorkerOutcome outcome = varn::CancelTaskBody(cardIn, bridgeIn, progress);
  EXPECT_EQ(varn::OperationOf(outcome), varn::OperationKind::CancelListen);
  EXPECT_FALSE(outcome.ok);
  EXPECT_TRUE(outcome.listenKnown);
  EXPECT_FALSE(outcome.listening);
  EXPECT_TRUE(outcome.showErrorBox);
  EXPECT_EQ(outcome.errorText, L"取消侦听失败，请检查设备是否在线。");
  EXPECT_EQ(outcome.statusText, L"取消失败：请检查设备连接和辅助程序。");
  EXPECT_EQ(Journal(), Lines(3, "/SetListenToThisDevice " + Q(cardIn) + " 0")) << "the bridge is never tried";

  SetFaults("");
  outcome = varn::CancelTaskBody(cardIn, bridgeIn, progress);
  EXPECT_TRUE(outcome.ok);
  EXPECT_EQ(outcome.statusText, L"完成：两条音频路由的侦听均已取消。");
  EXPECT_EQ(Journal().back(), "/SetListenToThisDevice " + Q(bridgeIn) + " 0");
}

TEST_F(RouteTasks, RepeatedStopWarnsByBalloonEvenOnSuccess) {
  varn::StopListenRequest r;
  r.identity = cardIn;
  r.updateStatus = false;
  r.successStatus = L"已关闭";
  r.failureStatus = L"未能关闭";
  r.showBalloon = true;
  r.balloonTitle = L"声卡输入已断开";
  r.successBalloonText = L"已停止侦听";
  r.failureBalloonText = L"停止侦听失败";
  r.showWindow = true;
  WorkerOutcome outcome = varn::StopListenTaskBody(r, progress);
  EXPECT_EQ(varn::OperationOf(outcome), varn::OperationKind::RepeatStopInputListen);
  EXPECT_TRUE(outcome.ok);
  EXPECT_FALSE(outcome.updateStatus);
  EXPECT_TRUE(outcome.showWindow);
  EXPECT_TRUE(outcome.listenKnown);
  EXPECT_FALSE(outcome.listening);
  EXPECT_EQ(outcome.statusText, L"已关闭");
  EXPECT_EQ(outcome.balloonTitle, L"声卡输入已断开");
  EXPECT_EQ(outcome.balloonText, L"已停止侦听");
  EXPECT_EQ(outcome.balloonIcon, varn::NoticeIcon::Warning);
  EXPECT_EQ(Journal().size(), 3u);

  // A tool that hangs: the run is killed at its limit and the body still returns its outcome.
  SetFaults("SetListenToThisDevice hang\n");
  ULONGLONG start = GetTickCount64();
  outcome = varn::StopListenTaskBody(r, progress);
  ULONGLONG took = GetTickCount64() - start;
  EXPECT_FALSE(outcome.ok);
  EXPECT_FALSE(outcome.listenKnown);
  EXPECT_EQ(outcome.statusText, L"未能关闭");
  EXPECT_EQ(outcome.balloonText, L"停止侦听失败");
  EXPECT_EQ(outcome.balloonIcon, varn::NoticeIcon::Warning);
  EXPECT_GE(took, 10000u);
  EXPECT_LT(took, 13000u);
}

TEST_F(RouteTasks, EnableBridgeAndAMissingTool) {
  ASSERT_EQ(Audiosim(L"disable bridge-in"), 0);
  WorkerOutcome outcome = varn::EnableBridgeTaskBody(progress);
  EXPECT_EQ(varn::OperationOf(outcome), varn::OperationKind::EnableBridgeEndpoints);
  EXPECT_TRUE(outcome.ok);
  EXPECT_FALSE(outcome.updateStatus);
  EXPECT_EQ(Journal(), Lines{"/Enable " + Q(bridgeIn)});
  EXPECT_EQ(LogLinesContaining("进度: ").at(0), "[INFO ] [work] 进度: 检测到 VARN 被禁用，正在确认启用...");

  // Without the tool every body still ends with a failed outcome.
  ASSERT_TRUE(DeleteFileW((dir / L"SoundVolumeView.exe").c_str()));
  EXPECT_FALSE(varn::ConnectTaskBody(Request(), progress).ok);
  EXPECT_FALSE(varn::CancelTaskBody(cardIn, bridgeIn, progress).ok);
  ASSERT_EQ(Audiosim(L"disable bridge-out"), 0);
  EXPECT_FALSE(varn::EnableBridgeTaskBody(progress).ok);
  EXPECT_FALSE(LogLinesContaining("辅助程序 SoundVolumeView.exe 缺失").empty());
}

}  // namespace

namespace {

// The volume guard on the simulated world: both bridge endpoints back to full volume and
// unmuted, the input raised but its mute left to the user, the enhancements switched off, and
// what was corrected as one notice.
TEST_F(RouteTasks, TheVolumeGuardHoldsTheBridgeAndTheInputButLeavesTheInputsMuteAlone) {
  for (const wchar_t* change : {L"volume bridge-out 0.4", L"mute bridge-in", L"volume card-in 0.5", L"mute card-in",
                                L"effects bridge-out on"}) {
    ASSERT_EQ(Audiosim(change), 0) << Utf8(change);
  }
  varn::WorkerOutcome outcome = varn::VolumeGuardTaskBody(cardIn.id, bridgeIn.id, bridgeOut.id, progress);
  EXPECT_EQ(varn::OperationOf(outcome), varn::OperationKind::VolumeGuard);
  EXPECT_TRUE(outcome.ok);
  EXPECT_FALSE(outcome.updateStatus);
  EXPECT_EQ(outcome.noticeText,
            L"音量守护已自动校正：声卡输入音量→100%、VARN录制 音量/静音→正常、VARN播放 音量/静音→正常");
  audiosim::World world;
  ASSERT_TRUE(audiosim::LoadWorld(world));
  const audiosim::Endpoint& input = *audiosim::FindEndpoint(world, L"card-in");
  EXPECT_GT(input.volume, 0.999);
  EXPECT_TRUE(input.mute) << "the input's mute is the user's";
  EXPECT_FALSE(audiosim::FindEndpoint(world, L"bridge-in")->mute);
  EXPECT_GT(audiosim::FindEndpoint(world, L"bridge-out")->volume, 0.999);
  EXPECT_FALSE(audiosim::FindEndpoint(world, L"bridge-out")->effectsOn);

  // Nothing to correct: no notice. An empty id is skipped.
  outcome = varn::VolumeGuardTaskBody(cardIn.id, L"", bridgeOut.id, progress);
  EXPECT_TRUE(outcome.noticeText.empty());
  EXPECT_TRUE(Journal().empty()) << "the guard never runs the sound tool";

  // The heartbeat comes with the first run once the system has been up five minutes, and not
  // again within five minutes.
  if (GetTickCount64() < 300000) GTEST_SKIP() << "the system has been up less than five minutes";
  EXPECT_EQ(LogLinesContaining("音量守护运行中").size(), 1u);
  EXPECT_EQ(LogLinesContaining("[INFO ] [guard] 音量守护运行中 巡检目标 声卡输入=" + Utf8(cardIn.id) +
                               " 录制=" + Utf8(bridgeIn.id) + " 播放=" + Utf8(bridgeOut.id))
                .size(),
            1u);
}

// At start-up the defaults are taken back from the bridge, flow by flow: where its endpoint is
// the only one of a flow Windows could choose no other, and that flow alone is left as it is.
TEST_F(RouteTasks, TheStartupWorkTakesADefaultBackWhereverWindowsHasAnotherChoice) {
  ASSERT_EQ(Audiosim(L"unplug card"), 0);  // the bridge capture is the only input and the default
  ASSERT_EQ(Audiosim(L"default bridge-out"), 0);
  bool snapshotWritten = false;
  WorkerOutcome outcome = varn::StartupWorkTaskBody(false, L"", [&] { snapshotWritten = true; }, progress);
  EXPECT_EQ(varn::OperationOf(outcome), varn::OperationKind::StartupWork);
  EXPECT_TRUE(outcome.ok);
  EXPECT_TRUE(outcome.autostartKnown);
  EXPECT_TRUE(snapshotWritten);
  EXPECT_EQ(Journal(), (Lines{"/Disable " + Q(bridgeOut), "/Enable " + Q(bridgeOut), "/SetDefault " + Q(phoneOut) + " all"}));
  EXPECT_EQ(varn::DefaultEndpointId(varn::Flow::Render), phoneOut.id) << "the computer's sound is not left in the bridge";
  EXPECT_TRUE(varn::IsActiveEndpoint(bridgeIn.id, varn::Flow::Capture));
  EXPECT_EQ(LogLinesContaining("录制方向除桥接器外没有其他活动端点").size(), 1u);

  ASSERT_EQ(Audiosim(L"plug card"), 0);
  varn::StartupWorkTaskBody(false, L"", nullptr, progress);
  EXPECT_EQ(varn::DefaultEndpointId(varn::Flow::Capture), cardIn.id);
  EXPECT_EQ(varn::DefaultEndpointId(varn::Flow::Render), phoneOut.id);
  EXPECT_TRUE(varn::IsActiveEndpoint(bridgeIn.id, varn::Flow::Capture));
}

}  // namespace
