// The diagnostics export on the real program: the file it leaves on the user's desktop (the
// folder the shell names, under Wine often a link into the Unix home), what the user is told,
// and the boxes when the worker is busy or the desktop cannot take the file.

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/program.h"
#include "support/program_scenario.h"

using namespace testing_support;

namespace {

using Lines = std::vector<std::string>;
constexpr int kTrayConnect = 202, kExportCommand = 207, kStatusLabel = 105;
const std::string kBom = "\xEF\xBB\xBF";
const std::string kExportStarted = "[INFO ] [work] 任务开始 [导出诊断包]";

std::wstring DesktopFolder() {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, path))) return L"";
  return path;
}

std::set<std::wstring> ExportFilesOnDesktop() {
  std::set<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((DesktopFolder() + L"\\VARN日志-*.txt").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do names.insert(found.cFileName); while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

std::wstring ExportName(const SYSTEMTIME& t) {
  wchar_t name[64];
  swprintf(name, 64, L"VARN日志-%04u%02u%02u-%02u%02u%02u.txt", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
           t.wSecond);
  return name;
}

// Removes the desktop files a test made or caused, whatever the test's end.
struct DesktopCleanup {
  std::set<std::wstring> before = ExportFilesOnDesktop();
  std::vector<std::wstring> planted;
  ~DesktopCleanup() {
    for (const std::wstring& name : ExportFilesOnDesktop()) {
      if (before.count(name) == 0) DeleteFileW((DesktopFolder() + L"\\" + name).c_str());
    }
    for (const std::wstring& name : planted) DeleteFileW((DesktopFolder() + L"\\" + name).c_str());
  }
};

// Points the shell's desktop folder elsewhere for one scope.
class DesktopRedirect {
 public:
  explicit DesktopRedirect(const std::wstring& folder) {
    hadOld_ = ReadValue(old_);
    RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"Desktop", REG_EXPAND_SZ, folder.c_str(),
                    static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
  }
  ~DesktopRedirect() {
    if (hadOld_) {
      RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"Desktop", REG_EXPAND_SZ, old_.c_str(),
                      static_cast<DWORD>((old_.size() + 1) * sizeof(wchar_t)));
    } else {
      RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"Desktop");
    }
  }

 private:
  static constexpr wchar_t kKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  static bool ReadValue(std::wstring& value) {
    wchar_t buffer[1024];
    DWORD bytes = sizeof(buffer);
    if (RegGetValueW(HKEY_CURRENT_USER, kKey, L"Desktop", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, buffer,
                     &bytes) != ERROR_SUCCESS) {
      return false;
    }
    value = buffer;
    return true;
  }
  bool hadOld_ = false;
  std::wstring old_;
};

class DiagnosticsExport : public ProgramScenario {
 protected:
  std::wstring Status() const { return TextOf(GetDlgItem(window_, kStatusLabel)); }
  bool Logged(const std::string& line) const { return LogCount(line) > 0; }
  size_t Count(const std::string& prefix) const {
    size_t n = 0;
    for (const std::string& line : program_->LogLines()) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }

  std::optional<ShownBox> CloseNextBox() {
    std::optional<ShownBox> box;
    if (!WaitUntil([&] { return (box = FindMessageBox(processId_)).has_value() && !box->text.empty(); }, 20000)) {
      return std::nullopt;
    }
    PostMessageW(box->window, WM_COMMAND, IDOK, 0);
    WaitUntil([&] { return !FindMessageBox(processId_).has_value(); }, 5000);
    return box;
  }

  // The program may run tasks of its own after its start; the export is asked for again
  // until the worker takes it. Each command either starts the task or shows the busy box.
  bool ExportWhenIdle() {
    const size_t started = LogCount(kExportStarted);
    for (int attempt = 0; attempt < 30; ++attempt) {
      program_->PostCommand(kExportCommand);
      std::optional<ShownBox> box;
      if (!WaitUntil([&] { return LogCount(kExportStarted) > started || (box = FindMessageBox(processId_)).has_value(); },
                     5000)) {
        return false;
      }
      if (!box) return true;
      PostMessageW(box->window, WM_COMMAND, IDOK, 0);
      WaitUntil([&] { return !FindMessageBox(processId_).has_value(); }, 5000);
      Sleep(500);
    }
    return false;
  }
};

