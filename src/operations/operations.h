#pragma once
// The program's operations: what every worker task is, under which the outcome comes back to
// the window, with the Chinese names that the log and the task lines use. Below the routes and
// the diagnostics, whose task bodies say which operation they report for.

namespace varn {

// Which operation an outcome belongs to (WorkerOutcome::op); also the source of the task names.
enum OperationKind : int {
  ManualConnect = 1,
  StartupAutoConnect = 2,
  DefaultReclaimReconnect = 3,
  InputRecoveryReconnect = 4,
  BridgeReturnReconnect = 5,
  EnableBridgeEndpoints = 6,
  EndpointEnabledReconnect = 7,
  RepeatStopInputListen = 8,
  CancelListen = 9,
  VolumeGuard = 10,
  AutostartSync = 11,
  StartupWork = 12,
  DiagnosticsExport = 13,
};

// The Chinese display name of an operation; "未知操作" for any other value, 0 included.
const wchar_t* OperationName(int kind);

}  // namespace varn
