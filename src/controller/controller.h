#pragma once
// The route controller: window-thread code that turns user actions, task outcomes and device
// changes into worker tasks and applies what the tasks found. Window thread only.

#include <functional>
#include <string>

#include "audio/device_identity.h"
#include "operations/operations.h"
#include "routes/connect_request.h"
#include "routes/route_tasks.h"

namespace varn {

// Completion of a task (the window's 0x800B): the outcome's log line, the reaction of its
// kind, then the flags, status, balloon, window and error box it asks for, and the buttons.
void OnTaskDone();
// Connect enabled while connectEnabled and the worker is free; Cancel while the worker is free
// and the bridge is present.
void UpdateActionButtons();

// CBN_SELCHANGE of either list: saves the pick of each side whose endpoint is active; with
// both usable and the bridge listed, ends any loss and says the channels were updated.
void OnDeviceSelectionChanged();

// "立即连接" from the button or the tray; true when a task was submitted.
bool OnConnectCommand(bool interactive);
bool SubmitConnect(ConnectRequest request);
// Hands the task to the worker under its operation, named as the operation is named; true when
// it was accepted.
bool SubmitOperation(OperationKind kind, WorkerTask task, bool logTask = true);
// Puts the route ledger into the request, so that its task switches off the held routes the
// new ones do not use.
void CarryHeldRoutes(ConnectRequest& request);
// A connect the program asks for itself (after start-up, a returned device, an enabled
// bridge): what it is, how often each route is switched on, and what it says.
struct RecoveryConnect {
  OperationKind kind = OperationKind::StartupAutoConnect;
  int passes = 1;
  std::wstring progressText;
  std::wstring successText;
  std::wstring successBalloonTitle;
  std::wstring successBalloonText;
  std::wstring failureBalloonTitle;
  std::wstring failureBalloonText;
  bool showBalloon = false;
};
bool SubmitRecoveryConnect(const RecoveryConnect& recovery);
// "取消连接" from the button or the tray; true when the task was submitted. Asked for while a task
// builds the routes, it is kept, said so in the status line, and carried out once that task's
// outcome is in (CarryOutKeptCancel).
bool StartCancel();
// An outcome was taken: after a task that builds the routes, the cancel kept meanwhile runs.
void CarryOutKeptCancel(OperationKind op);
// A user's action that finds the worker busy with the volume guard waits for the guard's
// outcome instead of being refused; one waiting action per kind, the latest winning. The early
// device run waits the same way.
enum class GuardWaiter { RouteAction, Export, EarlyWatch, Count };
// True when the action was kept for later (the guard runs); false when the worker is busy
// with anything else, or not at all.
bool RunAfterGuard(GuardWaiter waiter, std::function<void()> action);
// An outcome was taken: after the guard's, carries out what waited for it; after any other,
// drops it. Then submits a logon task alignment that found the worker busy.
void OnOutcomeTaken(OperationKind op);
// Switches listening on the sound card input off three times in a row, on the worker; a
// request without an input id does nothing.
void SubmitStopListen(const StopListenRequest& request);
// The same, silently: no status, balloon or window.
void SubmitSilentStopListen(const DeviceIdentity& input);

// "导出诊断日志到桌面" from the tray or the window's menu: the export task, unless the worker
// is busy (then a box says so).
void ExportDiagnostics();

// The watchdog, run by timer 1 every 1500 ms, and early after a burst of device notifications.
void EvaluateDeviceState();
// Enables disabled bridge endpoints on the worker; true when the task was accepted.
bool SubmitEnableBridgeAndReconnect();

}  // namespace varn