// A connect keeps the worker busy: the export is refused with its box and starts nothing.
// Afterwards the file holds one byte-order mark, the guide, the logs oldest first without
// their own marks, and the snapshot between its opener and closer, every line ending in CR LF.
TEST_F(DiagnosticsExport, JoinsTheLogsOldestFirstWithTheSnapshotAndRefusesWhileBusy) {
  DesktopCleanup cleanup;
  ASSERT_FALSE(DesktopFolder().empty());
  SetFaults("SetPlaybackThroughDevice delay=1000\n");
  ASSERT_NE(Start(), nullptr);
  program_->PostCommand(kTrayConnect);
  ASSERT_TRUE(WaitUntil([&] { return Logged("[INFO ] [work] 任务开始 [手动连接]"); }, 10000));
  program_->PostCommand(kExportCommand);
  std::optional<ShownBox> busy = CloseNextBox();
  ASSERT_TRUE(busy.has_value());
  EXPECT_EQ(busy->title, L"导出诊断包");
  EXPECT_EQ(busy->text, L"程序正在执行其他操作，请稍后再试。");
  ASSERT_TRUE(WaitUntil([&] { return Count("[INFO ] [app] 操作完成 [手动连接]") == 1; }, 60000));
  EXPECT_FALSE(Logged(kExportStarted)) << "the busy worker was left alone";
  SetFaults("");

  const std::wstring logPath = program_->LogPath();
  ASSERT_TRUE(WriteBytes(logPath + L".1", "one\r\n"));
  ASSERT_TRUE(WriteBytes(logPath + L".2", kBom + "two\r\n"));
  ASSERT_TRUE(ExportWhenIdle());
  ASSERT_TRUE(WaitUntil([&] { return Count("[INFO ] [app] 诊断日志已导出: ") == 1; }, 30000));
  std::set<std::wstring> made = ExportFilesOnDesktop();
  for (const std::wstring& name : cleanup.before) made.erase(name);
  ASSERT_EQ(made.size(), 1u);
  const std::wstring name = *made.begin();
  EXPECT_TRUE(std::regex_match(Utf8(name), std::regex("VARN日志-\\d{8}-\\d{6}\\.txt")));
  EXPECT_TRUE(Logged("[INFO ] [app] 诊断日志已导出: " + Utf8(DesktopFolder() + L"\\" + name)));
  EXPECT_EQ(Status(), L"诊断日志已导出到桌面：" + name);
  EXPECT_TRUE(WaitUntil([&] {
    return ShellShowsBalloon(L"已保存到桌面文件「" + name + L"」（合并了 3 份日志），把这个文件发回来即可。");
  }, 5000));

  const std::string bytes = ReadBytes(DesktopFolder() + L"\\" + name);
  ASSERT_EQ(bytes.rfind(kBom, 0), 0u);
  EXPECT_EQ(bytes.find(kBom, 1), std::string::npos) << "the seeded generation's mark is stripped";
  for (size_t i = 0; i < bytes.size(); ++i) {
    const bool bareLf = bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r');
    const bool bareCr = bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n');
    ASSERT_FALSE(bareLf || bareCr) << "a line end other than CR LF at byte " << i;
  }
  const Lines lines = SplitCrLfLines(bytes.substr(3));
  const std::string appDir = Utf8(program_->ProgramPath().substr(0, program_->ProgramPath().rfind(L'\\')));
  const Lines header = {
      "VARN USB Audio 桥接器 —— 诊断日志（导出文件）", "<time>", "程序版本: 7.3 (7.3.0.0)",
      "程序路径: " + Utf8(program_->ProgramPath()), "日志位置: " + appDir,
      "包含日志: 3 份，按时间从旧到新拼接；末尾附一份当前环境快照", "",
      "阅读提示: 每行形如「时间 [级别] [模块] 正文」，级别为 WARN / ERROR 的行是需要留意的那几行。",
      "          模块标签 app=界面动作 route=侦听路由 guard=音量守护 dev=设备变化",
      "                    tool=外部命令 work=工作线程 env=环境快照", "",
      "", "==================== VARNListenFix.log.2 ====================", "two",
      "", "==================== VARNListenFix.log.1 ====================", "one",
      "", "==================== VARNListenFix.log ====================",
  };
  ASSERT_GT(lines.size(), header.size());
  for (size_t i = 0; i < header.size(); ++i) {
    if (header[i] == "<time>") {
      EXPECT_TRUE(std::regex_match(lines[i], std::regex(R"(导出时间: \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})")));
    } else {
      EXPECT_EQ(lines[i], header[i]) << "line " << i + 1;
    }
  }
  EXPECT_EQ(lines[header.size()].rfind("20", 0), 0u) << "the current log's first record follows";

  // The snapshot closes the file, two empty lines after the last log record.
  const std::regex opener(R"(==================== 环境快照 \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} ====================)");
  size_t at = lines.size();
  while (at > 0 && !std::regex_match(lines[at - 1], opener)) --at;
  ASSERT_GT(at, 3u) << "no snapshot opener";
  EXPECT_EQ(lines[at - 2], "");
  EXPECT_EQ(lines[at - 3], "");
  EXPECT_EQ(lines[at - 4].rfind("20", 0), 0u) << "a log record before the two empty lines";
  ASSERT_LT(at, lines.size());
  EXPECT_EQ(lines[at], "VARN USB Audio 桥接器 —— 诊断环境快照");
  EXPECT_EQ(lines.back(), "==================== 环境快照结束 ====================");
  for (size_t i = at; i < lines.size(); ++i) EXPECT_FALSE(lines[i].empty()) << "line " << i + 1;
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
  ExitThroughTrayWithACleanLog();
}

