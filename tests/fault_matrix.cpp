// The real program against what goes wrong around it: a sound tool that is missing, fails,
// hangs or lies; a log that cannot be written where it belongs; settings of the wrong shape;
// device names no one would choose; the shell restarting; a second start; and the end of the
// program while a tool hangs, by the user's exit and by a kill. Each row checks what the user
// sees and that nothing is lost: no record, no route, no command, no stray process.

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "audio/endpoints.h"
#include "settings/settings.h"
#include "support/program.h"
#include "ui/window_state.h"
#include "support/program_scenario.h"
#include "world.h"

using namespace testing_support;

namespace {

using Lines = std::vector<std::string>;
constexpr size_t npos = std::string::npos;

constexpr wchar_t kTool[] = L"SoundVolumeView.exe";
const std::string kConnectDone = "[INFO ] [app] 操作完成 [手动连接] 结果=成功，当前在侦听";
const std::string kConnectFailed = "[INFO ] [app] 操作完成 [手动连接] 结果=失败，当前未侦听";

// Strict UTF-8: no surrogate code points, no overlong forms, nothing cut off.
bool IsValidUtf8(const std::string& bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    size_t extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : 9;
    if (extra == 9 || i + extra >= bytes.size()) return false;
    std::uint32_t cp = extra == 0 ? b : b & (0x3F >> extra);
    for (size_t k = 1; k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(bytes[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (cp < least[extra] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return false;
    i += extra + 1;
  }
  return true;
}

class FaultMatrix : public ProgramScenario {
 protected:
  bool Logged(const std::string& line) const { return LogCount(line) > 0; }
  bool LoggedPrefix(const std::string& begin) const {
    for (const std::string& line : program_->LogLines()) {
      if (line.rfind(begin, 0) == 0) return true;
    }
    return false;
  }
  bool WaitForLog(const std::string& line, DWORD timeoutMs = 15000) const {
    return WaitUntil([&] { return Logged(line); }, timeoutMs);
  }
  std::wstring Status() const { return TextOf(Control(varn::kStatusLabelId)); }
  bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }
  int ToolsRunning() const { return CountProcesses(program_->AppDirectory(), kTool); }
  std::string Q(const wchar_t* alias) const { return Quoted(Id(alias)); }

  Lines ManualConnectCommands() const {
    const Lines on = {"/SetPlaybackThroughDevice " + Q(L"card-in") + " " + Q(L"bridge-out"),
                      "/SetListenToThisDevice " + Q(L"card-in") + " 1",
                      "/SetPlaybackThroughDevice " + Q(L"bridge-in") + " " + Q(L"phone-out"),
                      "/SetListenToThisDevice " + Q(L"bridge-in") + " 1"};
    Lines commands = on;
    commands.push_back("/SetListenToThisDevice " + Q(L"card-in") + " 0");
    commands.push_back("/SetListenToThisDevice " + Q(L"bridge-in") + " 0");
    commands.insert(commands.end(), on.begin(), on.end());
    return commands;
  }

  // The box the program shows next, closed once read; empty when none came.
  std::wstring CloseNextBox() {
    std::optional<ShownBox> box;
    if (!WaitUntil([&] { return (box = FindMessageBox(processId_)).has_value() && !box->text.empty(); }, 15000)) {
      return L"";
    }
    PostMessageW(box->window, WM_COMMAND, IDOK, 0);
    WaitUntil([&] { return !FindMessageBox(processId_).has_value(); }, 5000);
    return box->text;
  }

  // A manual connect from the button, waited for until its outcome is logged.
  bool ConnectAndWait(const std::string& outcome) {
    const size_t before = LogCount(outcome);
    Click(varn::kConnectButtonId);
    return WaitUntil([&] { return LogCount(outcome) > before; }, 30000);
  }

  bool Listening(const wchar_t* alias) const {
    audiosim::World world;
    if (!audiosim::LoadWorld(world)) return false;
    const audiosim::Endpoint* e = audiosim::FindEndpoint(world, alias);
    return e != nullptr && e->listen;
  }

  // Kills a tool that a failed check left running, so that later scenarios start clean.
  void KillStrayTools() {
    if (ToolsRunning() > 0) RunProgram(L"C:\\windows\\system32\\taskkill.exe", L"/f /im SoundVolumeView.exe", 10000);
  }
};

// Row 1: the sound tool misbehaving. Each fault is reported as a failure (never as success),
// and once it is gone the same choice connects again without a restart.
TEST_F(FaultMatrix, SoundToolFaultsAreReportedAsFailuresAndTheNextTryWorks) {
  ASSERT_NE(Start(), nullptr);
  const std::wstring toolPath = program_->AppDirectory() + L"\\" + kTool;
  const std::wstring failureStatus = L"失败：请检查 声卡输入[线路输入 (High Definition Audio Device)] 和 手机输出"
                                     L"[扬声器 (Phone Audio Adapter)] 的连接，以及辅助程序是否完整。";

  struct ToolFault {
    const char* name;
    const char* rules;  // faults.txt while the connect runs
    bool removeTool;
    const char* logged;  // a line that names the cause
  };
  const ToolFault faults[] = {
      {"missing", "", true, "[INFO ] [app] 辅助程序 SoundVolumeView.exe 缺失，无法执行音频指令"},
      {"non-zero exit", "SetPlaybackThroughDevice exit=7\n", false, "[WARN ] [tool] SoundVolumeView rc=7 "},
  };
  for (const ToolFault& fault : faults) {
    SCOPED_TRACE(fault.name);
    varn::WriteSettingString(varn::kLastCaptureResolvedValue, L"");
    ClearJournal();
    SetFaults(fault.rules);
    if (fault.removeTool) {
      ASSERT_TRUE(MoveFileW(toolPath.c_str(), (toolPath + L".away").c_str()));
    }
    Click(varn::kConnectButtonId);
    EXPECT_NE(CloseNextBox().find(L"建立侦听未成功"), std::wstring::npos) << "an error box";
    EXPECT_TRUE(WaitForLog(kConnectFailed));
    EXPECT_TRUE(LoggedPrefix(fault.logged));
    EXPECT_TRUE(WaitUntil([&] { return Status() == failureStatus; }, 5000)) << Utf8(Status());
    EXPECT_EQ(varn::ReadSettingString(varn::kLastCaptureResolvedValue), Id(L"card-in"))
        << "what a failed connect tried may listen: the ledger keeps it";

    // The fault gone, the same choice connects; a tool put back is found without a restart.
    if (fault.removeTool) {
      ASSERT_TRUE(MoveFileW((toolPath + L".away").c_str(), toolPath.c_str()));
    }
    SetFaults("");
    ClearJournal();
    ASSERT_TRUE(ConnectAndWait(kConnectDone));
    EXPECT_EQ(Journal(), ManualConnectCommands());
    EXPECT_TRUE(Listening(L"card-in") && Listening(L"bridge-in"));
  }

  // A tool that hangs: that run is ended at the runner's limit, the retry does the work, and
  // the hung process does not stay behind.
  ClearJournal();
  SetFaults("SetListenToThisDevice hang\n");
  Click(varn::kCancelButtonId);
  ASSERT_TRUE(WaitUntil([&] { return Journal().size() == 1 && ToolsRunning() == 1; }, 10000));
  EXPECT_FALSE(Enabled(varn::kConnectButtonId)) << "busy while the tool hangs";
  SetFaults("");
  const std::string cancelled = "[INFO ] [app] 操作完成 [取消侦听] 结果=成功，当前未侦听";
  EXPECT_TRUE(WaitForLog(cancelled, 30000));
  EXPECT_TRUE(LoggedPrefix("[ERROR] [tool] SoundVolumeView 超时/中止 耗时="));
  EXPECT_EQ(Status(), L"完成：两条音频路由的侦听均已取消。");
  EXPECT_EQ(ToolsRunning(), 0);
  EXPECT_FALSE(Listening(L"card-in") || Listening(L"bridge-in")) << "both routes off";
  KillStrayTools();

  // A default that will not change: the tool says yes, the default stays on the bridge. The
  // reclaim is judged by reading the default back, so it fails until the fault is gone.
  ASSERT_EQ(Audiosim(L"takeover on"), 0);
  SetFaults("SetDefault noeffect\n");
  ASSERT_EQ(Audiosim(L"default bridge-out"), 0);
  EXPECT_TRUE(WaitUntil([&] { return LoggedPrefix("[INFO ] [work] 任务结束 op=3 ok=0 "); }, 20000))
      << "reported as a failure";
  EXPECT_EQ(varn::DefaultEndpointId(varn::Flow::Render), Id(L"bridge-out"));
  SetFaults("");
  EXPECT_TRUE(WaitUntil([&] { return LoggedPrefix("[INFO ] [work] 任务结束 op=3 ok=1 "); }, 20000));
  EXPECT_EQ(varn::DefaultEndpointId(varn::Flow::Render), Id(L"phone-out"));
  ExitThroughTrayWithACleanLog();
}

// Row 1, the last fault: an endpoint slow to come up. The start-up work keeps checking past
// the first pass, and the automatic connect then builds the routes. Slower than a first pass
// with either tool: our own waits up to a second for an enable to show before it gives up.
TEST_F(FaultMatrix, ABridgeSlowToEnableAtStartIsWaitedForAndConnected) {
  varn::WriteSettingString(varn::kCaptureIdValue, L"DEFAULT");
  varn::WriteSettingString(varn::kRenderIdValue, L"DEFAULT");
  ASSERT_EQ(Audiosim(L"disable bridge-in"), 0);
  SetFaults("Enable enable-delay=4000\n");
  ASSERT_NE(Start(L"", Startup::Raw), nullptr);
  EXPECT_TRUE(WaitForLog("[WARN ] [dev] 端点启用第 1 轮未生效 id=" + Utf8(Id(L"bridge-in")), 20000));
  // Seen through to the end by the start-up work itself, not merely come up on its own later.
  const std::string enabled = "[INFO ] [dev] 端点启用成功 id=" + Utf8(Id(L"bridge-in")) + " ";
  EXPECT_TRUE(WaitUntil([&] { return LoggedPrefix(enabled); }, 20000));
  EXPECT_TRUE(WaitForLog("[INFO ] [app] 操作完成 [启动自动连接] 结果=成功，当前在侦听", 30000));
  EXPECT_TRUE(varn::IsActiveEndpoint(Id(L"bridge-in"), varn::Flow::Capture));
  EXPECT_TRUE(Listening(L"card-in") && Listening(L"bridge-in"));
  ExitThroughTrayWithACleanLog();
}

// Row 2: the program's folder cannot take the log (a directory stands where the file belongs).
TEST_F(FaultMatrix, TheLogFallsBackToTheUserFolderOrIsSwitchedOffAndTheProgramRunsAllTheSame) {
  const std::wstring local = dir / L"local";
  struct Case {
    const char* name;
    std::wstring localAppData;
    bool logged;
  };
  const Case cases[] = {
      {"fallback", local, true},
      // 260 characters and more are refused: no log at all for the run.
      {"fallback too long", local + L"\\" + std::wstring(300 - local.size(), L'x'), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EnvScope localAppData(L"LOCALAPPDATA", c.localAppData.c_str());
    program_ = std::make_unique<ProgramRun>(dir);
    ASSERT_TRUE(CreateDirectoryW((program_->AppDirectory() + L"\\VARNListenFix.log").c_str(), nullptr));
    const std::wstring fallbackLog = c.localAppData + L"\\VARN\\VARNListenFix.log";
    program_->UseLogAt(fallbackLog);
    ClearJournal();
    ASSERT_NE(Launch(L"", c.logged ? Startup::Settled : Startup::Raw), nullptr);
    if (c.logged) {
      Lines log = program_->LogLines();
      ASSERT_FALSE(log.empty());
      EXPECT_EQ(log[0], "[WARN ] [app] 程序目录不可写，日志已回退到: " + Utf8(fallbackLog));
      EXPECT_TRUE(Logged("[INFO ] [app] 操作完成 [启动自动连接] 结果=成功，当前在侦听"));
      ExitThroughTrayWithACleanLog();
      EXPECT_TRUE(Logged("[INFO ] [app] 用户从托盘菜单退出程序")) << "the log goes on to the end";
    } else {
      EXPECT_TRUE(WaitUntil([] { return ShellShowsBalloon(L"程序目录和用户目录都写不进去，本次运行不会产生日志。"); },
                            15000));
      // The program works as ever: the automatic connect builds the routes.
      EXPECT_TRUE(WaitUntil([&] { return Listening(L"card-in") && Listening(L"bridge-in"); }, 20000));
      program_->PostCommand(kTrayExitCommand);
      EXPECT_EQ(program_->WaitForExit(), 0);
      EXPECT_FALSE(FileExists(fallbackLog));
    }
  }
}

// Row 3: values of the wrong type or size under the settings key, as another tool may leave
// them. They count as absent, a logon start does not take them for choices, and the program
// overwrites them with values of the right type.
TEST_F(FaultMatrix, SettingsOfTheWrongTypeOrSizeCountAsAbsentAndAreRepaired) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, varn::kSettingsKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  auto set = [&](const wchar_t* name, DWORD type, const void* data, size_t bytes) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(bytes)),
              ERROR_SUCCESS);
  };
  const DWORD one = 1;
  const std::wstring deviceCard = L"DEVICE:" + Id(L"card-in");
  const std::wstring deviceBridge = L"DEVICE:" + Id(L"bridge-out");
  const std::wstring huge(200000, L'\x5927');
  const std::wstring longId(40000, L'7');
  set(varn::kCaptureIdValue, REG_DWORD, &one, sizeof one);
  set(varn::kRenderIdValue, REG_BINARY, deviceBridge.c_str(), deviceBridge.size() * 2);
  set(varn::kStartupEnabledValue, REG_SZ, L"1", 4);
  set(varn::kCaptureNameValue, REG_SZ, huge.c_str(), (huge.size() + 1) * 2);
  set(varn::kRenderNameValue, REG_EXPAND_SZ, L"%SystemRoot%", 26);
  set(varn::kLastCaptureResolvedValue, REG_SZ, longId.c_str(), longId.size() * 2 + 1);  // odd, no terminator
  set(varn::kLastBridgeRenderResolvedValue, REG_MULTI_SZ, L"a\0b\0", 10);
  RegCloseKey(key);

