// What the real program does on its own after its window is made: the start-up work with the
// environment snapshot, and the one automatic connect of timer 3, or the waiting text when the
// bridge is not there.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/app.h"
#include "settings/settings.h"
#include "support/program.h"
#include "support/program_scenario.h"
#include "ui/window_state.h"

using namespace testing_support;

namespace {

using Lines = std::vector<std::string>;
constexpr size_t npos = std::string::npos;

const std::string kStartupDone = "[INFO ] [app] 操作完成 [启动准备工作] 结果=成功";
const std::string kAutoConnectStarted = "[INFO ] [work] 任务开始 [启动自动连接]";
const std::string kAutoConnectDone = "[INFO ] [app] 操作完成 [启动自动连接] 结果=成功，当前在侦听";
const std::string kWaitingText = "[INFO ] [app] 等待 USB Audio VARN，设备连接后将自动侦听...";

size_t IndexOf(const Lines& lines, const std::string& text, size_t from = 0) {
  for (size_t i = from; i < lines.size(); ++i) {
    if (lines[i] == text) return i;
  }
  return npos;
}

// Milliseconds of the day from a record's time stamp ("2026-12-08 08:41:55.377 ...").
long long TimeOfDayMs(const std::string& record) {
  if (record.size() < 23) return -1;
  return ((std::stoll(record.substr(11, 2)) * 60 + std::stoll(record.substr(14, 2))) * 60 +
          std::stoll(record.substr(17, 2))) * 1000 + std::stoll(record.substr(20, 3));
}

class StartOnItsOwn : public ProgramScenario {
 protected:
  bool Logged(const std::string& line) const { return IndexOf(program_->LogLines(), line) != npos; }
};

TEST_F(StartOnItsOwn, TheBridgePresentConnectsOnceWithTwoPassesAfterTheStartupWork) {
  ASSERT_NE(Start(L"", ProgramScenario::Startup::Raw), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return Logged(kAutoConnectDone); }, 30000));
  const std::string card = Quoted(Id(L"card-in")), phone = Quoted(Id(L"phone-out"));
  const std::string bridgeIn = Quoted(Id(L"bridge-in")), bridgeOut = Quoted(Id(L"bridge-out"));
  const Lines on = {"/SetPlaybackThroughDevice " + card + " " + bridgeOut, "/SetListenToThisDevice " + card + " 1",
                    "/SetPlaybackThroughDevice " + bridgeIn + " " + phone, "/SetListenToThisDevice " + bridgeIn + " 1"};
  Lines twoPasses = on;
  twoPasses.push_back("/SetListenToThisDevice " + card + " 0");
  twoPasses.push_back("/SetListenToThisDevice " + bridgeIn + " 0");
  twoPasses.insert(twoPasses.end(), on.begin(), on.end());
  EXPECT_EQ(Journal(), twoPasses);

  // Timer 3 first ticks 2 s after the window is made, then every second until the start-up
  // work is done: the connect starts at the first tick after that, and only once.
  Sleep(2500);
  const Lines log = SplitCrLfLines(ReadBytes(program_->LogPath()));
  auto stamp = [&](const std::string& text) -> long long {
    for (const std::string& record : log) {
      if (record.size() > 24 && record.compare(24, std::string::npos, text) == 0) return TimeOfDayMs(record);
    }
    return -1;
  };
  const long long created = stamp("[INFO ] [app] 正在初始化音频路由...");
  const long long ready = stamp(kStartupDone);
  const long long started = stamp(kAutoConnectStarted);
  ASSERT_GE(created, 0);
  ASSERT_GE(ready, created);
  ASSERT_GE(started, ready);
  EXPECT_GE(started - created, 1950);
  EXPECT_LT(started - std::max(ready, created + 2000), 1100) << "the first free tick";
  EXPECT_EQ(LogCount(kAutoConnectStarted), 1u) << "one automatic connect per run";

  // The start-up work wrote the snapshot between its markers, every line of it a record of
  // its own, the schtasks query's line before the first of them.
  const Lines lines = program_->LogLines();
  const size_t open = IndexOf(lines, "[INFO ] [env] ==================== 环境快照开始 ====================");
  const size_t close = IndexOf(lines, "[INFO ] [env] ==================== 环境快照结束 ====================", open);
  ASSERT_NE(close, npos);
  std::vector<std::string> snapshot;
  for (size_t i = open + 1; i < close; ++i) {
    if (lines[i].rfind("[INFO ] [env] ", 0) == 0) snapshot.push_back(lines[i].substr(14));
  }
  ASSERT_GE(snapshot.size(), 44u);
  EXPECT_EQ(snapshot.front(), "VARN USB Audio 桥接器 —— 诊断环境快照");
  EXPECT_EQ(snapshot.back(), "  播放目标处于禁用列表: 否");
  EXPECT_EQ(std::count(snapshot.begin(), snapshot.end(), std::string()), 0);
  EXPECT_LT(IndexOf(lines, "[INFO ] [env] ==================== 环境快照开始 ====================") + 1,
            IndexOf(lines, "[INFO ] [env] VARN USB Audio 桥接器 —— 诊断环境快照"));
  ExitThroughTrayWithACleanLog();
}

