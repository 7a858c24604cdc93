// The real program under Wine and Xvfb: start banner, single instance, the logon start, hiding
// on close, the tray icon and the exit through the tray, a log that outside text cannot forge,
// and the window's controls at two DPIs.

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include "settings/settings.h"
#include "support/patterns.h"
#include "support/program.h"
#include "support/sim_fixture.h"

using namespace testing_support;

namespace {

using Lines = std::vector<std::string>;

class Program : public SimulatedWorldTest {
 protected:
  void SetUp() override {
    SimulatedWorldTest::SetUp();
    RegDeleteTreeW(HKEY_CURRENT_USER, varn::kSettingsKeyPath);
    ASSERT_EQ(FindProgramWindow(), nullptr) << "another instance is still running";
  }
  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, varn::kSettingsKeyPath);
    SimulatedWorldTest::TearDown();
  }

  // Starts the program and waits for its main window; null when none came.
  HWND StartAndWaitForWindow(ProgramRun& program, const std::wstring& arguments = L"") {
    if (!program.Start(arguments)) return nullptr;
    return program.WaitForWindow();
  }
  // The same, once the window is shown: its creation, controls included, has ended by then.
  HWND StartAndWaitUntilShown(ProgramRun& program) {
    HWND window = StartAndWaitForWindow(program);
    if (window == nullptr || !WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 5000)) return nullptr;
    return window;
  }

  // Ends a running program through the tray's exit command.
  void ExitThroughTray(ProgramRun& program) {
    program.PostCommand(205);
    EXPECT_EQ(program.WaitForExit(), 0);
  }

  // Sends tray callbacks the way the shell does once the icon runs NOTIFYICON_VERSION_4: one
  // notification per event (event and icon id in lParam, the anchor point in wParam), then
  // waits until the window has taken all of them; a menu that one of them opened is shown by then.
  static void ShellClick(HWND window, const std::vector<UINT>& events) {
    for (UINT event : events) {
      SendNotifyMessageW(window, 0x8001, MAKEWPARAM(1270, 790), MAKELPARAM(event, 1));
    }
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
  }

  static size_t IndexOf(const Lines& lines, const std::string& text) {
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i] == text) return i;
    }
    return std::string::npos;
  }
  static size_t IndexOfPrefix(const Lines& lines, const std::string& prefix) {
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].rfind(prefix, 0) == 0) return i;
    }
    return std::string::npos;
  }
  static size_t Count(const Lines& lines, const std::string& text) {
    size_t count = 0;
    for (const std::string& line : lines) count += line == text ? 1 : 0;
    return count;
  }
};

