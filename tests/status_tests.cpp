// The status line: its log (a text spanning lines stays one record, a repeated text is logged
// again only after a minute), the resting text, the colour class of a text and the words for
// lost channels.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log.h"
#include "support/test_support.h"
#include "ui/status.h"

using namespace testing_support;

namespace {

TEST(StatusLine, LogsEachNewTextAndARepeatOnceAMinute) {
  TempDir dir;
  varn::OpenLog(dir / L"VARNListenFix.exe");
  struct Step {
    const wchar_t* text;
    DWORD tick;
    bool logged;
  };
  const Step steps[] = {
      {L"● 正在初始化...", 1000, true},
      {L"● 正在初始化...", 1000 + 30000, false},
      {L"● 正在初始化...", 1000 + 59999, false},
      {L"● 正在初始化...", 1000 + 60000, true},
      {L"正在连接...", 1000 + 60001, true},
      {L"● 正在初始化...", 1000 + 60002, true},  // back to an earlier text: new again
      {L"第一行\r\n第二行", 0xFFFFFFF0u, true},
      {L"第一行\r\n第二行", 0x10u, false},  // 32 ms later, across the tick count's wrap
      {L"第一行\r\n第二行", 0xFFFFFFF0u + 60000u, true},
  };
  std::vector<std::string> expected;
  for (const Step& step : steps) {
    varn::SetStatusTextAt(step.text, step.tick);
    EXPECT_EQ(varn::CurrentStatusText(), step.text);
    if (step.logged) expected.push_back("[INFO ] [app] " + Utf8(step.text));
  }
  std::vector<std::string> logged;
  for (const std::string& line : SplitCrLfLines(ReadBytes(varn::LogFilePath()))) logged.push_back(line.substr(24));
  for (std::string& line : expected) {
    size_t lineBreak = line.find("\r\n");
    if (lineBreak != std::string::npos) line.replace(lineBreak, 2, " \xEF\xBD\x9C ");
  }
  EXPECT_EQ(logged, expected);
}

TEST(StatusLine, RestingTextTakesTheFirstRowThatHolds) {
  varn::SteadyStatusFacts working;
  working.flags.startupReady = true;
  working.flags.bridgePresent = true;
  working.flags.listeningActive = true;
  working.captureIndex = 1;
  working.renderIndex = 0;
  working.captureName = L"线路输入";
  working.renderName = L"扬声器";
  working.bridgeCaptureListed = true;
  working.bridgeRenderListed = true;
  const std::wstring routes = L"● 机架 → 手机：线路输入 → VARN播放\r\n● 手机 → 电脑：VARN录制 → 扬声器";

  struct Row {
    const char* what;
    void (*change)(varn::SteadyStatusFacts&);
    std::wstring text;
  };
  using F = varn::SteadyStatusFacts;
  const Row rows[] = {
      {"working", [](F&) {}, routes},
      {"start-up first, whatever else",
       [](F& f) { f.flags.startupReady = false; f.flags.bridgePresent = false; f.flags.channelUnavailable = true; },
       L"● 正在初始化..."},
      {"no bridge before a lost channel",
       [](F& f) { f.flags.bridgePresent = false; f.flags.channelUnavailable = true; f.flags.listeningActive = false; },
       L"● 未检测到 USB Audio VARN，等待设备连接..."},
      {"lost channel", [](F& f) { f.flags.channelUnavailable = true; f.flags.listeningActive = false; }, L"● 等待声卡恢复..."},
      {"lost channel handled", [](F& f) { f.flags.unavailableHandled = true; }, L"● 等待声卡恢复..."},
      {"not listening before no pick", [](F& f) { f.flags.listeningActive = false; f.captureIndex = -1; },
       L"● 未侦听：点击「立即连接」建立两条音频路由"},
      {"no input pick", [](F& f) { f.captureIndex = -1; }, L"● 请选择声卡输入和手机输出通道"},
      {"no output pick", [](F& f) { f.renderIndex = -1; }, L"● 请选择声卡输入和手机输出通道"},
      {"names not resolved", [](F& f) { f.captureName.clear(); f.renderName.clear(); },
       L"● 机架 → 手机：未识别 → VARN播放\r\n● 手机 → 电脑：VARN录制 → 未识别"},
      {"bridge gone from the lists while still judged present",
       [](F& f) { f.bridgeCaptureListed = false; f.bridgeRenderListed = false; },
       L"● 机架 → 手机：线路输入 → VARN\r\n● 手机 → 电脑：VARN → 扬声器"},
      {"only the bridge's playback side listed", [](F& f) { f.bridgeCaptureListed = false; },
       L"● 机架 → 手机：线路输入 → VARN播放\r\n● 手机 → 电脑：VARN → 扬声器"},
      {"routes held on a bridge that came back under new ids", [](F& f) { f.heldOffTheListedBridge = true; },
       L"● 未侦听：点击「立即连接」建立两条音频路由"},
  };
  for (const Row& row : rows) {
    varn::SteadyStatusFacts facts = working;
    row.change(facts);
    EXPECT_EQ(Utf8(varn::ComposeSteadyStatus(facts)), Utf8(row.text)) << row.what;
  }
}

TEST(StatusLine, ClassFollowsTheWording) {
  struct Row {
    const wchar_t* text;
    varn::StatusClass statusClass;
  };
  const Row rows[] = {
      {L"", varn::StatusClass::Plain},
      {L"请选择设备后应用。", varn::StatusClass::Plain},
      {L"设备通道已更新，可以立即连接", varn::StatusClass::Plain},
      {L"设备正在重启", varn::StatusClass::Plain},  // "正在" only counts at the start
      {L"● 正在初始化...", varn::StatusClass::Progress},
      {L"● 等待声卡恢复...", varn::StatusClass::Progress},
      {L"正在建立侦听...", varn::StatusClass::Progress},
      {L"完成：两条音频路由已恢复连接并保持侦听。", varn::StatusClass::Good},
      {L"已连接，侦听中", varn::StatusClass::Good},
      {L"路由侦听中", varn::StatusClass::Good},
      {L"● 机架 → 手机：线路输入 → VARN播放\r\n● 手机 → 电脑：VARN录制 → 扬声器", varn::StatusClass::Good},
      {L"未检测到 VARN，请连接设备", varn::StatusClass::Problem},
      {L"● 未侦听：点击「立即连接」建立两条音频路由", varn::StatusClass::Problem},
      {L"正在连接...失败", varn::StatusClass::Problem},   // a problem word beats the progress prefix
      {L"完成：声卡输入通道被禁用", varn::StatusClass::Problem},
      {L"声卡输入通道已断开", varn::StatusClass::Problem},
      {L"● 未检测到 USB Audio VARN，等待设备连接...", varn::StatusClass::Problem},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(varn::ClassifyStatus(row.text), row.statusClass) << Utf8(row.text);
  }
}

// The label's colour is the class the text was shown with: a caller that knows its text says
// so, even where the wording alone would say otherwise; without one, the wording decides.
TEST(StatusLine, TheCallersClassBeatsTheWording) {
  const std::wstring progress = L"已检测到 USB Audio VARN，正在恢复侦听...";
  ASSERT_EQ(varn::ClassifyStatus(progress), varn::StatusClass::Plain);
  varn::SetStatusText(progress, varn::StatusClass::Progress);
  EXPECT_EQ(varn::CurrentStatusClass(), varn::StatusClass::Progress);
  varn::SetStatusText(progress);
  EXPECT_EQ(varn::CurrentStatusClass(), varn::StatusClass::Plain) << "same text, now by its wording";
  varn::SetStatusText(L"VARN 尚未启用成功，正在重试...");
  EXPECT_EQ(varn::CurrentStatusClass(), varn::StatusClass::Problem);
}

TEST(StatusLine, UnavailableChannelsNamedAsLostOrDisabled) {
  struct Row {
    bool captureMissing, renderMissing, captureDisabled, renderDisabled;
    const wchar_t* text;
  };
  const Row rows[] = {
      {true, true, false, false, L"声卡输入通道已断开、手机输出通道已断开"},
      {true, true, true, false, L"声卡输入通道被禁用、手机输出通道已断开"},
      {true, true, false, true, L"声卡输入通道已断开、手机输出通道被禁用"},
      {true, false, true, false, L"声卡输入通道被禁用"},
      {true, false, false, true, L"声卡输入通道已断开"},  // the output is not lost: not named
      {false, true, false, false, L"手机输出通道已断开"},
      {false, true, false, true, L"手机输出通道被禁用"},
      {false, false, true, true, L""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Utf8(varn::DescribeUnavailableChannels(row.captureMissing, row.renderMissing,
                                                      row.captureDisabled, row.renderDisabled)),
              Utf8(row.text))
        << row.captureMissing << row.renderMissing << row.captureDisabled << row.renderDisabled;
  }
}

}  // namespace
