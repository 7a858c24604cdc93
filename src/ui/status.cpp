#include "ui/status.h"

#include <windows.h>

#include "audio/endpoints.h"
#include "log/log.h"
#include "routes/route_ledger.h"
#include "ui/device_lists.h"
#include "ui/window_state.h"

namespace varn {

namespace {

constexpr DWORD kRepeatLogIntervalMs = 60000;

std::wstring currentText;
StatusClass currentClass = StatusClass::Plain;
std::wstring lastLoggedText;
DWORD lastLoggedTick = 0;
bool loggedOnce = false;

BalloonSink balloonSink = nullptr;

constexpr wchar_t kRestingMark[] = L"● ";

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::wstring(prefix).size(), prefix) == 0;
}

bool Contains(const std::wstring& text, const wchar_t* word) { return text.find(word) != std::wstring::npos; }

// A status text may span lines; the log writer keeps it on one, joined by " ｜ ".
void Show(const std::wstring& text, StatusClass statusClass, DWORD nowMs) {
  if (text != currentText || statusClass != currentClass) {
    currentText = text;
    currentClass = statusClass;
    HWND label = ControlWindow(kStatusLabelId);
    if (label != nullptr) {
      SetWindowTextW(label, text.c_str());
      // Erase too, so that the colour chosen for the new text is painted at once.
      InvalidateRect(label, nullptr, TRUE);
      UpdateWindow(label);
    }
  }
  // Periodic callers repeat the same text every few seconds; the log needs it once a minute.
  // The difference of two tick counts stays right across the 49.7-day wrap.
  if (loggedOnce && text == lastLoggedText && nowMs - lastLoggedTick < kRepeatLogIntervalMs) return;
  LogApp(text);
  lastLoggedText = text;
  lastLoggedTick = nowMs;
  loggedOnce = true;
}

}  // namespace

void SetStatusText(const std::wstring& text, StatusClass statusClass) { Show(text, statusClass, GetTickCount()); }
void SetStatusText(const std::wstring& text) { Show(text, ClassifyStatus(text), GetTickCount()); }
void SetStatusTextAt(const std::wstring& text, DWORD nowMs) { Show(text, ClassifyStatus(text), nowMs); }

const std::wstring& CurrentStatusText() { return currentText; }
StatusClass CurrentStatusClass() { return currentClass; }

// The first row that holds wins: start-up, then the bridge, then the chosen channels, then
// the routes; only a fully working setup shows the two routes themselves.
std::wstring ComposeSteadyStatus(const SteadyStatusFacts& facts) {
  const WindowFlags& flags = facts.flags;
  if (!flags.startupReady) return L"● 正在初始化...";
  if (!flags.bridgePresent) return L"● 未检测到 USB Audio VARN，等待设备连接...";
  if (flags.channelUnavailable || flags.unavailableHandled) return L"● 等待声卡恢复...";
  // Routes that still play into the old endpoints of a bridge that came back under new ids carry
  // no sound: the text claims only what the ledger holds on the endpoints listed now.
  if (!flags.listeningActive || facts.heldOffTheListedBridge) return L"● 未侦听：点击「立即连接」建立两条音频路由";
  if (facts.captureIndex < 0 || facts.renderIndex < 0) return L"● 请选择声卡输入和手机输出通道";
  const std::wstring input = facts.captureName.empty() ? L"未识别" : facts.captureName;
  const std::wstring output = facts.renderName.empty() ? L"未识别" : facts.renderName;
  // bridgePresent is judged by the device poll, the lists by the last refill; between the
  // two the bridge may be gone from the lists, and then only its device name is known.
  const std::wstring bridgeOut = facts.bridgeRenderListed ? L"VARN播放" : L"VARN";
  const std::wstring bridgeIn = facts.bridgeCaptureListed ? L"VARN录制" : L"VARN";
  return L"● 机架 → 手机：" + input + L" → " + bridgeOut + L"\r\n● 手机 → 电脑：" + bridgeIn + L" → " + output;
}

std::wstring BuildSteadyStatus(const WindowFlags& flags) {
  SteadyStatusFacts facts;
  facts.flags = flags;
  facts.captureIndex = SelectedDeviceItem(kCaptureComboId);
  facts.renderIndex = SelectedDeviceItem(kRenderComboId);
  facts.captureName = ResolveSelection(captureList, facts.captureIndex, Flow::Capture).name;
  facts.renderName = ResolveSelection(renderList, facts.renderIndex, Flow::Render).name;
  facts.bridgeCaptureListed = FindBridge(captureList).has_value();
  facts.bridgeRenderListed = FindBridge(renderList).has_value();
  facts.heldOffTheListedBridge = HeldOffTheListedBridge(ReadRouteLedger(), captureList, renderList);
  return ComposeSteadyStatus(facts);
}

// Problem words are looked for first: "正在连接...失败" is a failure, not progress.
StatusClass ClassifyStatus(const std::wstring& fullText) {
  if (fullText.empty()) return StatusClass::Plain;
  const std::wstring text = StartsWith(fullText, kRestingMark) ? fullText.substr(2) : fullText;
  static const wchar_t* const kProblemWords[] = {
      L"失败",   L"未检测到",   L"不可用", L"已断开", L"被禁用",     L"尚未",
      L"请检查", L"请重新选择", L"请打开", L"请插入", L"请连接设备", L"未侦听",
  };
  for (const wchar_t* word : kProblemWords) {
    if (Contains(text, word)) return StatusClass::Problem;
  }
  if (StartsWith(text, L"正在") || StartsWith(text, L"等待")) return StatusClass::Progress;
  if (StartsWith(text, L"完成") || Contains(text, L"侦听中") || StartsWith(text, L"已连接") ||
      StartsWith(text, L"机架 → 手机")) {
    return StatusClass::Good;
  }
  return StatusClass::Plain;
}

COLORREF StatusTextColor(StatusClass statusClass) {
  switch (statusClass) {
    case StatusClass::Progress: return RGB(43, 108, 176);
    case StatusClass::Good: return RGB(21, 128, 87);
    case StatusClass::Problem: return RGB(192, 57, 43);
    default: return RGB(38, 48, 52);
  }
}

// "Missing" says whether a channel is lost at all; "disabled" only chooses the wording.
std::wstring DescribeUnavailableChannels(bool captureMissing, bool renderMissing, bool captureDisabled,
                                         bool renderDisabled) {
  const std::wstring inputText = captureDisabled ? L"声卡输入通道被禁用" : L"声卡输入通道已断开";
  const std::wstring outputText = renderDisabled ? L"手机输出通道被禁用" : L"手机输出通道已断开";
  if (captureMissing && renderMissing) return inputText + L"、" + outputText;
  if (captureMissing) return inputText;
  if (renderMissing) return outputText;
  return std::wstring();
}

void SetBalloonSink(BalloonSink sink) { balloonSink = sink; }

void ShowBalloon(const std::wstring& title, const std::wstring& text, NoticeIcon icon) {
  if (balloonSink != nullptr) balloonSink(title, text, icon);
}

SnapshotInput CaptureWindowState(const WindowFlags& flags) {
  SnapshotInput snapshot;
  snapshot.statusText = currentText;
  snapshot.flags = flags;
  snapshot.captureIndex = SelectedDeviceItem(kCaptureComboId);
  snapshot.renderIndex = SelectedDeviceItem(kRenderComboId);
  snapshot.captureResolvedId = ResolveSelection(captureList, snapshot.captureIndex, Flow::Capture).id;
  snapshot.renderResolvedId = ResolveSelection(renderList, snapshot.renderIndex, Flow::Render).id;
  return snapshot;
}

}  // namespace varn