TEST_F(StartOnItsOwn, WithoutTheBridgeTimer3EndsWithTheWaitingTextAndTheReturnIsLeftToTheWatchdog) {
  ASSERT_EQ(Audiosim(L"unplug bridge"), 0);
  ASSERT_NE(Start(L"", ProgramScenario::Startup::Raw), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return Logged(kWaitingText); }, 15000));

  ASSERT_EQ(Audiosim(L"plug bridge"), 0);
  ASSERT_TRUE(WaitUntil([&] { return Logged("[INFO ] [app] 操作完成 [桥接器回插后重连] 结果=成功，当前在侦听"); }, 30000));
  // Timer 3 ended with the waiting text: a tick now would find everything ready and connect.
  Sleep(2500);
  EXPECT_FALSE(Logged(kAutoConnectStarted));
  ExitThroughTrayWithACleanLog();
}

// A saved input that is not listed at start leaves its list without a pick. It is named as a
// channel that is gone, by the status line and by a connect asked for meanwhile, never left at
// the start's text or taken for a choice not made; once it is listed, the start-up connect builds
// the routes on it.
class SavedDeviceNotThere : public StartOnItsOwn {
 protected:
  void StartWithTheSavedInput(const std::wstring& id) {
    varn::WriteSettingString(varn::kCaptureIdValue, L"DEVICE:" + id);
    varn::WriteSettingString(varn::kRenderIdValue, L"DEVICE:" + Id(L"phone-out"));
    ASSERT_NE(Start(L"", ProgramScenario::Startup::Raw), nullptr);
    const std::wstring gone = L"声卡输入通道已断开，恢复后将自动连接";
    ASSERT_TRUE(WaitUntil([&] { return TextOf(Control(varn::kStatusLabelId)) == gone; }, 15000))
        << Utf8(TextOf(Control(varn::kStatusLabelId)));
    EXPECT_NE(Find("[WARN ] [dev] 已保存的设备不在活动列表，自动连接等待其恢复 录制:缺失=1"), kNowhere);
  }
};

TEST_F(SavedDeviceNotThere, AnInputThatNeverExistedIsNamedByTheStatusAndByAConnect) {
  ASSERT_NO_FATAL_FAILURE(StartWithTheSavedInput(L"{0.0.1.00000000}.{deadbeef-0000-4000-8000-000000000000}"));
  const size_t from = program_->LogLines().size();
  program_->PostCommand(varn::kCmdTrayConnect);
  const std::optional<ShownBox> box = CloseNextBox(5000);
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(Utf8(box->text), Utf8(L"未检测到声卡输入通道，请重新选择或插入声卡"));
  EXPECT_NE(Find("[INFO ] [app] 用户点击「立即连接」但设备选择不完整 已保存的录制设备不在列表=1", from), kNowhere);
  EXPECT_TRUE(ListeningRoutes().empty());
  ExitThroughTrayWithACleanLog();
}

TEST_F(SavedDeviceNotThere, AnUnpluggedInputIsWaitedForAndConnectedOnceItIsBack) {
  ASSERT_EQ(Audiosim(L"unplug card"), 0);
  ASSERT_NO_FATAL_FAILURE(StartWithTheSavedInput(Id(L"card-in")));
  ASSERT_EQ(Audiosim(L"plug card"), 0);
  ASSERT_TRUE(WaitUntil([&] { return Logged(kAutoConnectDone); }, 15000));
  EXPECT_EQ(ListeningRoutes(), ChosenRoutes(L"card-in", L"phone-out"));
  EXPECT_EQ(LogCount(kAutoConnectStarted), 1u);
  ExitThroughTrayWithACleanLog();
}

}  // namespace
