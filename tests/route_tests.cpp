// Listen routes through the stand-in sound tool: which commands run, in what order, with what
// pauses, and what is logged when they fail.

#include <gtest/gtest.h>

#include "audio/device_identity.h"
#include "audio/endpoints.h"
#include "log/log.h"
#include "routes/listen_routes.h"
#include "tool_runner/tool_runner.h"
#include "support/sim_fixture.h"
#include "world.h"

using namespace testing_support;
using varn::DeviceIdentity;

namespace {

class Routes : public SimulatedWorldTest {
 protected:
  void SetUp() override {
    SimulatedWorldTest::SetUp();
    InstallSoundTool();
    ASSERT_TRUE(WriteBytes(dir / L"journal-times.log", ""));
    cardIn = {L"线路输入", Id(L"card-in")};
    bridgeOut = {L"VARN播放", Id(L"bridge-out")};
    bridgeIn = {L"VARN录制", Id(L"bridge-in")};
    phoneOut = {L"手机", Id(L"phone-out")};
  }

  // Journal lines in a short form: "target <src> <dst>", "listen <src> 1|0".
  std::vector<std::string> Commands() const {
    std::vector<std::string> shortForms;
    for (const std::string& line : Journal()) {
      std::string text = line;
      for (const auto& [id, alias] : {std::pair{cardIn.id, "card"}, {bridgeOut.id, "bout"},
                                      {bridgeIn.id, "bin"}, {phoneOut.id, "phone"}}) {
        std::string quoted = Quoted(id);
        for (size_t at; (at = text.find(quoted)) != std::string::npos;) text.replace(at, quoted.size(), alias);
      }
      text.replace(0, text.find(' '), text.rfind("/SetPlaybackThroughDevice", 0) == 0 ? "target" : "listen");
      shortForms.push_back(text);
    }
    return shortForms;
  }

  std::vector<std::string> RouteLogLines() const { return LogLinesContaining("] [route] "); }

  // A log line's time of day in milliseconds (UTC).
  static long TimeOfLine(const std::string& line) {
    int h = 0, m = 0, s = 0, ms = 0;
    sscanf(line.c_str() + 11, "%d:%d:%d.%d", &h, &m, &s, &ms);
    return ((h * 60L + m) * 60L + s) * 1000L + ms;
  }
  // When each tool run's process was made, as a time of day in ms, from the stand-in's
  // journal-times.log: the system clock, as the log's stamps are, not a log stamp less the
  // run's duration, which Wine counts with a tick count that a busy machine advances late and
  // in coarse steps.
  std::vector<long> RunStarts() const {
    std::vector<long> starts;
    for (const std::string& line : SplitCrLfLines(ReadBytes(dir / L"journal-times.log"))) {
      const size_t second = line.find(' ') + 1;
      starts.push_back(static_cast<long>(std::stoull(line.substr(second)) % 86400000ULL));
    }
    return starts;
  }
  // Whole log lines, time stamps included, that contain the text.
  std::vector<std::string> TimedLines(const std::string& text) const {
    std::vector<std::string> lines;
    for (const std::string& line : SplitCrLfLines(ReadBytes(varn::LogFilePath()))) {
      if (line.find(text) != std::string::npos) lines.push_back(line);
    }
    return lines;
  }

