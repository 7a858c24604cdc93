// The tool runner against real child processes: the stand-in sound tool copied beside a
// scratch "program", told through faults.txt how to behave.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log.h"
#include "tool_runner/tool_runner.h"
#include "support/test_support.h"
#include "world.h"

using namespace testing_support;

namespace {

// The program's folder has a blank in its name, as "Program Files" has: the tool's path must be
// quoted on the command line.
std::wstring ProgramIn(const std::wstring& directory) { return directory + L"\\program files\\VARNListenFix.exe"; }

class Runner : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateDirectoryW(ToolDir().c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(SimProgram(L"SoundVolumeView.exe").c_str(), ToolPath().c_str(), FALSE));
    varn::OpenLog(ProgramIn(dir.path()));
    varn::LocateSoundTool(ProgramIn(dir.path()));
    ASSERT_TRUE(audiosim::SaveWorld(audiosim::DefaultWorld()));
  }

  std::wstring ToolDir() const { return dir / L"program files"; }
  std::wstring ToolPath() const { return ToolDir() + L"\\SoundVolumeView.exe"; }
  void SetFaults(const std::string& rules) { ASSERT_TRUE(WriteBytes(dir / L"faults.txt", rules)); }
  std::vector<std::string> Journal() const { return SplitCrLfLines(ReadBytes(dir / L"journal.log")); }
  std::vector<std::string> LogLines() const { return SplitCrLfLines(ReadBytes(varn::LogFilePath())); }
  std::string LastLogLine() const {
    std::vector<std::string> lines = LogLines();
    return lines.empty() ? std::string() : lines.back();
  }
  // The part of a log line after its time stamp.
  static std::string AfterTime(const std::string& line) { return line.size() > 24 ? line.substr(24) : ""; }
  // The number in "耗时=<n>ms".
  static unsigned long long Elapsed(const std::string& line) {
    size_t at = line.find("\xE8\x80\x97\xE6\x97\xB6=");
    return at == std::string::npos ? ~0ULL : std::stoull(line.substr(at + 7));
  }

  TempDir dir;
  EnvScope simDir{L"AUDIOSIM_DIR", dir.path().c_str()};
};

// The sound card input of the default simulated world.
const std::wstring kCardIn = L"{0.0.1.00000000}.{8d3c6f2a-51b0-4c7e-9a61-0c5a1e7d2b01}";
const std::wstring kListenOn = L"/SetListenToThisDevice \"" + kCardIn + L"\" 1";
const std::string kListenOnUtf8 = "/SetListenToThisDevice \"" + Utf8(kCardIn) + "\" 1";

TEST_F(Runner, ToolPathIsBesideTheProgram) {
  EXPECT_EQ(varn::SoundToolPath(), ToolPath());
  EXPECT_EQ(varn::QuoteArgument(L"C:\\a b\\x.exe"), L"\"C:\\a b\\x.exe\"");
  EXPECT_EQ(varn::QuoteArgument(L"say \"hi\""), L"\"say \"hi\"\"") << "nothing inside is escaped";
}

TEST_F(Runner, ExitZeroIsSuccessAndArgumentsPassUnchanged) {
  // Where an unquoted "...\\program files\\SoundVolumeView.exe" would be looked for first.
  ASSERT_TRUE(CopyFileW(SimProgram(L"SoundVolumeView.exe").c_str(), (dir / L"program.exe").c_str(), FALSE));
  SetFaults("SetListenToThisDevice delay=3000\n");
  EXPECT_TRUE(varn::RunSoundTool(kListenOn));
  ASSERT_EQ(Journal(), std::vector<std::string>{kListenOnUtf8});
  std::string line = LastLogLine();
  EXPECT_EQ(AfterTime(line).substr(0, 30), "[INFO ] [tool] SoundVolumeView");
  EXPECT_NE(line.find("SoundVolumeView rc=0 \xE8\x80\x97\xE6\x97\xB6="), std::string::npos) << line;
  EXPECT_EQ(line.substr(line.find("ms args=")), "ms args=" + kListenOnUtf8)
      << "the log names the arguments, not the tool path";
  EXPECT_GE(Elapsed(line), 2900u);
  EXPECT_LT(Elapsed(line), 9000u);
}

