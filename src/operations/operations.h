#pragma once
// The program's operations: what every worker task is, the tag its outcome comes back under,
// and the Chinese names that the log and the task lines use. The controller submits each task
// under its operation (SubmitOperation) and each task body files its outcome under it; the
// worker carries the tag without reading it, and files a task that throws under the tag it was
// submitted with. Below the routes and the diagnostics, whose bodies name their operation.

#include "worker/worker.h"

namespace varn {

enum class OperationKind : int {
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

// The Chinese display name of an operation; "未知操作" for any value outside the list.
inline const wchar_t* OperationName(OperationKind kind) {
  static const wchar_t* const names[] = {
      L"手动连接",         L"启动自动连接",       L"默认设备夺回后重连",
      L"声卡恢复后重连",   L"桥接器回插后重连",   L"启用被禁用的桥接器端点",
      L"端点启用后重连",   L"连续关闭声卡输入侦听", L"取消侦听",
      L"音量守护",         L"开机自启对齐",       L"启动准备工作",
      L"导出诊断包",
  };
  const int index = static_cast<int>(kind) - 1;
  return index >= 0 && index < static_cast<int>(sizeof(names) / sizeof(names[0])) ? names[index] : L"未知操作";
}

// The worker's tag of an operation, and the operation an outcome was filed under.
constexpr int OperationTag(OperationKind kind) { return static_cast<int>(kind); }
inline OperationKind OperationOf(const WorkerOutcome& outcome) { return static_cast<OperationKind>(outcome.op); }

}  // namespace varn