  DeviceIdentity cardIn, bridgeOut, bridgeIn, phoneOut;
};

using Lines = std::vector<std::string>;

TEST_F(Routes, OnSetsTheTargetThenListensAndOffOnlyStopsListening) {
  EXPECT_TRUE(varn::SetListenRoute(cardIn, bridgeOut, true));
  EXPECT_TRUE(varn::SetListenRoute(cardIn, bridgeOut, false));
  EXPECT_EQ(Commands(), (Lines{"target card bout", "listen card 1", "listen card 0"}));
  EXPECT_TRUE(RouteLogLines().empty()) << "success is not logged here";

  // A failing target skips the listen-on; the next attempt succeeds after 250 ms.
  // The journal holds one target run already: the second fails, the third succeeds.
  SetFaults("SetPlaybackThroughDevice exit=1 to=2\n");
  ULONGLONG start = GetTickCount64();
  EXPECT_TRUE(varn::SetListenRoute(bridgeIn, phoneOut, true));
  EXPECT_GE(GetTickCount64() - start, 250u);
  EXPECT_EQ(Commands(), (Lines{"target card bout", "listen card 1", "listen card 0",
                               "target bin phone", "target bin phone", "listen bin 1"}));
  EXPECT_EQ(RouteLogLines(),
            Lines{"[WARN ] [route] SetListenRoute 第 1 次未成功(开启) 源=" + Utf8(bridgeIn.id) +
                  " 目标=" + Utf8(phoneOut.id)});
}

TEST_F(Routes, ThreeFailedAttemptsGiveUpWithWarningsAndAnError) {
  SetFaults("SetListenToThisDevice exit=1\n");
  ULONGLONG start = GetTickCount64();
  EXPECT_FALSE(varn::SetListenRoute(cardIn, bridgeOut, false));
  EXPECT_GE(GetTickCount64() - start, 1500u) << "pauses of 250, 500 and 750 ms";
  EXPECT_EQ(Commands(), (Lines{"listen card 0", "listen card 0", "listen card 0"}));
  const std::string ids = " 源=" + Utf8(cardIn.id) + " 目标=" + Utf8(bridgeOut.id);
  EXPECT_EQ(RouteLogLines(), (Lines{"[WARN ] [route] SetListenRoute 第 1 次未成功(关闭)" + ids,
                                    "[WARN ] [route] SetListenRoute 第 2 次未成功(关闭)" + ids,
                                    "[WARN ] [route] SetListenRoute 第 3 次未成功(关闭)" + ids,
                                    "[ERROR] [route] SetListenRoute 三次均失败(关闭)" + ids}));

  // Each failure is followed by a longer pause: 250, 500, then 750 ms before giving up. The
  // total above comes from the tick count, which Wine advances in steps of 16 ms or more: the
  // bounds leave room for that, not for a pause of the wrong length.
  Lines runs = TimedLines("[tool] SoundVolumeView");
  Lines route = TimedLines("] [route] ");
  const std::vector<long> starts = RunStarts();
  ASSERT_EQ(runs.size(), 3u);
  ASSERT_EQ(starts.size(), 3u);
  ASSERT_EQ(route.size(), 4u);
  long pauses[] = {starts[1] - TimeOfLine(route[0]), starts[2] - TimeOfLine(route[1]),
                   TimeOfLine(route[3]) - TimeOfLine(route[2])};
  EXPECT_GE(pauses[0], 220);
  EXPECT_LT(pauses[0], 480);
  EXPECT_GE(pauses[1], 460);
  EXPECT_LT(pauses[1], 730);
  EXPECT_GE(pauses[2], 710);
}

TEST_F(Routes, EstablishSwitchesBothRoutesCountTimesAndEndsOn) {
  ULONGLONG start = GetTickCount64();
  EXPECT_TRUE(varn::EstablishListenRoutes(cardIn, bridgeOut, bridgeIn, phoneOut, 2));
  EXPECT_GE(GetTickCount64() - start, 600u) << "three pauses of 200 ms";
  EXPECT_EQ(Commands(), (Lines{"target card bout", "listen card 1", "target bin phone", "listen bin 1",
                               "listen card 0", "listen bin 0",
                               "target card bout", "listen card 1", "target bin phone", "listen bin 1"}));
  Lines log = RouteLogLines();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "[INFO ] [route] 开始建立侦听 连接次数=2 | ①线路输入[" + Utf8(cardIn.id) + "]→VARN播放[" +
                        Utf8(bridgeOut.id) + "] | ②VARN录制[" + Utf8(bridgeIn.id) + "]→手机[" +
                        Utf8(phoneOut.id) + "]");
  EXPECT_EQ(log[1].rfind("[INFO ] [route] 建立侦听完成 连接次数=2 耗时=", 0), 0u) << log[1];
  // 200 ms after both routes are on, and again after both are off.
  Lines runs = TimedLines("[tool] SoundVolumeView");
  const std::vector<long> starts = RunStarts();
  ASSERT_EQ(runs.size(), 10u);
  ASSERT_EQ(starts.size(), 10u);
  EXPECT_GE(starts[4] - TimeOfLine(runs[3]), 170);
  EXPECT_GE(starts[6] - TimeOfLine(runs[5]), 170);

  // The world shows both routes on, through the right targets.
  audiosim::World world;
  ASSERT_TRUE(audiosim::LoadWorld(world));
  EXPECT_TRUE(audiosim::FindEndpoint(world, L"card-in")->listen);
  EXPECT_EQ(audiosim::FindEndpoint(world, L"card-in")->listenTarget, bridgeOut.id);
  EXPECT_EQ(audiosim::FindEndpoint(world, L"bridge-in")->listenTarget, phoneOut.id);

  // Count 1 never switches off; count 0 runs nothing and succeeds.
  ASSERT_TRUE(WriteBytes(dir / L"journal.log", ""));
  EXPECT_TRUE(varn::EstablishListenRoutes(cardIn, bridgeOut, bridgeIn, phoneOut, 1));
  EXPECT_EQ(Commands().size(), 4u);
  ASSERT_TRUE(WriteBytes(dir / L"journal.log", ""));
  EXPECT_TRUE(varn::EstablishListenRoutes(cardIn, bridgeOut, bridgeIn, phoneOut, 0));
  EXPECT_TRUE(Commands().empty());
}

