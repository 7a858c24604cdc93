#include "routes/guard_tasks.h"

#include <windows.h>

#include <optional>
#include <vector>

#include "audio/endpoints.h"
#include "audio/volume.h"
#include "log/log.h"
#include "base/text.h"
#include "autostart/autostart.h"
#include "routes/endpoint_control.h"
#include "tool_runner/tool_runner.h"

namespace varn {

namespace {

constexpr ULONGLONG kHeartbeatIntervalMs = 300000;
// Tick of the last "still running" line; starting at 0, the first guard run writes one as soon
// as the system has been up for five minutes. Only the worker thread touches it.
ULONGLONG lastHeartbeatTick = 0;

const wchar_t* OrNone(const std::wstring& id) { return id.empty() ? L"(无)" : id.c_str(); }

// Adds the entry when the endpoint needed a correction and reached its target; an attempt that
// fell short is reported by its own WARN line, not here.
void HoldAtFullVolume(const std::wstring& id, bool unmute, const wchar_t* entry, std::wstring& corrections) {
  if (id.empty()) return;
  bool attempted = false;
  if (!EnforceEndpointVolume(id, unmute, &attempted, &IsShutdownSignalled) || !attempted) return;
  if (!corrections.empty()) corrections += L"、";
  corrections += entry;
}

// The alignment shared by the autostart and start-up tasks: the outcome reports the task as it
// really is, and the status line speaks only when the task was refused for safety.
void AlignAutostartInto(bool wanted, WorkerOutcome& outcome) {
  const AutostartState state = AlignAutostart(wanted);
  outcome.autostartEnabled = state.present;
  outcome.autostartKnown = true;
  if (state.refusedAsUnsafe) {
    outcome.updateStatus = true;
    outcome.statusText = L"开机自启未开启：程序所在文件夹普通用户可写，请安装到 Program Files 后再开启。";
  }
}

void HoldBridgeAndInputLevels(const std::wstring& input, const DeviceIdentity& capture,
                              const DeviceIdentity& render) {
  if (!input.empty()) {
    EnforceEndpointVolume(input, false, nullptr, &IsShutdownSignalled);
    DisableEndpointEnhancements(input, &IsShutdownSignalled);
  }
  EnforceEndpointVolume(capture.id, true, nullptr, &IsShutdownSignalled);
  EnforceEndpointVolume(render.id, true, nullptr, &IsShutdownSignalled);
  DisableEndpointEnhancements(capture.id, &IsShutdownSignalled);
  DisableEndpointEnhancements(render.id, &IsShutdownSignalled);
}

}  // namespace

WorkerOutcome VolumeGuardTaskBody(const std::wstring& input, const std::wstring& bridgeCapture,
                                  const std::wstring& bridgeRender, const Progress&) {
  WorkerOutcome outcome;
  outcome.op = OperationTag(OperationKind::VolumeGuard);
  outcome.updateStatus = false;
  ULONGLONG now = GetTickCount64();
  if (now - lastHeartbeatTick >= kHeartbeatIntervalMs) {
    lastHeartbeatTick = now;
    LogInfo(L"guard", FormatText(L"音量守护运行中 巡检目标 声卡输入=%s 录制=%s 播放=%s", OrNone(input),
                                 OrNone(bridgeCapture), OrNone(bridgeRender)));
  }
  std::wstring corrections;
  HoldAtFullVolume(input, false, L"声卡输入音量→100%", corrections);
  HoldAtFullVolume(bridgeCapture, true, L"VARN录制 音量/静音→正常", corrections);
  HoldAtFullVolume(bridgeRender, true, L"VARN播放 音量/静音→正常", corrections);
  if (!corrections.empty()) outcome.noticeText = L"音量守护已自动校正：" + corrections;
  for (const std::wstring* id : {&input, &bridgeCapture, &bridgeRender}) {
    if (!id->empty()) DisableEndpointEnhancements(*id, &IsShutdownSignalled);
  }
  outcome.ok = true;
  return outcome;
}

WorkerOutcome AutostartSyncTaskBody(bool wanted, const Progress&) {
  WorkerOutcome outcome;
  outcome.op = OperationTag(OperationKind::AutostartSync);
  outcome.updateStatus = false;
  AlignAutostartInto(wanted, outcome);
  outcome.ok = true;
  return outcome;
}

WorkerOutcome StartupWorkTaskBody(bool autostartWanted, const std::wstring& input,
                                  const std::function<void()>& logSnapshot, const Progress&) {
  WorkerOutcome outcome;
  outcome.op = OperationTag(OperationKind::StartupWork);
  outcome.updateStatus = false;
  if (logSnapshot) logSnapshot();
  AlignAutostartInto(autostartWanted, outcome);
  EnableDisabledBridgeEndpoints();
  const std::vector<DeviceIdentity> captureList = ListEndpoints(Flow::Capture);
  const std::vector<DeviceIdentity> renderList = ListEndpoints(Flow::Render);
  const std::optional<DeviceIdentity> capture = FindBridge(captureList);
  const std::optional<DeviceIdentity> render = FindBridge(renderList);
  if (capture && render) {
    ReclaimDefaultDevices(*capture, *render);
    HoldBridgeAndInputLevels(input, *capture, *render);
  }
  outcome.ok = true;
  return outcome;
}

}  // namespace varn