TEST_F(Program, StartWritesTheBannerAndTheTrayExitEndsWithCodeZero) {
  ProgramRun program(dir);
  HWND window = StartAndWaitForWindow(program);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 5000));
  EXPECT_TRUE(WaitUntil([&] { return TrayIconExists(window); }, 5000)) << "the tray icon is there";

  // Closing only hides the window.
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) == FALSE; }, 5000));
  Sleep(300);
  EXPECT_TRUE(program.Running());
  EXPECT_TRUE(TrayIconExists(window));

  // Wine's shell drops the icons of a destroyed window by itself, so only a look from inside
  // shows whether the program removed its icon while it still ran.
  DestructionProbe probe(program, window);
  ASSERT_TRUE(probe.Attached());

  // The status text the user last saw is the one the exit line reports. The start-up work sets
  // it when it ends, so it is read after that and just before the exit.
  ASSERT_TRUE(WaitUntil([&] { return IndexOfPrefix(program.LogLines(), "[INFO ] [app] 操作完成 [启动准备工作]") !=
                                     std::string::npos; }, 20000));
  std::wstring shownStatus;
  for (const ChildControl& control : ReadChildControls(window)) {
    if (control.id == 105) shownStatus = control.text;
  }
  EXPECT_FALSE(shownStatus.empty());
  ExitThroughTray(program);
  EXPECT_EQ(probe.TrayIconAtDestruction(), "gone") << "the window's destruction removes the icon";
  EXPECT_FALSE(TrayIconExists(window)) << "the icon goes with the program";
  Lines log = program.LogLines();
  ASSERT_GE(log.size(), 8u);
  EXPECT_EQ(log[0], "[INFO ] [app] ================ 程序启动 ================");
  EXPECT_EQ(log[1], "[INFO ] [app] 版本=7.3(7.3.0.0) 日志级别=INFO");
  EXPECT_EQ(log[2], "[INFO ] [app] 程序路径=" + Utf8(program.ProgramPath()));
  EXPECT_EQ(log[3].rfind("[INFO ] [app] 系统=", 0), 0u) << log[3];
  EXPECT_NE(log[3].find(" (build "), std::string::npos) << log[3];
  EXPECT_EQ(log[4], "[INFO ] [app] 命令行=(无)");
  EXPECT_EQ(log[5], "[INFO ] [app] 启动方式=手动/托盘启动（显示主窗口）");
  // Both exit lines, in this order; others may come between them.
  size_t exitChosen = IndexOf(log, "[INFO ] [app] 用户从托盘菜单退出程序");
  size_t exitDone = IndexOfPrefix(log, "[INFO ] [app] 程序退出（正常），最后状态=");
  ASSERT_NE(exitChosen, std::string::npos);
  ASSERT_NE(exitDone, std::string::npos);
  EXPECT_LT(exitChosen, exitDone);
  EXPECT_EQ(log[exitDone], "[INFO ] [app] 程序退出（正常），最后状态=" + Utf8(shownStatus));
}

TEST_F(Program, LineBreaksInTheCommandLineCannotForgeALogRecord) {
  const std::string forged = "2026-01-01 00:00:00.000 [ERROR] [app] forged";
  const std::wstring forgedWide(forged.begin(), forged.end());
  ProgramRun program(dir);
  HWND window = StartAndWaitForWindow(program, L"x\r\n" + forgedWide + L"\n" + forgedWide + L"\r" + forgedWide);
  ASSERT_NE(window, nullptr);
  ExitThroughTray(program);

  // Broken wherever a reader would break it (CR LF, CR, LF), the file is records only.
  const std::string bytes = ReadBytes(program.LogPath());
  Lines lines;
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\r' && bytes[i] != '\n') continue;
    lines.push_back(bytes.substr(start, i - start));
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < bytes.size()) lines.push_back(bytes.substr(start));
  ASSERT_FALSE(lines.empty());
  const std::string record(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \[(TRACE|INFO |WARN |ERROR)\] \[[a-z]+\] .*)");
  Lines commandLineRecords;
  for (const std::string& line : lines) {
    EXPECT_TRUE(WholeMatch(line, record)) << "not a record: " << line;
    EXPECT_NE(line.rfind(forged, 0), 0u) << "a forged record: " << line;
    if (line.find("命令行=") != std::string::npos) commandLineRecords.push_back(line.substr(24));
  }
  // One record, with " ｜ " (U+FF5C between blanks) where each break was.
  ASSERT_EQ(commandLineRecords.size(), 1u);
  EXPECT_EQ(commandLineRecords[0], "[INFO ] [app] 命令行=x ｜ " + forged + " ｜ " + forged + " ｜ " + forged);
}

TEST_F(Program, ASecondStartShowsTheFirstWindowAndEndsSilently) {
  ProgramRun first(dir);
  HWND window = StartAndWaitForWindow(first);
  ASSERT_NE(window, nullptr);
  PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window) == FALSE; }, 5000));

  ProgramRun second(dir);
  ASSERT_TRUE(second.Start(L"--startup"));
  EXPECT_EQ(second.WaitForExit(), 0);
  EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 5000)) << "the first one shows itself";
  // The second start goes no further than the single-instance check: no banner, in its own
  // folder's log or in the first one's.
  const std::string banner = "[INFO ] [app] ================ 程序启动 ================";
  EXPECT_EQ(Count(first.LogLines(), banner), 1u);
  EXPECT_EQ(Count(second.LogLines(), banner), 0u);
  ExitThroughTray(first);
}

