#include "diagnostics/export.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <exception>
#include <vector>

#include "diagnostics/snapshot.h"
#include "diagnostics/version.h"
#include "log/log.h"
#include "log/path.h"
#include "log/scoped_handles.h"
#include "log/text.h"

namespace varn {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr DWORD kReadChunkBytes = 64 * 1024;
constexpr size_t kWriteChunkBytes = 1 << 30;

std::wstring DesktopDirectory() {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, path))) {
    return std::wstring();
  }
  return path;
}

std::wstring ExportFileName() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return FormatText(L"VARN日志-%04u%02u%02u-%02u%02u%02u.txt", now.wYear, now.wMonth, now.wDay, now.wHour,
                    now.wMinute, now.wSecond);
}

std::wstring LastPathElement(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

void StripByteOrderMark(std::string& bytes) {
  if (bytes.size() >= 3 && bytes.compare(0, 3, kByteOrderMark) == 0) bytes.erase(0, 3);
}

bool WriteAll(HANDLE file, const char* data, size_t size) {
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min(size, kWriteChunkBytes));
    DWORD written = 0;
    if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

// Appends the log files oldest first; answers how many of them were merged.
int AppendLogFiles(std::string& out, const std::vector<std::wstring>& oldestFirst) {
  int merged = 0;
  for (const std::wstring& path : oldestFirst) {
    std::string bytes;
    if (!ReadFileBytes(path, bytes)) {
      LogWarn(L"app", L"导出诊断包时读取日志失败: " + path);
      continue;
    }
    StripByteOrderMark(bytes);
    out += Utf16ToUtf8(L"\r\n==================== " + LastPathElement(path) + L" ====================\r\n");
    out += bytes;
    ++merged;
  }
  return merged;
}

void AppendSnapshot(std::string& out, const SnapshotInput& input, const std::wstring& programPath) {
  out += Utf16ToUtf8(L"\r\n\r\n==================== 环境快照 " + LocalTimeText() + L" ====================\r\n");
  for (const std::wstring& line : BuildSnapshot(input, programPath)) out += Utf16ToUtf8(line + L"\r\n");
  out += Utf16ToUtf8(L"==================== 环境快照结束 ====================\r\n");
}

WorkerOutcome FailedOutcome(const wchar_t* statusText, const std::wstring& errorText) {
  WorkerOutcome outcome;
  outcome.op = DiagnosticsExport;
  outcome.ok = false;
  outcome.updateStatus = true;
  outcome.statusText = statusText;
  outcome.showErrorBox = true;
  outcome.errorText = errorText;
  return outcome;
}

WorkerOutcome WriteFailed(const std::wstring& path) {
  LogError(L"app", L"写入诊断日志失败: " + path + L"（日志目录: " + LogDirectory() + L"）");
  return FailedOutcome(L"导出失败：无法在桌面写入文件。",
                       L"导出诊断日志失败：无法在桌面创建文件（可能被安全软件拦截）。\r\n\r\n"
                       L"可以手动到这个目录取日志文件，把 VARNListenFix.log 发回来即可：\r\n" +
                           LogDirectory());
}

WorkerOutcome Written(const std::wstring& path, const std::wstring& fileName, int merged) {
  LogInfo(L"app", L"诊断日志已导出: " + path);
  WorkerOutcome outcome;
  outcome.op = DiagnosticsExport;
  outcome.ok = true;
  outcome.updateStatus = true;
  outcome.statusText = L"诊断日志已导出到桌面：" + fileName;
  outcome.balloonTitle = L"诊断日志已导出";
  outcome.balloonText = L"已保存到桌面文件「" + fileName + FormatText(L"」（合并了 %d 份日志）", merged) +
                        L"，把这个文件发回来即可。";
  outcome.balloonIcon = 1;
  return outcome;
}

WorkerOutcome RunExport(const SnapshotInput& input, const std::wstring& programPath, const Progress& progress,
                        std::wstring& path) {
  progress.ReportProgress(L"正在导出诊断包...");
  const std::wstring desktop = DesktopDirectory();
  if (desktop.empty()) {
    LogError(L"app", L"导出诊断包失败：找不到桌面目录");
    return FailedOutcome(L"导出失败：找不到桌面目录。", L"导出诊断包失败：无法定位桌面目录。");
  }
  const std::wstring fileName = ExportFileName();
  path = JoinPath(desktop, fileName);

  std::vector<std::wstring> logs = ListLogFiles();
  std::reverse(logs.begin(), logs.end());
  std::string out = Utf16ToUtf8(BuildExportHeader(programPath, static_cast<int>(logs.size())));
  const int merged = AppendLogFiles(out, logs);
  AppendSnapshot(out, input, programPath);

  if (!WriteExportFile(path, out)) return WriteFailed(path);
  return Written(path, fileName, merged);
}

}  // namespace

