// rand_s, the C runtime's door to the system's cryptographic generator, is declared only with
// this set before the first C runtime header.
#define _CRT_RAND_S
#include "tool_runner/tool_runner.h"

#include <windows.h>
#include <sddl.h>
#include <stdlib.h>

#include <atomic>
#include <vector>

#include "log/log.h"
#include "base/path.h"
#include "base/scoped_handles.h"
#include "base/text.h"

namespace varn {

namespace {

constexpr wchar_t kSoundToolName[] = L"SoundVolumeView.exe";
constexpr DWORD kRunCommandUnreadExitCode = 31;
// TerminateProcess only starts the kill; we wait this long for it so that no child outlives
// the call that started it.
constexpr DWORD kTerminateWaitMs = 2000;

std::atomic<bool> shutdownSignalled{false};
std::wstring soundToolPath;  // written once before the worker exists

// Every child runs inside one job that ends it when the program ends, however the program
// ends: a hanging tool must not outlive a program that was killed or crashed. The job handle
// is never closed; the system closes it with the process, and that is what ends the children.
INIT_ONCE jobOnce = INIT_ONCE_STATIC_INIT;
HANDLE toolJob = nullptr;
std::atomic<bool> jobRefusalLogged{false};

BOOL CALLBACK CreateToolJob(INIT_ONCE*, void*, void**) {
  KernelHandle job(CreateJobObjectW(nullptr, nullptr));
  if (!job) return TRUE;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                               sizeof(limits))) {
    return TRUE;
  }
  // Let go on purpose and never closed (see above): closing it would end every running child.
  toolJob = job.release();
  return TRUE;
}

// Windows 7 has no nested jobs: when the program itself already runs inside one (a logon task
// does), the assignment is refused. The tool then runs as before, without the job; that is
// worth one line per run of the program, not a failed command.
void AssignToToolJob(HANDLE process) {
  InitOnceExecuteOnce(&jobOnce, CreateToolJob, nullptr, nullptr);
  DWORD error = ERROR_INVALID_HANDLE;
  if (toolJob != nullptr) {
    if (AssignProcessToJobObject(toolJob, process)) return;
    error = GetLastError();
  }
  if (jobRefusalLogged.exchange(true)) return;
  LogWarn(L"tool", FormatText(L"外部命令未能放入作业对象，程序意外结束时它不会随之结束 err=%s",
                              FormatErrorCode(error).c_str()));
}

// The wait is counted in 50 ms slices rather than measured, so that shutdown is noticed
// within one slice; a wait that fails at once still uses up a whole slice of the limit.
bool WaitForChild(HANDLE process, std::uint32_t limitMs, DWORD& exitCode) {
  std::uint32_t counted = 0;
  for (;;) {
    if (WaitForSingleObject(process, kWaitSliceMs) == WAIT_OBJECT_0) {
      GetExitCodeProcess(process, &exitCode);
      return true;
    }
    if (IsShutdownSignalled()) return false;
    counted += kWaitSliceMs;
    if (counted >= limitMs) return false;
  }
}

void TerminateChild(HANDLE process) {
  TerminateProcess(process, 1);
  WaitForSingleObject(process, kTerminateWaitMs);
}

struct ChildRun {
  bool started = false;
  bool ended = false;
  DWORD exitCode = 0;
  DWORD startError = 0;
  ULONGLONG elapsedMs = 0;
};

// applicationPath null: the command line's first token names the program, found by the system's
// search; otherwise the program at that path runs with the command line as it stands.
ChildRun RunChild(const wchar_t* applicationPath, const std::wstring& commandLine,
                  const wchar_t* currentDirectory, const STARTUPINFOW& startup,
                  DWORD presetExitCode, std::uint32_t limitMs, bool inheritHandles = false) {
  ChildRun run;
  ULONGLONG startTick = GetTickCount64();
  std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
  writable.push_back(L'\0');
  STARTUPINFOW startupCopy = startup;
  PROCESS_INFORMATION process{};
  // Started suspended and let go only once it is in the job, so that it cannot start children
  // of its own outside the job first.
  if (!CreateProcessW(applicationPath, writable.data(), nullptr, nullptr, inheritHandles ? TRUE : FALSE,
                      CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, currentDirectory, &startupCopy,
                      &process)) {
    run.startError = GetLastError();
    return run;
  }
  KernelHandle child(process.hProcess);
  KernelHandle childThread(process.hThread);
  AssignToToolJob(child.get());
  ResumeThread(childThread.get());
  run.started = true;
  run.exitCode = presetExitCode;
  run.ended = WaitForChild(child.get(), limitMs, run.exitCode);
  if (!run.ended) TerminateChild(child.get());
  run.elapsedMs = GetTickCount64() - startTick;
  return run;
}

constexpr DWORD kReportLimitBytes = 1 << 20;

// The tool's output goes to a file, never a pipe (a pipe's reader waits on every process that
// inherited its end). The file is new, readable by the administration only, shared with no one
// and gone when its handle closes; the child writes through the one handle it inherits.
FileHandle NewOutputFile() {
  const std::wstring path = NewPrivateTempPath(L"varn-tool-", L".txt");
  if (path.empty()) return FileHandle();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)", SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return FileHandle();
  }
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, TRUE};
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, &attributes, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  LocalFree(descriptor);
  return file;
}

std::string ReadOutput(HANDLE file) {
  std::string bytes;
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return bytes;
  char chunk[4096];
  DWORD got = 0;
  while (bytes.size() < kReportLimitBytes && ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) {
    bytes.append(chunk, got);
  }
  return bytes;
}

}  // namespace

void LocateSoundTool(const std::wstring& programPath) {
  soundToolPath = JoinPath(ParentDirectory(programPath), kSoundToolName);
}

