#pragma once
// Helpers shared by the Windows test programs: scratch directories on the real file system,
// whole-file reads and writes, environment scopes and polling with a deadline.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// A fresh directory under %TEMP%, removed with its contents when the scope ends.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Sets an environment variable (nullptr removes it) and restores the old value afterwards.
class EnvScope {
 public:
  EnvScope(const wchar_t* name, const wchar_t* value);
  ~EnvScope();
  EnvScope(const EnvScope&) = delete;
  EnvScope& operator=(const EnvScope&) = delete;

 private:
  std::wstring name_;
  std::wstring old_;
  bool hadOld_ = false;
};

std::string ReadBytes(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
std::vector<std::string> SplitCrLfLines(const std::string& bytes);  // without the "\r\n"
bool FileExists(const std::wstring& path);
unsigned long long FileSize(const std::wstring& path);
void RemoveTree(const std::wstring& path);

std::wstring ThisExeDirectory();
// Path of a program built into the simulator directory (build/sim) beside build/tests.
std::wstring SimProgram(const wchar_t* fileName);
// The SoundVolumeView.exe that tests put beside the program: the one VARN_SOUND_TOOL names (a
// Windows path; CTest sets it to the product's own tool for the own_tool runs), else the
// simulator's stand-in.
std::wstring SoundToolToInstall();

// Polls every 10 ms until the condition holds or the time is up.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// How many running processes have this image file name in this directory.
int CountProcesses(const std::wstring& directory, const std::wstring& fileName);

// How many handles this process holds, as the system's handle table lists them (Wine answers
// 0 to GetProcessHandleCount); -1 when the table cannot be read.
int CountOwnHandles();

std::string Utf8(const std::wstring& text);
// The UTF-8 text in double quotes, as the sound tool's journal shows an endpoint id.
std::string Quoted(const std::wstring& text);

// Runs a program with its output in a file (never a pipe: Wine's helpers would hold it open)
// and returns its exit code, or -1 when it could not start or outlived the limit.
// CreateProcessW for the tests' own starts. Wine now and then answers a start with
// ERROR_INTERNAL_ERROR while several prefixes start processes at once, where Windows would
// start the program; such a start is tried again (twice at most, 200 ms apart) and said on
// standard error. Any other failure is returned at once.
BOOL StartTestProcess(const wchar_t* application, std::wstring commandLine, BOOL inheritHandles, DWORD flags,
                      const wchar_t* directory, STARTUPINFOW& startup, PROCESS_INFORMATION& process);

int RunProgram(const std::wstring& exe, const std::wstring& arguments, DWORD limitMs = 30000,
               std::string* output = nullptr);
// The simulator's control tool, on the world named by AUDIOSIM_DIR.
int Audiosim(const std::wstring& arguments, std::string* output = nullptr);

}  // namespace testing_support
