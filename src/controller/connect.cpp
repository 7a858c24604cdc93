// The window-thread side of connect and cancel: what can be checked cheaply here is checked
// here (a free worker, a complete choice, active endpoints), the user hears in Chinese when it
// cannot go on, and everything the task needs is copied into it before it goes to the worker.

#include "controller/controller.h"
#include "controller/flag_events.h"

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <optional>

#include "audio/endpoints.h"
#include "log/log.h"
#include "base/text.h"
#include "routes/route_ledger.h"
#include "routes/route_tasks.h"
#include "settings/saved_choice.h"
#include "ui/device_lists.h"
#include "ui/status.h"
#include "ui/window_state.h"
#include "worker/worker.h"

namespace varn {

namespace {

constexpr wchar_t kAppBoxTitle[] = L"VARN 侦听修复";
constexpr wchar_t kChannelBoxTitle[] = L"VARN USB Audio";
constexpr int kManualConnectCount = 2;
constexpr int kStopListenPasses = 3;

void WarningBox(const wchar_t* text, const wchar_t* title) {
  MessageBoxW(windowState.mainWindow, text, title, MB_OK | MB_ICONWARNING);
}

const wchar_t* UnusableChannelText(bool captureOk, bool renderOk) {
  if (!captureOk && !renderOk) return L"声卡输入和手机输出通道均不可用，请重新选择设备";
  if (!captureOk) return L"未检测到声卡输入通道，请重新选择或插入声卡";
  if (!renderOk) return L"未检测到手机输出通道，请重新选择播放设备";
  return nullptr;
}

// Which of the two chosen endpoints can be used right now; empty when both can.
const wchar_t* UnusableChannelText(const ConnectRequest& selection) {
  return UnusableChannelText(!selection.capture.id.empty() && IsActiveEndpoint(selection.capture.id, Flow::Capture),
                             !selection.render.id.empty() && IsActiveEndpoint(selection.render.id, Flow::Render));
}

void RefuseUnusableChannels(const wchar_t* problem, bool interactive) {
  NoteRefusedConnect();
  SetStatusText(problem, StatusClass::Problem);
  ShowBalloon(L"音频通道不可用", problem, NoticeIcon::Warning);
  if (interactive) WarningBox(problem, kChannelBoxTitle);
}

// A manual connect without a ledger: a side that follows the default takes the default of the
// last enumeration, which is where a route would have gone when none was recorded (an older
// version may have left one there without recording it).
void FillLedgerGaps(ConnectRequest& request, int captureIndex, int renderIndex) {
  if (request.lastCaptureResolved.empty() && captureIndex == 0 && !captureList.empty()) {
    request.lastCaptureResolved = captureList.front().id;
  }
  if (request.lastRenderResolved.empty() && renderIndex == 0 && !renderList.empty()) {
    request.lastRenderResolved = renderList.front().id;
  }
  if (request.lastBridgeCaptureResolved.empty()) request.lastBridgeCaptureResolved = request.bridgeCapture.id;
  if (request.lastBridgeRenderResolved.empty()) request.lastBridgeRenderResolved = request.bridgeRender.id;
}

// The choice is kept whether or not the connect then succeeds: it is what the user asked for,
// and the next start should offer it again. A name is kept only for a named device; the
// default item has none of its own.
void KeepChoices(const ConnectRequest& request, int captureIndex, int renderIndex) {
  SaveChoice(ChoiceSide::Capture, MakeSavedSelection(captureIndex, request.capture.id));
  SaveChoice(ChoiceSide::Render, MakeSavedSelection(renderIndex, request.render.id));
  if (captureIndex > 0) SaveChoiceName(ChoiceSide::Capture, request.capture.name);
  if (renderIndex > 0) SaveChoiceName(ChoiceSide::Render, request.render.name);
}

// A cancel asked for while a task builds the routes; carried out once that task's outcome is in.
bool cancelKept = false;

// The tasks that switch routes on: a cancel while one runs must not be lost, or the user who cut
// the audio would find it playing when the task ends.
constexpr OperationKind kRouteBuilders[] = {
    OperationKind::ManualConnect,         OperationKind::StartupAutoConnect,    OperationKind::DefaultReclaimReconnect,
    OperationKind::InputRecoveryReconnect, OperationKind::BridgeReturnReconnect, OperationKind::EndpointEnabledReconnect,
};

bool BuildsRoutes(OperationKind op) {
  return std::find(std::begin(kRouteBuilders), std::end(kRouteBuilders), op) != std::end(kRouteBuilders);
}

bool RouteTaskRunning() {
  for (OperationKind kind : kRouteBuilders) {
    if (IsWorkerBusyWith(OperationName(kind))) return true;
  }
  return false;
}

// A last resolved id comes without a name; the cached list usually still knows it, and the
// log reads better with it.
DeviceIdentity Named(DeviceIdentity identity) {
  if (!identity.name.empty()) return identity;
  for (size_t i = 1; i < captureList.size(); ++i) {
    if (captureList[i].id == identity.id) {
      identity.name = captureList[i].name;
      break;
    }
  }
  return identity;
}

}  // namespace

bool OnConnectCommand(bool interactive) {
  // No word while busy: the button is greyed then, and the tray item simply does nothing.
  if (IsWorkerBusy()) {
    RunAfterGuard(GuardWaiter::RouteAction, [] { OnConnectCommand(true); });
    return false;
  }
  ConnectRequest request;
  if (!BuildConnectRequestFromSelection(request)) {
    // A saved device that is not listed leaves its list without a pick: that is a channel that
    // is gone, not a choice never made, and it is said as such.
    const bool captureGone = StoredDeviceUnlisted(ChoiceSide::Capture);
    const bool renderGone = StoredDeviceUnlisted(ChoiceSide::Render);
    LogInfo(L"app", FormatText(L"用户点击「立即连接」但设备选择不完整 已保存的录制设备不在列表=%d 播放设备不在列表=%d",
                               captureGone ? 1 : 0, renderGone ? 1 : 0));
    if (captureGone || renderGone) {
      RefuseUnusableChannels(UnusableChannelText(!captureGone, !renderGone), interactive);
    } else if (interactive) {
      WarningBox(L"请选择录制设备和播放设备。", kAppBoxTitle);
    }
    return false;
  }
  if (const wchar_t* problem = UnusableChannelText(request)) {
    RefuseUnusableChannels(problem, interactive);
    return false;
  }
  const int captureIndex = SelectedDeviceItem(kCaptureComboId);
  const int renderIndex = SelectedDeviceItem(kRenderComboId);
  request.kind = OperationKind::ManualConnect;
  request.connectCount = kManualConnectCount;
  request.showErrorBox = interactive;
  request.closeStaleRoutes = true;
  request.progressText = L"正在建立连接 2 次，请稍候...";
  request.successText = L"完成：两条音频路由均已连接 2 次。";
  LogInfo(L"app", L"用户点击「立即连接」" + DescribeRoutes(request) +
                      FormatText(L" 连接次数=%d（手动语义）", request.connectCount));
  CarryHeldRoutes(request);
  FillLedgerGaps(request, captureIndex, renderIndex);
  KeepChoices(request, captureIndex, renderIndex);
  if (!SubmitConnect(request)) return false;
  UpdateActionButtons();
  return true;
}

// Every connect, whoever asks for it, first switches off the held routes it does not rebuild:
// an automatic connect on a changed choice would otherwise leave the old input playing.
void CarryHeldRoutes(ConnectRequest& request) {
  const RouteLedger held = ReadRouteLedger();
  request.closeStaleRoutes = true;
  request.lastCaptureResolved = held.input.id;
  request.lastRenderResolved = held.output.id;
  request.lastBridgeCaptureResolved = held.bridgeCapture.id;
  request.lastBridgeRenderResolved = held.bridgeRender.id;
}

bool SubmitOperation(OperationKind kind, WorkerTask task, bool logTask) {
  return SubmitTask(std::move(task), logTask, OperationName(kind), OperationTag(kind));
}

bool SubmitConnect(ConnectRequest request) {
  return SubmitOperation(request.kind,
                         [request](const Progress& progress) { return ConnectTaskBody(request, progress); });
}

// Silent by design: the program asks for these itself, and a refusal (busy, no complete
// choice) is simply tried again by whoever asked, on its next occasion.
bool SubmitRecoveryConnect(const RecoveryConnect& recovery) {
  if (IsWorkerBusy()) return false;
  ConnectRequest request;
  if (!BuildConnectRequestFromSelection(request)) return false;
  request.kind = recovery.kind;
  request.connectCount = recovery.passes;
  request.progressText = recovery.progressText;
  request.successText = recovery.successText;
  request.successBalloonTitle = recovery.successBalloonTitle;
  request.successBalloonText = recovery.successBalloonText;
  request.failureBalloonTitle = recovery.failureBalloonTitle;
  request.failureBalloonText = recovery.failureBalloonText;
  request.showBalloon = recovery.showBalloon;
  CarryHeldRoutes(request);
  if (!SubmitConnect(request)) return false;
  UpdateActionButtons();
  return true;
}

// What is silenced is what the ledger holds: the input the routes were built on, which a later
// pick does not replace (switching off the new pick would leave the old one playing), and the
// bridge capture they were built on, which is not the listed one after the bridge came back
// under a new id. The pick and the listed bridge serve only when nothing is held.
bool StartCancel() {
  if (IsWorkerBusy()) {
    if (RouteTaskRunning()) {
      if (!cancelKept) LogInfo(L"app", L"用户点击「取消连接」：正在建立侦听，完成后立即取消");
      cancelKept = true;
      SetStatusText(L"正在建立侦听，完成后将取消连接...", StatusClass::Progress);
      return false;
    }
    RunAfterGuard(GuardWaiter::RouteAction, [] { StartCancel(); });
    return false;
  }
  const int captureIndex = SelectedDeviceItem(kCaptureComboId);
  const DeviceIdentity input = Named(StopListenIdentity());
  const std::optional<DeviceIdentity> bridgeCapture = FindBridge(captureList);
  if ((input.id.empty() && captureIndex < 0) || !bridgeCapture) {
    WarningBox(L"请选择声卡输入，并确认 USB Audio VARN 已连接。", kAppBoxTitle);
    return false;
  }
  const RouteLedger held = ReadRouteLedger();
  const DeviceIdentity bridge = held.bridgeCapture.id.empty() ? *bridgeCapture : held.bridgeCapture;
  LogInfo(L"app", L"用户点击「取消连接」" + DescribeIdentity(input) + L" / " + DescribeIdentity(bridge));
  const bool accepted = SubmitOperation(OperationKind::CancelListen, [input, bridge](const Progress& progress) {
    return CancelTaskBody(input, bridge, progress);
  });
  if (accepted) UpdateActionButtons();
  return accepted;
}

void CarryOutKeptCancel(OperationKind op) {
  if (!cancelKept || !BuildsRoutes(op)) return;
  cancelKept = false;
  LogInfo(L"app", L"侦听任务已结束，执行之前保留的取消连接");
  StartCancel();
}

void SubmitSilentStopListen(const DeviceIdentity& input) {
  StopListenRequest request;
  request.identity = input;
  request.updateStatus = false;
  SubmitStopListen(request);
}

void SubmitStopListen(const StopListenRequest& request) {
  if (request.identity.id.empty()) return;
  LogInfo(L"app", FormatText(L"请求连续关闭声卡输入侦听 目标=%s 次数=%d updateStatus=%d", request.identity.id.c_str(),
                             kStopListenPasses, request.updateStatus ? 1 : 0));
  if (SubmitOperation(OperationKind::RepeatStopInputListen,
                      [request](const Progress& progress) { return StopListenTaskBody(request, progress); })) {
    UpdateActionButtons();
  }
}

}  // namespace varn