  // A logon start does not take a number or bytes for a saved choice.
  {
    ProgramRun logon(dir);
    ASSERT_TRUE(logon.Start(L"--startup"));
    EXPECT_EQ(logon.WaitForExit(), 0);
    Lines log = logon.LogLines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "[WARN ] [app] 开机自启但尚未保存过通道选择，本次不启动界面（等用户手动设置一次）");
  }

  ASSERT_NE(Start(), nullptr);
  EXPECT_EQ(SendMessageW(Control(varn::kCaptureComboId), CB_GETCURSEL, 0, 0), 0) << "no choice: the default";
  EXPECT_EQ(SendMessageW(Control(varn::kRenderComboId), CB_GETCURSEL, 0, 0), 0) << "bytes are no choice";
  DWORD type = 0, value = 0, bytes = sizeof value;
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, varn::kSettingsKeyPath, varn::kStartupEnabledValue, RRF_RT_ANY, &type,
                         &value, &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD)) << "a text is no preference: written anew";
  EXPECT_EQ(value, 1u);
  EXPECT_TRUE(Logged("[INFO ] [app] 操作完成 [启动自动连接] 结果=成功，当前在侦听"));

  // The connect stores every choice with its proper type; nothing of the old shapes is left.
  ASSERT_TRUE(ConnectAndWait(kConnectDone));
  EXPECT_EQ(Journal(), ManualConnectCommands());
  EXPECT_EQ(varn::ReadSettingString(varn::kCaptureIdValue), L"DEFAULT");
  EXPECT_EQ(varn::ReadSettingString(varn::kRenderIdValue), L"DEFAULT");
  EXPECT_EQ(varn::ReadSettingString(varn::kLastCaptureResolvedValue), Id(L"card-in"));
  EXPECT_EQ(varn::ReadSettingString(varn::kLastBridgeRenderResolvedValue), Id(L"bridge-out"));
  ExitThroughTrayWithACleanLog();
}

