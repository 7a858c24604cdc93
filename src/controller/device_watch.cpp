// The device watchdog: timer 1 runs EvaluateDeviceState every 1500 ms, and a burst of device
// notifications runs it early (early_watch.cpp). The poll alone finds every change, so that a
// notification that never comes costs time, never a repair: it is how the program learns that
// endpoints came, went, were renumbered, disabled or made the default. A run never touches the routes itself; it reports
// and hands every route change to the worker. The decisions are in watch_decisions.cpp.

#include <windows.h>

#include <optional>
#include <vector>

#include "audio/endpoints.h"
#include "controller/controller.h"
#include "controller/flag_events.h"
#include "controller/watch_decisions.h"
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

constexpr wchar_t kNone[] = L"(无)";

// The settings of one chosen side that re-recognition reads and rewrites.
struct ChosenSide {
  ChoiceSide side;
  const wchar_t* movedFormat;
};
constexpr ChosenSide kChosenInput{ChoiceSide::Capture, L"声卡输入端点 ID 变化，按名字认回 旧=%s 新=%s 名字=%s"};
constexpr ChosenSide kChosenOutput{ChoiceSide::Render, L"手机输出端点 ID 变化，按名字认回 旧=%s 新=%s 名字=%s"};

// What one run saw. The chosen ids are those after re-recognition.
struct WatchRun {
  std::vector<DeviceIdentity> capture;
  std::vector<DeviceIdentity> render;
  bool bridgeNow = false;
  RouteLedger held;  // read once per run
  std::wstring chosenInput;
  std::wstring chosenOutput;
};

// Set while a default hijack that cannot be reclaimed has been reported, so that a state that
// can last for hours is logged once, not every 1.5 s.
bool hopelessHijackReported = false;

// The last renumbering logged per side: the ledger keeps the old id until the routes are
// rebuilt on the new one, so the same move is found again on the runs in between.
std::wstring loggedMove[2];

// The routed endpoints of the loss last reported. A valid pick clears the loss flags; while the
// same endpoints stay lost, the next run marks the loss as handled again without a second
// notice, stop and raised window.
std::wstring reportedLoss;

const wchar_t* IdOrNone(const std::optional<DeviceIdentity>& endpoint) {
  return endpoint ? endpoint->id.c_str() : kNone;
}

WatchRun ScanEndpoints() {
  WatchRun run;
  run.capture = ListEndpoints(Flow::Capture);
  run.render = ListEndpoints(Flow::Render);
  run.bridgeNow = FindBridge(run.capture).has_value() && FindBridge(run.render).has_value();
  return run;
}

// The drop-down lists are refilled from the stored choices, which finds a renumbered endpoint
// by its saved name.
void FollowListChanges(const WatchRun& run) {
  if (SameEntries(run.capture, captureList) && SameEntries(run.render, renderList)) return;
  LogInfo(L"dev", FormatText(L"设备列表发生变化 录制 %d→%d 项 播放 %d→%d 项", static_cast<int>(captureList.size()),
                             static_cast<int>(run.capture.size()), static_cast<int>(renderList.size()),
                             static_cast<int>(run.render.size())));
  captureList = run.capture;
  renderList = run.render;
  FillDeviceCombo(ControlWindow(kCaptureComboId), captureList, LoadChoice(ChoiceSide::Capture));
  FillDeviceCombo(ControlWindow(kRenderComboId), renderList, LoadChoice(ChoiceSide::Render));
}

// The name the routed endpoint had. A route built in this run knows it; a route left by an
// earlier run has only its id, and the stored name belongs to it only while the stored choice
// is that same endpoint (a later pick stores the pick's name).
std::wstring RoutedName(const ChosenSide& side, const DeviceIdentity& held) {
  if (!held.name.empty()) return held.name;
  if (LoadChoice(side.side) == DeviceChoice(held.id)) return LoadChoiceName(side.side);
  return std::wstring();
}

