#include "routes/listen_routes.h"

#include <windows.h>

#include "log/log.h"
#include "base/text.h"
#include "tool_runner/tool_runner.h"

namespace varn {

namespace {

constexpr DWORD kRetryPauseStepMs = 250;
constexpr DWORD kRetryPauseLimitMs = 1000;
constexpr DWORD kSwitchPauseMs = 200;
constexpr DWORD kStopPassPauseMs = 150;

bool SetPlaybackTarget(const std::wstring& sourceId, const std::wstring& targetId) {
  return RunSoundTool(L"/SetPlaybackThroughDevice " + QuoteArgument(sourceId) + L" " +
                      QuoteArgument(targetId));
}

bool SetListening(const std::wstring& sourceId, bool on) {
  return RunSoundTool(L"/SetListenToThisDevice " + QuoteArgument(sourceId) + (on ? L" 1" : L" 0"));
}

// The target is set first so that listening never starts on the wrong device.
bool TryRoute(const DeviceIdentity& source, const DeviceIdentity& target, bool on) {
  if (!on) return SetListening(source.id, false);
  return SetPlaybackTarget(source.id, target.id) && SetListening(source.id, true);
}

}  // namespace

bool SetListenRoute(const DeviceIdentity& source, const DeviceIdentity& target, bool on) {
  if (IsShutdownSignalled()) return false;
  const wchar_t* word = on ? L"开启" : L"关闭";
  DWORD pause = kRetryPauseStepMs;
  for (int failures = 1;; ++failures) {
    if (TryRoute(source, target, on)) return true;
    LogWarn(L"route", FormatText(L"SetListenRoute 第 %d 次未成功(%s) 源=%s 目标=%s", failures, word,
                                 source.id.c_str(), target.id.c_str()));
    Sleep(pause);
    pause += kRetryPauseStepMs;
    if (pause >= kRetryPauseLimitMs) {
      LogError(L"route", FormatText(L"SetListenRoute 三次均失败(%s) 源=%s 目标=%s", word,
                                    source.id.c_str(), target.id.c_str()));
      return false;
    }
    if (IsShutdownSignalled()) return false;
  }
}

bool EstablishListenRoutes(const DeviceIdentity& s1, const DeviceIdentity& t1,
                           const DeviceIdentity& s2, const DeviceIdentity& t2, int count) {
  ULONGLONG start = GetTickCount64();
  LogInfo(L"route",
          FormatText(L"开始建立侦听 连接次数=%d | ①%s[%s]→%s[%s] | ②%s[%s]→%s[%s]", count,
                     s1.name.c_str(), s1.id.c_str(), t1.name.c_str(), t1.id.c_str(),
                     s2.name.c_str(), s2.id.c_str(), t2.name.c_str(), t2.id.c_str()));
  for (int pass = 1; pass <= count; ++pass) {
    if (IsShutdownSignalled()) return false;
    if (!SetListenRoute(s1, t1, true)) {
      LogError(L"route", FormatText(L"建立侦听失败：第 %d 次开启两条路由不成功", pass));
      return false;
    }
    if (!SetListenRoute(s2, t2, true)) {
      LogError(L"route", FormatText(L"建立侦听失败：第 %d 次开启反向路由不成功", pass));
      return false;
    }
    Sleep(kSwitchPauseMs);
    if (pass == count) break;
    // Both are switched off even when the first refuses, so that route ② is not left playing.
    bool firstOff = SetListenRoute(s1, t1, false);
    bool secondOff = SetListenRoute(s2, t2, false);
    if (!firstOff || !secondOff) return false;
    Sleep(kSwitchPauseMs);
  }
  LogInfo(L"route", FormatText(L"建立侦听完成 连接次数=%d 耗时=%llums", count,
                               GetTickCount64() - start));
  return true;
}

bool StopListenRepeatedly(const DeviceIdentity& source, int count) {
  if (source.id.empty()) return false;
  for (int pass = 1; pass <= count; ++pass) {
    if (IsShutdownSignalled()) return false;
    if (!SetListening(source.id, false)) {
      LogWarn(L"route", FormatText(L"连续关闭声卡输入侦听：第 %d/%d 次未成功", pass, count));
      return false;
    }
    Sleep(kStopPassPauseMs);
  }
  LogInfo(L"route", FormatText(L"已连续关闭声卡输入侦听 %d 次（防止系统回退到默认播放设备）", count));
  return true;
}

}  // namespace varn
