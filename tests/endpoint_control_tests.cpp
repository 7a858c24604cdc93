// Taking the defaults back from the bridge and enabling endpoints, on a simulated world that
// misbehaves the way Windows and drivers do.

#include <gtest/gtest.h>

#include <string>

#include "audio/endpoints.h"
#include "routes/connect_request.h"
#include "log/log.h"
#include "routes/endpoint_control.h"
#include "support/sim_fixture.h"

using namespace testing_support;
using varn::DeviceIdentity;

namespace {

class EndpointControl : public SimulatedWorldTest {
 protected:
  void SetUp() override {
    SimulatedWorldTest::SetUp();
    InstallSoundTool();
    bridgeIn = {L"麦克风 (USB Audio VARN)", Id(L"bridge-in")};
    bridgeOut = {L"扬声器 (USB Audio VARN)", Id(L"bridge-out")};
  }

  // Log lines of one tag without their time stamps.
  std::vector<std::string> LogLines(const char* tag) const {
    return LogLinesContaining(std::string("] [") + tag + "] ");
  }
  std::string Q(const std::wstring& id) const { return Quoted(id); }

  // Time the worker spent after /SetDefault runs outside any tool run: from each such run's
  // tool line to the next log line, less the next line's own run time when that is a tool
  // run too. Taken from the log's time stamps, so a slow machine's slow tool runs do not count.
  long long IdleMsAfterSetDefaultRuns() const {
    auto timeOfDayMs = [](const std::string& line) {  // "2026-12-08 01:48:34.490 ..."
      return ((std::stoll(line.substr(11, 2)) * 60 + std::stoll(line.substr(14, 2))) * 60 +
              std::stoll(line.substr(17, 2))) * 1000 + std::stoll(line.substr(20, 3));
    };
    auto runMs = [](const std::string& line) -> long long {
      size_t at = line.find("耗时=");
      bool toolRun = line.find("[tool] SoundVolumeView rc=") != std::string::npos;
      return toolRun && at != std::string::npos ? std::stoll(line.substr(at + 7)) : 0;
    };
    std::vector<std::string> log = SplitCrLfLines(ReadBytes(varn::LogFilePath()));
    long long idle = 0;
    for (size_t i = 0; i + 1 < log.size(); ++i) {
      if (log[i].find("[tool] SoundVolumeView rc=") == std::string::npos ||
          log[i].find("args=/SetDefault ") == std::string::npos) {
        continue;
      }
      idle += timeOfDayMs(log[i + 1]) - timeOfDayMs(log[i]) - runMs(log[i + 1]);
    }
    return idle;
  }

