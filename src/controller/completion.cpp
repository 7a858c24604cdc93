// Where the outcome of every worker task comes back into the window: its log line, what its
// kind means for the window's flags (and the follow-up task some kinds ask for), then the
// status, balloon, window and error box it asks for, and last the two action buttons.

#include "controller/controller.h"
#include "controller/flag_events.h"

#include <windows.h>

#include "audio/endpoints.h"
#include "log/log.h"
#include "base/text.h"
#include "ui/device_lists.h"
#include "ui/status.h"
#include "ui/window_state.h"
#include "worker/worker.h"

namespace varn {

namespace {

constexpr wchar_t kErrorBoxTitle[] = L"VARN 侦听修复";

bool BridgeListed() { return FindBridge(captureList).has_value() && FindBridge(renderList).has_value(); }

void LogOutcome(const WorkerOutcome& outcome) {
  // The guard runs every few seconds; a line per run would drown the log.
  if (OperationOf(outcome) == OperationKind::VolumeGuard) return;
  const wchar_t* listen = !outcome.listenKnown ? L"" : outcome.listening ? L"，当前在侦听" : L"，当前未侦听";
  LogInfo(L"app", FormatText(L"操作完成 [%s] 结果=%s%s", OperationName(OperationOf(outcome)),
                             outcome.ok ? L"成功" : L"失败", listen));
}

// A failure is left to the next device evaluation, which enables a disabled bridge endpoint on
// every run. While a lost channel waits for its recovery, that recovery builds both routes: no
// reconnect here.
void FollowBridgeEnabling(const WorkerOutcome& outcome, const WindowFlags& flags) {
  if (outcome.ok && flags.bridgePresent) {
    if (flags.channelUnavailable || flags.unavailableHandled) return;
    SubmitRecoveryConnect({OperationKind::EndpointEnabledReconnect, 1, L"正在恢复侦听...", L"完成：VARN 已启用，音频路由已恢复连接。",
                           L"", L"", L"", L"", false});
    return;
  }
  SetStatusText(L"VARN 尚未启用成功，正在重试...", StatusClass::Problem);
  LogWarn(L"dev", L"桥接器端点启用尚未生效，下个巡检周期继续重试");
}

// The start-up preparation may have run while the bridge was still missing. If it was
// missing when the window was made and still is, listening on the input is switched off once
// more, silently, so that Windows does not play the rack's sound on the default output.
void FollowStartupWork(bool bridgeAbsentAtStart, bool bridgeListed) {
  if (bridgeListed || !bridgeAbsentAtStart) return;
  SubmitSilentStopListen(StopListenIdentity());
}

// The flags of the kind first (one event, flag_events.cpp), then what the kind asks for next.
// The enabling and the start-up work judge the bridge on lists refreshed for them.
void ApplyKindReaction(const WorkerOutcome& outcome) {
  const OperationKind op = OperationOf(outcome);
  const bool refreshes = op == OperationKind::EnableBridgeEndpoints || op == OperationKind::StartupWork;
  if (refreshes) RefreshDeviceLists();
  const bool listed = refreshes && BridgeListed();
  const bool absentAtStart = Flags().bridgeAbsentAtStart;
  NoteTaskOutcome(outcome, listed);
  if (outcome.autostartKnown) {
    SendMessageW(ControlWindow(kAutostartCheckId), BM_SETCHECK, Flags().autostartOn ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  if (op == OperationKind::EnableBridgeEndpoints) FollowBridgeEnabling(outcome, Flags());
  if (op == OperationKind::StartupWork) FollowStartupWork(absentAtStart, listed);
}

// A status text wins over a notice of the same outcome: it is applied last.
void ApplyGenericParts(const WorkerOutcome& outcome) {
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
  OnOutcomeTaken(OperationOf(outcome));
}

// The tray items stay usable whatever the buttons show; the actions refuse by themselves
// while the worker is busy.
void UpdateActionButtons() {
  const bool busy = IsWorkerBusy();
  EnableWindow(ControlWindow(kConnectButtonId), Flags().connectEnabled && !busy ? TRUE : FALSE);
  EnableWindow(ControlWindow(kCancelButtonId), !busy && Flags().bridgePresent ? TRUE : FALSE);
}

}  // namespace varn
