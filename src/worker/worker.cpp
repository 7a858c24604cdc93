#include "worker/worker.h"

#include <objbase.h>

#include <exception>
#include <memory>
#include <new>
#include <utility>

#include "log/log.h"
#include "base/scoped_handles.h"
#include "base/scoped_lock.h"
#include "base/text.h"

namespace varn {

namespace {

constexpr wchar_t kWorkTag[] = L"work";
constexpr wchar_t kUnnamedTask[] = L"未命名任务";
// A last resort only: at exit the tool runner's shutdown flag ends outside commands first, so
// a running task normally returns well within this.
constexpr DWORD kStopWaitMs = 20000;

// Everything but the handles is touched only under the lock; the handles are written under it
// too, so that a submission from any thread sees a consistent pair.
struct WorkerState {
  KernelHandle thread;
  KernelHandle wake;
  // Bumped by every start. A thread serves the generation it was started for; one left behind
  // by a stop that timed out finds a newer generation and neither takes tasks nor publishes.
  unsigned generation = 0;
  HWND target = nullptr;
  UINT progressMsg = 0;
  UINT doneMsg = 0;
  WorkerTask pendingTask;
  bool pendingLog = true;
  std::wstring pendingName;
  int pendingOp = 0;
  bool busy = false;
  std::wstring busyName;  // the name of the task that makes the worker busy
  bool stopping = false;
  WorkerOutcome outcome;
  bool outcomeReady = false;
  std::wstring progress;
  bool progressReady = false;
};

WorkerState state;
// A slim lock needs no creation step, so whichever operation comes first may take it.
SRWLOCK lock = SRWLOCK_INIT;
// The generation the calling thread works for; 0 on every thread that is no worker.
thread_local unsigned servedGeneration = 0;

// The thread owns its own copy of the wake event: a stop that gives up after 20000 ms closes
// the shared handle while the thread may still come back to wait on it.
struct ThreadContext {
  KernelHandle wake;
  unsigned generation = 0;
};

struct TakenTask {
  WorkerTask task;
  bool log = true;
  std::wstring name;
  int op = 0;
};

// Empties the pending slot. The caller destroys what it got after the lock is released, since
// a task's captured objects may log when they go.
WorkerTask TakePendingLocked() {
  WorkerTask task = std::move(state.pendingTask);
  state.pendingTask = nullptr;
  state.pendingLog = true;
  state.pendingName.clear();
  state.pendingOp = 0;
  return task;
}

// False when this thread is to end: a stop is in progress, or a newer start replaced it.
bool TakeNextTask(unsigned generation, TakenTask& taken) {
  ScopedExclusiveLock scope(lock);
  if (state.stopping || state.generation != generation) return false;
  taken.log = state.pendingLog;
  taken.name = std::move(state.pendingName);
  taken.op = state.pendingOp;
  taken.task = TakePendingLocked();
  return true;
}

std::wstring FromAnsi(const char* text) {
  if (text == nullptr) return std::wstring();
  int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 1) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
  wide.resize(static_cast<size_t>(length - 1));
  return wide;
}

// The one guard against a task that throws (in practice only an allocation can): the thread
// survives it, the task counts as failed under the operation it was submitted for, and the
// reason is logged.
WorkerOutcome CallTask(const TakenTask& taken, const wchar_t* shownName) {
  std::wstring reason;
  try {
    return taken.task(Progress());
  } catch (const std::exception& error) {
    reason = FromAnsi(error.what());
  } catch (...) {
  }
  if (reason.empty()) reason = L"未知异常";
  LogError(kWorkTag, FormatText(L"任务异常结束 [%s] 原因=%s", shownName, reason.c_str()));
  WorkerOutcome failed;
  failed.op = taken.op;
  return failed;
}

// The worker stays busy until the window has taken the outcome: a task accepted before that
// (a volume guard from a timer, say) would finish first and replace an outcome the window has
// not seen, such as the start-up work's or a connect's. An outcome that cannot be announced
// (no window, a full queue) would keep the worker busy for ever; it is dropped instead.
void PublishOutcome(WorkerOutcome&& outcome, unsigned generation) {
  HWND target = nullptr;
  UINT message = 0;
  {
    ScopedExclusiveLock scope(lock);
    if (state.generation != generation) return;
    state.outcome = std::move(outcome);
    state.outcomeReady = true;
    target = state.target;
    message = state.doneMsg;
  }
  if (target != nullptr && PostMessageW(target, message, 0, 0)) return;
  ScopedExclusiveLock scope(lock);
  if (state.generation != generation || !state.outcomeReady) return;
  state.outcome = WorkerOutcome();
  state.outcomeReady = false;
  state.busy = false;
}

// Milliseconds on the performance counter: the tick count moves in 16 ms steps, and under Wine
// it can fall behind by a tenth of a second on a busy machine (a 150 ms task read as 46 ms).
ULONGLONG NowMs() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return static_cast<ULONGLONG>(now.QuadPart / frequency.QuadPart * 1000 +
                                now.QuadPart % frequency.QuadPart * 1000 / frequency.QuadPart);
}