  DeviceIdentity bridgeIn, bridgeOut;
};

using Lines = std::vector<std::string>;

TEST_F(EndpointControl, BridgeCaptureAsDefaultIsHandedBackToTheCard) {
  ASSERT_EQ(Audiosim(L"default bridge-in"), 0);
  const std::string cardIn = Utf8(Id(L"card-in")), phoneOut = Utf8(Id(L"phone-out"));
  EXPECT_TRUE(varn::ReclaimDefaultDevices(bridgeIn, bridgeOut));
  EXPECT_EQ(Journal(), (Lines{"/Disable " + Q(bridgeIn.id), "/Enable " + Q(bridgeIn.id),
                              "/SetDefault \"" + cardIn + "\" all"}));
  Lines dev = LogLines("dev");
  ASSERT_EQ(dev.size(), 4u);
  EXPECT_EQ(dev[0], "[WARN ] [dev] 检测到桥接器端点被设为系统默认设备 录制默认=" + Utf8(bridgeIn.id) +
                        " 播放默认=" + phoneOut);
  EXPECT_EQ(dev[1].rfind("[INFO ] [dev] 端点禁用成功 id=" + Utf8(bridgeIn.id) + " 耗时=", 0), 0u) << dev[1];
  EXPECT_EQ(dev[2].rfind("[INFO ] [dev] 端点启用成功 id=" + Utf8(bridgeIn.id) + " 耗时=", 0), 0u) << dev[2];
  EXPECT_EQ(dev[3], "[INFO ] [dev] 默认设备已夺回 录制=" + cardIn + " 播放=" + phoneOut);
  EXPECT_EQ(varn::DefaultEndpointId(varn::Flow::Capture), Id(L"card-in"));
  EXPECT_TRUE(varn::IsActiveEndpoint(bridgeIn.id, varn::Flow::Capture));

  // Nothing to do: no command, no line, false.
  ASSERT_TRUE(WriteBytes(dir / L"journal.log", ""));
  EXPECT_FALSE(varn::ReclaimDefaultDevices(bridgeIn, bridgeOut));
  EXPECT_TRUE(Journal().empty());
  EXPECT_EQ(LogLines("dev").size(), 4u);
  EXPECT_FALSE(varn::ReclaimDefaultDevices({L"", L""}, bridgeOut)) << "no bridge known";

  // Both bridge endpoints are defaults: the capture side goes first, in both phases.
  ASSERT_EQ(Audiosim(L"default bridge-in"), 0);
  ASSERT_EQ(Audiosim(L"default bridge-out"), 0);
  EXPECT_TRUE(varn::ReclaimDefaultDevices(bridgeIn, bridgeOut));
  EXPECT_EQ(Journal(), (Lines{"/Disable " + Q(bridgeIn.id), "/Enable " + Q(bridgeIn.id),
                              "/Disable " + Q(bridgeOut.id), "/Enable " + Q(bridgeOut.id),
                              "/SetDefault \"" + cardIn + "\" all", "/SetDefault \"" + phoneOut + "\" all"}));
  EXPECT_EQ(varn::DefaultEndpointId(varn::Flow::Render), Id(L"phone-out"));
}

TEST_F(EndpointControl, AFlowWithNothingElseIsLeftAloneAndAFailedHandOverStopsTheReclaim) {
  ASSERT_EQ(Audiosim(L"default bridge-out"), 0);
  ASSERT_EQ(Audiosim(L"unplug card"), 0);  // the bridge capture is now the only one, and default
  ASSERT_EQ(varn::DefaultEndpointId(varn::Flow::Capture), bridgeIn.id);
  // Windows could choose no other input: that flow is left alone (disabling the bridge capture
  // would only break its route), the computer's sound is taken back all the same.
  EXPECT_TRUE(varn::ReclaimDefaultDevices(bridgeIn, bridgeOut));
  EXPECT_EQ(Journal(), (Lines{"/Disable " + Q(bridgeOut.id), "/Enable " + Q(bridgeOut.id),
                              "/SetDefault " + Q(Id(L"phone-out")) + " all"}));
  EXPECT_TRUE(varn::IsActiveEndpoint(bridgeIn.id, varn::Flow::Capture));
  EXPECT_EQ(varn::DefaultEndpointId(varn::Flow::Capture), bridgeIn.id);
  EXPECT_EQ(varn::DefaultEndpointId(varn::Flow::Render), Id(L"phone-out"));
  ASSERT_EQ(Audiosim(L"default bridge-out"), 0);

  // Windows chose the card, but the bridge does not come back when enabled.
  ASSERT_TRUE(WriteBytes(dir / L"journal.log", ""));
  ASSERT_EQ(Audiosim(L"plug card"), 0);
  ASSERT_EQ(Audiosim(L"enable bridge-in"), 0);
  ASSERT_EQ(Audiosim(L"default bridge-in"), 0);
  SetFaults("Enable noeffect\n");
  EXPECT_FALSE(varn::ReclaimDefaultDevices(bridgeIn, bridgeOut));
  EXPECT_EQ(Journal(), (Lines{"/Disable " + Q(bridgeIn.id), "/Enable " + Q(bridgeIn.id),
                              "/Enable " + Q(bridgeIn.id), "/Enable " + Q(bridgeIn.id)}));
  EXPECT_TRUE(varn::IsDisabledEndpoint(bridgeIn.id, varn::Flow::Capture));
  EXPECT_EQ(varn::DefaultEndpointId(varn::Flow::Render), bridgeOut.id) << "the render side is skipped";
}

TEST_F(EndpointControl, DefaultConfirmedOnlyAtTheSecondCheck) {
  // The bridge grabs the default again as soon as it is enabled, so only /SetDefault helps.
  ASSERT_EQ(Audiosim(L"takeover on"), 0);
  ASSERT_EQ(Audiosim(L"default bridge-out"), 0);
  SetFaults("SetDefault noeffect to=1\n");
  ULONGLONG start = GetTickCount64();
  EXPECT_TRUE(varn::ReclaimDefaultDevices(bridgeIn, bridgeOut));
  EXPECT_GE(GetTickCount64() - start, 600u) << "pauses of 200 and 400 ms";
  const std::string phoneOut = Utf8(Id(L"phone-out"));
  EXPECT_EQ(Journal(), (Lines{"/Disable " + Q(bridgeOut.id), "/Enable " + Q(bridgeOut.id),
                              "/SetDefault \"" + phoneOut + "\" all", "/SetDefault \"" + phoneOut + "\" all"}));
}

TEST_F(EndpointControl, DefaultNeverConfirmedIsAnErrorAfterThreeAttempts) {
  ASSERT_EQ(Audiosim(L"default bridge-in"), 0);
  // Every /SetDefault run fails: three attempts, no pauses, then the error line.
  SetFaults("SetDefault exit=1\n");
  EXPECT_FALSE(varn::ReclaimDefaultDevices(bridgeIn, bridgeOut));
  Lines journal = Journal();
  ASSERT_EQ(journal.size(), 5u);
  EXPECT_EQ(journal[2], journal[4]) << "three /SetDefault attempts";
  EXPECT_EQ(LogLines("dev").back(), "[ERROR] [dev] 夺回录制默认设备失败 目标=" + Utf8(Id(L"card-in")));
  // Pauses after the failed runs would add 200 + 400 + 600 ms.
  EXPECT_LT(IdleMsAfterSetDefaultRuns(), 600);

  // The render side fails the same way with its own line.
  ASSERT_TRUE(WriteBytes(dir / L"journal.log", ""));
  ASSERT_EQ(Audiosim(L"default bridge-out"), 0);
  EXPECT_FALSE(varn::ReclaimDefaultDevices(bridgeIn, bridgeOut));
  const std::string setPhone = "/SetDefault " + Q(Id(L"phone-out")) + " all";
  EXPECT_EQ(Journal(), (Lines{"/Disable " + Q(bridgeOut.id), "/Enable " + Q(bridgeOut.id), setPhone,
                              setPhone, setPhone}));
  EXPECT_EQ(LogLines("dev").back(), "[ERROR] [dev] 夺回播放默认设备失败 目标=" + Utf8(Id(L"phone-out")));
}

TEST_F(EndpointControl, AnEnableThatTakesTwoSecondsSucceedsInTheSecondPass) {
  ASSERT_EQ(Audiosim(L"disable bridge-out"), 0);
  SetFaults("Enable enable-delay=2000\n");
  EXPECT_TRUE(varn::SetEndpointEnabled(bridgeOut.id, varn::Flow::Render, true));
  EXPECT_EQ(Journal(), (Lines{"/Enable " + Q(bridgeOut.id), "/Enable " + Q(bridgeOut.id)}));
  Lines dev = LogLines("dev");
  ASSERT_EQ(dev.size(), 2u);
  EXPECT_EQ(dev[0], "[WARN ] [dev] 端点启用第 1 轮未生效 id=" + Utf8(bridgeOut.id));
  EXPECT_EQ(dev[1].rfind("[INFO ] [dev] 端点启用成功 id=" + Utf8(bridgeOut.id) + " 耗时=", 0), 0u);
}

TEST_F(EndpointControl, AStateNeverReachedFailsAfterThreePasses) {
  SetFaults("Disable noeffect\n");
  ULONGLONG start = GetTickCount64();
  EXPECT_FALSE(varn::SetEndpointEnabled(bridgeOut.id, varn::Flow::Render, false));
  EXPECT_GE(GetTickCount64() - start, 4800u);
  EXPECT_EQ(Journal().size(), 3u);
  Lines dev = LogLines("dev");
  ASSERT_EQ(dev.size(), 4u);
  EXPECT_EQ(dev[2], "[WARN ] [dev] 端点禁用第 3 轮未生效 id=" + Utf8(bridgeOut.id));
  EXPECT_EQ(dev[3].rfind("[ERROR] [dev] 端点禁用失败 id=" + Utf8(bridgeOut.id) + " 历时=", 0), 0u);
  // An unplugged endpoint counts as disabled at the first check.
  ASSERT_EQ(Audiosim(L"unplug bridge"), 0);
  EXPECT_TRUE(varn::SetEndpointEnabled(bridgeOut.id, varn::Flow::Render, false));
}

// Enabling cannot bring back an endpoint that is not plugged in, such as the old endpoint of a
// bridge that came back under new ids: the enable gives up at the first check instead of
// waiting out three passes.
TEST_F(EndpointControl, AnEnableOfAnEndpointThatIsNotThereGivesUpAtOnce) {
  ASSERT_EQ(Audiosim(L"replug bridge"), 0);
  const ULONGLONG start = GetTickCount64();
  EXPECT_FALSE(varn::SetEndpointEnabled(bridgeOut.id, varn::Flow::Render, true));
  EXPECT_LT(GetTickCount64() - start, 1500u);
  EXPECT_EQ(Journal(), Lines{"/Enable " + Q(bridgeOut.id)});
}

TEST_F(EndpointControl, OnlyTheDisabledBridgeEndpointIsEnabled) {
  varn::EnableDisabledBridgeEndpoints();
  EXPECT_TRUE(Journal().empty());
  EXPECT_TRUE(LogLines("dev").empty());

  // An empty jack is no disabled endpoint: enabling cannot bring it back, so nothing runs.
  ASSERT_EQ(Audiosim(L"jack bridge-in out"), 0);
  varn::EnableDisabledBridgeEndpoints();
  EXPECT_TRUE(Journal().empty());
  EXPECT_TRUE(LogLines("dev").empty());

  ASSERT_EQ(Audiosim(L"disable bridge-out"), 0);
  varn::EnableDisabledBridgeEndpoints();
  EXPECT_EQ(Journal(), Lines{"/Enable " + Q(bridgeOut.id)});
  EXPECT_EQ(LogLines("dev").at(0),
            "[WARN ] [dev] 启动时发现处于禁用状态的桥接器端点 播放=" + Utf8(bridgeOut.id) + " 录制=(无)");
  EXPECT_TRUE(varn::IsActiveEndpoint(bridgeOut.id, varn::Flow::Render));
}

TEST_F(EndpointControl, RequestsThatFollowTheDefaultGetTheCurrentIds) {
  varn::ConnectRequest request;
  request.capture = {L"声卡", L"stale-capture-id"};
  request.render = {L"手机", L"stale-render-id"};
  request.bridgeCapture = bridgeIn;
  request.bridgeRender = bridgeOut;
  request.captureFollowsDefault = true;
  request.renderFollowsDefault = true;
  EXPECT_TRUE(varn::ReclaimDefaultsForRequest(request));
  EXPECT_EQ(request.capture.id, Id(L"card-in"));
  EXPECT_EQ(request.render.id, Id(L"phone-out"));
  EXPECT_EQ(request.capture.name, L"声卡") << "names stay as they were";

  // Fixed choices are left alone.
  varn::ConnectRequest fixed = request;
  fixed.captureFollowsDefault = fixed.renderFollowsDefault = false;
  fixed.render.id = L"kept";
  EXPECT_TRUE(varn::ReclaimDefaultsForRequest(fixed));
  EXPECT_EQ(fixed.render.id, L"kept");

  // The bridge render stays the default even after the reclaim: not usable.
  ASSERT_EQ(Audiosim(L"default bridge-out"), 0);
  SetFaults("Disable noeffect\n");
  EXPECT_FALSE(varn::ReclaimDefaultsForRequest(request));
  EXPECT_EQ(request.render.id, bridgeOut.id);

  // The same for a followed capture: the bridge takes the default back as soon as it is
  // enabled again, and /SetDefault fails, so the bridge capture stays the default.
  ASSERT_EQ(Audiosim(L"default phone-out"), 0);
  ASSERT_EQ(Audiosim(L"takeover on"), 0);
  ASSERT_EQ(Audiosim(L"default bridge-in"), 0);
  SetFaults("SetDefault exit=1\n");
  request.renderFollowsDefault = false;
  request.render.id = Id(L"phone-out");
  EXPECT_FALSE(varn::ReclaimDefaultsForRequest(request));
  EXPECT_EQ(request.capture.id, bridgeIn.id);
}

}  // namespace