TEST_F(Runner, NonZeroExitIsFailureWithAWarning) {
  SetFaults("* exit=1\n");
  EXPECT_FALSE(varn::RunSoundTool(L"/Enable \"{x}\""));
  std::string line = LastLogLine();
  EXPECT_EQ(AfterTime(line).substr(0, 14), "[WARN ] [tool]");
  EXPECT_NE(line.find("SoundVolumeView rc=1 "), std::string::npos) << line;

  // An argument form the tool does not know ends with its own non-zero code.
  SetFaults("");
  EXPECT_FALSE(varn::RunSoundTool(L"/Frobnicate \"{x}\""));
  EXPECT_NE(LastLogLine().find("SoundVolumeView rc=2 "), std::string::npos);
  EXPECT_EQ(Journal().size(), 2u);
}

TEST_F(Runner, HangingToolIsKilledAtTheTenSecondLimit) {
  SetFaults("SetDefault hang\n");
  ULONGLONG start = GetTickCount64();
  EXPECT_FALSE(varn::RunSoundTool(L"/SetDefault \"{r}\" all"));
  ULONGLONG took = GetTickCount64() - start;
  EXPECT_GE(took, 9900u);
  EXPECT_LT(took, 13000u);
  std::string line = LastLogLine();
  EXPECT_EQ(AfterTime(line).substr(0, 14), "[ERROR] [tool]");
  EXPECT_NE(line.find("SoundVolumeView \xE8\xB6\x85\xE6\x97\xB6/\xE4\xB8\xAD\xE6\xAD\xA2 "),
            std::string::npos) << line;
  EXPECT_NE(line.find("ms args=/SetDefault \"{r}\" all"), std::string::npos);
  EXPECT_EQ(CountProcesses(ToolDir(), L"SoundVolumeView.exe"), 0) << "the child was terminated";
}

TEST_F(Runner, MissingToolIsReportedOnEveryRunAndPickedUpWhenPutBack) {
  ASSERT_TRUE(DeleteFileW(ToolPath().c_str()));
  EXPECT_FALSE(varn::RunSoundTool(kListenOn));
  EXPECT_FALSE(varn::RunSoundTool(kListenOn));
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  for (const std::string& line : lines) {
    EXPECT_EQ(AfterTime(line),
              "[INFO ] [app] \xE8\xBE\x85\xE5\x8A\xA9\xE7\xA8\x8B\xE5\xBA\x8F SoundVolumeView.exe "
              "\xE7\xBC\xBA\xE5\xA4\xB1\xEF\xBC\x8C\xE6\x97\xA0\xE6\xB3\x95\xE6\x89\xA7\xE8\xA1\x8C"
              "\xE9\x9F\xB3\xE9\xA2\x91\xE6\x8C\x87\xE4\xBB\xA4");
  }
  EXPECT_TRUE(Journal().empty());

  ASSERT_TRUE(CopyFileW(SimProgram(L"SoundVolumeView.exe").c_str(), ToolPath().c_str(), FALSE));
  EXPECT_TRUE(varn::RunSoundTool(kListenOn));
  EXPECT_EQ(Journal().size(), 1u);
}

TEST_F(Runner, ToolThatCannotStartIsAnError) {
  // Something exists under the tool's name, but it is no program.
  ASSERT_TRUE(DeleteFileW(ToolPath().c_str()));
  ASSERT_TRUE(CreateDirectoryW(ToolPath().c_str(), nullptr));
  EXPECT_FALSE(varn::RunSoundTool(L"/Enable \"{x}\""));
  std::string line = LastLogLine();
  EXPECT_EQ(AfterTime(line).substr(0, 14), "[ERROR] [tool]");
  EXPECT_NE(line.find("SoundVolumeView \xE5\x90\xAF\xE5\x8A\xA8\xE5\xA4\xB1\xE8\xB4\xA5 err=0x"),
            std::string::npos) << line;
  EXPECT_NE(line.find(") args=/Enable \"{x}\""), std::string::npos) << line;
}