std::wstring SoundToolPath() { return soundToolPath; }

std::wstring QuoteArgument(const std::wstring& text) { return L"\"" + text + L"\""; }

void SignalShutdown() { shutdownSignalled.exchange(true); }

bool IsShutdownSignalled() { return shutdownSignalled.load(std::memory_order_relaxed); }

bool RunSoundTool(const std::wstring& arguments) {
  if (IsShutdownSignalled()) return false;
  if (soundToolPath.empty() || !PathExists(soundToolPath)) {
    LogApp(L"辅助程序 SoundVolumeView.exe 缺失，无法执行音频指令");
    return false;
  }
  std::wstring commandLine = QuoteArgument(soundToolPath) + L" " + arguments;
  std::wstring directory = ParentDirectory(soundToolPath);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  ChildRun run = RunChild(nullptr, commandLine, directory.c_str(), startup, 1, kSoundToolLimitMs);
  if (!run.started) {
    LogError(L"tool", FormatText(L"SoundVolumeView 启动失败 err=%s args=%s",
                                 FormatErrorCode(run.startError).c_str(), arguments.c_str()));
    return false;
  }
  if (!run.ended) {
    LogError(L"tool", FormatText(L"SoundVolumeView 超时/中止 耗时=%llums args=%s",
                                 run.elapsedMs, arguments.c_str()));
    return false;
  }
  WriteLog(run.exitCode == 0 ? LOG_INFO : LOG_WARN, L"tool",
           FormatText(L"SoundVolumeView rc=%lu 耗时=%llums args=%s",
                      static_cast<unsigned long>(run.exitCode), run.elapsedMs, arguments.c_str()));
  return run.exitCode == 0;
}

ToolReport RunSoundToolForReport(const std::wstring& arguments) {
  ToolReport report;
  if (IsShutdownSignalled()) {
    report.failure = L"程序正在退出";
    return report;
  }
  if (soundToolPath.empty() || !PathExists(soundToolPath)) {
    report.failure = L"找不到 SoundVolumeView.exe";
    return report;
  }
  FileHandle output = NewOutputFile();
  if (!output) {
    report.failure = L"无法创建输出文件 err=" + FormatErrorCode(GetLastError());
    return report;
  }
  std::wstring commandLine = QuoteArgument(soundToolPath) + L" " + arguments;
  std::wstring directory = ParentDirectory(soundToolPath);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output.get();
  startup.hStdError = output.get();
  ChildRun run = RunChild(nullptr, commandLine, directory.c_str(), startup, 1, kSoundToolLimitMs, true);
  if (!run.started) {
    report.failure = L"启动失败 err=" + FormatErrorCode(run.startError);
    LogError(L"tool", FormatText(L"SoundVolumeView 启动失败 err=%s args=%s", FormatErrorCode(run.startError).c_str(),
                                 arguments.c_str()));
    return report;
  }
  if (!run.ended) {
    report.failure = FormatText(L"超时/中止 耗时=%llums", run.elapsedMs);
    LogError(L"tool", FormatText(L"SoundVolumeView 超时/中止 耗时=%llums args=%s", run.elapsedMs, arguments.c_str()));
    return report;
  }
  report.ran = true;
  report.exitCode = run.exitCode;
  report.output = ReadOutput(output.get());
  LogInfo(L"tool", FormatText(L"SoundVolumeView rc=%lu 耗时=%llums args=%s", report.exitCode, run.elapsedMs,
                              arguments.c_str()));
  return report;
}

// 128 random bits from rand_s rather than bcrypt.dll: the program would otherwise load a
// cryptography library at every start for names it needs only now and then.
// GetSystemWindowsDirectoryW: on a terminal server GetWindowsDirectoryW can answer a per-user copy.
std::wstring NewPrivateTempPath(const wchar_t* prefix, const wchar_t* extension) {
  wchar_t windows[MAX_PATH];
  UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  std::wstring name = prefix;
  for (int part = 0; part < 4; ++part) {
    unsigned int random = 0;
    if (rand_s(&random) != 0) return std::wstring();
    name += FormatText(L"%08x", random);
  }
  return JoinPath(JoinPath(std::wstring(windows, length), L"Temp"), name + extension);
}

bool RunCommandLine(const std::wstring& commandLine, std::uint32_t limitMs) {
  return RunProgram(std::wstring(), commandLine, limitMs);
}

// The log lines name the command line only: it is what the caller wrote and what a reader
// recognises, while the path is fixed by the caller.
bool RunProgram(const std::wstring& applicationPath, const std::wstring& commandLine,
                std::uint32_t limitMs) {
  if (IsShutdownSignalled()) return false;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  ChildRun run = RunChild(applicationPath.empty() ? nullptr : applicationPath.c_str(), commandLine,
                          nullptr, startup, kRunCommandUnreadExitCode, limitMs);
  if (!run.started) {
    LogError(L"tool", FormatText(L"外部命令启动失败 err=%s cmd=%s",
                                 FormatErrorCode(run.startError).c_str(), commandLine.c_str()));
    return false;
  }
  if (!run.ended) {
    LogError(L"tool", FormatText(L"外部命令超时/中止 耗时=%llums 超时上限=%lums cmd=%s",
                                 run.elapsedMs, static_cast<unsigned long>(limitMs),
                                 commandLine.c_str()));
    return false;
  }
  WriteLog(run.exitCode == 0 ? LOG_INFO : LOG_WARN, L"tool",
           FormatText(L"外部命令 rc=%lu 耗时=%llums cmd=%s",
                      static_cast<unsigned long>(run.exitCode), run.elapsedMs, commandLine.c_str()));
  return run.exitCode == 0;
}

}  // namespace varn
