#include "log/log.h"

#include <windows.h>

#include <cwchar>

#include "log/path.h"
#include "log/scoped_lock.h"
#include "log/text.h"

namespace varn {

namespace {

constexpr wchar_t kLogFileName[] = L"VARNListenFix.log";
constexpr ULONGLONG kRotateAtBytes = 0x400000;  // 4 MiB
constexpr int kGenerations = 5;
constexpr int kLinesPerRotationCheck = 16;
constexpr DWORD kLocalAppDataChars = 260;

// Written by OpenLog before other threads exist; read without the lock afterwards.
struct LogState {
  std::wstring path;
  bool fallback = false;
  bool enabled = false;
  int threshold = LOG_INFO;
  int lineCounter = kLinesPerRotationCheck;  // guarded by lock
};

LogState state;
// A slim lock needs no creation step, so the first use from any thread is safe.
SRWLOCK lock = SRWLOCK_INIT;

HANDLE OpenForAppend(const std::wstring& path) {
  return CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool ProbeAppend(const std::wstring& path) {
  HANDLE file = OpenForAppend(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// Creates the directory and any missing parents; an existing directory is no error.
bool CreateDirectoryTree(const std::wstring& directory) {
  if (directory.empty()) return false;
  DWORD attributes = GetFileAttributesW(directory.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  std::wstring parent = ParentDirectory(directory);
  if (!parent.empty() && parent != directory && !CreateDirectoryTree(parent)) return false;
  if (CreateDirectoryW(directory.c_str(), nullptr)) return true;
  return GetLastError() == ERROR_ALREADY_EXISTS;
}

std::wstring GenerationPath(int generation) {
  return state.path + L"." + std::to_wstring(generation);
}

std::wstring FallbackLogPath() {
  wchar_t value[kLocalAppDataChars];
  DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", value, kLocalAppDataChars);
  if (length == 0 || length >= kLocalAppDataChars) return std::wstring();
  std::wstring directory = JoinPath(std::wstring(value, length), L"VARN");
  if (!CreateDirectoryTree(directory)) return std::wstring();
  std::wstring path = JoinPath(directory, kLogFileName);
  return ProbeAppend(path) ? path : std::wstring();
}

// Runs with the lock held. Errors are ignored on purpose: a rotation that half fails must not
// stop the line that follows from being written.
void RotateIfLarge() {
  if (state.path.empty()) return;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(state.path.c_str(), GetFileExInfoStandard, &data)) return;
  ULONGLONG size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  if (size < kRotateAtBytes) return;
  DeleteFileW(GenerationPath(kGenerations).c_str());
  for (int n = kGenerations - 1; n >= 1; --n) {
    std::wstring from = GenerationPath(n);
    if (PathExists(from)) {
      MoveFileExW(from.c_str(), GenerationPath(n + 1).c_str(), MOVEFILE_REPLACE_EXISTING);
    }
  }
  MoveFileExW(state.path.c_str(), GenerationPath(1).c_str(), MOVEFILE_REPLACE_EXISTING);
}

void AppendRecord(const std::string& bytes) {
  ScopedExclusiveLock scope(lock);
  if (state.lineCounter >= kLinesPerRotationCheck) {
    state.lineCounter = 0;
    RotateIfLarge();
  }
  ++state.lineCounter;
  HANDLE file = OpenForAppend(state.path);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

void OpenLog(const std::wstring& programPath) {
  std::wstring path = JoinPath(ParentDirectory(programPath), kLogFileName);
  bool fallback = false;
  if (!ProbeAppend(path)) {
    path = FallbackLogPath();
    fallback = !path.empty();
  }
  ScopedExclusiveLock scope(lock);
  state.path = path;
  state.fallback = fallback;
  state.enabled = !path.empty();
  state.lineCounter = kLinesPerRotationCheck;
}

const wchar_t* LogLevelName(int level) {
  switch (level) {
    case LOG_TRACE: return L"TRACE";
    case LOG_WARN: return L"WARN ";
    case LOG_ERROR: return L"ERROR";
    default: return L"INFO ";
  }
}

void WriteLog(int level, const wchar_t* tag, const std::wstring& message) {
  if (state.path.empty() || level < state.threshold) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  // The tag and level go through "%s", never into the format itself; a tag too long for the
  // prefix is cut with it.
  std::wstring record = FormatText(L"%04u-%02u-%02u %02u:%02u:%02u.%03u [%s] [%s] ",
                                   now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                                   now.wSecond, now.wMilliseconds, LogLevelName(level),
                                   tag != nullptr ? tag : L"app");
  if (record.size() > 127) record.resize(127);
  record += message;
  record += L"\r\n";
  std::string bytes = Utf16ToUtf8(record);
  if (bytes.empty()) return;
  AppendRecord(bytes);
}

void LogInfo(const wchar_t* tag, const std::wstring& message) { WriteLog(LOG_INFO, tag, message); }
void LogWarn(const wchar_t* tag, const std::wstring& message) { WriteLog(LOG_WARN, tag, message); }
void LogError(const wchar_t* tag, const std::wstring& message) { WriteLog(LOG_ERROR, tag, message); }
void LogApp(const std::wstring& message) { WriteLog(LOG_INFO, L"app", message); }

std::wstring LogFilePath() { return state.path; }
std::wstring LogDirectory() { return state.path.empty() ? std::wstring() : ParentDirectory(state.path); }
bool IsLogEnabled() { return state.enabled; }
bool IsLogFallback() { return state.fallback; }
int LogThreshold() { return state.threshold; }

std::vector<std::wstring> ListLogFiles() {
  std::vector<std::wstring> files;
  if (state.path.empty()) return files;
  if (PathExists(state.path)) files.push_back(state.path);
  for (int generation = 1; generation <= kGenerations; ++generation) {
    std::wstring path = GenerationPath(generation);
    if (PathExists(path)) files.push_back(path);
  }
  return files;
}

}  // namespace varn