// Row 4: device names with format directives, of 2,000 and more characters, and text with
// unpaired surrogates (through the command line, which carries UTF-16 as it is).
TEST_F(FaultMatrix, OddDeviceNamesAreShownWholeAndLoggedAsOneValidRecordEach) {
  const std::wstring cardName = L"线路 %s%n%d%% " + std::wstring(2100, L'长') + L" end";
  const std::wstring phoneName = L"Phone %n%s 100%";
  ASSERT_EQ(Audiosim(L"set card-in \"name=" + cardName + L"\""), 0);
  ASSERT_EQ(Audiosim(L"set phone-out \"name=" + phoneName + L"\""), 0);
  ASSERT_NE(Start(std::wstring(L"lone-") + wchar_t(0xD800) + L"-" + wchar_t(0xDC00) + L"-end"), nullptr);

  auto itemText = [&](int combo, int index) {
    std::wstring text(static_cast<size_t>(SendMessageW(Control(combo), CB_GETLBTEXTLEN, index, 0)), L'\0');
    SendMessageW(Control(combo), CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    return text;
  };
  EXPECT_EQ(itemText(varn::kCaptureComboId, 1), cardName) << "the list shows the whole name";
  EXPECT_EQ(itemText(varn::kRenderComboId, 1), phoneName);

  ASSERT_TRUE(ConnectAndWait(kConnectDone));
  EXPECT_EQ(Journal(), ManualConnectCommands());
  ExitThroughTrayWithACleanLog();

  const std::string bytes = ReadBytes(program_->LogPath());
  EXPECT_TRUE(IsValidUtf8(bytes)) << "the log is UTF-8 throughout";
  EXPECT_TRUE(Logged("[INFO ] [app] 命令行=lone-\xEF\xBF\xBD-\xEF\xBF\xBD-end")) << "a lost half shows as U+FFFD";
  size_t clickLines = 0;
  for (const std::string& line : program_->LogLines()) {
    if (line.rfind("[INFO ] [app] 用户点击「立即连接」", 0) != 0) continue;
    ++clickLines;
    // The names are data, never a format: the directives arrive as they are.
    EXPECT_NE(line.find(Utf8(L"线路 %s%n%d%% 长长")), npos) << line.substr(0, 120);
    EXPECT_NE(line.find(Utf8(phoneName)), npos) << line.substr(0, 120);
  }
  EXPECT_EQ(clickLines, 1u);
}

// Row 5: the shell restarting while the program sits hidden in the tray (a logon start): the
// icon comes back, and through it the window. The icon's return on a shown window is checked
// in Program.TaskbarCreatedBringsTheTrayIconBack.
TEST_F(FaultMatrix, AfterTheShellRestartsTheHiddenProgramIsReachableThroughItsIconAgain) {
  varn::WriteSettingString(varn::kCaptureIdValue, L"DEFAULT");
  varn::WriteSettingString(varn::kRenderIdValue, L"DEFAULT");
  program_ = std::make_unique<ProgramRun>(dir);
  ASSERT_TRUE(program_->Start(L"--startup"));
  window_ = program_->WaitForWindow();
  ASSERT_NE(window_, nullptr);
  GetWindowThreadProcessId(window_, &processId_);
  ASSERT_TRUE(WaitUntil([&] { return TrayIconExists(window_); }, 10000));
  ASSERT_FALSE(IsWindowVisible(window_));

  for (int restart = 1; restart <= 2; ++restart) {
    SCOPED_TRACE(restart);
    NOTIFYICONDATAW gone{};
    gone.cbSize = sizeof(gone);
    gone.hWnd = window_;
    gone.uID = 1;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &gone));
    PostMessageW(window_, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return TrayIconExists(window_); }, 5000)) << "the icon is back";
  }
  // A double click on the icon, as the shell reports it, shows the window.
  SendNotifyMessageW(window_, 0x8001, MAKEWPARAM(100, 100), MAKELPARAM(WM_LBUTTONDBLCLK, 1));
  EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window_) != FALSE; }, 5000));
  ExitThroughTrayWithACleanLog();
}

