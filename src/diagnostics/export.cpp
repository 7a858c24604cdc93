#include "diagnostics/export.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <exception>
#include <vector>

#include "diagnostics/snapshot.h"
#include "diagnostics/version.h"
#include "log/log.h"
#include "operations/operations.h"
#include "base/path.h"
#include "base/scoped_handles.h"
#include "base/text.h"
#include "tool_runner/tool_runner.h"

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

// The first choice is the name of the second; a name taken already (an export a moment ago,
// within the same second) gets "-2", "-3", ... so that no export overwrites or is lost to one.
constexpr int kNameChoices = 9;

std::wstring ExportFileName(const SYSTEMTIME& at, int choice) {
  std::wstring name = FormatText(L"VARN日志-%04u%02u%02u-%02u%02u%02u", at.wYear, at.wMonth, at.wDay, at.wHour,
                                 at.wMinute, at.wSecond);
  if (choice > 1) name += FormatText(L"-%d", choice);
  return name + L".txt";
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

void AppendSnapshot(std::string& out, const SnapshotInput& input, const std::wstring& programPath) {
  out += Utf16ToUtf8(L"\r\n\r\n==================== 环境快照 " + LocalTimeText() + L" ====================\r\n");
  for (const std::wstring& line : BuildSnapshot(input, programPath)) out += Utf16ToUtf8(line + L"\r\n");
  out += Utf16ToUtf8(L"==================== 环境快照结束 ====================\r\n");
}

WorkerOutcome FailedOutcome(const wchar_t* statusText, const std::wstring& errorText) {
  WorkerOutcome outcome;
  outcome.op = OperationTag(OperationKind::DiagnosticsExport);
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

// Every name this second allows is taken by files already on the desktop: nothing blocked the
// write, so the box says what is in the way rather than blaming security software.
WorkerOutcome NamesTaken(const std::wstring& lastPath) {
  LogError(L"app", FormatText(L"写入诊断日志失败：桌面上同一时刻的 %d 个文件名都已被占用，最后一个: ", kNameChoices) +
                       lastPath + L"（日志目录: " + LogDirectory() + L"）");
  return FailedOutcome(L"导出失败：桌面上的同名文件已占满可用的文件名。",
                       FormatText(L"导出诊断日志失败：桌面上已有 %d 个同一时刻的诊断文件，没有可用的新文件名。"
                                  L"请移走桌面上多余的「VARN日志」文件后再试。\r\n\r\n",
                                  kNameChoices) +
                           L"可以手动到这个目录取日志文件，把 VARNListenFix.log 发回来即可：\r\n" + LogDirectory());
}

WorkerOutcome Written(const std::wstring& path, const std::wstring& fileName, int merged) {
  LogInfo(L"app", L"诊断日志已导出: " + path);
  WorkerOutcome outcome;
  outcome.op = OperationTag(OperationKind::DiagnosticsExport);
  outcome.ok = true;
  outcome.updateStatus = true;
  outcome.statusText = L"诊断日志已导出到桌面：" + fileName;
  outcome.balloonTitle = L"诊断日志已导出";
  outcome.balloonText = L"已保存到桌面文件「" + fileName + FormatText(L"」（合并了 %d 份日志）", merged) +
                        L"，把这个文件发回来即可。";
  outcome.balloonIcon = NoticeIcon::Information;
  return outcome;
}

// What our sound tool finds on this machine (/Check), so that a user's first report already
// says whether what the tool relies on holds there.
void AppendSoundToolCheck(std::string& out) {
  out += Utf16ToUtf8(L"\r\n==================== [声音工具自检] ====================\r\n");
  ToolReport report = RunSoundToolForReport(L"/Check");
  if (!report.ran) {
    out += Utf16ToUtf8(L"(无法运行) " + report.failure + L"\r\n");
    return;
  }
  out += Utf16ToUtf8(FormatText(L"退出码: %lu\r\n", static_cast<unsigned long>(report.exitCode)));
  out += report.output;
  if (!report.output.empty() && report.output.back() != '\n') out += "\r\n";
}

WorkerOutcome RunExport(const SnapshotInput& input, const std::wstring& programPath, const Progress& progress,
                        std::wstring& path) {
  progress.ReportProgress(L"正在导出诊断包...");
  const std::wstring desktop = DesktopDirectory();
  if (desktop.empty()) {
    LogError(L"app", L"导出诊断包失败：找不到桌面目录");
    return FailedOutcome(L"导出失败：找不到桌面目录。", L"导出诊断包失败：无法定位桌面目录。");
  }
  SYSTEMTIME now;
  GetLocalTime(&now);
  path = JoinPath(desktop, ExportFileName(now, 1));

  // The header counts what was read, from the files held since before the first was read.
  int merged = 0;
  std::string logs = MergeLogFiles(OpenLogFilesForReading(), &merged);
  std::string out = Utf16ToUtf8(BuildExportHeader(programPath, merged));
  out += logs;
  logs = std::string();
  AppendSnapshot(out, input, programPath);
  AppendSoundToolCheck(out);

  for (int choice = 1; choice <= kNameChoices; ++choice) {
    const std::wstring fileName = ExportFileName(now, choice);
    path = JoinPath(desktop, fileName);
    DWORD error = ERROR_SUCCESS;
    if (WriteExportFile(path, out, &error)) return Written(path, fileName, merged);
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return WriteFailed(path);
  }
  return NamesTaken(path);
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

bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
  bytes.clear();
  FileHandle file = OpenPlainFileForReading(path);
  return file && ReadOpenFile(file.get(), bytes);
}

// From where the handle stands; the file may grow while it is read.
bool ReadOpenFile(HANDLE file, std::string& bytes) {
  bytes.clear();
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file, &size)) {
    bytes.reserve(static_cast<size_t>(std::min<ULONGLONG>(static_cast<ULONGLONG>(size.QuadPart), kExportReadLimitBytes)));
  }
  std::vector<char> chunk(kReadChunkBytes);
  // The file may grow while it is read; the limit holds whatever its size was.
  while (bytes.size() < kExportReadLimitBytes) {
    const DWORD want = static_cast<DWORD>(std::min<size_t>(kReadChunkBytes, kExportReadLimitBytes - bytes.size()));
    DWORD got = 0;
    if (!ReadFile(file, chunk.data(), want, &got, nullptr)) return false;
    if (got == 0) break;
    bytes.append(chunk.data(), got);
  }
  return true;
}

// CREATE_NEW fails on any existing name, a symbolic link or junction included, dangling or
// not, so nothing the user placed on the desktop beforehand is ever opened, followed or
// truncated by this elevated write. The caller moves on to another name when one is taken.
bool WriteExportFile(const std::wstring& path, const std::string& utf8, DWORD* error) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
  if (error != nullptr) *error = file ? ERROR_SUCCESS : GetLastError();
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

std::string MergeLogFiles(const std::vector<HeldLogFile>& oldestFirst, int* merged) {
  std::string out;
  *merged = 0;
  for (const HeldLogFile& log : oldestFirst) {
    std::string bytes;
    if (!ReadOpenFile(log.file.get(), bytes)) {
      LogWarn(L"app", L"导出诊断包时读取日志失败: " + log.path);
      continue;
    }
    StripByteOrderMark(bytes);
    out += Utf16ToUtf8(L"\r\n==================== " + LastPathElement(log.path) + L" ====================\r\n");
    out += bytes;
    ++*merged;
  }
  return out;
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