TEST_F(Program, LogonStartNeedsSavedChoices) {
  {
    ProgramRun program(dir);
    varn::WriteSettingString(varn::kCaptureIdValue, L"DEFAULT");  // the render choice is missing
    ASSERT_TRUE(program.Start(L"--startup"));
    EXPECT_EQ(program.WaitForExit(), 0);
    EXPECT_EQ(FindProgramWindow(), nullptr);
    Lines log = program.LogLines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[4], "[INFO ] [app] 命令行=--startup");
    EXPECT_EQ(log[5], "[INFO ] [app] 启动方式=开机自启（窗口隐藏，常驻托盘）");
    EXPECT_EQ(log.back(), "[WARN ] [app] 开机自启但尚未保存过通道选择，本次不启动界面（等用户手动设置一次）");
  }
  {
    // A longer word is not the switch: this start opens its window, as a manual one does.
    ProgramRun program(dir);
    HWND window = StartAndWaitForWindow(program, L"--startup-disabled");
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 5000));
    EXPECT_EQ(program.LogLines()[5], "[INFO ] [app] 启动方式=手动/托盘启动（显示主窗口）");
    ExitThroughTray(program);
  }
  varn::WriteSettingString(varn::kRenderIdValue, L"DEFAULT");
  ProgramRun program(dir);
  HWND window = StartAndWaitForWindow(program, L"--startup");
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(WaitUntil([&] { return TrayIconExists(window); }, 5000));
  EXPECT_FALSE(IsWindowVisible(window)) << "a logon start stays hidden";
  ExitThroughTray(program);
}

TEST_F(Program, TaskbarCreatedBringsTheTrayIconBack) {
  ProgramRun program(dir);
  HWND window = StartAndWaitForWindow(program);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return TrayIconExists(window); }, 5000));

  // The shell forgets the icon, as when Explorer restarts, and then announces itself.
  NOTIFYICONDATAW gone{};
  gone.cbSize = sizeof(gone);
  gone.hWnd = window;
  gone.uID = 1;
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &gone));
  ASSERT_FALSE(TrayIconExists(window));
  PostMessageW(window, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return TrayIconExists(window); }, 5000));
  ExitThroughTray(program);
}

TEST_F(Program, TrayClicksRestoreTheWindowOrOpenTheMenuOnce) {
  ProgramRun program(dir);
  HWND window = StartAndWaitForWindow(program);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return TrayIconExists(window); }, 5000));
  // Shown first: the callbacks below are sent messages, which overtake a posted WM_CLOSE.
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 5000));
  PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window) == FALSE; }, 5000));
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);

  // A single click does nothing; a double click brings the window back.
  ShellClick(window, {WM_LBUTTONDOWN, WM_LBUTTONUP, NIN_SELECT});
  EXPECT_FALSE(IsWindowVisible(window));
  ShellClick(window, {WM_LBUTTONDBLCLK});
  EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 5000));

  // A right click brings WM_RBUTTONDOWN, WM_RBUTTONUP and WM_CONTEXTMENU; the menu key on the
  // icon brings WM_CONTEXTMENU alone. Each opens one menu, and once Escape closes it none is
  // left behind.
  const std::vector<std::vector<UINT>> gestures = {{WM_RBUTTONDOWN, WM_RBUTTONUP, WM_CONTEXTMENU},
                                                   {WM_CONTEXTMENU}};
  for (const std::vector<UINT>& gesture : gestures) {
    SCOPED_TRACE(gesture.size() == 1 ? "menu key" : "right click");
    ShellClick(window, gesture);
    EXPECT_TRUE(WaitUntil([&] { return !VisibleMenus(processId).empty(); }, 5000));
    std::vector<HWND> menus = VisibleMenus(processId);
    EXPECT_EQ(menus.size(), 1u) << "menus open at once";
    if (!menus.empty()) PostMessageW(menus.front(), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(WaitUntil([&] { return VisibleMenus(processId).empty(); }, 5000)) << "a menu is left open";
    ShellClick(window, {});
    EXPECT_TRUE(VisibleMenus(processId).empty()) << "a second menu opened after the first closed";
  }
  ExitThroughTray(program);
}