// Row 6: a second start while a connect runs shows the first window and ends; the connect
// goes on undisturbed to its end, every command in its place.
TEST_F(FaultMatrix, ASecondStartDuringATaskShowsTheFirstWindowAndLeavesTheTaskAlone) {
  ASSERT_NE(Start(), nullptr);
  PostMessageW(window_, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window_) == FALSE; }, 5000));
  SetFaults("* delay=400\n");
  Click(varn::kConnectButtonId);
  ASSERT_TRUE(WaitUntil([&] { return Journal().size() >= 1; }, 10000));

  ProgramRun second(dir);
  ASSERT_TRUE(second.Start());
  EXPECT_EQ(second.WaitForExit(), 0);
  EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window_) != FALSE; }, 5000)) << "the first one shows itself";
  EXPECT_FALSE(Logged(kConnectDone)) << "the second start came while the task ran";
  EXPECT_TRUE(second.LogLines().empty()) << "the second start writes nothing";

  ASSERT_TRUE(WaitForLog(kConnectDone, 30000));
  EXPECT_EQ(LogCount(kConnectDone), 1u);
  EXPECT_EQ(Journal(), ManualConnectCommands());
  EXPECT_EQ(Status(), L"完成：两条音频路由均已连接 2 次。");
  ExitThroughTrayWithACleanLog();
}

