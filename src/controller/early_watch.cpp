// The early run after a device-change notification. Windows sends several notifications for
// one change (each endpoint of a device, each role of a default), so the run waits until the
// notifications have been quiet for a moment, and early runs keep a distance from each other
// so that a device that flaps cannot make the watchdog run without pause.

#include "controller/early_watch.h"

#include <algorithm>
#include <vector>

#include "audio/device_notifications.h"
#include "controller/controller.h"
#include "log/log.h"
#include "base/text.h"
#include "ui/device_lists.h"
#include "ui/window_state.h"

namespace varn {

namespace {

// The notifications since the last early run, and the endpoint lists when the first of them
// came: the run logs only when the lists have changed since, so that the log says how a change
// was found without a line per notification.
int noticesInBurst = 0;
bool burstOpen = false;
std::vector<DeviceIdentity> captureBeforeBurst;
std::vector<DeviceIdentity> renderBeforeBurst;
ULONGLONG lastEarlyRunMs = 0;

}  // namespace

UINT EarlyWatchDelayMs(ULONGLONG nowMs, ULONGLONG lastRunMs) {
  if (lastRunMs == 0 || nowMs >= lastRunMs + kEarlyWatchSpacingMs) return kEarlyWatchQuietMs;
  return std::max(kEarlyWatchQuietMs, static_cast<UINT>(lastRunMs + kEarlyWatchSpacingMs - nowMs));
}

void StartEarlyWatch(HWND window, UINT message) {
  HRESULT hr = S_OK;
  if (StartDeviceNotifications(window, message, hr)) return;
  LogWarn(L"dev", FormatText(L"设备变化通知注册失败 %s，改为只靠每 1500 ms 的巡检发现设备变化",
                             FormatErrorCode(static_cast<std::uint32_t>(hr)).c_str()));
}

void StopEarlyWatch(HWND window) {
  StopDeviceNotifications();
  KillTimer(window, kTimerEarlyWatch);
}

void OnDeviceChangeNotice(HWND window) {
  noticesInBurst += TakeDeviceNotifications();
  if (!burstOpen) {
    burstOpen = true;
    captureBeforeBurst = captureList;
    renderBeforeBurst = renderList;
  }
  // Restarted by every notice: the run waits for a quiet moment.
  SetTimer(window, kTimerEarlyWatch, EarlyWatchDelayMs(GetTickCount64(), lastEarlyRunMs), nullptr);
}

void OnEarlyWatchTimer(HWND window) {
  KillTimer(window, kTimerEarlyWatch);
  // The volume guard holds the worker for a moment every five seconds and changes no device.
  // A run now would stop at the busy worker and leave the repair to the next poll, up to 1.5 s
  // away: it runs as soon as the guard's outcome is in instead. Any other task is changing the
  // routes itself, and the run stops at it as the poll does.
  if (RunAfterGuard(GuardWaiter::EarlyWatch, [window] { OnEarlyWatchTimer(window); })) return;
  lastEarlyRunMs = GetTickCount64();
  EvaluateDeviceState();
  if (!SameEntries(captureList, captureBeforeBurst) || !SameEntries(renderList, renderBeforeBurst)) {
    LogInfo(L"dev", FormatText(L"设备变化通知 %d 条合并为一次提前巡检，设备列表已更新", noticesInBurst));
  }
  burstOpen = false;
  noticesInBurst = 0;
}

}  // namespace varn
