// Full volume, unmuting and the sound enhancements switch on single endpoints of the simulated
// world: what gets written, how often it is tried, and the guard's log lines.

#include <gtest/gtest.h>

#include <string>

#include "audio/volume.h"
#include "log/log.h"
#include "base/text.h"
#include "support/sim_fixture.h"
#include "world.h"

using namespace testing_support;

namespace {

// The operations ask this before each attempt, so the count of asks is the count of attempts
// (plus nothing: a compliant endpoint never asks).
int gShutdownAsks = 0;
bool gShutdownNow = false;
bool CountingShutdown() {
  ++gShutdownAsks;
  return gShutdownNow;
}

class EndpointGuard : public SimulatedWorldTest {
 protected:
  void SetUp() override {
    SimulatedWorldTest::SetUp();
    varn::OpenLog(dir / L"VARNListenFix.exe");
    gShutdownAsks = 0;
    gShutdownNow = false;
  }

  audiosim::Endpoint Endpoint(const wchar_t* alias) const {
    audiosim::World world;
    EXPECT_TRUE(audiosim::LoadWorld(world));
    const audiosim::Endpoint* e = audiosim::FindEndpoint(world, alias);
    return e != nullptr ? *e : audiosim::Endpoint();
  }

  // The guard's lines naming this endpoint, without their time stamps.
  std::vector<std::string> GuardLines(const char* text, const wchar_t* alias) const {
    std::vector<std::string> lines;
    for (const std::string& line : LogLinesContaining(text)) {
      if (line.find(varn::Utf16ToUtf8(Id(alias))) != std::string::npos) lines.push_back(line);
    }
    return lines;
  }