// Row 7: the user's exit while the tool hangs. The hung run is given up at the next wait
// slice, the program ends and takes no tool with it. The time from the exit command to the end
// of the process is printed, not asserted; the deadline below only tells a shutdown from the
// runner's own 10 s limit running out.
TEST_F(FaultMatrix, ExitWhileTheToolHangsEndsTheProgramAndTheTool) {
  ASSERT_NE(Start(), nullptr);
  SetFaults("* hang\n");
  Click(varn::kConnectButtonId);
  ASSERT_TRUE(WaitUntil([&] { return ToolsRunning() == 1; }, 10000)) << "the tool hangs";
  Sleep(200);
  const ULONGLONG asked = GetTickCount64();
  program_->PostCommand(kTrayExitCommand);
  const int code = program_->WaitForExit(8000);
  const ULONGLONG ended = GetTickCount64();
  std::printf("exit while the tool hangs: the process ended %llu ms after the exit command\n", ended - asked);
  EXPECT_EQ(code, 0) << "ended, and normally, while the tool still hung";
  EXPECT_EQ(ToolsRunning(), 0) << "no tool left behind";
  EXPECT_TRUE(LoggedPrefix("[ERROR] [tool] SoundVolumeView 超时/中止 耗时="));
  EXPECT_TRUE(LoggedPrefix("[INFO ] [app] 程序退出（正常），最后状态="));
  KillStrayTools();
}

