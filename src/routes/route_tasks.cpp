#include "routes/route_tasks.h"

#include "audio/endpoints.h"
#include "log/log.h"
#include "base/text.h"
#include "routes/endpoint_control.h"
#include "routes/listen_routes.h"
#include "routes/route_ledger.h"

namespace varn {

namespace {

WorkerOutcome StartOutcome(OperationKind op) {
  WorkerOutcome outcome;
  outcome.op = OperationTag(op);
  return outcome;
}

RouteLedger HeldBy(const ConnectRequest& r) {
  RouteLedger held;
  held.input.id = r.lastCaptureResolved;
  held.output.id = r.lastRenderResolved;
  held.bridgeCapture.id = r.lastBridgeCaptureResolved;
  held.bridgeRender.id = r.lastBridgeRenderResolved;
  return held;
}

RouteLedger RoutesOf(const ConnectRequest& r) { return RouteLedger{r.capture, r.bridgeRender, r.bridgeCapture, r.render}; }

// Listening is switched off on every held endpoint that the new routes no longer use, so that
// no old route keeps playing next to the new one. An endpoint Windows has forgotten cannot
// play. One that stays on stops the connect: building the new routes beside it would leave two
// inputs playing into the bridge, and the ledger, which names one input, would lose the old.
bool CloseStaleRoutes(const ConnectRequest& r) {
  bool closed = true;
  for (const HeldRoute& stale : StaleRoutes(HeldBy(r), RoutesOf(r))) {
    if (!EndpointExists(stale.source.id)) continue;
    if (SetListenRoute(stale.source, stale.target, false)) continue;
    LogError(L"route", FormatText(L"旧路由未能关闭，不建立新路由以免两路同时侦听 源=%s", stale.source.id.c_str()));
    closed = false;
  }
  return closed;
}

bool AllActive(const ConnectRequest& r) {
  return !r.capture.id.empty() && !r.render.id.empty() &&
         IsActiveEndpoint(r.capture.id, Flow::Capture) && IsActiveEndpoint(r.render.id, Flow::Render) &&
         IsActiveEndpoint(r.bridgeCapture.id, Flow::Capture) &&
         IsActiveEndpoint(r.bridgeRender.id, Flow::Render);
}

}  // namespace

WorkerOutcome ConnectTaskBody(ConnectRequest r, const Progress& progress) {
  WorkerOutcome outcome = StartOutcome(r.kind);
  outcome.showErrorBox = r.showErrorBox;
  bool usable = ReclaimDefaultsForRequest(r);
  const bool staleClosed = !r.closeStaleRoutes || CloseStaleRoutes(r);
  bool ok = false;
  if (usable && staleClosed) {
    RecordRoutes(RoutesOf(r));
    outcome.routesRecorded = true;
    progress.ReportProgress(r.progressText);
    ok = EstablishListenRoutes(r.capture, r.bridgeRender, r.bridgeCapture, r.render, r.connectCount);
  }
  outcome.ok = ok;
  outcome.listenKnown = true;
  outcome.listening = ok;
  if (ok) {
    outcome.statusText = r.successText;
  } else {
    outcome.statusText = L"失败：请检查 声卡输入[" + r.capture.name + L"] 和 手机输出[" + r.render.name +
                         L"] 的连接，以及辅助程序是否完整。";
    outcome.errorText = L"建立侦听未成功。请检查 声卡输入[" + r.capture.name + L"] 和 手机输出[" +
                        r.render.name + L"] 是否在线，以及辅助程序（SoundVolumeView.exe）是否完整。";
  }
  if (r.showBalloon) {
    outcome.balloonTitle = ok ? r.successBalloonTitle : r.failureBalloonTitle;
    outcome.balloonText = ok ? r.successBalloonText : r.failureBalloonText;
    outcome.balloonIcon = ok ? NoticeIcon::Information : NoticeIcon::Warning;
  }
  return outcome;
}

WorkerOutcome DefaultReclaimTaskBody(ConnectRequest r, const Progress& progress) {
  WorkerOutcome outcome = StartOutcome(OperationKind::DefaultReclaimReconnect);
  outcome.updateStatus = false;
  bool reclaimed = ReclaimDefaultsForRequest(r);
  bool ready = AllActive(r);
  bool ok = false;
  if (reclaimed && ready && (!r.closeStaleRoutes || CloseStaleRoutes(r))) {
    RecordRoutes(RoutesOf(r));
    outcome.routesRecorded = true;
    progress.ReportProgress(L"默认设备已恢复，正在重新侦听 1 次...");
    ok = EstablishListenRoutes(r.capture, r.bridgeRender, r.bridgeCapture, r.render, 1);
  }
  outcome.ok = ok;
  LogInfo(L"route", FormatText(L"默认设备夺回重连结束 夺回成功=%d 端点就绪=%d 重连成功=%d 目标 %s",
                               reclaimed ? 1 : 0, ready ? 1 : 0, ok ? 1 : 0,
                               DescribeRoutes(r).c_str()));
  outcome.statusText = ok ? L"默认设备已恢复，音频路由已重新侦听 1 次。"
                          : L"默认设备已恢复，但重新侦听失败，请点击立即连接。";
  outcome.balloonTitle = ok ? L"已恢复系统默认设备和侦听" : L"系统默认设备已恢复";
  outcome.balloonText = ok ? L"VARN 已重新侦听 1 次并保持连接。" : L"重新侦听未成功，请点击立即连接。";
  outcome.balloonIcon = ok ? NoticeIcon::Information : NoticeIcon::Warning;
  // A default that still lands on the bridge was not restored; saying it was would send the
  // user to "立即连接", which cannot help while Windows keeps the bridge as the default.
  if (!reclaimed) {
    outcome.statusText = L"系统默认设备仍是 VARN，未能夺回，请在声音设置中更换默认设备。";
    outcome.balloonTitle = L"系统默认设备未能恢复";
    outcome.balloonText = L"默认设备仍是 VARN，请在声音设置中更换默认设备。";
  }
  return outcome;
}

WorkerOutcome EnableBridgeTaskBody(const Progress& progress) {
  WorkerOutcome outcome = StartOutcome(OperationKind::EnableBridgeEndpoints);
  outcome.updateStatus = false;
  progress.ReportProgress(L"检测到 VARN 被禁用，正在确认启用...");
  EnableDisabledBridgeEndpoints();
  outcome.ok = FindBridge(ListEndpoints(Flow::Capture)).has_value() &&
               FindBridge(ListEndpoints(Flow::Render)).has_value();
  return outcome;
}

WorkerOutcome StopListenTaskBody(const StopListenRequest& r, const Progress&) {
  WorkerOutcome outcome = StartOutcome(OperationKind::RepeatStopInputListen);
  outcome.updateStatus = r.updateStatus;
  outcome.showWindow = r.showWindow;
  bool ok = StopListenRepeatedly(r.identity, 3);
  outcome.ok = ok;
  if (ok) {
    outcome.listenKnown = true;
    outcome.listening = false;
  }
  outcome.statusText = ok ? r.successStatus : r.failureStatus;
  if (r.showBalloon) {
    outcome.balloonTitle = r.balloonTitle;
    outcome.balloonText = ok ? r.successBalloonText : r.failureBalloonText;
    // A warning even on success: listening on the input had to be cut, which the user
    // should notice.
    outcome.balloonIcon = NoticeIcon::Warning;
  }
  return outcome;
}

WorkerOutcome CancelTaskBody(const DeviceIdentity& input, const DeviceIdentity& bridge,
                             const Progress& progress) {
  WorkerOutcome outcome = StartOutcome(OperationKind::CancelListen);
  outcome.showErrorBox = true;
  outcome.errorText = L"取消侦听失败，请检查设备是否在线。";
  progress.ReportProgress(L"正在取消两条路由的侦听，请稍候...");
  bool ok = SetListenRoute(input, bridge, false) && SetListenRoute(bridge, input, false);
  if (ok) ReleaseRoutes();
  outcome.ok = ok;
  outcome.listenKnown = true;
  outcome.listening = false;
  outcome.statusText = ok ? L"完成：两条音频路由的侦听均已取消。" : L"取消失败：请检查设备连接和辅助程序。";
  return outcome;
}

}  // namespace varn
