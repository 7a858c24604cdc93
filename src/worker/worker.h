#pragma once
// The background worker: one thread that runs one slow task at a time, so the window never
// blocks. It runs whatever it is given and knows no operation. It holds at most one task in waiting and refuses any other submission meanwhile.
// Progress texts and outcomes wait in one slot each; the window hears of them through posted
// messages that carry no data and then takes them from here.

#include <windows.h>

#include <functional>
#include <string>

namespace varn {

// The icon of a tray notice; the values are the tray's own (NIIF_INFO, NIIF_WARNING).
enum class NoticeIcon : DWORD {
  Information = 1,
  Warning = 2,
};

// What a task found, copied whole to the window thread, which alone decides what it means.
struct WorkerOutcome {
  int op = 0;  // the submitter's tag (the controller's operation); the worker never reads it
  bool ok = false;
  bool showErrorBox = false;
  std::wstring statusText;
  std::wstring errorText;
  bool updateStatus = true;
  bool showWindow = false;
  bool autostartKnown = false;
  bool autostartEnabled = false;
  std::wstring balloonTitle;
  std::wstring balloonText;
  NoticeIcon balloonIcon = NoticeIcon::Information;
  std::wstring noticeText;
  bool listenKnown = false;
  bool listening = false;
  // The task recorded new routes in the ledger and started switching them on: route ① may
  // play even when the task failed half way.
  bool routesRecorded = false;
};

// Handed to the running task; its only use is reporting a progress text while the task runs.
class Progress {
 public:
  void ReportProgress(const std::wstring& text) const;
};

// A task body. An empty wrapper is refused by SubmitTask.
using WorkerTask = std::function<WorkerOutcome(const Progress&)>;

// Starts the thread (stopping a running one first). The messages go to the window with
// wParam and lParam 0: progressMsg after each progress report, doneMsg after each task.
void StartWorker(HWND window, UINT progressMsg, UINT doneMsg);
// Drops a waiting task, posts nothing from now on, and waits at most 20000 ms for a running
// task to end.
void StopWorker();
// True when the task was accepted; a refused task is destroyed without running. A null name
// is an unnamed task. With logTask false the task's start and end lines are not written. A
// task that throws ends as a failed outcome filed under op; the worker never reads op
// otherwise.
bool SubmitTask(WorkerTask task, bool logTask, const wchar_t* name, int op = 0);
// True while a task is waiting or running, and after it ended until its outcome is taken.
bool IsWorkerBusy();
// The same, for a task submitted under this name only.
bool IsWorkerBusyWith(const wchar_t* name);
// Both return false and leave the argument as it was when nothing is waiting to be taken.
// Taking the outcome frees the worker for the next task.
bool TakeOutcome(WorkerOutcome& outcome);
bool TakeProgressText(std::wstring& text);

}  // namespace varn
