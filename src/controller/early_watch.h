#pragma once
// Device evaluation ahead of the poll: a device-change notification brings one extra run of
// EvaluateDeviceState soon after, so that an unplugged bridge is repaired well before the next
// 1500 ms tick. The poll stays as it is and still finds every change; a notification that never
// comes only means the change waits for it. Window thread only.

#include <windows.h>

namespace varn {

constexpr UINT kEarlyWatchQuietMs = 100;    // a burst of notifications becomes one run
constexpr UINT kEarlyWatchSpacingMs = 300;  // at most one early run in this time

// The wait before the early run, counted from a notification at `nowMs`; `lastRunMs` is when
// the last early run started, 0 for none.
UINT EarlyWatchDelayMs(ULONGLONG nowMs, ULONGLONG lastRunMs);

// Registers for device-change notifications posted to the window as `message`; a refusal is
// logged once and leaves the program on polling alone.
void StartEarlyWatch(HWND window, UINT message);
// Unregisters (no message is posted afterwards) and stops a pending early run.
void StopEarlyWatch(HWND window);
// The posted message arrived: the early run follows after a quiet period.
void OnDeviceChangeNotice(HWND window);
// The early-run timer fired.
void OnEarlyWatchTimer(HWND window);

}  // namespace varn