// Windows gives a device plugged in again as a new instance a new id (and a "2- " name). The
// routed endpoint is looked for by the id and the name it had when the routes were built, never
// by a later pick's: a routed card that is unplugged is a loss, not the pick. The ledger keeps
// the old id until the routes are rebuilt on the new one, which then switches the old off.
// While the window believes it listens nothing else would rebuild them: marking the loss as
// handled sends the next idle run down the recovery path, which reconnects once. The choice
// follows the endpoint only while it was that endpoint or the default.
std::wstring RecogniseRoutedEndpoint(const ChosenSide& side, const DeviceIdentity& held,
                                     const std::vector<DeviceIdentity>& list, std::wstring& logged) {
  if (held.id.empty()) return held.id;
  const std::optional<DeviceIdentity> entry = FindEndpointByIdOrName(list, held.id, RoutedName(side, held));
  if (!entry || entry->id == held.id) {
    logged.clear();
    return held.id;
  }
  if (logged != held.id + L"\n" + entry->id) {
    logged = held.id + L"\n" + entry->id;
    LogWarn(L"recov", FormatText(side.movedFormat, held.id.c_str(), entry->id.c_str(), entry->name.c_str()));
  }
  const std::wstring choice = LoadChoice(side.side);
  if (choice == kSavedDefault || choice == DeviceChoice(held.id)) SaveChoice(side.side, DeviceChoice(entry->id));
  NoteDeviceFinding(DeviceFinding::RoutedEndpointMoved);
  return entry->id;
}

// Only when both sides have been resolved once; until then nothing was chosen that could be
// lost.
ChannelState TestChosenChannels(const WatchRun& run) {
  ChannelState channels;
  if (run.chosenInput.empty() || run.chosenOutput.empty()) return channels;
  channels.captureMissing = !IsActiveEndpoint(run.chosenInput, Flow::Capture);
  channels.renderMissing = !IsActiveEndpoint(run.chosenOutput, Flow::Render);
  return channels;
}

// As above, but an empty id counts as missing (and not disabled).
ChannelState ChosenChannelsNow(const WatchRun& run) {
  ChannelState channels;
  channels.captureMissing = run.chosenInput.empty() || !IsActiveEndpoint(run.chosenInput, Flow::Capture);
  channels.renderMissing = run.chosenOutput.empty() || !IsActiveEndpoint(run.chosenOutput, Flow::Render);
  channels.captureDisabled = channels.captureMissing && IsDisabledEndpoint(run.chosenInput, Flow::Capture);
  channels.renderDisabled = channels.renderMissing && IsDisabledEndpoint(run.chosenOutput, Flow::Render);
  return channels;
}

// The first run of a loss stops the input's listening silently (so that Windows does not play
// it somewhere else), says so and raises the window; later runs only keep the status current.
// A bridge that is plugged in but disabled is being enabled, so the wording treats it as there.
void ReportUnavailableChannels(const WatchRun& run, ChannelState channels, bool bridgeDisabled) {
  channels.captureDisabled = channels.captureMissing && IsDisabledEndpoint(run.chosenInput, Flow::Capture);
  channels.renderDisabled = channels.renderMissing && IsDisabledEndpoint(run.chosenOutput, Flow::Render);
  const std::wstring loss = run.chosenInput + L"\n" + run.chosenOutput;
  const bool wasHandled = Flags().unavailableHandled || loss == reportedLoss;
  // A loss marked as handled before it was reported (a routed endpoint that moved, whose
  // recovery had not run), or a recovery that switched the input on and failed, still leaves
  // the input playing: it is silenced once more, without a second notice.
  const bool inputMayListen = Flags().inputMayListen;
  NoteDeviceFinding(DeviceFinding::ChannelLost);
  const UnavailableNotice notice = DecideUnavailableNotice(channels, run.bridgeNow || bridgeDisabled, wasHandled);
  if (notice.report) {
    reportedLoss = loss;
    LogWarn(L"dev", FormatText(L"声卡通道不可用 录制:缺失=%d 被禁用=%d 播放:缺失=%d 被禁用=%d VARN在线=%d 目标录制=%s 目标播放=%s",
                               channels.captureMissing ? 1 : 0, channels.captureDisabled ? 1 : 0,
                               channels.renderMissing ? 1 : 0, channels.renderDisabled ? 1 : 0,
                               run.bridgeNow ? 1 : 0, run.chosenInput.c_str(), run.chosenOutput.c_str()));
  }
  if (notice.report || inputMayListen) SubmitSilentStopListen(StopListenIdentity());
  if (notice.report) {
    ShowBalloon(notice.balloonTitle, notice.balloonText, NoticeIcon::Warning);
    RestoreMainWindow();
  }
  SetStatusText(notice.statusText);
  UpdateActionButtons();
}

bool AnyBridgeEndpointDisabled() {
  return !FindDisabledBridgeId(Flow::Render).empty() || !FindDisabledBridgeId(Flow::Capture).empty();
}

