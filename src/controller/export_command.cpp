// The tray's "导出诊断日志到桌面": the window's state is copied here, on the window thread,
// and everything slow (reading the logs, asking Core Audio and schtasks.exe, writing the file)
// happens in the task.

#include "controller/controller.h"
#include "controller/flag_events.h"

#include <windows.h>

#include "diagnostics/export.h"
#include "base/path.h"
#include "ui/status.h"
#include "ui/window_state.h"
#include "worker/worker.h"

namespace varn {

namespace {

constexpr wchar_t kExportTitle[] = L"导出诊断包";

void ExportInfoBox(const wchar_t* text) {
  MessageBoxW(windowState.mainWindow, text, kExportTitle, MB_OK | MB_ICONINFORMATION);
}

}  // namespace

// A busy worker that is only holding the volume levels is done within a second: the export
// follows it rather than sending the user away.
void ExportDiagnostics() {
  if (IsWorkerBusy()) {
    if (RunAfterGuard(GuardWaiter::Export, [] { ExportDiagnostics(); })) return;
    ExportInfoBox(L"程序正在执行其他操作，请稍后再试。");
    return;
  }
  SnapshotInput input = CaptureWindowState(Flags());
  std::wstring programPath = GetProgramPath();
  WorkerTask task = [input, programPath](const Progress& progress) {
    return ExportDiagnosticsTaskBody(input, programPath, progress);
  };
  if (!SubmitOperation(OperationKind::DiagnosticsExport, std::move(task))) {
    ExportInfoBox(L"程序正忙，请稍后再试。");
    return;
  }
  UpdateActionButtons();
}

}  // namespace varn
