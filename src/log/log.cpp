#include "log/log.h"

#include <windows.h>

#include <cwchar>
#include <utility>
#include <vector>

#include "base/path.h"
#include "base/scoped_handles.h"
#include "base/scoped_lock.h"
#include "base/text.h"

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

// A file opened as itself (FILE_FLAG_OPEN_REPARSE_POINT) that is neither a link nor a folder
// and has no second name through which someone else could reach it.
bool IsPlainFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  constexpr DWORD kNotPlain = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
  return file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info) &&
         (info.dwFileAttributes & kNotPlain) == 0 && info.nNumberOfLinks == 1;
}

// The program runs elevated, and both places the log may live can be changed by the user: a
// symbolic link, a junction or a hard link put where the log belongs, or a junction on one of
// its folders, would make us append to a file of the user's choosing. No folder of the path may
// be a link; the last element is opened as itself, never followed, and used only when it is a
// plain file with a single name.
FileHandle OpenForAppend(const std::wstring& path) {
  if (PassesThroughLink(path)) return FileHandle();
  FileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return IsPlainFile(file.get()) ? std::move(file) : FileHandle();
}

bool ProbeAppend(const std::wstring& path) { return static_cast<bool>(OpenForAppend(path)); }

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

// Moves the generations that were shifted up by one back down, the lowest first, so that each
// returns to the place it has just left.
void UndoShift(const std::vector<int>& shifted) {
  for (auto n = shifted.rbegin(); n != shifted.rend(); ++n) {
    MoveFileExW(GenerationPath(*n + 1).c_str(), GenerationPath(*n).c_str(), 0);
  }
}

// Runs with the lock held. False when the file is due but could not be rotated.
//
// A rename fails while another program holds that file open without delete sharing, as an
// export reading the generations does. Going on past such a failure would let "current -> .1"
// replace a .1 that never moved, up to 4 MiB of log gone. So the first failed rename stops the
// rotation, the generations already moved go back to their places and the current file stays
// where it is, growing past the limit until a later try succeeds. Only the oldest generation,
// which every rotation drops, is gone by then.
bool RotateIfLarge() {
  if (state.path.empty()) return true;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(state.path.c_str(), GetFileExInfoStandard, &data)) return true;
  ULONGLONG size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  if (size < kRotateAtBytes) return true;
  DeleteFileW(GenerationPath(kGenerations).c_str());
  std::vector<int> shifted;
  for (int n = kGenerations - 1; n >= 1; --n) {
    std::wstring from = GenerationPath(n);
    if (!PathExists(from)) continue;
    if (!MoveFileExW(from.c_str(), GenerationPath(n + 1).c_str(), MOVEFILE_REPLACE_EXISTING)) {
      UndoShift(shifted);
      return false;
    }
    shifted.push_back(n);
  }
  if (!MoveFileExW(state.path.c_str(), GenerationPath(1).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    UndoShift(shifted);
    return false;
  }
  return true;
}

void AppendRecord(const std::string& bytes) {
  ScopedExclusiveLock scope(lock);
  if (state.lineCounter >= kLinesPerRotationCheck) {
    // A rotation that could not be done is tried again by the next record.
    state.lineCounter = RotateIfLarge() ? 0 : kLinesPerRotationCheck - 1;
  }
  ++state.lineCounter;
  FileHandle file = OpenForAppend(state.path);
  if (!file) return;
  DWORD written = 0;
  WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
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
  record += OneLineText(message);
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

// The program runs elevated and the log folder may be one the user can write to: a link put in
// place of a log generation, or a junction on one of its folders, would have the export copy a
// file of the user's choosing (another user's, or one only administrators may read) onto the
// desktop. The name is opened as itself and kept only when it is a plain file with a single
// name. Delete sharing lets the log rotate past a generation that is held open.
FileHandle OpenPlainFileForReading(const std::wstring& path) {
  if (PassesThroughLink(path)) return FileHandle();
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN,
                              nullptr));
  return IsPlainFile(file.get()) ? std::move(file) : FileHandle();
}

std::vector<HeldLogFile> OpenLogFilesForReading() {
  std::vector<HeldLogFile> held;
  std::vector<std::wstring> refused;
  {
    ScopedExclusiveLock scope(lock);
    std::vector<std::wstring> newestFirst = ListLogFiles();
    for (auto path = newestFirst.rbegin(); path != newestFirst.rend(); ++path) {
      FileHandle file = OpenPlainFileForReading(*path);
      if (file) {
        held.push_back(HeldLogFile{*path, std::move(file)});
      } else {
        refused.push_back(*path);
      }
    }
  }
  // Outside the lock: the writer takes it.
  for (const std::wstring& path : refused) LogWarn(L"app", L"导出诊断包时读取日志失败: " + path);
  return held;
}

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
