#include "routes/endpoint_control.h"

#include <windows.h>

#include "audio/endpoints.h"
#include "routes/connect_request.h"
#include "log/log.h"
#include "base/text.h"
#include "tool_runner/tool_runner.h"

namespace varn {

namespace {

constexpr int kEnablePasses = 3;
constexpr int kChecksPerPass = 8;
constexpr DWORD kCheckPauseMs = 200;
constexpr DWORD kDefaultPauseStepMs = 200;
constexpr DWORD kDefaultPauseLimitMs = 800;

const wchar_t* OrNone(const std::wstring& text) { return text.empty() ? L"(无)" : text.c_str(); }

// Disables the bridge endpoint that is the default of its flow, reads which endpoint Windows
// chose instead, and enables the bridge again. False (and the bridge possibly left disabled)
// when a step fails; the device-change polling enables a disabled bridge later.
bool HandDefaultAway(const std::wstring& bridgeId, Flow flow, std::wstring& chosen) {
  if (!SetEndpointEnabled(bridgeId, flow, false)) return false;
  chosen = DefaultEndpointId(flow);
  if (chosen.empty() || chosen == bridgeId) return false;
  return SetEndpointEnabled(bridgeId, flow, true);
}

// "/SetDefault" with up to three attempts, each confirmed by reading the default back after
// a pause of 200, 400 and 600 ms; a failed tool run costs no pause.
bool MakeDefault(const std::wstring& target, Flow flow, const wchar_t* failureFormat) {
  for (DWORD pause = kDefaultPauseStepMs;; pause += kDefaultPauseStepMs) {
    if (IsShutdownSignalled()) return false;
    bool confirmed = false;
    if (RunSoundTool(L"/SetDefault " + QuoteArgument(target) + L" all")) {
      Sleep(pause);
      confirmed = DefaultEndpointId(flow) == target;
    }
    if (confirmed) return true;
    if (pause + kDefaultPauseStepMs >= kDefaultPauseLimitMs) break;
  }
  LogError(L"dev", FormatText(failureFormat, target.c_str()));
  return false;
}

}  // namespace

bool SetEndpointEnabled(const std::wstring& id, Flow flow, bool enable) {
  const wchar_t* word = enable ? L"启用" : L"禁用";
  ULONGLONG start = GetTickCount64();
  for (int pass = 1; pass <= kEnablePasses; ++pass) {
    if (IsShutdownSignalled()) return false;
    // The exit code is ignored on purpose: only the state Windows shows counts.
    RunSoundTool((enable ? L"/Enable " : L"/Disable ") + QuoteArgument(id));
    for (int check = 0; check < kChecksPerPass; ++check) {
      Sleep(kCheckPauseMs);
      if (IsActiveEndpoint(id, flow) == enable) {
        LogInfo(L"dev", FormatText(L"端点%s成功 id=%s 耗时=%llums", word, id.c_str(),
                                   GetTickCount64() - start));
        return true;
      }
      // Enabling brings back a disabled endpoint only: one that is unplugged, or whose device
      // came back under new ids, is not waited for. Active is asked again after disabled, so
      // that an endpoint that became active in between is not given up.
      if (enable && !IsDisabledEndpoint(id, flow) && !IsActiveEndpoint(id, flow)) {
        LogWarn(L"dev", FormatText(L"端点不在（已拔出或已换新 ID），启用无从生效 id=%s", id.c_str()));
        return false;
      }
      if (IsShutdownSignalled()) return false;
    }
    LogWarn(L"dev", FormatText(L"端点%s第 %d 轮未生效 id=%s", word, pass, id.c_str()));
  }
  LogError(L"dev", FormatText(L"端点%s失败 id=%s 历时=%llums", word, id.c_str(),
                              GetTickCount64() - start));
  return false;
}

FlowDefaults FlowDefaultsOf(const std::vector<DeviceIdentity>& list) {
  FlowDefaults defaults;
  if (list.empty()) return defaults;
  defaults.defaultId = list.front().id;
  defaults.bridge = FindBridge(list);
  for (size_t i = 1; i < list.size(); ++i) {
    if (!defaults.bridge || list[i].id != defaults.bridge->id) defaults.otherActive = true;
  }
  return defaults;
}

bool BridgeIsDefault(const FlowDefaults& flow) {
  return flow.bridge.has_value() && !flow.defaultId.empty() && flow.defaultId == flow.bridge->id;
}

bool DefaultCannotMove(const FlowDefaults& flow) { return BridgeIsDefault(flow) && !flow.otherActive; }

bool ReclaimDefaultDevices(const DeviceIdentity& bridgeCapture, const DeviceIdentity& bridgeRender) {
  if (bridgeCapture.id.empty() || bridgeRender.id.empty()) return false;
  std::wstring captureDefault = DefaultEndpointId(Flow::Capture);
  std::wstring renderDefault = DefaultEndpointId(Flow::Render);
  bool captureTaken = captureDefault == bridgeCapture.id;
  bool renderTaken = renderDefault == bridgeRender.id;
  if (!captureTaken && !renderTaken) return false;
  // Each flow on its own: the computer's sound must not stay in the bridge because its
  // microphone is the only input left.
  const bool captureStuck = captureTaken && DefaultCannotMove(FlowDefaultsOf(ListEndpoints(Flow::Capture)));
  const bool renderStuck = renderTaken && DefaultCannotMove(FlowDefaultsOf(ListEndpoints(Flow::Render)));
  if (captureStuck || renderStuck) {
    LogWarn(L"dev", FormatText(L"%s方向除桥接器外没有其他活动端点，系统无法改选默认设备：该方向不夺回",
                               captureStuck && renderStuck ? L"录制和播放" : (captureStuck ? L"录制" : L"播放")));
  }
  captureTaken = captureTaken && !captureStuck;
  renderTaken = renderTaken && !renderStuck;
  if (!captureTaken && !renderTaken) return false;
  LogWarn(L"dev", FormatText(L"检测到桥接器端点被设为系统默认设备 录制默认=%s 播放默认=%s",
                             captureDefault.c_str(), renderDefault.c_str()));

  std::wstring captureTarget, renderTarget;
  if (captureTaken && !HandDefaultAway(bridgeCapture.id, Flow::Capture, captureTarget)) return false;
  if (renderTaken && !HandDefaultAway(bridgeRender.id, Flow::Render, renderTarget)) return false;

  if (!captureTarget.empty() && captureTarget != bridgeCapture.id &&
      !MakeDefault(captureTarget, Flow::Capture, L"夺回录制默认设备失败 目标=%s")) {
    return false;
  }
  if (!renderTarget.empty() && renderTarget != bridgeRender.id &&
      !MakeDefault(renderTarget, Flow::Render, L"夺回播放默认设备失败 目标=%s")) {
    return false;
  }
  LogInfo(L"dev", FormatText(L"默认设备已夺回 录制=%s 播放=%s",
                             DefaultEndpointId(Flow::Capture).c_str(),
                             DefaultEndpointId(Flow::Render).c_str()));
  return true;
}

void EnableDisabledBridgeEndpoints() {
  std::wstring render = FindDisabledBridgeId(Flow::Render);
  std::wstring capture = FindDisabledBridgeId(Flow::Capture);
  if (render.empty() && capture.empty()) return;
  LogWarn(L"dev", FormatText(L"启动时发现处于禁用状态的桥接器端点 播放=%s 录制=%s", OrNone(render),
                             OrNone(capture)));
  if (!render.empty()) SetEndpointEnabled(render, Flow::Render, true);
  if (!capture.empty()) SetEndpointEnabled(capture, Flow::Capture, true);
}

bool ReclaimDefaultsForRequest(ConnectRequest& request) {
  ReclaimDefaultDevices(request.bridgeCapture, request.bridgeRender);
  if (request.captureFollowsDefault) {
    request.capture.id = DefaultEndpointId(Flow::Capture);
    if (request.capture.id.empty() || request.capture.id == request.bridgeCapture.id) return false;
  }
  if (request.renderFollowsDefault) {
    request.render.id = DefaultEndpointId(Flow::Render);
    return !request.render.id.empty() && request.render.id != request.bridgeRender.id;
  }
  return true;
}

}  // namespace varn