void RunTask(TakenTask& taken, unsigned generation) {
  ULONGLONG started = NowMs();
  const wchar_t* shownName = taken.name.empty() ? kUnnamedTask : taken.name.c_str();
  if (taken.log) LogInfo(kWorkTag, std::wstring(L"任务开始 [") + shownName + L"]");
  WorkerOutcome outcome = CallTask(taken, shownName);
  if (taken.log) {
    unsigned long long elapsed = NowMs() - started;
    int listen = outcome.listenKnown ? (outcome.listening ? 1 : 0) : -1;
    const wchar_t* status = outcome.statusText.empty() ? L"(无)" : outcome.statusText.c_str();
    LogInfo(kWorkTag, FormatText(L"任务结束 op=%d ok=%d 耗时=%llums listen=%d 状态=%s",
                                 outcome.op, outcome.ok ? 1 : 0, elapsed, listen, status));
  }
  PublishOutcome(std::move(outcome), generation);
}

// Sleeps on the event between tasks and never polls. A wake that finds no task waiting goes
// back to sleep.
// The context, and with it the thread's wake handle, lives until the thread returns; it goes
// after the apartment has been left.
DWORD WINAPI WorkerLoop(void* parameter) {
  std::unique_ptr<ThreadContext> context(static_cast<ThreadContext*>(parameter));
  servedGeneration = context->generation;
  ComApartment com(COINIT_MULTITHREADED);
  // A wait that fails would return at once for ever; ending the thread is better than spinning.
  while (WaitForSingleObject(context->wake.get(), INFINITE) == WAIT_OBJECT_0) {
    TakenTask taken;
    if (!TakeNextTask(context->generation, taken)) break;
    if (!taken.task) continue;
    RunTask(taken, context->generation);
  }
  return 0;
}

}  // namespace

void Progress::ReportProgress(const std::wstring& text) const {
  LogInfo(kWorkTag, L"进度: " + text);
  HWND target = nullptr;
  UINT message = 0;
  {
    ScopedExclusiveLock scope(lock);
    if (servedGeneration != 0 && servedGeneration != state.generation) return;
    state.progress = text;
    state.progressReady = true;
    target = state.target;
    message = state.progressMsg;
  }
  if (target != nullptr) PostMessageW(target, message, 0, 0);
}

void StartWorker(HWND window, UINT progressMsg, UINT doneMsg) {
  StopWorker();
  WorkerTask discarded;
  unsigned generation = 0;
  {
    ScopedExclusiveLock scope(lock);
    state.target = window;
    state.progressMsg = progressMsg;
    state.doneMsg = doneMsg;
    state.progress.clear();
    state.outcome = WorkerOutcome();
    discarded = TakePendingLocked();
    state.busy = false;
    state.outcomeReady = false;
    state.progressReady = false;
    state.stopping = false;
    generation = ++state.generation;
  }
  discarded = nullptr;

  KernelHandle wake(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!wake) return;
  HANDLE duplicate = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), wake.get(), GetCurrentProcess(), &duplicate, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return;
  }
  KernelHandle threadWake(duplicate);
  std::unique_ptr<ThreadContext> context(new (std::nothrow) ThreadContext);
  if (!context) return;
  context->wake = std::move(threadWake);
  context->generation = generation;
  KernelHandle thread(CreateThread(nullptr, 0, WorkerLoop, context.get(), 0, nullptr));
  if (!thread) return;
  context.release();  // the thread's own from here on
  ScopedExclusiveLock scope(lock);
  state.thread = std::move(thread);
  state.wake = std::move(wake);
}

// A task still running when the stop begins finishes unseen: the target is gone from here on.
void StopWorker() {
  WorkerTask discarded;
  HANDLE thread = nullptr;
  HANDLE wake = nullptr;
  {
    ScopedExclusiveLock scope(lock);
    discarded = TakePendingLocked();
    state.target = nullptr;
    thread = state.thread.get();
    wake = state.wake.get();
    if (thread != nullptr) {
      state.stopping = true;
      state.busy = false;
    }
  }
  discarded = nullptr;
  if (thread == nullptr) return;

  SetEvent(wake);
  WaitForSingleObject(thread, kStopWaitMs);
  // Closed whether or not the thread ended in time: an abandoned thread waits on its own copy of
  // the wake event and needs neither handle.
  KernelHandle closedWake;
  KernelHandle closedThread;
  ScopedExclusiveLock scope(lock);
  closedThread = std::move(state.thread);
  closedWake = std::move(state.wake);
}

bool SubmitTask(WorkerTask task, bool logTask, const wchar_t* name, int op) {
  if (!task) return false;
  std::wstring nameText = name != nullptr ? name : L"";
  HANDLE wake = nullptr;
  {
    ScopedExclusiveLock scope(lock);
    if (state.busy || state.pendingTask || state.stopping || !state.thread) return false;
    state.pendingTask = std::move(task);
    state.pendingLog = logTask;
    state.busyName = nameText;
    state.pendingName = std::move(nameText);
    state.pendingOp = op;
    state.busy = true;
    wake = state.wake.get();
  }
  SetEvent(wake);
  return true;
}

bool IsWorkerBusy() {
  ScopedExclusiveLock scope(lock);
  return state.busy;
}

bool IsWorkerBusyWith(const wchar_t* name) {
  ScopedExclusiveLock scope(lock);
  return state.busy && name != nullptr && state.busyName == name;
}

bool TakeOutcome(WorkerOutcome& outcome) {
  ScopedExclusiveLock scope(lock);
  if (!state.outcomeReady) return false;
  outcome = std::move(state.outcome);
  state.outcome = WorkerOutcome();
  state.outcomeReady = false;
  state.busy = false;  // the task that made it counts as running until now
  return true;
}

bool TakeProgressText(std::wstring& text) {
  ScopedExclusiveLock scope(lock);
  if (!state.progressReady) return false;
  text = std::move(state.progress);
  state.progress.clear();
  state.progressReady = false;
  return true;
}

}  // namespace varn