// Each system query is made only where the decision can depend on it.
DispatchFacts GatherDispatchFacts(const WatchRun& run) {
  DispatchFacts facts;
  facts.unavailableHandled = Flags().unavailableHandled;
  facts.bridgeNow = run.bridgeNow;
  facts.bridgePresent = Flags().bridgePresent;
  facts.listening = Flags().listeningActive;
  facts.inputMayListen = Flags().inputMayListen;
  if (facts.unavailableHandled) {
    facts.channelsActive = !run.chosenInput.empty() && !run.chosenOutput.empty() &&
                           IsActiveEndpoint(run.chosenInput, Flow::Capture) &&
                           IsActiveEndpoint(run.chosenOutput, Flow::Render);
  }
  if (!facts.bridgeNow) facts.bridgeDisabled = AnyBridgeEndpointDisabled();
  // The ledger, not the listening flag, says what Windows routes: a default reclaim after a
  // cancel builds the routes again without the program counting itself as listening.
  facts.bridgeMoved = facts.bridgeNow && HeldOffTheListedBridge(run.held, run.capture, run.render);
  return facts;
}

void ReconnectRecoveredInput(const WatchRun& run) {
  LogInfo(L"dev", FormatText(L"声卡通道已恢复 录制=%s 播放=%s", run.chosenInput.c_str(), run.chosenOutput.c_str()));
  NoteDeviceFinding(DeviceFinding::ChannelsBack);
  captureList = run.capture;
  renderList = run.render;
  RefreshDeviceLists();
  // The flags follow when the task ends: success clears the loss, failure keeps it so that
  // the next run tries again.
  SubmitRecoveryConnect({OperationKind::InputRecoveryReconnect, 1, L"声卡已重新连接，正在自动恢复侦听...",
                         L"完成：声卡已重新连接并恢复侦听。", L"声卡已恢复", L"声卡已重新连接并恢复侦听。",
                         L"声卡恢复失败", L"请打开程序检查通道选择。", true});
  UpdateActionButtons();
}

void LogHijack(const FlowDefaults& capture, const FlowDefaults& render) {
  LogWarn(L"dev", FormatText(L"桥接器端点被设为系统默认设备 录制默认=%s 播放默认=%s (桥接器录制=%s 播放=%s)",
                             capture.defaultId.c_str(), render.defaultId.c_str(), IdOrNone(capture.bridge),
                             IdOrNone(render.bridge)));
}

void ReportHopelessHijack(const FlowDefaults& capture, const FlowDefaults& render) {
  if (hopelessHijackReported) return;
  hopelessHijackReported = true;
  LogHijack(capture, render);
  const bool captureAlone = DefaultCannotMove(capture);
  const bool renderAlone = DefaultCannotMove(render);
  const wchar_t* flows = captureAlone && renderAlone ? L"录制和播放" : (captureAlone ? L"录制" : L"播放");
  LogWarn(L"dev", FormatText(L"%s方向除桥接器外没有其他活动端点，系统无法改选默认设备：不夺回（禁用桥接器端点只会断开路由）",
                             flows));
}

bool SubmitDefaultReclaim(const ConnectRequest& request) {
  return SubmitOperation(OperationKind::DefaultReclaimReconnect,
                         [request](const Progress& progress) { return DefaultReclaimTaskBody(request, progress); });
}

// Windows may make a bridge endpoint the default (a driver update, a re-plug, a user in the
// sound settings); then every program's sound goes into the bridge. One reclaim per idle run
// while it lasts.
void CheckDefaultHijack(const WatchRun& run) {
  captureList = run.capture;
  renderList = run.render;
  const FlowDefaults capture = FlowDefaultsOf(run.capture);
  const FlowDefaults render = FlowDefaultsOf(run.render);
  const HijackAction action = DecideHijack(capture, render);
  if (action == HijackAction::Hopeless) {
    ReportHopelessHijack(capture, render);
    return;
  }
  hopelessHijackReported = false;
  if (action == HijackAction::None) return;
  LogHijack(capture, render);
  ConnectRequest request;
  if (!BuildConnectRequestFromSelection(request)) return;
  CarryHeldRoutes(request);
  if (SubmitDefaultReclaim(request)) UpdateActionButtons();
}

void ReconnectReturnedBridge() {
  LogInfo(L"dev", L"已重新检测到 USB Audio VARN，开始按恢复语义自动重连");
  NoteDeviceFinding(DeviceFinding::BridgeBack);
  RefreshDeviceLists();
  SetStatusText(L"已检测到 USB Audio VARN，正在恢复侦听...", StatusClass::Progress);
  ShowBalloon(L"VARN 已连接", L"正在自动恢复最后保存的侦听设置。", NoticeIcon::Information);
  SubmitRecoveryConnect({OperationKind::BridgeReturnReconnect, 1, L"正在恢复最后保存的侦听设置...",
                         L"完成：两条音频路由已恢复连接并保持侦听。", L"侦听已恢复", L"两条音频路由已恢复连接并保持侦听。",
                         L"自动恢复失败", L"请打开程序检查上次选择的通道。", true});
}

