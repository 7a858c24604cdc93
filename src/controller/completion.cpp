// Where the outcome of every worker task comes back into the window: its log line, what its
// kind means for the window's flags (and the follow-up task some kinds ask for), then the
// status, balloon, window and error box it asks for, and last the two action buttons.

#include "controller/controller.h"

#include <windows.h>

#include "audio/endpoints.h"
#include "log/log.h"
#include "log/text.h"
#include "ui/device_lists.h"
#include "ui/status.h"
#include "ui/window_state.h"
#include "worker/worker.h"

namespace varn {

namespace {

constexpr wchar_t kErrorBoxTitle[] = L"VARN 侦听修复";

bool BridgeListed() { return FindBridge(captureList).has_value() && FindBridge(renderList).has_value(); }

bool IsConnectKind(int op) {
  return op == ManualConnect || op == StartupAutoConnect || op == BridgeReturnReconnect ||
         op == EndpointEnabledReconnect;
}

void LogOutcome(const WorkerOutcome& outcome) {
  // The guard runs every few seconds; a line per run would drown the log.
  if (outcome.op == VolumeGuard) return;
  const wchar_t* listen = !outcome.listenKnown ? L"" : outcome.listening ? L"，当前在侦听" : L"，当前未侦听";
  LogInfo(L"app", FormatText(L"操作完成 [%s] 结果=%s%s", OperationName(outcome.op), outcome.ok ? L"成功" : L"失败",
                             listen));
}

void ApplyAutostart(const WorkerOutcome& outcome) {
  if (!outcome.autostartKnown) return;
  autostartOn = outcome.autostartEnabled;
  SendMessageW(ControlWindow(kAutostartCheckId), BM_SETCHECK, autostartOn ? BST_CHECKED : BST_UNCHECKED, 0);
}

void OnInputRecoveryDone(const WorkerOutcome& outcome) {
  channelUnavailable = !outcome.ok;
  connectEnabled = outcome.ok;
  if (outcome.ok) unavailableHandled = false;
}

// A failure is left to the next device evaluation: keeping the bridge counted as present
// makes it try the enabling again rather than wait for a re-plug.
void OnBridgeEnableDone(const WorkerOutcome& outcome) {
  RefreshDeviceLists();
  const bool present = BridgeListed();
  bridgePresent = present;
  if (outcome.ok && present) {
    SubmitRecoveryConnect(EndpointEnabledReconnect, 2, L"正在恢复侦听...", L"完成：VARN 已启用，音频路由已恢复连接。",
                          L"", L"", L"", L"", false);
    return;
  }
  bridgePresent = true;
  SetStatusText(L"VARN 尚未启用成功，正在重试...");
  LogWarn(L"dev", L"桥接器端点启用尚未生效，保持 present=true，下个巡检周期继续重试");
}

// The start-up preparation may have run while the bridge was still missing. If it was
// missing when the window was made and still is, listening on the input is switched off once
// more, silently, so that Windows does not play the rack's sound on the default output.
void OnStartupWorkDone(const WorkerOutcome& outcome) {
  ApplyAutostart(outcome);
  startupReady = true;
  RefreshDeviceLists();
  if (BridgeListed()) {
    bridgePresent = true;
    return;
  }
  bridgePresent = false;
  if (!bridgeAbsentAtStart) return;
  bridgeAbsentAtStart = false;
  SubmitStopListen(StopListenIdentity(), false, L"", L"", false, L"", L"", L"", false);
}

// A connect that worked proves both chosen channels are there. A refused connect marks a
// channel unavailable, and when the watchdog never saw it missing nothing else would clear
// the mark: the guard and the mute check would stay off for the rest of the run. A loss the
// watchdog is handling keeps its own course.
void OnConnectDone(const WorkerOutcome& outcome) {
  if (!outcome.ok || unavailableHandled) return;
  channelUnavailable = false;
  connectEnabled = true;
}

void ApplyKindReaction(const WorkerOutcome& outcome) {
  switch (outcome.op) {
    case InputRecoveryReconnect: OnInputRecoveryDone(outcome); break;
    case EnableBridgeEndpoints: OnBridgeEnableDone(outcome); break;
    case AutostartSync: ApplyAutostart(outcome); break;
    case StartupWork: OnStartupWorkDone(outcome); break;
    default:
      if (IsConnectKind(outcome.op)) OnConnectDone(outcome);
      break;
  }
}

// A status text wins over a notice of the same outcome: it is applied last.
void ApplyGenericParts(const WorkerOutcome& outcome) {
  if (outcome.listenKnown) listeningActive = outcome.listening;
  if (!outcome.noticeText.empty()) {
    SetStatusText(outcome.noticeText);
    ScheduleSteadyStatus();
  }
  if (outcome.updateStatus && !outcome.statusText.empty()) {
    SetStatusText(outcome.statusText);
    ScheduleSteadyStatus();
  }
  if (!outcome.balloonTitle.empty()) ShowBalloon(outcome.balloonTitle, outcome.balloonText, outcome.balloonIcon);
  if (outcome.showWindow) RestoreMainWindow();
  if (!outcome.ok && outcome.showErrorBox && !outcome.errorText.empty()) {
    MessageBoxW(windowState.mainWindow, outcome.errorText.c_str(), kErrorBoxTitle, MB_OK | MB_ICONERROR);
  }
}

}  // namespace

// A completion message without an outcome waiting (one taken already by an earlier message)
// changes nothing, not even the buttons.
void OnTaskDone() {
  WorkerOutcome outcome;
  if (!TakeOutcome(outcome)) return;
  LogOutcome(outcome);
  ApplyKindReaction(outcome);
  ApplyGenericParts(outcome);
  UpdateActionButtons();
  if (outcome.op == VolumeGuard) OnGuardDone();
}

// The tray items stay usable whatever the buttons show; the actions refuse by themselves
// while the worker is busy.
void UpdateActionButtons() {
  const bool busy = IsWorkerBusy();
  EnableWindow(ControlWindow(kConnectButtonId), connectEnabled && !busy ? TRUE : FALSE);
  EnableWindow(ControlWindow(kCancelButtonId), !busy && bridgePresent ? TRUE : FALSE);
}

}  // namespace varn
