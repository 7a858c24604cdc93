// The main window procedure: every message goes to one small handler. Closing the window only
// hides it; the program ends through the tray's "退出".

#include <windows.h>

#include "app/app.h"
#include "app/tray.h"
#include "log/log.h"
#include "base/text.h"
#include "controller/controller.h"
#include "controller/early_watch.h"
#include "controller/flag_events.h"
#include "controller/startup.h"
#include "tool_runner/tool_runner.h"
#include "ui/device_lists.h"
#include "ui/main_controls.h"
#include "ui/status.h"
#include "worker/worker.h"

namespace varn {

namespace {

constexpr UINT kDevicePollMs = 1500;
constexpr UINT kVolumeGuardMs = 5000;
constexpr UINT kAutoConnectFirstMs = 2000;
constexpr UINT kBusyRetryMs = 1000;
constexpr UINT kChoiceGuardMs = 300;

LRESULT OnCreate(HWND window) {
  windowState.mainWindow = window;
  AdoptWindowDpi(window);
  CreateMainControls(window);
  // The program runs elevated; the shell that broadcasts "TaskbarCreated" after an Explorer
  // restart does not. Without this exception the message filter would drop the broadcast and
  // the tray icon would never come back.
  ChangeWindowMessageFilterEx(window, TaskbarCreatedMessage(), MSGFLT_ALLOW, nullptr);
  SetBalloonSink(ShowTrayBalloon);
  // First, so that the notices of the initial state have an icon to appear on.
  AddTrayIcon();
  ApplyInitialState();
  StartWorker(window, WM_APP_PROGRESS, WM_APP_TASK_DONE);
  SubmitStartupWork(Flags().autostartOn);
  CheckInputMute();
  SetTimer(window, kTimerDevicePoll, kDevicePollMs, nullptr);
  SetTimer(window, kTimerVolumeGuard, kVolumeGuardMs, nullptr);
  SetTimer(window, kTimerAutoConnect, kAutoConnectFirstMs, nullptr);
  StartEarlyWatch(window, WM_APP_DEVICE_CHANGE);
  UpdateActionButtons();
  return 0;
}

LRESULT OnDestroy(HWND window) {
  for (UINT_PTR timer = kTimerDevicePoll; timer <= kTimerSteadyStatus; ++timer) KillTimer(window, timer);
  // Before anything it might run is taken down; no notice is posted after this.
  StopEarlyWatch(window);
  const std::wstring& status = CurrentStatusText();
  LogInfo(L"app", FormatText(L"程序退出（正常），最后状态=%s", status.empty() ? L"(空)" : status.c_str()));
  // Running outside commands give up first, so that stopping the worker does not wait for them.
  SignalShutdown();
  StopWorker();
  RemoveTrayIcon();
  DeleteMainControlResources();
  ReleaseInstanceMutex();
  windowState.mainWindow = nullptr;
  PostQuitMessage(0);
  return 0;
}

LRESULT OnClose(HWND window) {
  if (Flags().exitRequested) {
    DestroyWindow(window);
  } else {
    ShowWindow(window, SW_HIDE);
  }
  return 0;
}

void OnExitCommand(HWND window) {
  LogInfo(L"app", L"用户从托盘菜单退出程序");
  NoteExitRequested();
  DestroyWindow(window);
}

// The volume guard follows a pick after a short pause, so that a quick run through the list
// brings one guard, not one per item.
void OnDeviceListPick(HWND window) {
  OnDeviceSelectionChanged();
  SetTimer(window, kTimerChoiceGuard, kChoiceGuardMs, nullptr);
}

LRESULT OnCommand(HWND window, WPARAM wParam) {
  switch (LOWORD(wParam)) {
    case kCmdTrayOpen: RestoreMainWindow(); break;
    case kCmdTrayExit: OnExitCommand(window); break;
    case kCmdTraySound: OpenSoundSettings(); break;
    case kCmdTrayAutostart: AutostartToggled(true); break;
    case kCmdTrayConnect: OnConnectCommand(true); break;
    case kCmdTrayCancel: StartCancel(); break;
    case kCmdExportDiagnostics: ExportDiagnostics(); break;
    case kConnectButtonId:
      if (HIWORD(wParam) == BN_CLICKED) OnConnectCommand(true);
      break;
    case kCancelButtonId:
      if (HIWORD(wParam) == BN_CLICKED) StartCancel();
      break;
    case kCaptureComboId:
    case kRenderComboId:
      if (HIWORD(wParam) == CBN_SELCHANGE) OnDeviceListPick(window);
      break;
    case kAutostartCheckId:
      if (HIWORD(wParam) == BN_CLICKED) AutostartToggled(false);
      break;
    case kSoundButtonId:
      if (HIWORD(wParam) == BN_CLICKED) OpenSoundSettings();
      break;
    default: break;
  }
  return 0;
}

void OnSteadyStatusTimer(HWND window) {
  KillTimer(window, kTimerSteadyStatus);
  // Never replace a progress text while its task still runs.
  if (IsWorkerBusy()) {
    SetTimer(window, kTimerSteadyStatus, kBusyRetryMs, nullptr);
  } else {
    SetStatusText(BuildSteadyStatus(Flags()));
  }
}

// Neither the guard nor the muted-input notice runs while a chosen channel is missing: that
// loss has its own notice, and the guard would hold endpoints the user is about to replace.
bool ChannelsInPlace() { return !Flags().channelUnavailable && !Flags().unavailableHandled; }

void OnVolumeGuardTimer() {
  if (!ChannelsInPlace()) return;
  SubmitEnforceVolumes();
  CheckInputMute();
}

void OnChoiceGuardTimer(HWND window) {
  KillTimer(window, kTimerChoiceGuard);
  if (ChannelsInPlace()) SubmitEnforceVolumes();
}

void OnAutoConnectTimer(HWND window) {
  KillTimer(window, kTimerAutoConnect);
  RunStartupAutoConnectStep();
}

LRESULT OnTimer(HWND window, WPARAM timer) {
  switch (timer) {
    case kTimerDevicePoll: EvaluateDeviceState(); break;
    case kTimerVolumeGuard: OnVolumeGuardTimer(); break;
    case kTimerAutoConnect: OnAutoConnectTimer(window); break;
    case kTimerChoiceGuard: OnChoiceGuardTimer(window); break;
    case kTimerSteadyStatus: OnSteadyStatusTimer(window); break;
    case kTimerEarlyWatch: OnEarlyWatchTimer(window); break;
    default: break;
  }
  return 0;
}

LRESULT OnContextMenu(HWND window) {
  MenuHandle menu(CreatePopupMenu());
  if (!menu) return 0;
  AppendMenuW(menu.get(), MF_STRING, kCmdExportDiagnostics, L"导出诊断日志到桌面");
  TrackMenuAtCursor(window, menu.get(), 0);
  return 0;
}

LRESULT OnProgress() {
  std::wstring text;
  if (TakeProgressText(text)) {
    SetStatusText(text, StatusClass::Progress);
    ScheduleSteadyStatus();
  }
  return 0;
}

LRESULT OnDrawItem(HWND window, WPARAM wParam, LPARAM lParam) {
  const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
  if (item != nullptr && IsOwnerDrawnButton(static_cast<int>(item->CtlID))) return DrawOwnerButton(*item);
  return DefWindowProcW(window, WM_DRAWITEM, wParam, lParam);
}

LRESULT OnControlColour(WPARAM wParam, LPARAM lParam) {
  HBRUSH brush = ControlColour(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)), reinterpret_cast<HDC>(wParam));
  return reinterpret_cast<LRESULT>(brush);
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Checked first: its id is only known at run time.
  if (message == TaskbarCreatedMessage() && message != 0) {
    AddTrayIcon();
    return 0;
  }
  switch (message) {
    case WM_CREATE: return OnCreate(window);
    case WM_DESTROY: return OnDestroy(window);
    case WM_CLOSE: return OnClose(window);
    case WM_CONTEXTMENU: return OnContextMenu(window);
    case WM_COMMAND: return OnCommand(window, wParam);
    case WM_TIMER: return OnTimer(window, wParam);
    case WM_DRAWITEM: return OnDrawItem(window, wParam, lParam);
    case WM_CTLCOLORSTATIC: return OnControlColour(wParam, lParam);
    case WM_ERASEBKGND:
      if (EraseMainBackground(window, reinterpret_cast<HDC>(wParam))) return 1;
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_DPICHANGED: OnDpiChanged(window, HIWORD(wParam), reinterpret_cast<const RECT*>(lParam)); return 0;
    case WM_APP_TRAY: OnTrayCallback(window, lParam); return 0;
    case WM_APP_ACTIVATE: RestoreMainWindow(); return 0;
    case WM_APP_PROGRESS: return OnProgress();
    case WM_APP_TASK_DONE: OnTaskDone(); return 0;
    case WM_APP_DEVICE_CHANGE: OnDeviceChangeNotice(window); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace varn
