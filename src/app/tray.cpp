#include "app/tray.h"

#include "app/app.h"
#include "controller/flag_events.h"
#include "base/scoped_handles.h"

namespace varn {

namespace {

// Owned by the window thread; all zero while no icon is shown.
NOTIFYICONDATAW trayRecord{};
IconHandle trayImage;
// Whether the shell took NOTIFYICON_VERSION_4 for the icon shown now. It decides which right-click
// callback opens the menu, so it is negotiated again with every add: a restarted shell has
// forgotten the earlier one.
bool trayVersion4 = false;

// Bounded copy into a fixed text field, always terminated; cut by UTF-16 units.
template <size_t N>
void CopyCut(wchar_t (&field)[N], const std::wstring& text, size_t limit) {
  size_t count = text.size() < limit ? text.size() : limit;
  if (count > N - 1) count = N - 1;
  text.copy(field, count);
  field[count] = L'\0';
}

void ShowTrayMenu(HWND window) {
  MenuHandle menu(BuildTrayMenu(Flags().autostartOn));
  if (menu) TrackMenuAtCursor(window, menu.get(), TPM_BOTTOMALIGN);
}

}  // namespace

void TrackMenuAtCursor(HWND window, HMENU menu, UINT alignFlags) {
  POINT cursor{};
  GetCursorPos(&cursor);
  // Without this the menu would not close when the user clicks elsewhere.
  SetForegroundWindow(window);
  TrackPopupMenu(menu, TPM_RIGHTBUTTON | alignFlags, cursor.x, cursor.y, 0, window, nullptr);
}

void FillTrayIconRecord(NOTIFYICONDATAW& record, HWND window, HICON icon) {
  record = NOTIFYICONDATAW{};
  // The structure's real size: a 64-bit build's full record is larger than the 956 bytes of a
  // 32-bit one, and the shell would reject a size it does not know.
  record.cbSize = sizeof(NOTIFYICONDATAW);
  record.hWnd = window;
  record.uID = kTrayIconId;
  record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
  record.uCallbackMessage = WM_APP_TRAY;
  record.hIcon = icon;
  CopyCut(record.szTip, kWindowTitle, kTipChars);
}

static_assert(static_cast<DWORD>(NoticeIcon::Information) == NIIF_INFO &&
              static_cast<DWORD>(NoticeIcon::Warning) == NIIF_WARNING);

void FillBalloonFields(NOTIFYICONDATAW& record, const std::wstring& title, const std::wstring& text,
                       NoticeIcon icon) {
  record.uFlags = NIF_TIP | NIF_INFO | NIF_SHOWTIP;
  CopyCut(record.szTip, kWindowTitle, kTipChars);
  CopyCut(record.szInfoTitle, title, kBalloonTitleChars);
  CopyCut(record.szInfo, text, kBalloonTextChars);
  record.dwInfoFlags = static_cast<DWORD>(icon);
}

HMENU BuildTrayMenu(bool autostartChecked) {
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return nullptr;
  AppendMenuW(menu, MF_STRING, kCmdTrayOpen, L"打开 VARN USB Audio转换器");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kCmdTrayConnect, L"立即连接");
  AppendMenuW(menu, MF_STRING, kCmdTrayCancel, L"取消连接");
  AppendMenuW(menu, MF_STRING, kCmdTraySound, L"声音");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, autostartChecked ? MF_CHECKED : MF_STRING, kCmdTrayAutostart, L"开机自启");
  AppendMenuW(menu, MF_STRING, kCmdExportDiagnostics, L"导出诊断日志到桌面");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kCmdTrayExit, L"退出");
  return menu;
}

void AddTrayIcon() {
  if (trayRecord.hWnd != nullptr) Shell_NotifyIconW(NIM_DELETE, &trayRecord);
  // The old image goes before the new one is loaded, once the shell no longer shows it.
  trayImage.reset();
  int size = GetSystemMetrics(SM_CXSMICON);
  // Not LR_SHARED: the image is ours to destroy.
  trayImage.reset(static_cast<HICON>(
      LoadImageW(ProgramInstance(), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0)));
  FillTrayIconRecord(trayRecord, windowState.mainWindow, trayImage.get());
  Shell_NotifyIconW(NIM_ADD, &trayRecord);
  trayRecord.uVersion = NOTIFYICON_VERSION_4;
  trayVersion4 = Shell_NotifyIconW(NIM_SETVERSION, &trayRecord) != FALSE;
}

void RemoveTrayIcon() {
  if (trayRecord.hWnd != nullptr) Shell_NotifyIconW(NIM_DELETE, &trayRecord);
  trayImage.reset();
  trayRecord = NOTIFYICONDATAW{};
  trayVersion4 = false;
}

void ShowTrayBalloon(const std::wstring& title, const std::wstring& text, NoticeIcon icon) {
  if (trayRecord.hWnd == nullptr) return;
  FillBalloonFields(trayRecord, title, text, icon);
  if (Shell_NotifyIconW(NIM_MODIFY, &trayRecord)) return;
  // The shell may have lost the icon (Explorer restarted without telling us): add it again
  // and try once more.
  AddTrayIcon();
  FillBalloonFields(trayRecord, title, text, icon);
  Shell_NotifyIconW(NIM_MODIFY, &trayRecord);
}

void OnTrayCallback(HWND window, LPARAM lParam) {
  // The event is the low word (with NOTIFYICON_VERSION_4 the icon id is the high word). Under
  // version 4 one right click brings WM_RBUTTONUP and then WM_CONTEXTMENU, which alone also
  // comes from the keyboard; opening on both would start a second menu inside the first one's
  // modal loop. A shell that refused version 4 sends only WM_RBUTTONUP.
  switch (LOWORD(lParam)) {
    case WM_LBUTTONDBLCLK: RestoreMainWindow(); break;
    case WM_CONTEXTMENU:
      if (trayVersion4) ShowTrayMenu(window);
      break;
    case WM_RBUTTONUP:
      if (!trayVersion4) ShowTrayMenu(window);
      break;
    default: break;
  }
}

void OpenSoundSettings() {
  HINSTANCE result = ShellExecuteW(windowState.mainWindow, L"open", L"control.exe", L"mmsys.cpl", nullptr, SW_SHOWNORMAL);
  if (reinterpret_cast<INT_PTR>(result) <= 32) {
    MessageBoxW(windowState.mainWindow, L"无法打开 Windows 声音设置。", L"VARN USB Audio", MB_ICONERROR);
  }
}

}  // namespace varn