TEST_F(Runner, CommandLinesReportExitCodesStartFailuresAndTheirOwnLimit) {
  std::wstring standIn = varn::QuoteArgument(ToolPath());
  const std::wstring disable = L" /Disable \"" + kCardIn + L"\"";
  EXPECT_TRUE(varn::RunCommandLine(standIn + disable, 15000));
  EXPECT_NE(LastLogLine().find("[INFO ] [tool] \xE5\xA4\x96\xE9\x83\xA8\xE5\x91\xBD\xE4\xBB\xA4 rc=0 "),
            std::string::npos) << LastLogLine();
  EXPECT_NE(LastLogLine().find("ms cmd=" + Utf8(standIn + disable)), std::string::npos);

  SetFaults("Disable exit=3\n");
  EXPECT_FALSE(varn::RunCommandLine(standIn + disable, 15000));
  EXPECT_NE(LastLogLine().find("[WARN ] [tool] \xE5\xA4\x96\xE9\x83\xA8\xE5\x91\xBD\xE4\xBB\xA4 rc=3 "),
            std::string::npos) << LastLogLine();

  EXPECT_FALSE(varn::RunCommandLine(L"\"C:\\no such dir\\nothing.exe\" /x", 15000));
  EXPECT_NE(LastLogLine().find("[ERROR] [tool] \xE5\xA4\x96\xE9\x83\xA8\xE5\x91\xBD\xE4\xBB\xA4"
                               "\xE5\x90\xAF\xE5\x8A\xA8\xE5\xA4\xB1\xE8\xB4\xA5 err=0x"),
            std::string::npos) << LastLogLine();

  // The caller's limit is counted in 50 ms slices; even 0 gets one slice.
  SetFaults("Disable hang\n");
  for (std::uint32_t limit : {0u, 300u, 1200u}) {
    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(varn::RunCommandLine(standIn + disable, limit));
    ULONGLONG took = GetTickCount64() - start;
    EXPECT_GE(took, limit);
    EXPECT_LT(took, limit + 2500u);
    std::string line = LastLogLine();
    EXPECT_NE(line.find("[ERROR] [tool] \xE5\xA4\x96\xE9\x83\xA8\xE5\x91\xBD\xE4\xBB\xA4"
                        "\xE8\xB6\x85\xE6\x97\xB6/\xE4\xB8\xAD\xE6\xAD\xA2"),
              std::string::npos) << line;
    EXPECT_NE(line.find("\xE4\xB8\x8A\xE9\x99\x90=" + std::to_string(limit) + "ms cmd="), std::string::npos)
        << line;
    EXPECT_EQ(CountProcesses(ToolDir(), L"SoundVolumeView.exe"), 0);
  }
}

TEST_F(Runner, RepeatedRunsLeaveNoHandleBehind) {
  ASSERT_TRUE(varn::RunSoundTool(kListenOn));  // whatever the first run sets up stays
  int before = CountOwnHandles();
  ASSERT_GT(before, 0);
  // Thirty runs keep the suite short; one handle lost per run shows all the same.
  for (int run = 0; run < 30; ++run) ASSERT_TRUE(varn::RunSoundTool(kListenOn));
  EXPECT_LE(CountOwnHandles(), before + 5);
}

// The program's side of the job tests: a process of its own that runs the tool from the test's
// scratch folder and then ends, or is killed.
DWORD WINAPI RunEnable(void*) { return varn::RunSoundTool(L"/Enable \"" + kCardIn + L"\"") ? 0 : 1; }

TEST(RunnerChild, DISABLED_RunsTheTool) {
  wchar_t directory[MAX_PATH];
  ASSERT_GT(GetEnvironmentVariableW(L"AUDIOSIM_DIR", directory, MAX_PATH), 0u);
  varn::OpenLog(ProgramIn(directory));
  varn::LocateSoundTool(ProgramIn(directory));
  if (GetEnvironmentVariableW(L"VARN_TEST_INSIDE_JOB", nullptr, 0) == 0) {
    EXPECT_TRUE(varn::RunSoundTool(kListenOn));
    return;
  }
  // The program comes to run inside a job it did not make, as a logon task does, while its own
  // job still holds a child from before. The system refuses to nest the two (Windows 7 refuses
  // any nesting), so the children started from now on cannot join the program's job.
  HANDLE first = CreateThread(nullptr, 0, RunEnable, nullptr, 0, nullptr);
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return !ReadBytes(std::wstring(directory) + L"\\journal.log").empty(); }, 10000));
  HANDLE outer = CreateJobObjectW(nullptr, nullptr);
  ASSERT_TRUE(AssignProcessToJobObject(outer, GetCurrentProcess()));
  EXPECT_TRUE(varn::RunSoundTool(kListenOn));
  EXPECT_TRUE(varn::RunSoundTool(kListenOn));
  WaitForSingleObject(first, 15000);
  DWORD firstResult = 1;
  GetExitCodeThread(first, &firstResult);
  EXPECT_EQ(firstResult, 0u);
}