// Row 8: the program killed while the tool hangs: the tool ends with it.
TEST_F(FaultMatrix, AKilledProgramTakesItsHangingToolWithIt) {
  ASSERT_NE(Start(), nullptr);
  SetFaults("* hang\n");
  Click(varn::kConnectButtonId);
  // The journal line is written by the running tool, so by then the program has let it go from
  // its suspended start, which it does only once the tool is in the program's job: a kill
  // between the process's creation and that moment is a window this row does not aim at.
  ASSERT_TRUE(WaitUntil([&] { return Journal().size() == 1 && ToolsRunning() == 1; }, 10000)) << "the tool hangs";
  const std::wstring appDir = program_->AppDirectory();
  program_.reset();  // TerminateProcess, and waits for the end
  const ULONGLONG killed = GetTickCount64();
  const bool toolEnded = WaitUntil([&] { return CountProcesses(appDir, kTool) == 0; }, 10000);
  std::printf("killed while the tool hangs: the tool ended %llu ms after the program\n", GetTickCount64() - killed);
  EXPECT_TRUE(toolEnded) << "the tool outlived the program";
  if (!toolEnded) RunProgram(L"C:\\windows\\system32\\taskkill.exe", L"/f /im SoundVolumeView.exe", 10000);
}

}  // namespace
