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

// Polls every 10 ms until the condition holds or the time is up.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// How many running processes have this image file name in this directory.
int CountProcesses(const std::wstring& directory, const std::wstring& fileName);

std::string Utf8(const std::wstring& text);

}  // namespace testing_support
