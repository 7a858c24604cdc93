// The worker on its real thread, reporting to a message-only window on the test thread; the
// log lines are read back from a real log file.

#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>

#include <atomic>
#include <memory>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "log/log.h"
#include "support/test_support.h"
#include "worker/worker.h"

using namespace testing_support;
using varn::Progress;
using varn::WorkerOutcome;

namespace {

constexpr UINT kProgressMsg = WM_APP + 10;
constexpr UINT kDoneMsg = WM_APP + 11;

struct Received {
  int progress = 0;
  int done = 0;
  bool dataCarried = false;  // a message came with a non-zero wParam or lParam
};
Received received;

LRESULT CALLBACK ReceiverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kProgressMsg && message != kDoneMsg) return DefWindowProcW(window, message, wParam, lParam);
  ++(message == kProgressMsg ? received.progress : received.done);
  if (wParam != 0 || lParam != 0) received.dataCarried = true;
  return 0;
}

// Dispatches the test thread's messages until the condition holds or the time is up.
bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    if (condition()) return true;
    if (GetTickCount64() >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

WorkerOutcome Outcome(int op, bool ok, const std::wstring& status = L"") {
  WorkerOutcome outcome;
  outcome.op = op;
  outcome.ok = ok;
  outcome.statusText = status;
  return outcome;
}

varn::WorkerTask Returning(const WorkerOutcome& outcome) {
  return [outcome](const Progress&) { return outcome; };
}

// The worker thread's own handle, taken from inside a task.
varn::WorkerTask CaptureThread(HANDLE* thread) {
  return [thread](const Progress&) {
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), thread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    return WorkerOutcome();
  };
}

