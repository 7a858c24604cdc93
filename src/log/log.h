#pragma once
// The program's log: one UTF-8 file beside the program (or under %LOCALAPPDATA%\VARN when the
// program directory cannot be written), one timestamped line per call, rotated at 4 MiB with
// five older generations kept. Nothing here reports failure: a line that cannot be written is
// dropped.

#include <string>
#include <vector>

#include "base/scoped_handles.h"

namespace varn {

enum LogLevel : int { LOG_TRACE = 0, LOG_INFO = 1, LOG_WARN = 2, LOG_ERROR = 3 };

// Chooses the log file for this run from the program's full path. Called once at start-up,
// before any other thread exists.
void OpenLog(const std::wstring& programPath);

// The single writer. A null tag prints as "app". The message is never used as a format; it is
// written as it stands except that one record stays one line: a line break inside it (CR LF,
// CR or LF) is written as " ｜ " and any other control character as U+FFFD.
void WriteLog(int level, const wchar_t* tag, const std::wstring& message);
void LogInfo(const wchar_t* tag, const std::wstring& message);
void LogWarn(const wchar_t* tag, const std::wstring& message);
void LogError(const wchar_t* tag, const std::wstring& message);
void LogApp(const std::wstring& message);

std::wstring LogFilePath();   // empty when logging is off
std::wstring LogDirectory();  // empty when logging is off
bool IsLogEnabled();
bool IsLogFallback();
int LogThreshold();
std::vector<std::wstring> ListLogFiles();  // existing log files, newest first

// A log file opened for reading, under the name it had when it was opened.
struct HeldLogFile {
  std::wstring path;
  FileHandle file;
};
// Every log file, oldest first, opened for reading in one go under the writer's lock, so that
// no rotation falls between two of them. The handles share deletion, so the log rotates on
// past them, and each keeps the content it had under its name. A file that cannot be opened as
// a plain file (OpenPlainFileForReading) is left out and logged.
std::vector<HeldLogFile> OpenLogFilesForReading();
// Opens the file for reading unless it is not a plain file with a single name, or a folder of
// its path is a link: invalid then.
FileHandle OpenPlainFileForReading(const std::wstring& path);

// The five-character level name printed in a line ("INFO " for unknown levels).
const wchar_t* LogLevelName(int level);

}  // namespace varn
