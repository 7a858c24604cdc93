#include "diagnostics/snapshot.h"

#include <windows.h>

#include "audio/endpoints.h"
#include "diagnostics/version.h"
#include "log/log.h"
#include "base/text.h"
#include "autostart/autostart.h"
#include "routes/connect_request.h"
#include "settings/settings.h"

namespace varn {

namespace {

constexpr wchar_t kEmpty[] = L"(空)";
constexpr DWORD kUserNameChars = 256;

const wchar_t* YesNo(bool value) { return value ? L"是" : L"否"; }

std::wstring OrEmptyMark(const std::wstring& text) { return text.empty() ? kEmpty : text; }
std::wstring OrNoneMark(const std::wstring& text) { return text.empty() ? L"(无)" : text; }

// Device names, the status text and registry values come from outside and may carry line
// breaks; in the diagnostics file such a break would start a line that the program never
// wrote. Each line therefore stays one line, as a log record does.
void AddLine(std::vector<std::wstring>& lines, const std::wstring& line) {
  if (!line.empty()) lines.push_back(OneLineText(line));
}

std::wstring CurrentUserName() {
  wchar_t name[kUserNameChars];
  DWORD length = kUserNameChars;
  if (!GetUserNameW(name, &length) || name[0] == L'\0') return L"(未知)";
  return name;
}

void AddHeader(std::vector<std::wstring>& lines, const SnapshotInput& input, const std::wstring& programPath) {
  AddLine(lines, L"VARN USB Audio 桥接器 —— 诊断环境快照");
  AddLine(lines, L"生成时间: " + LocalTimeText());
  AddLine(lines, FormatText(L"程序版本: %s (%s)", kVersionText, kFileVersionText));
  AddLine(lines, L"程序路径: " + programPath);
  AddLine(lines, std::wstring(L"启动方式: ") +
                     (input.flags.startupMode ? L"开机自启（--startup，静默隐藏）" : L"手动或托盘启动"));
  AddLine(lines, L"系统版本: " + OsVersionText());
  AddLine(lines, L"当前用户: " + CurrentUserName());
}

void AddRunState(std::vector<std::wstring>& lines, const SnapshotInput& input) {
  AddLine(lines, L"[运行状态]");
  AddLine(lines, FormatText(L"正在侦听: %s", YesNo(input.flags.listeningActive)));
  AddLine(lines, FormatText(L"桥接器两端点在线: %s", YesNo(input.flags.bridgePresent)));
  AddLine(lines, FormatText(L"正在等待声卡通道: %s", YesNo(input.flags.channelUnavailable)));
  AddLine(lines, FormatText(L"允许点立即连接: %s", YesNo(input.flags.connectEnabled)));
  AddLine(lines, FormatText(L"启动准备工作完成: %s", YesNo(input.flags.startupReady)));
  AddLine(lines, L"状态栏文案: " + OrEmptyMark(input.statusText));
}

void AddAutostartAndSettings(std::vector<std::wstring>& lines) {
  AddLine(lines, L"[开机自启]");
  const StartupSetting preference = ReadStartupEnabled();
  const wchar_t* preferenceText = !preference.found ? L"(未设置)" : preference.enabled ? L"1（开）" : L"0（关）";
  AddLine(lines, FormatText(L"注册表偏好 StartupEnabled: %s", preferenceText));
  AddLine(lines, FormatText(L"计划任务「%s」存在: %s", kAutostartTaskName, YesNo(IsAutostartTaskPresent())));

  AddLine(lines, L"[注册表设置]");
  for (const wchar_t* name : {kCaptureIdValue, kCaptureNameValue, kRenderIdValue, kRenderNameValue,
                              kLastCaptureResolvedValue, kLastRenderResolvedValue, kLastBridgeCaptureResolvedValue,
                              kLastBridgeRenderResolvedValue}) {
    AddLine(lines, std::wstring(name) + L" = " + OrEmptyMark(ReadSettingString(name)));
  }
}

void AddSelections(std::vector<std::wstring>& lines, const SnapshotInput& input) {
  AddLine(lines, L"[当前选择的通道]");
  AddLine(lines, FormatText(L"录制下拉框索引: %d（0 = 跟随默认设备）", input.captureIndex));
  AddLine(lines, L"录制解析结果: " + DescribeIdentity(DeviceIdentity{L"", input.captureResolvedId}));
  AddLine(lines, FormatText(L"播放下拉框索引: %d（0 = 跟随默认设备）", input.renderIndex));
  AddLine(lines, L"播放解析结果: " + DescribeIdentity(DeviceIdentity{L"", input.renderResolvedId}));
  AddLine(lines, L"[系统默认设备]");
  AddLine(lines, L"录制默认: " + DefaultEndpointId(Flow::Capture));
  AddLine(lines, L"播放默认: " + DefaultEndpointId(Flow::Render));
}

void AddEndpointSection(std::vector<std::wstring>& lines, const wchar_t* heading, Flow flow) {
  AddLine(lines, heading);
  const std::vector<DeviceIdentity> list = ListEndpoints(flow);
  const std::wstring defaultId = DefaultEndpointId(flow);
  if (list.empty()) {
    AddLine(lines, L"  (空)");
    return;
  }
  for (const DeviceIdentity& entry : list) {
    std::wstring marks;
    if (!entry.id.empty() && entry.id == defaultId) marks += L"  ← 系统默认";
    if (NameIsBridge(entry.name)) marks += L"  ← 桥接器端点";
    if (entry.id.empty()) marks += L"  ← 占位项（跟随默认）";
    AddLine(lines, L"  " + DescribeIdentity(entry) + marks);
  }
}

void AddTargets(std::vector<std::wstring>& lines, const SnapshotInput& input) {
  AddLine(lines, L"[被禁用的桥接器端点]");
  AddLine(lines, L"  播放: " + OrNoneMark(FindDisabledBridgeId(Flow::Render)));
  AddLine(lines, L"  录制: " + OrNoneMark(FindDisabledBridgeId(Flow::Capture)));
  AddLine(lines, L"[目标通道在线情况]");
  const std::wstring& capture = input.captureResolvedId;
  const std::wstring& render = input.renderResolvedId;
  AddLine(lines, FormatText(L"  录制 %s 在线: %s", capture.c_str(), YesNo(IsActiveEndpoint(capture, Flow::Capture))));
  AddLine(lines, FormatText(L"  录制目标处于禁用列表: %s", YesNo(IsDisabledEndpoint(capture, Flow::Capture))));
  AddLine(lines, FormatText(L"  播放 %s 在线: %s", render.c_str(), YesNo(IsActiveEndpoint(render, Flow::Render))));
  AddLine(lines, FormatText(L"  播放目标处于禁用列表: %s", YesNo(IsDisabledEndpoint(render, Flow::Render))));
}

}  // namespace

std::wstring LocalTimeText() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return FormatText(L"%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                    now.wSecond);
}

std::vector<std::wstring> BuildSnapshot(const SnapshotInput& input, const std::wstring& programPath) {
  std::vector<std::wstring> lines;
  AddHeader(lines, input, programPath);
  AddRunState(lines, input);
  AddAutostartAndSettings(lines);
  AddSelections(lines, input);
  AddEndpointSection(lines, L"[录制端点（活动）]", Flow::Capture);
  AddEndpointSection(lines, L"[播放端点（活动）]", Flow::Render);
  AddTargets(lines, input);
  return lines;
}

// The lines are built in full before the first is logged, so the task query's own "tool"
// line lands after the start marker and never inside the snapshot.
void LogSnapshot(const SnapshotInput& input, const std::wstring& programPath) {
  LogInfo(L"env", L"==================== 环境快照开始 ====================");
  for (const std::wstring& line : BuildSnapshot(input, programPath)) LogInfo(L"env", line);
  LogInfo(L"env", L"==================== 环境快照结束 ====================");
}

}  // namespace varn