ULONGLONG CpuMs(HANDLE thread) {
  FILETIME created, ended, kernel, user;
  if (!GetThreadTimes(thread, &created, &ended, &kernel, &user)) return ~0ULL;
  auto ticks = [](const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return (ticks(kernel) + ticks(user)) / 10000;
}

class Worker : public ::testing::Test {
 protected:
  void SetUp() override {
    varn::OpenLog(dir / L"VARNListenFix.exe");  // before the worker thread exists
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ReceiverProc;
    windowClass.lpszClassName = L"WorkerTestReceiver";
    RegisterClassW(&windowClass);  // fails harmlessly from the second test on
    window = CreateWindowExW(0, L"WorkerTestReceiver", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    received = Received();
    varn::StartWorker(window, kProgressMsg, kDoneMsg);
  }
  void TearDown() override {
    SetEvent(gate);  // never leave a task waiting for a failed test
    varn::StopWorker();
    DestroyWindow(window);
    CloseHandle(gate);
    CloseHandle(started);
    EXPECT_FALSE(received.dataCarried) << "messages carry no data";
  }

  // Submits and pumps until that task's completion message has been handled.
  WorkerOutcome RunToEnd(varn::WorkerTask task, bool logTask, const wchar_t* name) {
    int before = received.done;
    WorkerOutcome outcome;
    EXPECT_TRUE(varn::SubmitTask(std::move(task), logTask, name));
    EXPECT_TRUE(PumpUntil([&] { return received.done > before; }, 10000));
    EXPECT_TRUE(varn::TakeOutcome(outcome));
    return outcome;
  }

  // A task that signals `started`, waits for `gate`, and counts its runs.
  varn::WorkerTask Gated(int op) {
    return [this, op](const Progress&) {
      SetEvent(started);
      WaitForSingleObject(gate, 30000);
      ++runs;
      return Outcome(op, true);
    };
  }

  // Messages of the "work" log lines, UTF-8, each with its level; elapsed times become "#".
  std::vector<std::string> WorkLines() const {
    std::vector<std::string> lines;
    for (const std::string& line : SplitCrLfLines(ReadBytes(varn::LogFilePath()))) {
      size_t at = line.find("] [work] ");
      if (at == std::string::npos || at < 5) continue;
      std::string message = line.substr(at - 5, 5) + line.substr(at + 9);
      lines.push_back(std::regex_replace(message, std::regex("=[0-9]+ms"), "=#ms"));
    }
    return lines;
  }

  TempDir dir;
  HWND window = nullptr;
  HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> runs{0};
};

std::string U8(const wchar_t* text) { return Utf8(text); }

TEST(OperationName, EveryKindHasItsNameAndOthersAreUnknown) {
  const wchar_t* const names[] = {L"未知操作", L"手动连接", L"启动自动连接", L"默认设备夺回后重连",
                                  L"声卡恢复后重连", L"桥接器回插后重连", L"启用被禁用的桥接器端点",
                                  L"端点启用后重连", L"连续关闭声卡输入侦听", L"取消侦听", L"音量守护",
                                  L"开机自启对齐", L"启动准备工作", L"导出诊断包"};
  for (int kind = 0; kind <= 13; ++kind) EXPECT_STREQ(varn::OperationName(kind), names[kind]) << kind;
  for (int kind : {-1, 14, 1000}) EXPECT_STREQ(varn::OperationName(kind), L"未知操作") << kind;
}

TEST(WorkerNotStarted, RefusesTasksAndDestroysThem) {
  varn::StopWorker();
  auto held = std::make_shared<int>(0);
  EXPECT_FALSE(varn::SubmitTask([held](const Progress&) { ++*held; return WorkerOutcome(); }, true, L"x"));
  EXPECT_EQ(held.use_count(), 1) << "a refused task is destroyed";
  EXPECT_EQ(*held, 0);
  EXPECT_FALSE(varn::IsWorkerBusy());
}

TEST_F(Worker, HoldsOneTaskAndRefusesTheRest) {
  EXPECT_FALSE(varn::SubmitTask(varn::WorkerTask(), true, L"empty"));
  EXPECT_FALSE(varn::IsWorkerBusy());

  ASSERT_TRUE(varn::SubmitTask(Gated(1), true, nullptr));
  EXPECT_TRUE(varn::IsWorkerBusy());
  auto held = std::make_shared<int>(0);
  auto refused = [held, this](const Progress&) { ++runs; return WorkerOutcome(); };
  EXPECT_FALSE(varn::SubmitTask(refused, true, L"pending or running"));
  ASSERT_EQ(WaitForSingleObject(started, 5000), WAIT_OBJECT_0);
  EXPECT_FALSE(varn::SubmitTask(refused, true, L"running"));
  EXPECT_TRUE(varn::IsWorkerBusy());
  EXPECT_EQ(held.use_count(), 2) << "only the local copy is left";

  SetEvent(gate);
  ASSERT_TRUE(PumpUntil([] { return received.done == 1; }, 5000));
  EXPECT_FALSE(varn::IsWorkerBusy());
  EXPECT_EQ(runs, 1) << "refused tasks never ran";
  EXPECT_EQ(RunToEnd(Returning(Outcome(2, true)), true, nullptr).op, 2) << "idle again";
}

TEST_F(Worker, StartAndEndLinesAreExact) {
  WorkerOutcome connected = Outcome(1, true, L"完成：已连接");
  connected.listenKnown = connected.listening = true;
  RunToEnd([&](const Progress&) { Sleep(150); return connected; }, true, L"手动连接");
  RunToEnd(Returning(WorkerOutcome()), true, nullptr);
  WorkerOutcome cancelled = Outcome(9, false, L"100% %s %d");
  cancelled.listenKnown = true;
  RunToEnd(Returning(cancelled), true, L"名字 %s %d");

  std::vector<std::string> expected = {
      "INFO " + U8(L"任务开始 [手动连接]"),
      "INFO " + U8(L"任务结束 op=1 ok=1 耗时=#ms listen=1 状态=完成：已连接"),
      "INFO " + U8(L"任务开始 [未命名任务]"),
      "INFO " + U8(L"任务结束 op=0 ok=0 耗时=#ms listen=-1 状态=(无)"),
      "INFO " + U8(L"任务开始 [名字 %s %d]"),
      "INFO " + U8(L"任务结束 op=9 ok=0 耗时=#ms listen=0 状态=100% %s %d"),
  };
  EXPECT_EQ(WorkLines(), expected);
  std::string firstEnd = SplitCrLfLines(ReadBytes(varn::LogFilePath())).at(1);
  std::smatch elapsed;
  ASSERT_TRUE(std::regex_search(firstEnd, elapsed, std::regex("=([0-9]+)ms")));
  EXPECT_GE(std::stoull(elapsed[1]), 140u);
  EXPECT_LT(std::stoull(elapsed[1]), 5000u);
}

TEST_F(Worker, SilentTaskWritesOnlyItsProgress) {
  WorkerOutcome outcome = RunToEnd(
      [](const Progress& progress) {
        progress.ReportProgress(L"正在检查音量...");
        return Outcome(varn::VolumeGuard, true);
      },
      false, L"音量守护");
  EXPECT_EQ(outcome.op, varn::VolumeGuard);
  EXPECT_EQ(WorkLines(), std::vector<std::string>{"INFO " + U8(L"进度: 正在检查音量...")});
  std::wstring text;
  EXPECT_TRUE(varn::TakeProgressText(text));
  EXPECT_EQ(text, L"正在检查音量...");
  EXPECT_EQ(received.progress, 1);
}

TEST_F(Worker, LatestOutcomeAndProgressWinAndTravelWhole) {
  // The test thread does not dispatch while the tasks run: a sent rather than posted message
  // would stall the worker and the waits below would time out.
  ASSERT_TRUE(varn::SubmitTask(
      [](const Progress& progress) {
        for (const wchar_t* text : {L"一", L"二", L"三"}) progress.ReportProgress(text);
        return Outcome(1, true, L"first");
      },
      true, L"first"));
  ASSERT_TRUE(WaitUntil([] { return !varn::IsWorkerBusy(); }, 5000));
  WorkerOutcome full{2, true, true, L"状态", L"错误", false, true, true, true, L"标题", L"气球", 2, L"通知", true, true};
  EXPECT_TRUE(varn::SubmitTask(Returning(full), true, L"second")) << "accepted before the completion was handled";
  ASSERT_TRUE(WaitUntil([] { return !varn::IsWorkerBusy(); }, 5000));
  ASSERT_TRUE(PumpUntil([] { return received.done == 2 && received.progress == 3; }, 5000));

  std::wstring text = L"untouched";
  EXPECT_TRUE(varn::TakeProgressText(text));
  EXPECT_EQ(text, L"三");
  EXPECT_FALSE(varn::TakeProgressText(text));
  EXPECT_EQ(text, L"三");

  WorkerOutcome taken;
  ASSERT_TRUE(varn::TakeOutcome(taken));
  EXPECT_TRUE(taken.op == full.op && taken.ok && taken.showErrorBox && taken.statusText == full.statusText &&
              taken.errorText == full.errorText && !taken.updateStatus && taken.showWindow &&
              taken.autostartKnown && taken.autostartEnabled && taken.balloonTitle == full.balloonTitle &&
              taken.balloonText == full.balloonText && taken.balloonIcon == 2 &&
              taken.noticeText == full.noticeText && taken.listenKnown && taken.listening);
  WorkerOutcome sentinel = Outcome(77, true, L"caller's own");
  EXPECT_FALSE(varn::TakeOutcome(sentinel));
  EXPECT_EQ(sentinel.op, 77);
  EXPECT_EQ(sentinel.statusText, L"caller's own");
}

TEST_F(Worker, StopWaitsForTheRunningTaskAndPostsNothing) {
  std::atomic<bool> finished{false};
  ASSERT_TRUE(varn::SubmitTask(
      [&](const Progress& progress) {
        SetEvent(started);
        Sleep(400);
        progress.ReportProgress(L"late");
        finished = true;
        return Outcome(1, true);
      },
      true, L"long"));
  ASSERT_EQ(WaitForSingleObject(started, 5000), WAIT_OBJECT_0);
  varn::StopWorker();
  EXPECT_TRUE(finished) << "StopWorker returned before the task ended";
  // The thread has ended, so anything it posted is already queued.
  PumpUntil([] { return false; }, 0);
  EXPECT_EQ(received.done, 0);
  EXPECT_EQ(received.progress, 0);
  EXPECT_FALSE(varn::IsWorkerBusy());
  auto held = std::make_shared<int>(0);
  EXPECT_FALSE(varn::SubmitTask([held](const Progress&) { return WorkerOutcome(); }, true, L"after stop"));
  EXPECT_EQ(held.use_count(), 1);
}

TEST_F(Worker, ThrowingTaskBecomesAFailureAndTheWorkerGoesOn) {
  WorkerOutcome thrown = RunToEnd([](const Progress&) -> WorkerOutcome { throw std::runtime_error("boom"); },
                                  true, L"手动连接");
  EXPECT_EQ(thrown.op, varn::ManualConnect) << "the operation is recovered from the task name";
  EXPECT_FALSE(thrown.ok);
  EXPECT_TRUE(thrown.statusText.empty() && thrown.updateStatus && !thrown.listenKnown && thrown.balloonIcon == 1);
  EXPECT_EQ(RunToEnd([](const Progress&) -> WorkerOutcome { throw 7; }, false, nullptr).op, 0);
  EXPECT_TRUE(RunToEnd(Returning(Outcome(3, true)), false, L"after").ok);

  std::vector<std::string> expected = {
      "INFO " + U8(L"任务开始 [手动连接]"),
      "ERROR" + U8(L"任务异常结束 [手动连接] 原因=boom"),
      "INFO " + U8(L"任务结束 op=1 ok=0 耗时=#ms listen=-1 状态=(无)"),
      "ERROR" + U8(L"任务异常结束 [未命名任务] 原因=未知异常"),
  };
  EXPECT_EQ(WorkLines(), expected);
}

TEST_F(Worker, TasksRunOnOneMultithreadedThreadThatSleepsWhenIdle) {
  HANDLE thread = nullptr;
  RunToEnd(CaptureThread(&thread), false, nullptr);
  ASSERT_NE(thread, nullptr);
  APTTYPE apartment = APTTYPE_STA;
  DWORD threadId = 0;
  RunToEnd([&](const Progress&) {
    APTTYPEQUALIFIER qualifier;
    if (FAILED(CoGetApartmentType(&apartment, &qualifier))) apartment = APTTYPE_STA;
    threadId = GetCurrentThreadId();
    return WorkerOutcome();
  }, false, nullptr);
  EXPECT_EQ(apartment, APTTYPE_MTA);
  EXPECT_EQ(threadId, GetThreadId(thread)) << "one thread for every task";
  EXPECT_NE(threadId, GetCurrentThreadId());

  // Idle for a second: a polling loop would burn most of it.
  ULONGLONG before = CpuMs(thread);
  Sleep(1000);
  EXPECT_LT(CpuMs(thread) - before, 100u);
  // The measurement sees work when there is some.
  before = CpuMs(thread);
  RunToEnd([](const Progress&) {
    ULONGLONG start = CpuMs(GetCurrentThread()), deadline = GetTickCount64() + 5000;
    while (CpuMs(GetCurrentThread()) - start < 300 && GetTickCount64() < deadline) {}
    return WorkerOutcome();
  }, false, nullptr);
  EXPECT_GE(CpuMs(thread) - before, 250u);

  varn::StopWorker();
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "the thread ended with the stop";
  CloseHandle(thread);
}

TEST_F(Worker, RestartReplacesTheThreadAndForgetsTheOldOutcome) {
  HANDLE first = nullptr;
  RunToEnd(CaptureThread(&first), false, nullptr);
  // One outcome left untaken across the restart; its completion message is still queued.
  ASSERT_TRUE(varn::SubmitTask(Returning(Outcome(6, true)), false, nullptr));
  ASSERT_TRUE(WaitUntil([] { return !varn::IsWorkerBusy(); }, 5000));
  varn::StartWorker(window, kProgressMsg, kDoneMsg);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  CloseHandle(first);
  ASSERT_TRUE(PumpUntil([] { return received.done == 2; }, 5000));
  WorkerOutcome outcome;
  EXPECT_FALSE(varn::TakeOutcome(outcome));
  EXPECT_EQ(RunToEnd(Returning(Outcome(7, true)), false, nullptr).op, 7);
}

// A task that outlives the 20000 ms stop limit is abandoned. When it finally ends, after a
// new start, it must not take work or report into the new worker's slots and window.
TEST_F(Worker, AbandonedThreadStaysOutOfTheNextStart) {
  HANDLE old = nullptr;
  ASSERT_TRUE(varn::SubmitTask(
      [&](const Progress& progress) {
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &old, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        SetEvent(started);
        WaitForSingleObject(gate, 60000);
        progress.ReportProgress(L"stale");
        return Outcome(1, true, L"stale");
      },
      true, L"stuck"));
  ASSERT_EQ(WaitForSingleObject(started, 5000), WAIT_OBJECT_0);
  ULONGLONG start = GetTickCount64();
  varn::StopWorker();
  ULONGLONG took = GetTickCount64() - start;
  EXPECT_GE(took, 19900u);
  EXPECT_LT(took, 25000u);

  varn::StartWorker(window, kProgressMsg, kDoneMsg);
  SetEvent(gate);
  ASSERT_EQ(WaitForSingleObject(old, 5000), WAIT_OBJECT_0) << "the abandoned thread ends by itself";
  CloseHandle(old);
  PumpUntil([] { return false; }, 0);
  EXPECT_EQ(received.done + received.progress, 0);
  WorkerOutcome outcome;
  std::wstring text;
  EXPECT_FALSE(varn::TakeOutcome(outcome));
  EXPECT_FALSE(varn::TakeProgressText(text));
  EXPECT_EQ(RunToEnd(Returning(Outcome(2, true)), false, nullptr).op, 2);
}

}  // namespace