TEST_F(Routes, EstablishStopsAtTheFirstRouteThatCannotBeSwitchedOn) {
  // Route 2's target fails three times in the first pass: route 1 stays on, nothing more runs.
  SetFaults("SetPlaybackThroughDevice exit=1 from=2\n");
  EXPECT_FALSE(varn::EstablishListenRoutes(cardIn, bridgeOut, bridgeIn, phoneOut, 2));
  EXPECT_EQ(Commands(), (Lines{"target card bout", "listen card 1", "target bin phone",
                               "target bin phone", "target bin phone"}));
  EXPECT_EQ(RouteLogLines().back(), "[ERROR] [route] 建立侦听失败：第 1 次开启反向路由不成功");

  ASSERT_TRUE(WriteBytes(dir / L"journal.log", ""));
  SetFaults("SetListenToThisDevice exit=1 from=1\n");
  EXPECT_FALSE(varn::EstablishListenRoutes(cardIn, bridgeOut, bridgeIn, phoneOut, 1));
  EXPECT_EQ(RouteLogLines().back(), "[ERROR] [route] 建立侦听失败：第 1 次开启两条路由不成功");

  // Route 1 cannot be switched off between the passes: route 2 is switched off all the same.
  ASSERT_TRUE(WriteBytes(dir / L"journal.log", ""));
  SetFaults("SetListenToThisDevice exit=1 from=3 to=5\n");
  EXPECT_FALSE(varn::EstablishListenRoutes(cardIn, bridgeOut, bridgeIn, phoneOut, 2));
  EXPECT_EQ(Commands(), (Lines{"target card bout", "listen card 1", "target bin phone", "listen bin 1",
                               "listen card 0", "listen card 0", "listen card 0", "listen bin 0"}));
}

TEST_F(Routes, StopListenRepeatedlyStopsAtTheFirstFailure) {
  ULONGLONG start = GetTickCount64();
  EXPECT_TRUE(varn::StopListenRepeatedly(cardIn, 3));
  EXPECT_GE(GetTickCount64() - start, 450u);
  EXPECT_EQ(Commands(), (Lines{"listen card 0", "listen card 0", "listen card 0"}));
  EXPECT_EQ(RouteLogLines().back(),
            "[INFO ] [route] 已连续关闭声卡输入侦听 3 次（防止系统回退到默认播放设备）");

  SetFaults("SetListenToThisDevice exit=1 from=5\n");
  EXPECT_FALSE(varn::StopListenRepeatedly(cardIn, 3));
  EXPECT_EQ(Commands().size(), 5u) << "the second pass failed and the third never ran";
  EXPECT_EQ(RouteLogLines().back(), "[WARN ] [route] 连续关闭声卡输入侦听：第 2/3 次未成功");

  EXPECT_FALSE(varn::StopListenRepeatedly({L"no id", L""}, 3));
  EXPECT_EQ(Commands().size(), 5u);
}

TEST_F(Routes, ADeviceNameCannotForgeALogRecord) {
  const std::wstring forged = L"Line\r\n2026-01-01 00:00:00.000 [ERROR] [route] forged\n";
  ASSERT_TRUE(audiosim::UpdateWorld([&](audiosim::World& world) {
    audiosim::FindEndpoint(world, L"card-in")->name = forged;
    return true;
  }));
  DeviceIdentity named;
  for (const DeviceIdentity& entry : varn::ListEndpoints(varn::Flow::Capture)) {
    if (entry.id == cardIn.id) named = entry;
  }
  ASSERT_EQ(named.name, forged) << "Core Audio hands the name over as it is";
  EXPECT_TRUE(varn::EstablishListenRoutes(named, bridgeOut, bridgeIn, phoneOut, 1));

  Lines all = SplitCrLfLines(ReadBytes(varn::LogFilePath()));
  ASSERT_FALSE(all.empty());
  for (const std::string& line : all) {
    EXPECT_TRUE(line.size() > 24 && line.compare(0, 2, "20") == 0 && line[23] == ' ' &&
                line.find("] [", 24) != std::string::npos && line.find_first_of("\r\n") == std::string::npos)
        << "not one record: " << line;
    EXPECT_NE(line.rfind("2026-01-01 00:00:00.000", 0), 0u) << line;
  }
  EXPECT_EQ(RouteLogLines().front().rfind("[INFO ] [route] 开始建立侦听 连接次数=1 | ①Line \xEF\xBD\x9C "
                                          "2026-01-01 00:00:00.000 [ERROR] [route] forged \xEF\xBD\x9C [", 0),
            0u) << RouteLogLines().front();
}

// In a process of its own: the shutdown flag cannot be cleared.
class RoutesShutdown : public Routes {};

TEST_F(RoutesShutdown, EveryOperationReturnsFalseWithoutCommands) {
  varn::SignalShutdown();
  EXPECT_FALSE(varn::SetListenRoute(cardIn, bridgeOut, true));
  EXPECT_FALSE(varn::EstablishListenRoutes(cardIn, bridgeOut, bridgeIn, phoneOut, 2));
  EXPECT_FALSE(varn::StopListenRepeatedly(cardIn, 3));
  EXPECT_TRUE(Journal().empty());
  EXPECT_EQ(RouteLogLines().size(), 1u) << "only the start line of the establish";
}

}  // namespace