// The controls as the running program made them, read from outside, at the DPI Wine hands a
// process as it starts. Places and sizes are in client coordinates; a drop-down list's height
// is that of its opened list.
TEST_F(Program, ControlsStandInTheirPlacesAtEachDpi) {
  // Unscaled coordinates: a process that is not DPI aware would see the other's mapped to its own.
  using SetAwarenessFn = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
  auto setAwareness = reinterpret_cast<SetAwarenessFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
  ASSERT_NE(setAwareness, nullptr);
  setAwareness(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE);

  struct Expected {
    int id;
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;
    int x, y, width, height;  // at 96 DPI
  };
  constexpr DWORD kShown = WS_CHILD | WS_VISIBLE;
  constexpr DWORD kList = kShown | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST;
  constexpr DWORD kPush = kShown | WS_TABSTOP | BS_OWNERDRAW;
  const Expected expected[] = {
      {109, L"Static", L"", kShown, 0, 0, 620, 66},
      {107, L"Static", L"VARN  USB AUDIO", kShown, 24, 6, 330, 30},
      {108, L"Static", L"泽沃尼亚音频 无损音质转换器", kShown, 25, 36, 260, 20},
      {0, L"Static", L"声卡输入（机架声音到手机）", kShown, 24, 80, 360, 24},
      // Nothing saved yet: each list shows its follow-the-default item.
      {101, L"ComboBox", L"默认设备", kList, 24, 106, 572, 240},
      {0, L"Static", L"手机输出（手机声音到电脑）", kShown, 24, 152, 360, 24},
      {102, L"ComboBox", L"默认设备", kList, 24, 178, 572, 240},
      {103, L"Button", L"开机自启", kShown | WS_TABSTOP | BS_AUTOCHECKBOX, 24, 233, 190, 28},
      {110, L"Button", L"声音", kPush, 224, 224, 100, 38},
      // Greyed while the start-up work holds the worker.
      {106, L"Button", L"取消连接", kPush | WS_DISABLED, 334, 224, 124, 38},
      {104, L"Button", L"立即连接", kPush | WS_DISABLED, 468, 224, 128, 38},
      // The first status once the lists are filled and the bridge was found.
      {105, L"Static", L"正在初始化音频路由...", kShown, 24, 274, 572, 44},
  };

  // The start-up work waits on its Task Scheduler query meanwhile, so that the read-back sees
  // the window as it is made, not a moment later.
  WriteBytes(dir / L"schtasks_faults.txt", "Query delay=8000\n");
  for (int dpi : {96, 144}) {
    SCOPED_TRACE(testing::Message() << dpi << " DPI");
    ScopedLogPixels systemDpi(dpi);
    ASSERT_TRUE(systemDpi.Applied());
    ProgramRun program(dir);
    HWND window = StartAndWaitUntilShown(program);
    ASSERT_NE(window, nullptr);
    auto scaled = [dpi](int size) { return MulDiv(size, dpi, 96); };

    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, scaled(620));
    EXPECT_EQ(client.bottom, scaled(332));
    // One background: the window's own, left of the captions, is the one the captions, the
    // check box and the status label paint.
    COLORREF margin = CLR_INVALID;
    EXPECT_TRUE(WaitUntil([&] {
      POINT spot{scaled(10), scaled(200)};
      ClientToScreen(window, &spot);
      HDC screen = GetDC(nullptr);
      margin = GetPixel(screen, spot.x, spot.y);
      ReleaseDC(nullptr, screen);
      return margin == RGB(246, 248, 248);
    }, 3000)) << std::hex << "background 0x" << margin;
    std::vector<ChildControl> controls = ReadChildControls(window);
    ASSERT_EQ(controls.size(), std::size(expected));
    for (size_t i = 0; i < controls.size(); ++i) {
      const ChildControl& control = controls[i];
      const Expected& want = expected[i];
      SCOPED_TRACE(testing::Message() << "control " << i << ", id " << want.id);
      EXPECT_EQ(control.id, want.id);
      EXPECT_EQ(_wcsicmp(control.className.c_str(), want.className), 0) << Utf8(control.className);
      EXPECT_EQ(control.text, want.text) << Utf8(control.text);
      const bool list = want.style == kList;
      // A drop-down list hands WS_VSCROLL on to its opened list.
      const DWORD flags = want.style & 0xFFFF0000u & (list ? ~static_cast<DWORD>(WS_VSCROLL) : ~0u);
      EXPECT_EQ(control.style & 0xFFFF0000u, flags);
      EXPECT_EQ(control.style & 0xFu, want.style & 0xFu) << "the kind of button or list";
      const RECT& place = control.rect;
      EXPECT_EQ(place.left, scaled(want.x));
      EXPECT_EQ(place.top, scaled(want.y));
      EXPECT_EQ(place.right - place.left, scaled(want.width));
      if (!list) {
        EXPECT_EQ(place.bottom - place.top, scaled(want.height));
        continue;
      }
      // A closed list is as high as its font needs; the height given is the opened one's.
      // Windows' opened rectangle takes the box in, Wine's leaves the box's height out.
      RECT opened{};
      DWORD_PTR ignored = 0;
      SendMessageTimeoutW(GetDlgItem(window, want.id), CB_GETDROPPEDCONTROLRECT, 0,
                          reinterpret_cast<LPARAM>(&opened), SMTO_ABORTIFHUNG, 2000, &ignored);
      const int openedHeight = opened.bottom - opened.top;
      const int closedHeight = place.bottom - place.top;
      EXPECT_TRUE(openedHeight == scaled(want.height) || openedHeight + closedHeight == scaled(want.height))
          << "opened " << openedHeight << ", closed " << closedHeight;
    }
    if (dpi == 144) {
      // The same, worked out by hand.
      RECT connect{};
      GetWindowRect(GetDlgItem(window, 104), &connect);
      MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&connect), 2);
      EXPECT_EQ(connect.left, 702);
      EXPECT_EQ(connect.top, 336);
      EXPECT_EQ(connect.right - connect.left, 192);
      EXPECT_EQ(connect.bottom - connect.top, 57);
    }
    ExitThroughTray(program);
  }
}

// Turning the wheel over a closed list would step through its items; a device choice must not
// change that way. Items are added from here: the lists start empty.
TEST_F(Program, TheWheelOverAClosedDeviceListKeepsTheChoice) {
  ProgramRun program(dir);
  HWND window = StartAndWaitUntilShown(program);
  ASSERT_NE(window, nullptr);
  for (int id : {101, 102}) {
    SCOPED_TRACE(testing::Message() << "list " << id);
    HWND list = GetDlgItem(window, id);
    ASSERT_NE(list, nullptr);
    for (const wchar_t* item : {L"一", L"二", L"三"}) {
      SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    }
    SendMessageW(list, CB_SETCURSEL, 1, 0);
    for (short delta : {-WHEEL_DELTA, WHEEL_DELTA, -3 * WHEEL_DELTA}) {
      SendMessageW(list, WM_MOUSEWHEEL, MAKEWPARAM(0, delta), MAKELPARAM(400, 300));
      EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 1) << "after a turn of " << delta;
    }
    // The same steps with the keyboard do move it: the list is alive, only the wheel is refused.
    SendMessageW(list, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 2);
  }
  ExitThroughTray(program);
}

}  // namespace
