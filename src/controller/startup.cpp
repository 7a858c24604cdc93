#include "controller/startup.h"

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "audio/endpoints.h"
#include "controller/controller.h"
#include "controller/flag_events.h"
#include "controller/watch_decisions.h"
#include "base/text.h"
#include "diagnostics/snapshot.h"
#include "log/log.h"
#include "base/path.h"
#include "routes/guard_tasks.h"
#include "settings/saved_choice.h"
#include "settings/settings.h"
#include "ui/device_lists.h"
#include "ui/status.h"
#include "ui/window_state.h"
#include "worker/worker.h"

namespace varn {

namespace {
constexpr UINT kAutoConnectRetryMs = 1000;

// The id the sound card input list's current item stands for; empty without a current item.
std::wstring SelectedInputId() {
  const int index = SelectedDeviceItem(kCaptureComboId);
  if (index < 0) return std::wstring();
  return ResolveSelection(captureList, index, Flow::Capture).id;
}


// The guard holds the worker for a moment every five seconds and, being quiet, leaves the
// buttons enabled. A click that lands in that moment would otherwise be lost without a word.
// What waits belongs to the guard that runs now: whether the guard runs is asked of the worker,
// so that an outcome that never came cannot leave a later click waiting.
std::function<void()> afterGuard[static_cast<size_t>(GuardWaiter::Count)];

// The logon task alignment the user asked for while the worker was busy. Unlike a click it is
// not the user's to repeat: the check box already shows the wish, so it is carried out after
// whatever task held the worker.
bool autostartSyncPending = false;
bool autostartSyncWanted = false;

// The saved devices the start-up connect waits for, as last logged.
std::wstring reportedMissing;

// The start-up connect waits for a saved device that is not listed, saying which channel is
// gone; the line is logged once for each set of missing devices.
void WaitForSavedDevices(bool captureGone, bool renderGone) {
  const std::wstring capture = ParseSavedSelection(LoadChoice(ChoiceSide::Capture)).id;
  const std::wstring render = ParseSavedSelection(LoadChoice(ChoiceSide::Render)).id;
  ChannelState channels;
  channels.captureMissing = captureGone;
  channels.renderMissing = renderGone;
  channels.captureDisabled = captureGone && IsDisabledEndpoint(capture, Flow::Capture);
  channels.renderDisabled = renderGone && IsDisabledEndpoint(render, Flow::Render);
  const std::wstring missing = (captureGone ? capture : L"") + L"\n" + (renderGone ? render : L"");
  if (missing != reportedMissing) {
    reportedMissing = missing;
    LogWarn(L"dev", FormatText(L"已保存的设备不在活动列表，自动连接等待其恢复 录制:缺失=%d 被禁用=%d 播放:缺失=%d 被禁用=%d "
                               L"已保存录制=%s 已保存播放=%s",
                               captureGone ? 1 : 0, channels.captureDisabled ? 1 : 0, renderGone ? 1 : 0,
                               channels.renderDisabled ? 1 : 0, capture.c_str(), render.c_str()));
  }
  SetStatusText(LostChannelStatus(channels), StatusClass::Problem);
}

void DropGuardWaiters() {
  for (std::function<void()>& waiting : afterGuard) waiting = nullptr;
}

std::wstring BridgeId(const std::vector<DeviceIdentity>& list) {
  const std::optional<DeviceIdentity> bridge = FindBridge(list);
  return bridge ? bridge->id : std::wstring();
}

}  // namespace

void ApplyInitialState() {
  captureList = ListEndpoints(Flow::Capture);
  renderList = ListEndpoints(Flow::Render);
  FillDeviceCombo(ControlWindow(kCaptureComboId), captureList, LoadChoice(ChoiceSide::Capture));
  FillDeviceCombo(ControlWindow(kRenderComboId), renderList, LoadChoice(ChoiceSide::Render));

  // A first start has no preference stored yet: autostart is on until the user says otherwise.
  StartupSetting startup = ReadStartupEnabled();
  if (!startup.found) {
    startup.enabled = true;
    WriteStartupEnabled(true);
  }
  const bool present = FindBridge(captureList).has_value() && FindBridge(renderList).has_value();
  NoteWindowCreated(present, startup.enabled);
  SendMessageW(ControlWindow(kAutostartCheckId), BM_SETCHECK, startup.enabled ? BST_CHECKED : BST_UNCHECKED, 0);
  WriteStartupConfigured();

  SetStatusText(present ? L"正在初始化音频路由..." : L"等待连接 USB Audio VARN...", StatusClass::Progress);
  if (!present) {
    ShowBalloon(L"VARN 未连接", L"请插入 USB Audio VARN，连接后将自动恢复侦听。", NoticeIcon::Warning);
  }
  if (!IsLogEnabled()) {
    ShowBalloon(L"无法写入日志文件", L"程序目录和用户目录都写不进去，本次运行不会产生日志。", NoticeIcon::Warning);
  }
}

void SubmitStartupWork(bool autostartWanted) {
  // The snapshot has resolved the input list's pick already; resolving it again would ask
  // Core Audio for the default a second time on the window thread.
  const SnapshotInput snapshot = CaptureWindowState(Flags());
  const std::wstring input = snapshot.captureResolvedId;
  const std::wstring programPath = GetProgramPath();
  SubmitOperation(
      OperationKind::StartupWork, [autostartWanted, input, snapshot, programPath](const Progress& progress) {
        return StartupWorkTaskBody(autostartWanted, input, [&] { LogSnapshot(snapshot, programPath); }, progress);
      });
}

void SubmitStartupSync(bool enable) {
  autostartSyncPending = false;
  if (SubmitOperation(OperationKind::AutostartSync,
                      [enable](const Progress& progress) { return AutostartSyncTaskBody(enable, progress); })) {
    return;
  }
  autostartSyncPending = true;
  autostartSyncWanted = enable;
}

bool RunAfterGuard(GuardWaiter waiter, std::function<void()> action) {
  if (!IsWorkerBusyWith(OperationName(OperationKind::VolumeGuard))) return false;
  afterGuard[static_cast<size_t>(waiter)] = std::move(action);
  return true;
}

// Each waiting action runs once, the latest of its kind; an outcome of any other task means the
// guard they waited for never reported, and they are dropped rather than run unasked later.
// A pending logon task alignment goes after them, or after the task they started.
void OnOutcomeTaken(OperationKind op) {
  if (op == OperationKind::VolumeGuard) {
    for (std::function<void()>& waiting : afterGuard) {
      std::function<void()> action = std::move(waiting);
      waiting = nullptr;
      if (action) action();
    }
  } else {
    DropGuardWaiters();
  }
  CarryOutKeptCancel(op);
  if (autostartSyncPending && !IsWorkerBusy()) SubmitStartupSync(autostartSyncWanted);
}

void SubmitEnforceVolumes() {
  if (IsWorkerBusy()) return;
  const std::wstring input = SelectedInputId();
  const std::wstring bridgeCapture = BridgeId(captureList);
  const std::wstring bridgeRender = BridgeId(renderList);
  const bool accepted = SubmitOperation(
      OperationKind::VolumeGuard,
      [input, bridgeCapture, bridgeRender](const Progress& progress) {
        return VolumeGuardTaskBody(input, bridgeCapture, bridgeRender, progress);
      },
      false);
  if (accepted) DropGuardWaiters();
}

// The program never unmutes the input itself: a mute is the user's decision, perhaps a
// deliberate one. It says so once per episode; an unmuted reading ends the episode. A failed
// read says nothing either way, so a brief hiccup neither warns nor starts a new episode.
void CheckInputMute() {
  const int captureIndex = SelectedDeviceItem(kCaptureComboId);
  if (captureIndex < 0) return;
  const DeviceIdentity input = ResolveSelection(captureList, captureIndex, Flow::Capture);
  if (input.id.empty()) return;
  const auto [readOk, muted] = ReadEndpointMute(input.id);
  if (!readOk || !NoteInputMute(muted)) return;
  LogWarn(L"guard", L"检测到声卡输入通道被静音（守护不擅自解除，仅提示用户）目标=" + input.id);
  ShowBalloon(L"声卡输入已静音", L"检测到当前声卡输入通道已静音，请在系统声音设置中手动解除静音。", NoticeIcon::Warning);
}

void RunStartupAutoConnectStep() {
  const WindowFlags& flags = Flags();
  if (!flags.startupReady || IsWorkerBusy()) {
    SetTimer(windowState.mainWindow, kTimerAutoConnect, kAutoConnectRetryMs, nullptr);
    return;
  }
  if (!flags.bridgePresent || flags.channelUnavailable || flags.unavailableHandled) {
    SetStatusText(L"等待 USB Audio VARN，设备连接后将自动侦听...", StatusClass::Progress);
    return;
  }
  // A saved device that is not listed leaves its list without a pick, and the connect would be
  // refused without a word. The start waits for it instead, as for a busy worker, and connects
  // once it is listed: the lists are refilled from the saved choices when the endpoints change.
  const bool captureGone = StoredDeviceUnlisted(ChoiceSide::Capture);
  const bool renderGone = StoredDeviceUnlisted(ChoiceSide::Render);
  if (captureGone || renderGone) {
    WaitForSavedDevices(captureGone, renderGone);
    SetTimer(windowState.mainWindow, kTimerAutoConnect, kAutoConnectRetryMs, nullptr);
    return;
  }
  SubmitRecoveryConnect({OperationKind::StartupAutoConnect, 2, L"正在自动连接...", L"完成：软件启动时已自动建立音频侦听。",
                         L"VARN 自动连接完成", L"软件启动时已自动建立音频侦听。", L"VARN 自动连接失败",
                         L"请检查 USB Audio VARN 和所选通道。", true});
}

}  // namespace varn
