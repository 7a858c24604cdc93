// Decisions of the application shell that need no running program: the tray record and its
// balloon cuts, the balloon against the shell, the tray menu, the window rectangle, the logon
// switch and the system text.

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include "app/app.h"
#include "app/tray.h"
#include "diagnostics/version.h"
#include "support/program.h"
#include "support/test_support.h"

namespace {

using testing_support::ShellShowsBalloon;
using testing_support::TrayIconExists;
using testing_support::WaitUntil;

TEST(TrayRecord, IconRecordUsesTheRealStructureSizeAndTheTitleTip) {
  NOTIFYICONDATAW record;
  memset(&record, 0xCD, sizeof(record));
  HWND window = reinterpret_cast<HWND>(0x1234);
  varn::FillTrayIconRecord(record, window, nullptr);
  EXPECT_EQ(record.cbSize, sizeof(NOTIFYICONDATAW));
  EXPECT_NE(record.cbSize, 956u) << "956 is the 32-bit size only";
  EXPECT_EQ(record.hWnd, window);
  EXPECT_EQ(record.uID, 1u);
  EXPECT_EQ(record.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP));
  EXPECT_EQ(record.uCallbackMessage, varn::WM_APP_TRAY);
  EXPECT_STREQ(record.szTip, L"泽沃尼亚音频无损转换器桥接软件 V7.3");
  EXPECT_STREQ(record.szInfo, L"") << "everything else starts at zero";
  EXPECT_EQ(record.dwInfoFlags, 0u);
}

TEST(TrayRecord, BalloonTextsAreCutAtTheirLimits) {
  struct Case {
    size_t titleLength, textLength, titleKept, textKept;
  };
  const Case cases[] = {
      {0, 0, 0, 0}, {63, 255, 63, 255}, {64, 256, 63, 255}, {70, 300, 63, 255}, {5000, 5000, 63, 255},
  };
  for (const Case& c : cases) {
    NOTIFYICONDATAW record{};
    varn::FillTrayIconRecord(record, nullptr, nullptr);
    std::wstring title(c.titleLength, L'题');
    std::wstring text(c.textLength, L'文');
    varn::FillBalloonFields(record, title, text, varn::NoticeIcon::Warning);
    EXPECT_EQ(std::wstring(record.szInfoTitle), title.substr(0, c.titleKept)) << c.titleLength;
    EXPECT_EQ(std::wstring(record.szInfo), text.substr(0, c.textKept)) << c.textLength;
    EXPECT_EQ(record.uFlags, static_cast<UINT>(NIF_TIP | NIF_INFO | NIF_SHOWTIP));
    EXPECT_EQ(record.dwInfoFlags, static_cast<DWORD>(NIIF_WARNING));
    EXPECT_STREQ(record.szTip, L"泽沃尼亚音频无损转换器桥接软件 V7.3") << "the tip stays the title";
  }
}

// The tray code runs on a window of the test's own in place of the main window; the shell is
// Wine's, which draws a balloon so that it can be seen.
TEST(TrayBalloon, DroppedWithoutAnIconAndShownAgainOnAnIconTheShellLost) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"VarnBalloonTestWindow";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowW(windowClass.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                              nullptr, windowClass.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  varn::windowState.mainWindow = window;

  // Before the icon exists a balloon is dropped; it does not make an icon appear.
  varn::ShowTrayBalloon(L"连接", L"还没有图标", varn::NoticeIcon::Information);
  EXPECT_FALSE(TrayIconExists(window));

  // The shell forgets the icon (Explorer restarted, no "TaskbarCreated" yet): the next balloon
  // adds the icon again and shows on it.
  varn::AddTrayIcon();
  ASSERT_TRUE(TrayIconExists(window));
  NOTIFYICONDATAW lost{};
  lost.cbSize = sizeof(lost);
  lost.hWnd = window;
  lost.uID = 1;
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &lost));
  const std::wstring text = L"图标丢失之后 " + std::to_wstring(GetCurrentProcessId());
  varn::ShowTrayBalloon(L"连接", text, varn::NoticeIcon::Warning);
  EXPECT_TRUE(TrayIconExists(window)) << "the icon is back";
  // The shell draws a balloon 2 s after it was asked, later when another one is still shown.
  EXPECT_TRUE(WaitUntil([&] { return ShellShowsBalloon(text); }, 20000)) << "the balloon is shown";

  varn::RemoveTrayIcon();
  varn::windowState.mainWindow = nullptr;
  DestroyWindow(window);
}