// Without the bridge Windows would fall back to playing the rack's sound on the default
// output: listening on the input goes off.
void StopInputAfterBridgeLoss() {
  LogWarn(L"dev", L"VARN 端点从活动列表消失且不在禁用列表 → 判定为「已断开/拔出」，开始连续关闭声卡输入侦听以防声音回退");
  NoteDeviceFinding(DeviceFinding::BridgeUnplugged);
  SubmitStopListen({StopListenIdentity(), true, L"VARN 已断开，已停止声卡输入侦听，等待重新连接...",
                    L"VARN 已断开，停止侦听失败，请打开程序检查。", true, L"VARN 已断开",
                    L"已停止声卡输入侦听，不会回退到系统默认播放设备。", L"停止声卡输入侦听失败，请打开程序检查。",
                    true});
}

// bridgePresent is left as it is: while the endpoints stay disabled every idle run tries again.
// A busy worker refuses the task, so a busy run says nothing.
void EnableDisabledBridge() {
  if (IsWorkerBusy()) return;
  LogWarn(L"dev", L"VARN 端点从活动列表消失且存在于禁用列表 → 判定为「被禁用」，尝试启用");
  SubmitEnableBridgeAndReconnect();
}

void ActOnDecision(const WatchRun& run, const WatchDecision& decision) {
  if (decision.branch != WatchBranch::BridgeStays) hopelessHijackReported = false;
  switch (decision.branch) {
    case WatchBranch::ChannelsBack: ReconnectRecoveredInput(run); break;
    case WatchBranch::ChannelsBackNoBridge:
      SetStatusText(L"声卡已恢复，等待连接 USB Audio VARN...", StatusClass::Progress);
      break;
    case WatchBranch::ChannelsStillLost:
      SetStatusText(LostChannelStatus(ChosenChannelsNow(run)), StatusClass::Problem);
      UpdateActionButtons();
      break;
    case WatchBranch::ChannelsAndBridgeLost:
      SetStatusText(L"未检测到 VARN 和声卡，请连接设备", StatusClass::Problem);
      UpdateActionButtons();
      break;
    case WatchBranch::BridgeStays: CheckDefaultHijack(run); break;
    case WatchBranch::BridgeBack: ReconnectReturnedBridge(); break;
    case WatchBranch::BridgeUnplugged: StopInputAfterBridgeLoss(); break;
    case WatchBranch::BridgeDisabled:
    case WatchBranch::Nothing: break;
  }
  if (decision.enableBridge) EnableDisabledBridge();
}

}  // namespace

void EvaluateDeviceState() {
  WatchRun run = ScanEndpoints();
  FollowListChanges(run);
  run.held = ReadRouteLedger();
  run.chosenInput = RecogniseRoutedEndpoint(kChosenInput, run.held.input, run.capture, loggedMove[0]);
  run.chosenOutput = RecogniseRoutedEndpoint(kChosenOutput, run.held.output, run.render, loggedMove[1]);
  // A task is changing the routes: whatever this run saw may be its doing. The next idle run
  // decides on what it finds then.
  if (IsWorkerBusy()) return;
  const ChannelState channels = TestChosenChannels(run);
  if (channels.captureMissing || channels.renderMissing) {
    // A disabled bridge endpoint is enabled on this run too, after the stop the first run of a
    // loss submits (the worker takes one task; the enabling follows on the next idle run).
    const bool bridgeDisabled = !run.bridgeNow && AnyBridgeEndpointDisabled();
    ReportUnavailableChannels(run, channels, bridgeDisabled);
    if (bridgeDisabled) EnableDisabledBridge();
    return;
  }
  reportedLoss.clear();
  ActOnDecision(run, DecideDispatch(GatherDispatchFacts(run)));
}

// Refused while the worker is busy, rather than queued behind a task that may itself change
// what is disabled.
bool SubmitEnableBridgeAndReconnect() {
  if (IsWorkerBusy()) return false;
  const bool accepted = SubmitOperation(OperationKind::EnableBridgeEndpoints,
                                        [](const Progress& progress) { return EnableBridgeTaskBody(progress); });
  if (accepted) UpdateActionButtons();
  return accepted;
}

}  // namespace varn
