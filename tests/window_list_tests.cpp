// The window's device lists and status line on the real program and the simulated world: what
// the lists show, which choice they restore, what a pick writes, and the muted-input notice.

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/window_state.h"
#include "settings/settings.h"
#include "support/program.h"
#include "support/program_scenario.h"

using namespace testing_support;

namespace {

using Lines = std::vector<std::string>;

constexpr int kCaptureCombo = varn::kCaptureComboId;
constexpr int kRenderCombo = varn::kRenderComboId;
constexpr int kStatusLabel = varn::kStatusLabelId;

std::wstring ComboItem(HWND combo, int index) {
  LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, index, 0);
  if (length < 0) return L"<none>";
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(length));
  return text;
}

std::vector<std::wstring> ComboItems(HWND combo) {
  std::vector<std::wstring> items;
  LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (int i = 0; i < count; ++i) items.push_back(ComboItem(combo, i));
  return items;
}

std::wstring WindowText(HWND control) {
  wchar_t text[512] = {};
  GetWindowTextW(control, text, 512);
  return text;
}

class WindowLists : public ProgramScenario {
 protected:
  static std::wstring Setting(const wchar_t* name) { return varn::ReadSettingString(name); }
};

TEST_F(WindowLists, ShowNoBridgeRestoreTheChoiceAfterARenumberingAndSaveOnlyActivePicks) {
  // The card was chosen before Windows brought it back as a new instance ("2- " and a new id).
  const std::wstring oldCard = Id(L"card-in");
  varn::WriteSettingString(varn::kCaptureIdValue, L"DEVICE:" + oldCard);
  varn::WriteSettingString(varn::kCaptureNameValue, L"线路输入 (High Definition Audio Device)");
  varn::WriteSettingString(varn::kRenderIdValue, L"DEFAULT");
  ASSERT_EQ(Audiosim(L"replug card"), 0);
  const std::wstring newCard = Id(L"card-in");
  ASSERT_NE(newCard, oldCard);

  HoldStartupWork();
  ASSERT_NE(Start(L"", Startup::Raw), nullptr);
  HWND capture = Control(kCaptureCombo), render = Control(kRenderCombo);
  EXPECT_EQ(ComboItems(capture), (std::vector<std::wstring>{L"默认设备", L"线路输入 (2- High Definition Audio Device)"}));
  EXPECT_EQ(ComboItems(render), (std::vector<std::wstring>{L"默认设备", L"扬声器 (Phone Audio Adapter)"}));
  EXPECT_EQ(SendMessageW(capture, CB_GETCURSEL, 0, 0), 1) << "found again by its name";
  EXPECT_EQ(SendMessageW(render, CB_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(Setting(varn::kCaptureIdValue), L"DEVICE:" + oldCard) << "a restore writes nothing";

  // A pick of an active endpoint is saved, and with the bridge there the user may connect.
  const std::string updated = "[INFO ] [app] 设备通道已更新，可以立即连接";
  Pick(kRenderCombo, 1);
  Pick(kRenderCombo, 1);
  EXPECT_EQ(Setting(varn::kRenderIdValue), L"DEVICE:" + Id(L"phone-out"));
  EXPECT_EQ(Setting(varn::kRenderNameValue), L"扬声器 (Phone Audio Adapter)");
  EXPECT_EQ(Setting(varn::kLastRenderResolvedValue), L"") << "a pick routes nothing";
  EXPECT_EQ(Setting(varn::kCaptureIdValue), L"DEVICE:" + newCard);
  EXPECT_EQ(WindowText(Control(kStatusLabel)), L"设备通道已更新，可以立即连接");
  EXPECT_EQ(LogCount(updated), 1u) << "the same status text twice reaches the log once";

  // A pick whose endpoint went away meanwhile is not saved.
  Pick(kRenderCombo, 0);
  ASSERT_EQ(Setting(varn::kRenderIdValue), L"DEFAULT");
  ASSERT_EQ(Audiosim(L"unplug phone"), 0);
  Pick(kRenderCombo, 1);
  EXPECT_EQ(Setting(varn::kRenderIdValue), L"DEFAULT");
  ExitThroughTrayWithACleanLog();
}

// The box shows whether the logon task exists, which only the start-up work and the alignment
// after a toggle find out. Here they never create it: the test folder can be changed by the
// user the program runs as, and a task with the highest rights for such a program is refused.
TEST_F(WindowLists, AutostartFollowsTheBoxAndTheTrayStoresThePicksAndShowsTheTaskAsItIs) {
  auto startupEnabled = [] { return varn::ReadSettingDword(varn::kStartupEnabledValue); };
  const std::string refused = "[INFO ] [app] 开机自启未开启：程序所在文件夹普通用户可写，请安装到 Program Files 后再开启。";
  HoldStartupWork();
  ASSERT_NE(Start(L"", Startup::Raw), nullptr);
  // A first start: no preference stored yet, so autostart is on and says so.
  HWND box = Control(varn::kAutostartCheckId);
  EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_TRUE(startupEnabled().found && startupEnabled().value == 1);
  EXPECT_EQ(varn::ReadSettingDword(varn::kStartupConfiguredValue).value, 1u);
  EXPECT_TRUE(Setting(varn::kCaptureIdValue).empty()) << "nothing picked, nothing stored yet";

  // Let the start-up work go: the task is refused, the box follows, the preference stays.
  WriteBytes(dir / L"schtasks_faults.txt", "Query delay=2000\n");
  ASSERT_TRUE(WaitUntil([&] { return LogCount(refused) == 1; }, 40000));
  EXPECT_TRUE(WaitUntil([&] { return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_UNCHECKED; }, 5000));
  EXPECT_EQ(startupEnabled().value, 1u) << "the preference is not written back";
  // A toggle while the automatic connect runs would find the worker busy, and is dropped.
  ASSERT_TRUE(WaitUntil([&] { return LogCount("[INFO ] [app] 操作完成 [启动自动连接] 结果=成功，当前在侦听") == 1; }, 10000));

  // On from the tray, as the box shows off: the picks are stored for the logon start, and the
  // alignment runs again. Switched off through the box while it runs, the preference follows.
  program_->PostCommand(204);
  ASSERT_TRUE(WaitUntil([&] { return LogCount("[INFO ] [app] 托盘菜单切换开机自启 → 开") == 1; }, 5000));
  EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(Setting(varn::kCaptureIdValue), L"DEFAULT");
  EXPECT_EQ(Setting(varn::kRenderIdValue), L"DEFAULT");
  SendMessageW(box, BM_CLICK, 0, 0);
  EXPECT_EQ(startupEnabled().value, 0u);
  EXPECT_TRUE(WaitUntil([&] { return LogCount(refused) == 2; }, 10000)) << "the alignment after the toggle";
  EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(LogCount("[INFO ] [app] 托盘菜单切换开机自启 → 关"), 0u) << "the box logs no line";
  ExitThroughTrayWithACleanLog();
}

TEST_F(WindowLists, AMutedInputIsReportedOncePerMuteEpisode) {
  varn::WriteSettingString(varn::kCaptureIdValue, L"DEFAULT");
  varn::WriteSettingString(varn::kRenderIdValue, L"DEFAULT");
  ASSERT_EQ(Audiosim(L"mute card-in"), 0);
  // No automatic connect, whose balloon would replace the notice.
  HoldStartupWork();
  ASSERT_NE(Start(L"", Startup::Raw), nullptr);
  const std::string notice = "[WARN ] [guard] 检测到声卡输入通道被静音（守护不擅自解除，仅提示用户）目标=" + Utf8(Id(L"card-in"));
  // Checked when the window is made, well before the first 5 s check.
  ASSERT_TRUE(WaitUntil([&] { return LogCount(notice) == 1; }, 3000));
  EXPECT_TRUE(WaitUntil([] { return ShellShowsBalloon(L"检测到当前声卡输入通道已静音，请在系统声音设置中手动解除静音。"); }, 8000));
  // The check repeats every 5 s; the episode has been reported.
  Sleep(5500);
  EXPECT_EQ(LogCount(notice), 1u);
  // Unmuted, seen by a check, and muted again: a new episode.
  ASSERT_EQ(Audiosim(L"unmute card-in"), 0);
  Sleep(5500);
  ASSERT_EQ(Audiosim(L"mute card-in"), 0);
  EXPECT_TRUE(WaitUntil([&] { return LogCount(notice) == 2; }, 8000));
  ExitThroughTrayWithACleanLog();
}

}  // namespace