class ToolJob : public Runner {
 protected:
  bool StartChild() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(self) +
                               L"\" --gtest_also_run_disabled_tests --gtest_filter=RunnerChild.DISABLED_RunsTheTool";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    return CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &child_) != FALSE;
  }
  void TearDown() override {
    if (child_.hProcess != nullptr) {
      TerminateProcess(child_.hProcess, 1);
      CloseHandle(child_.hThread);
      CloseHandle(child_.hProcess);
    }
  }
  PROCESS_INFORMATION child_{};
};

TEST_F(ToolJob, AHangingToolEndsWithTheProgramThatWasKilled) {
  SetFaults("* hang\n");
  ASSERT_TRUE(StartChild());
  ASSERT_TRUE(WaitUntil([&] { return Journal().size() == 1; }, 15000)) << "the tool started";
  ASSERT_EQ(CountProcesses(ToolDir(), L"SoundVolumeView.exe"), 1);
  TerminateProcess(child_.hProcess, 1);
  bool ended = WaitUntil([&] { return CountProcesses(ToolDir(), L"SoundVolumeView.exe") == 0; }, 5000);
  EXPECT_TRUE(ended) << "the tool outlived the program";
  if (!ended) RunProgram(L"C:\\windows\\system32\\taskkill.exe", L"/f /im SoundVolumeView.exe", 10000);
}

TEST_F(ToolJob, WhereTheJobIsRefusedTheToolRunsAllTheSame) {
  EnvScope insideJob(L"VARN_TEST_INSIDE_JOB", L"1");
  SetFaults("Enable delay=3000\n");
  ASSERT_TRUE(StartChild());
  ASSERT_EQ(WaitForSingleObject(child_.hProcess, 30000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(child_.hProcess, &code);
  EXPECT_EQ(code, 0u) << "every run succeeded";
  EXPECT_EQ(Journal().size(), 3u);
  int refusals = 0;
  for (const std::string& line : LogLines()) {
    refusals += line.find("[WARN ] [tool] \xE5\xA4\x96\xE9\x83\xA8\xE5\x91\xBD\xE4\xBB\xA4\xE6\x9C\xAA"
                          "\xE8\x83\xBD\xE6\x94\xBE\xE5\x85\xA5\xE4\xBD\x9C\xE4\xB8\x9A\xE5\xAF\xB9\xE8\xB1\xA1") !=
                std::string::npos;
  }
  EXPECT_EQ(refusals, 1) << "said once per run of the program";
}

// Runs in a process of its own: the flag cannot be cleared.
struct HangingRun {
  std::wstring arguments;
  bool result = true;
  ULONGLONG returnedAt = 0;
};

DWORD WINAPI RunHanging(void* param) {
  auto* run = static_cast<HangingRun*>(param);
  run->result = varn::RunSoundTool(run->arguments);
  run->returnedAt = GetTickCount64();
  return 0;
}

class Shutdown : public Runner {};

TEST_F(Shutdown, KillsTheRunningChildWithinASliceAndStopsLaterRuns) {
  SetFaults("* hang\n");
  HangingRun run{L"/SetListenToThisDevice \"{in}\" 0"};
  HANDLE thread = CreateThread(nullptr, 0, RunHanging, &run, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return Journal().size() == 1; }, 8000)) << "the child started";
  EXPECT_FALSE(varn::IsShutdownSignalled());
  ULONGLONG signalledAt = GetTickCount64();
  varn::SignalShutdown();
  EXPECT_TRUE(varn::IsShutdownSignalled());
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  CloseHandle(thread);

  EXPECT_FALSE(run.result);
  // One 50 ms slice plus the time Wine takes to end the process.
  EXPECT_LT(run.returnedAt - signalledAt, 1000u);
  EXPECT_EQ(CountProcesses(ToolDir(), L"SoundVolumeView.exe"), 0);
  std::string line = LastLogLine();
  EXPECT_NE(line.find("[ERROR] [tool] SoundVolumeView \xE8\xB6\x85\xE6\x97\xB6/\xE4\xB8\xAD\xE6\xAD\xA2"),
            std::string::npos) << line;

  size_t logLines = LogLines().size();
  SetFaults("");
  EXPECT_FALSE(varn::RunSoundTool(kListenOn));
  EXPECT_FALSE(varn::RunCommandLine(varn::QuoteArgument(ToolPath()) + L" /Enable \"{x}\"", 15000));
  EXPECT_EQ(LogLines().size(), logLines) << "later calls are silent";
  EXPECT_EQ(Journal().size(), 1u) << "and start no process";
}

}  // namespace