// A name taken on the desktop already is never opened (let alone emptied): the export fails
// with the box that says where the logs are. A desktop the shell cannot name has a box of its own.
TEST_F(DiagnosticsExport, ReportsADesktopThatCannotTakeTheFile) {
  DesktopCleanup cleanup;
  ASSERT_NE(Start(), nullptr);
  SYSTEMTIME now;
  GetLocalTime(&now);
  FILETIME stamp;
  SystemTimeToFileTime(&now, &stamp);
  for (int second = 0; second < 30; ++second) {
    ULARGE_INTEGER t{{stamp.dwLowDateTime, stamp.dwHighDateTime}};
    t.QuadPart += second * 10000000ULL;
    FILETIME later{t.LowPart, t.HighPart};
    SYSTEMTIME when;
    FileTimeToSystemTime(&later, &when);
    cleanup.planted.push_back(ExportName(when));
    ASSERT_TRUE(WriteBytes(DesktopFolder() + L"\\" + cleanup.planted.back(), "mine"));
  }
  ASSERT_TRUE(ExportWhenIdle());
  std::optional<ShownBox> box = CloseNextBox();
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->title, L"VARN 侦听修复");
  const std::wstring appDir = program_->ProgramPath().substr(0, program_->ProgramPath().rfind(L'\\'));
  EXPECT_EQ(box->text, L"导出诊断日志失败：无法在桌面创建文件（可能被安全软件拦截）。\r\n\r\n"
                       L"可以手动到这个目录取日志文件，把 VARNListenFix.log 发回来即可：\r\n" + appDir);
  EXPECT_EQ(Status(), L"导出失败：无法在桌面写入文件。");
  EXPECT_EQ(Count("[ERROR] [app] 写入诊断日志失败: " + Utf8(DesktopFolder()) + "\\VARN日志-"), 1u);
  for (const std::wstring& name : cleanup.planted) {
    EXPECT_EQ(ReadBytes(DesktopFolder() + L"\\" + name), "mine") << Utf8(name);
  }

  // The shell's desktop folder below a file: no folder can be made there.
  ASSERT_TRUE(WriteBytes(dir / L"not-a-folder", "x"));
  {
    DesktopRedirect redirect(dir / L"not-a-folder\\Desktop");
    ASSERT_TRUE(ExportWhenIdle());
    box = CloseNextBox();
  }
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->text, L"导出诊断包失败：无法定位桌面目录。");
  EXPECT_EQ(Status(), L"导出失败：找不到桌面目录。");
  EXPECT_TRUE(Logged("[ERROR] [app] 导出诊断包失败：找不到桌面目录"));
  ExitThroughTrayWithACleanLog();
}

}  // namespace
