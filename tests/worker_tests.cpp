// The worker on its real thread, reporting to a message-only window on the test thread; log
// lines are read back from a real log file.

#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>

#include <atomic>
#include <memory>
#include <stdexcept>

#include "log/log.h"
#include "support/patterns.h"
#include "support/test_support.h"
#include "worker/worker.h"

using namespace testing_support;
using varn::Progress;
using varn::SubmitTask;
using varn::WorkerOutcome;

namespace {

constexpr UINT kProgressMsg = WM_APP + 10, kDoneMsg = WM_APP + 11;
int progressPosts = 0, donePosts = 0;
bool dataCarried = false;

LRESULT CALLBACK ReceiverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kProgressMsg && message != kDoneMsg) return DefWindowProcW(window, message, wParam, lParam);
  ++(message == kProgressMsg ? progressPosts : donePosts);
  dataCarried |= wParam != 0 || lParam != 0;
  return 0;
}

// Dispatches the test thread's messages until the condition holds or the time is up.
bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  for (ULONGLONG deadline = GetTickCount64() + timeoutMs;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    if (condition()) return true;
    if (GetTickCount64() >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}
void DrainMessages() { PumpUntil([] { return true; }, 0); }

WorkerOutcome Outcome(int op, bool ok, const std::wstring& status = L"") {
  WorkerOutcome outcome;
  outcome.op = op, outcome.ok = ok, outcome.statusText = status;
  return outcome;
}
varn::WorkerTask Returning(const WorkerOutcome& outcome) {
  return [outcome](const Progress&) { return outcome; };
}
void GrabThisThread(HANDLE* thread) {
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), thread, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
}
ULONGLONG CpuMs(HANDLE thread) {
  FILETIME created, ended, kernel, user;
  if (!GetThreadTimes(thread, &created, &ended, &kernel, &user)) return ~0ULL;
  auto ticks = [](const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return (ticks(kernel) + ticks(user)) / 10000;
}
std::string U8(const wchar_t* text) { return Utf8(text); }

class Worker : public ::testing::Test {
 protected:
  void SetUp() override {
    varn::OpenLog(dir / L"VARNListenFix.exe");  // before the worker thread exists
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ReceiverProc;
    windowClass.lpszClassName = L"WorkerTestReceiver";
    RegisterClassW(&windowClass);  // fails harmlessly from the second test on
    window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    progressPosts = donePosts = 0;
    dataCarried = false;
    varn::StartWorker(window, kProgressMsg, kDoneMsg);
  }
  void TearDown() override {
    SetEvent(gate);  // never leave a task waiting after a failed test
    varn::StopWorker();
    DestroyWindow(window);
    CloseHandle(gate);
    CloseHandle(started);
    EXPECT_FALSE(dataCarried) << "messages carry no data";
  }

  // Submits and dispatches until that task's completion message has been handled.
  WorkerOutcome RunToEnd(varn::WorkerTask task, bool logTask, const wchar_t* name, int op = 0) {
    int before = donePosts;
    WorkerOutcome outcome;
    EXPECT_TRUE(SubmitTask(std::move(task), logTask, name, op));
    EXPECT_TRUE(PumpUntil([&] { return donePosts > before; }, 10000));
    EXPECT_TRUE(varn::TakeOutcome(outcome));
    return outcome;
  }

  // "LEVEL" + message of each "work" line; elapsed times become "#".
  std::vector<std::string> WorkLines() const {
    std::vector<std::string> lines;
    for (const std::string& line : SplitCrLfLines(ReadBytes(varn::LogFilePath()))) {
      size_t at = line.find("] [work] ");
      if (at == std::string::npos || at < 5) continue;
      std::string message = line.substr(at - 5, 5) + line.substr(at + 9);
      lines.push_back(ReplaceAll(message, "=[0-9]+ms", "=#ms"));
    }
    return lines;
  }

  TempDir dir;
  HWND window = nullptr;
  HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

TEST_F(Worker, HoldsOneTaskAndRefusesTheRest) {
  EXPECT_FALSE(SubmitTask(varn::WorkerTask(), true, L"empty"));
  EXPECT_FALSE(varn::IsWorkerBusy());
  std::atomic<int> runs{0};
  ASSERT_TRUE(SubmitTask([&](const Progress&) {
    SetEvent(started);
    WaitForSingleObject(gate, 30000);
    return ++runs, Outcome(1, true);
  }, true, nullptr));
  EXPECT_TRUE(varn::IsWorkerBusy());
  auto held = std::make_shared<int>(0);
  auto refused = [held, &runs](const Progress&) { return ++runs, WorkerOutcome(); };
  EXPECT_FALSE(SubmitTask(refused, true, L"pending or running"));
  ASSERT_EQ(WaitForSingleObject(started, 5000), WAIT_OBJECT_0);
  EXPECT_FALSE(SubmitTask(refused, true, L"running"));
  EXPECT_TRUE(varn::IsWorkerBusy());
  EXPECT_EQ(held.use_count(), 2) << "refused copies are destroyed";

  SetEvent(gate);
  ASSERT_TRUE(PumpUntil([] { return donePosts == 1; }, 5000));
  // Ended, but its outcome is not taken yet: a task submitted in that moment (a timer's volume
  // guard) would replace it unseen.
  EXPECT_TRUE(varn::IsWorkerBusy());
  EXPECT_FALSE(SubmitTask(refused, true, L"before the outcome was taken"));
  WorkerOutcome first;
  ASSERT_TRUE(varn::TakeOutcome(first));
  EXPECT_EQ(first.op, 1);
  EXPECT_FALSE(varn::IsWorkerBusy());
  EXPECT_EQ(runs, 1) << "refused tasks never ran";
  EXPECT_EQ(RunToEnd(Returning(Outcome(2, true)), true, nullptr).op, 2) << "idle again";
}

TEST_F(Worker, AnOutcomeThatCannotBeAnnouncedIsDroppedAndFreesTheWorker) {
  DestroyWindow(window);  // the completion message has nowhere to go
  ASSERT_TRUE(SubmitTask(Returning(Outcome(1, true)), false, nullptr));
  EXPECT_TRUE(WaitUntil([] { return !varn::IsWorkerBusy(); }, 5000));
  WorkerOutcome outcome;
  EXPECT_FALSE(varn::TakeOutcome(outcome));
}

TEST_F(Worker, StartAndEndLinesAreExact) {
  WorkerOutcome connected = Outcome(1, true, L"完成：已连接");
  connected.listenKnown = connected.listening = true;
  RunToEnd([&](const Progress&) { return Sleep(150), connected; }, true, L"手动连接");
  RunToEnd(Returning(WorkerOutcome()), true, nullptr);
  WorkerOutcome cancelled = Outcome(9, false, L"100% %s %d");
  cancelled.listenKnown = true;
  RunToEnd(Returning(cancelled), true, L"名字 %s %d");
  EXPECT_EQ(WorkLines(), (std::vector<std::string>{
      "INFO " + U8(L"任务开始 [手动连接]"), "INFO " + U8(L"任务结束 op=1 ok=1 耗时=#ms listen=1 状态=完成：已连接"),
      "INFO " + U8(L"任务开始 [未命名任务]"), "INFO " + U8(L"任务结束 op=0 ok=0 耗时=#ms listen=-1 状态=(无)"),
      "INFO " + U8(L"任务开始 [名字 %s %d]"), "INFO " + U8(L"任务结束 op=9 ok=0 耗时=#ms listen=0 状态=100% %s %d")}));
  std::string firstEnd = SplitCrLfLines(ReadBytes(varn::LogFilePath())).at(1);
  std::vector<std::string> elapsed;
  ASSERT_TRUE(Search(firstEnd, "=([0-9]+)ms", &elapsed));
  EXPECT_GE(std::stoull(elapsed[1]), 140u);
  EXPECT_LT(std::stoull(elapsed[1]), 5000u);
}

TEST_F(Worker, LatestOutcomeAndProgressWinAndTravelWhole) {
  // Nothing is dispatched while the first task runs: a sent rather than posted message would
  // stall the worker, and it would never get to its end. It is a silent task.
  ASSERT_TRUE(SubmitTask([&](const Progress& progress) {
    for (const wchar_t* text : {L"一", L"二", L"正在检查音量..."}) progress.ReportProgress(text);
    SetEvent(started);
    return Outcome(10, true, L"first");
  }, false, L"音量守护"));
  ASSERT_EQ(WaitForSingleObject(started, 5000), WAIT_OBJECT_0);
  ASSERT_TRUE(PumpUntil([] { return donePosts == 1 && progressPosts == 3; }, 5000));
  WorkerOutcome full{2, true, true, L"状态", L"错误", false, true, true, true, L"标题", L"气球", varn::NoticeIcon::Warning, L"通知", true, true};
  WorkerOutcome first;
  ASSERT_TRUE(varn::TakeOutcome(first));
  EXPECT_EQ(first.statusText, L"first");
  EXPECT_TRUE(SubmitTask(Returning(full), true, L"second"));
  ASSERT_TRUE(PumpUntil([] { return donePosts == 2; }, 5000));

  EXPECT_EQ(WorkLines(), (std::vector<std::string>{
      "INFO " + U8(L"进度: 一"), "INFO " + U8(L"进度: 二"), "INFO " + U8(L"进度: 正在检查音量..."),
      "INFO " + U8(L"任务开始 [second]"), "INFO " + U8(L"任务结束 op=2 ok=1 耗时=#ms listen=1 状态=状态")}));
  std::wstring text;
  EXPECT_TRUE(varn::TakeProgressText(text));
  EXPECT_EQ(text, L"正在检查音量...");
  EXPECT_FALSE(varn::TakeProgressText(text));
  WorkerOutcome t;
  ASSERT_TRUE(varn::TakeOutcome(t));
  EXPECT_TRUE(t.op == 2 && t.ok && t.showErrorBox && t.statusText == full.statusText && t.errorText == full.errorText &&
              !t.updateStatus && t.showWindow && t.autostartKnown && t.autostartEnabled &&
              t.balloonTitle == full.balloonTitle && t.balloonText == full.balloonText && t.balloonIcon == varn::NoticeIcon::Warning &&
              t.noticeText == full.noticeText && t.listenKnown && t.listening);
  WorkerOutcome mine = Outcome(77, true, L"caller's own");
  EXPECT_FALSE(varn::TakeOutcome(mine));
  EXPECT_TRUE(mine.op == 77 && mine.statusText == L"caller's own") << "left untouched";
}

TEST_F(Worker, StopWaitsForTheRunningTaskPostsNothingAndRefusesLaterTasks) {
  std::atomic<bool> finished{false};
  ASSERT_TRUE(SubmitTask([&](const Progress& progress) {
    SetEvent(started);
    Sleep(400);
    progress.ReportProgress(L"late");
    return finished = true, Outcome(1, true);
  }, true, L"long"));
  ASSERT_EQ(WaitForSingleObject(started, 5000), WAIT_OBJECT_0);
  varn::StopWorker();
  EXPECT_TRUE(finished) << "StopWorker returned before the task ended";
  DrainMessages();  // the thread has ended, so anything it posted is queued by now
  EXPECT_EQ(donePosts + progressPosts, 0);
  EXPECT_FALSE(varn::IsWorkerBusy());
  auto held = std::make_shared<int>(0);
  EXPECT_FALSE(SubmitTask([held](const Progress&) { return WorkerOutcome(); }, true, L"after stop"));
  EXPECT_EQ(held.use_count(), 1);
}

TEST_F(Worker, ThrowingTaskBecomesAFailureAndTheWorkerGoesOn) {
  WorkerOutcome thrown = RunToEnd([](const Progress&) -> WorkerOutcome { throw std::runtime_error("boom"); },
                                  true, L"手动连接", 1);
  EXPECT_EQ(thrown.op, 1) << "filed under the operation it was submitted for";
  EXPECT_TRUE(!thrown.ok && thrown.statusText.empty() && thrown.updateStatus && !thrown.listenKnown);
  EXPECT_EQ(RunToEnd([](const Progress&) -> WorkerOutcome { throw 7; }, false, nullptr).op, 0);
  EXPECT_TRUE(RunToEnd(Returning(Outcome(3, true)), false, L"after").ok);
  EXPECT_EQ(WorkLines(), (std::vector<std::string>{
      "INFO " + U8(L"任务开始 [手动连接]"), "ERROR" + U8(L"任务异常结束 [手动连接] 原因=boom"),
      "INFO " + U8(L"任务结束 op=1 ok=0 耗时=#ms listen=-1 状态=(无)"),
      "ERROR" + U8(L"任务异常结束 [未命名任务] 原因=未知异常")}));
}

TEST_F(Worker, TasksRunOnOneMultithreadedThreadThatSleepsWhenIdle) {
  HANDLE thread = nullptr;
  APTTYPE apartment = APTTYPE_STA;
  DWORD threadId = 0;
  RunToEnd([&](const Progress&) { return GrabThisThread(&thread), WorkerOutcome(); }, false, nullptr);
  RunToEnd([&](const Progress&) {
    APTTYPEQUALIFIER qualifier;
    if (FAILED(CoGetApartmentType(&apartment, &qualifier))) apartment = APTTYPE_STA;
    return threadId = GetCurrentThreadId(), WorkerOutcome();
  }, false, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(apartment, APTTYPE_MTA);
  EXPECT_EQ(threadId, GetThreadId(thread)) << "one thread for every task";

  ULONGLONG before = CpuMs(thread);
  Sleep(1000);  // the measured span: a polling loop would burn most of it
  EXPECT_LT(CpuMs(thread) - before, 100u);
  before = CpuMs(thread);  // and the measurement does see work when there is some
  RunToEnd([](const Progress&) {
    for (ULONGLONG start = CpuMs(GetCurrentThread()), deadline = GetTickCount64() + 5000;
         CpuMs(GetCurrentThread()) - start < 300 && GetTickCount64() < deadline;) {}
    return WorkerOutcome();
  }, false, nullptr);
  EXPECT_GE(CpuMs(thread) - before, 250u);
  varn::StopWorker();
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "the thread ended with the stop";
  CloseHandle(thread);
}

// A task that outlives the 20000 ms stop limit is abandoned. When it ends at last, after a new
// start, its thread must neither take work nor report into the new worker's slots and window.
TEST_F(Worker, AbandonedThreadStaysOutOfTheNextStart) {
  HANDLE old = nullptr;
  ASSERT_TRUE(SubmitTask([&](const Progress& progress) {
    GrabThisThread(&old);
    SetEvent(started);
    WaitForSingleObject(gate, 60000);
    progress.ReportProgress(L"stale");
    return Outcome(1, true, L"stale");
  }, true, L"stuck"));
  ASSERT_EQ(WaitForSingleObject(started, 5000), WAIT_OBJECT_0);
  ULONGLONG start = GetTickCount64();
  varn::StopWorker();
  EXPECT_GE(GetTickCount64() - start, 19900u);
  EXPECT_LT(GetTickCount64() - start, 25000u);

  varn::StartWorker(window, kProgressMsg, kDoneMsg);
  SetEvent(gate);
  ASSERT_EQ(WaitForSingleObject(old, 5000), WAIT_OBJECT_0) << "the abandoned thread ends by itself";
  CloseHandle(old);
  DrainMessages();
  EXPECT_EQ(donePosts + progressPosts, 0);
  WorkerOutcome outcome;
  std::wstring text;
  EXPECT_FALSE(varn::TakeOutcome(outcome) || varn::TakeProgressText(text));
  EXPECT_EQ(RunToEnd(Returning(Outcome(2, true)), false, nullptr).op, 2);
}

}  // namespace