TEST(TrayMenu, TenPositionsWithTheAutostartCheckMark) {
  struct Item {
    UINT id;
    const wchar_t* text;
  };
  const Item expected[] = {{201, L"打开 VARN USB Audio转换器"}, {0, nullptr}, {202, L"立即连接"},
                           {203, L"取消连接"}, {206, L"声音"}, {0, nullptr}, {204, L"开机自启"},
                           {207, L"导出诊断日志到桌面"}, {0, nullptr}, {205, L"退出"}};
  for (bool checked : {true, false}) {
    HMENU menu = varn::BuildTrayMenu(checked);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 10);
    for (int position = 0; position < 10; ++position) {
      UINT state = GetMenuState(menu, static_cast<UINT>(position), MF_BYPOSITION);
      if (expected[position].text == nullptr) {
        EXPECT_TRUE(state & MF_SEPARATOR) << position;
        continue;
      }
      EXPECT_EQ(GetMenuItemID(menu, position), expected[position].id);
      wchar_t text[64] = {};
      GetMenuStringW(menu, static_cast<UINT>(position), text, 64, MF_BYPOSITION);
      EXPECT_STREQ(text, expected[position].text);
      EXPECT_FALSE(state & (MF_GRAYED | MF_DISABLED)) << "no item is ever greyed";
      EXPECT_EQ((state & MF_CHECKED) != 0, checked && expected[position].id == 204) << position;
    }
    DestroyMenu(menu);
  }
}

TEST(MainWindow, RectangleIsScaledAndCentred) {
  const RECT work{0, 0, 1280, 800};
  for (int dpi : {96, 144}) {
    RECT frame = varn::MainWindowRect(dpi, work);
    RECT client{0, 0, 0, 0};
    AdjustWindowRect(&client, varn::kMainWindowStyle, FALSE);  // the frame alone
    int clientWidth = (frame.right - frame.left) - (client.right - client.left);
    int clientHeight = (frame.bottom - frame.top) - (client.bottom - client.top);
    EXPECT_EQ(clientWidth, dpi == 96 ? 620 : 930);
    EXPECT_EQ(clientHeight, dpi == 96 ? 332 : 498);
    EXPECT_EQ(frame.left, (1280 - (frame.right - frame.left)) / 2);
    EXPECT_EQ(frame.top, (800 - (frame.bottom - frame.top)) / 2);
  }
  // A work area that does not start at the origin (a taskbar on the left or top).
  RECT shifted = varn::MainWindowRect(96, RECT{100, 40, 1380, 840});
  RECT plain = varn::MainWindowRect(96, RECT{0, 0, 1280, 800});
  EXPECT_EQ(shifted.left - plain.left, 100);
  EXPECT_EQ(shifted.top - plain.top, 40);
}

TEST(StartUp, LogonSwitchAndSystemText) {
  // The switch is one whole argument; a longer word or a path that holds it is not the switch.
  const struct {
    const wchar_t* line;
    bool startup;
  } lines[] = {
      {L"--startup", true},
      {L"/x --startup", true},
      {L"  --startup  ", true},
      {L"\"--startup\"", true},
      {L"--startup-disabled", false},
      {L"/x --startup-now", false},
      {L"a--startupb", false},
      {L"\"C:\\Tools --startup\\x.ini\"", false},
      {L"--Startup", false},
      {L"", false},
  };
  for (const auto& row : lines) EXPECT_EQ(varn::IsStartupCommandLine(row.line), row.startup) << testing_support::Utf8(row.line);
  EXPECT_FALSE(varn::IsStartupCommandLine(nullptr));

  EXPECT_EQ(varn::FormatOsVersion(L"Windows 10 Pro", L"22H2", L"19045", L"3803"),
            L"Windows 10 Pro 22H2 (build 19045.3803)");
  EXPECT_EQ(varn::FormatOsVersion(L"Windows 10 Pro", L"22H2", L"19045", L""),
            L"Windows 10 Pro 22H2 (build 19045)");
  EXPECT_EQ(varn::FormatOsVersion(L"", L"", L"", L""), L"  (build )");
  // On this system: whatever it says, the shape holds.
  std::wstring here = varn::OsVersionText();
  EXPECT_NE(here.find(L" (build "), std::wstring::npos);
  EXPECT_EQ(here.back(), L')');
}

}  // namespace
