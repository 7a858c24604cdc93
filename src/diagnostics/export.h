#pragma once
// The diagnostics file: every log file, oldest first, behind a short reading guide and
// followed by a fresh environment snapshot, written as one UTF-8 file to the user's desktop.
// The worker side only; the window thread submits it (controller/export_command.cpp).

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "diagnostics/snapshot_input.h"
#include "log/log.h"
#include "worker/worker.h"

namespace varn {

// How much of one log file goes into the export; a log is rotated at 4 MiB, so only a file
// that something else grew or put there comes near it.
constexpr size_t kExportReadLimitBytes = 16 * 1024 * 1024;

// The reading guide in front of the logs, each line ending in "\r\n".
std::wstring BuildExportHeader(const std::wstring& programPath, int logFileCount);
// At most kExportReadLimitBytes of a plain file with a single name, read while others may
// write, rename or delete it. False for anything else (a directory, a link, a hard-linked
// file, a path through a linked folder) or when it cannot be opened or read.
bool ReadFileBytes(const std::wstring& path, std::string& bytes);
// At most kExportReadLimitBytes of an open file, from where its handle stands.
bool ReadOpenFile(HANDLE file, std::string& bytes);
// The held log files as the export carries them, each behind a line with its name as it was
// when it was opened; *merged counts those read.
std::string MergeLogFiles(const std::vector<HeldLogFile>& oldestFirst, int* merged);
// Creates the file, which must not exist yet, and writes the UTF-8 byte-order mark and the
// bytes. True only when everything reached the file; a file left half written is removed.
// *error (may be null) is the error of creating it, ERROR_FILE_EXISTS for a name taken.
bool WriteExportFile(const std::wstring& path, const std::string& utf8, DWORD* error = nullptr);

// The export task: writes "VARN日志-YYYYMMDD-HHMMSS.txt" on the desktop (with "-2", "-3", ...
// when that name is taken), followed by our sound tool's self-check, and says how it went.
WorkerOutcome ExportDiagnosticsTaskBody(const SnapshotInput& input, const std::wstring& programPath,
                                        const Progress& progress);

}  // namespace varn