  // Runs the volume correction with the counting shutdown test; returns (result, attempted).
  std::pair<bool, bool> Enforce(const wchar_t* alias, bool unmute) {
    bool attempted = true;
    bool ok = varn::EnforceEndpointVolume(Id(alias), unmute, &attempted, &CountingShutdown);
    return {ok, attempted};
  }
};

TEST_F(EndpointGuard, VolumeIsRaisedOnceAndTheCorrectionLogged) {
  // Already in order: reads only, no attempt, no line.
  EXPECT_EQ(Enforce(L"bridge-out", true), std::make_pair(true, false));
  EXPECT_EQ(gShutdownAsks, 0);

  // 40 % and muted: one attempt reaches full and unmuted.
  ASSERT_EQ(Audiosim(L"volume bridge-out 0.4"), 0);
  ASSERT_EQ(Audiosim(L"mute bridge-out"), 0);
  EXPECT_EQ(Enforce(L"bridge-out", true), std::make_pair(true, true));
  EXPECT_EQ(gShutdownAsks, 1);
  EXPECT_DOUBLE_EQ(Endpoint(L"bridge-out").volume, 1.0);
  EXPECT_FALSE(Endpoint(L"bridge-out").mute);
  EXPECT_EQ(GuardLines("音量守护纠正", L"bridge-out"),
            std::vector<std::string>{"[INFO ] [guard] 音量守护纠正 id=" + varn::Utf16ToUtf8(Id(L"bridge-out")) +
                                     " 音量=40%→100% 静音=是→否 解除静音=1 结果=成功"});

  // Without an attempted flag (start-up preparation) the correction is silent.
  ASSERT_EQ(Audiosim(L"volume bridge-in 0.4"), 0);
  EXPECT_TRUE(varn::EnforceEndpointVolume(Id(L"bridge-in"), true, nullptr, &CountingShutdown));
  EXPECT_DOUBLE_EQ(Endpoint(L"bridge-in").volume, 1.0);
  EXPECT_TRUE(GuardLines("音量守护纠正", L"bridge-in").empty());

  // The sound card input is never unmuted by us: muted at full volume it complies as it is.
  ASSERT_EQ(Audiosim(L"mute card-in"), 0);
  EXPECT_EQ(Enforce(L"card-in", false), std::make_pair(true, false));
  EXPECT_TRUE(Endpoint(L"card-in").mute);

  // The full-volume test sits between 0.998 and 0.9995.
  ASSERT_EQ(Audiosim(L"volume card-in 0.9995"), 0);
  EXPECT_EQ(Enforce(L"card-in", false), std::make_pair(true, false));
  EXPECT_DOUBLE_EQ(Endpoint(L"card-in").volume, 0.9995);
  ASSERT_EQ(Audiosim(L"volume card-in 0.998"), 0);
  EXPECT_EQ(Enforce(L"card-in", false), std::make_pair(true, true));
  EXPECT_DOUBLE_EQ(Endpoint(L"card-in").volume, 1.0);
  EXPECT_TRUE(Endpoint(L"card-in").mute) << "unmute was not asked";
}

TEST_F(EndpointGuard, VolumeThatFallsBackIsTriedTwiceThenReported) {
  ASSERT_EQ(Audiosim(L"volume bridge-out 0.4"), 0);
  ASSERT_EQ(Audiosim(L"set bridge-out volume_stuck=1"), 0);
  EXPECT_EQ(Enforce(L"bridge-out", true), std::make_pair(false, true));
  EXPECT_EQ(gShutdownAsks, 2);
  EXPECT_EQ(GuardLines("音量守护纠正", L"bridge-out"),
            std::vector<std::string>{"[WARN ] [guard] 音量守护纠正 id=" + varn::Utf16ToUtf8(Id(L"bridge-out")) +
                                     " 音量=40%→40% 静音=否→否 解除静音=1 结果=仍不达标"});

  // Shutting down: no attempt at all, nothing written, no line.
  ASSERT_EQ(Audiosim(L"set bridge-out volume_stuck=0"), 0);
  gShutdownNow = true;
  EXPECT_EQ(Enforce(L"bridge-out", true), std::make_pair(false, false));
  EXPECT_DOUBLE_EQ(Endpoint(L"bridge-out").volume, 0.4);
  EXPECT_EQ(GuardLines("音量守护纠正", L"bridge-out").size(), 1u);

  // An endpoint that is gone: false, quietly.
  gShutdownNow = false;
  ASSERT_EQ(Audiosim(L"unplug bridge"), 0);
  EXPECT_EQ(Enforce(L"bridge-out", true), std::make_pair(false, false));
  EXPECT_EQ(GuardLines("音量守护纠正", L"bridge-out").size(), 1u);
}

TEST_F(EndpointGuard, EnhancementsAreSwitchedOffOnceOrTheRefusalReported) {
  const std::string bridgeIn = varn::Utf16ToUtf8(Id(L"bridge-in"));

  // Already off: no attempt, no line.
  EXPECT_TRUE(varn::DisableEndpointEnhancements(Id(L"bridge-in"), &CountingShutdown));
  EXPECT_EQ(gShutdownAsks, 0);

  ASSERT_EQ(Audiosim(L"effects bridge-in on"), 0);
  EXPECT_TRUE(varn::DisableEndpointEnhancements(Id(L"bridge-in"), &CountingShutdown));
  EXPECT_FALSE(Endpoint(L"bridge-in").effectsOn);
  EXPECT_TRUE(varn::DisableEndpointEnhancements(Id(L"bridge-in"), &CountingShutdown));
  EXPECT_EQ(gShutdownAsks, 1);
  EXPECT_EQ(GuardLines("音效增强", L"bridge-in"),
            std::vector<std::string>{"[INFO ] [guard] 音效增强（信号处理）已关闭 id=" + bridgeIn});

  // The store refuses the write: two attempts, then the failure.
  ASSERT_EQ(Audiosim(L"effects bridge-in on"), 0);
  ASSERT_EQ(Audiosim(L"set bridge-in effects_locked=1"), 0);
  gShutdownAsks = 0;
  EXPECT_FALSE(varn::DisableEndpointEnhancements(Id(L"bridge-in"), &CountingShutdown));
  EXPECT_EQ(gShutdownAsks, 2);
  EXPECT_TRUE(Endpoint(L"bridge-in").effectsOn);
  EXPECT_EQ(GuardLines("音效增强", L"bridge-in").back(), "[WARN ] [guard] 音效增强（信号处理）关闭失败 id=" + bridgeIn);

  // Shutting down: the failure is still reported, without an attempt.
  ASSERT_EQ(Audiosim(L"set bridge-in effects_locked=0"), 0);
  gShutdownNow = true;
  EXPECT_FALSE(varn::DisableEndpointEnhancements(Id(L"bridge-in"), &CountingShutdown));
  EXPECT_TRUE(Endpoint(L"bridge-in").effectsOn);
  EXPECT_EQ(GuardLines("音效增强", L"bridge-in").size(), 3u);
}

}  // namespace