std::wstring BuildExportHeader(const std::wstring& programPath, int logFileCount) {
  std::wstring header = L"VARN USB Audio 桥接器 —— 诊断日志（导出文件）\r\n";
  header += L"导出时间: " + LocalTimeText() + L"\r\n";
  header += FormatText(L"程序版本: %s (%s)\r\n", kVersionText, kFileVersionText);
  header += L"程序路径: " + programPath + L"\r\n";
  header += L"日志位置: " + LogDirectory() + (IsLogFallback() ? L"（程序目录不可写，已回退到用户目录）" : L"") + L"\r\n";
  header += FormatText(L"包含日志: %d 份，按时间从旧到新拼接；末尾附一份当前环境快照\r\n", logFileCount);
  header += L"\r\n";
  header += L"阅读提示: 每行形如「时间 [级别] [模块] 正文」，级别为 WARN / ERROR 的行是需要留意的那几行。\r\n";
  header += L"          模块标签 app=界面动作 route=侦听路由 guard=音量守护 dev=设备变化\r\n";
  header += L"                    tool=外部命令 work=工作线程 env=环境快照\r\n";
  header += L"\r\n";
  return header;
}

// The program runs elevated and the log folder may be one the user can write to: a link put
// in place of a log generation would have us copy a file of the user's choosing (another
// user's, or one only administrators may read) onto the desktop. The name is opened as itself
// and read only when it is a plain file with a single name. Delete sharing lets the log
// rotate past a generation we are reading instead of failing its rename.
bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
  bytes.clear();
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN,
                              nullptr));
  if (!file) return false;
  BY_HANDLE_FILE_INFORMATION info;
  constexpr DWORD kNotPlain = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
  if (!GetFileInformationByHandle(file.get(), &info) || (info.dwFileAttributes & kNotPlain) != 0 ||
      info.nNumberOfLinks != 1) {
    return false;
  }
  const ULONGLONG size = (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  bytes.reserve(static_cast<size_t>(std::min<ULONGLONG>(size, kExportReadLimitBytes)));
  std::vector<char> chunk(kReadChunkBytes);
  // The file may grow while it is read; the limit holds whatever its size was.
  while (bytes.size() < kExportReadLimitBytes) {
    const DWORD want = static_cast<DWORD>(std::min<size_t>(kReadChunkBytes, kExportReadLimitBytes - bytes.size()));
    DWORD got = 0;
    if (!ReadFile(file.get(), chunk.data(), want, &got, nullptr)) return false;
    if (got == 0) break;
    bytes.append(chunk.data(), got);
  }
  return true;
}

// CREATE_NEW fails on any existing name, a symbolic link or junction included, dangling or
// not, so nothing the user placed on the desktop beforehand is ever opened, followed or
// truncated by this elevated write. A name taken already is a write failure like any other.
bool WriteExportFile(const std::wstring& path, const std::string& utf8) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
  if (!file) return false;
  if (WriteAll(file.get(), kByteOrderMark, 3) && WriteAll(file.get(), utf8.data(), utf8.size()) &&
      FlushFileBuffers(file.get())) {
    return true;
  }
  // A cut-off file would be sent in as if it were the whole story; it goes with its handle,
  // through which no one else can have swapped the name.
  FILE_DISPOSITION_INFO discard{TRUE};
  SetFileInformationByHandle(file.get(), FileDispositionInfo, &discard, sizeof(discard));
  return false;
}

// Nothing may escape a task body; a failure to build the file (out of memory for six large
// logs) ends like a file that could not be written.
WorkerOutcome ExportDiagnosticsTaskBody(const SnapshotInput& input, const std::wstring& programPath,
                                        const Progress& progress) {
  std::wstring path;
  try {
    return RunExport(input, programPath, progress, path);
  } catch (const std::exception&) {
    return WriteFailed(path);
  }
}

}  // namespace varn
