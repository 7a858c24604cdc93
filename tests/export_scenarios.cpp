// The diagnostics export on the real program: the file on the desktop the shell names (under
// Wine often a link into the Unix home; whatever lands there is removed again), what the user
// is told, and the boxes when the worker is busy or the desktop cannot take the file.

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <set>
#include <string>

#include "support/patterns.h"
#include "support/program_scenario.h"
#include "ui/window_state.h"

using namespace testing_support;

namespace {

const std::string kBom = "\xEF\xBB\xBF", kStarted = "[INFO ] [work] 任务开始 [导出诊断包]";
constexpr wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

std::wstring Desktop() {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

std::set<std::wstring> ExportFiles() {
  std::set<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((Desktop() + L"\\VARN日志-*.txt").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do names.insert(found.cFileName); while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

class DiagnosticsExport : public ProgramScenario {
 protected:
  void TearDown() override {
    ProgramScenario::TearDown();
    for (const std::wstring& name : ExportFiles()) {
      if (before_.count(name) == 0) DeleteFileW((Desktop() + L"\\" + name).c_str());
    }
  }
  std::wstring Status() const { return TextOf(GetDlgItem(window_, varn::kStatusLabelId)); }
  // Tasks the program runs on its own may be under way: each command either starts the export
  // or shows the busy box, and is repeated until the worker takes it.
  bool ExportWhenIdle() {
    const size_t started = LogCount(kStarted);
    for (int attempt = 0; attempt < 30; ++attempt) {
      program_->PostCommand(207);
      std::optional<ShownBox> box;
      if (!WaitUntil([&] { return LogCount(kStarted) > started || (box = FindMessageBox(processId_)); }, 5000)) break;
      if (!box) return true;
      CloseNextBox(20000);
      Sleep(500);
    }
    return false;
  }
  std::wstring AppDir() const { return program_->ProgramPath().substr(0, program_->ProgramPath().rfind(L'\\')); }
  std::set<std::wstring> before_ = ExportFiles();
};

TEST_F(DiagnosticsExport, JoinsTheLogsOldestFirstWithTheSnapshotAndRefusesWhileBusy) {
  SetFaults("SetPlaybackThroughDevice delay=1000\n");
  ASSERT_NE(Start(), nullptr);
  // Asked again while the program's own start-up tasks keep the worker.
  ASSERT_TRUE(WaitUntil([&] {
    program_->PostCommand(202);
    return WaitUntil([&] { return LogCount("[INFO ] [work] 任务开始 [手动连接]") > 0; }, 1000);
  }, 30000));
  program_->PostCommand(207);
  std::optional<ShownBox> busy = CloseNextBox(20000);
  ASSERT_TRUE(busy.has_value());
  EXPECT_EQ(busy->title + L"|" + busy->text, L"导出诊断包|程序正在执行其他操作，请稍后再试。");
  ASSERT_TRUE(WaitUntil([&] { return LogCount("[INFO ] [app] 操作完成 [手动连接] 结果=成功，当前在侦听") > 0; }, 30000));
  EXPECT_EQ(LogCount(kStarted), 0u) << "the busy worker was left alone";

  ASSERT_TRUE(WriteBytes(program_->LogPath() + L".1", "one\r\n"));
  ASSERT_TRUE(WriteBytes(program_->LogPath() + L".2", kBom + "two\r\n"));
  ASSERT_TRUE(ExportWhenIdle());
  ASSERT_TRUE(WaitUntil([&] { return ExportFiles().size() > before_.size(); }, 30000));
  const std::wstring name = *std::prev(ExportFiles().end());
  EXPECT_TRUE(WholeMatch(Utf8(name), "VARN日志-\\d{8}-\\d{6}\\.txt"));
  EXPECT_TRUE(WaitUntil([&] { return Status() == L"诊断日志已导出到桌面：" + name; }, 10000));
  EXPECT_TRUE(WaitUntil([&] {
    return ShellShowsBalloon(L"已保存到桌面文件「" + name + L"」（合并了 3 份日志），把这个文件发回来即可。");
  }, 5000));

  const std::string bytes = ReadBytes(Desktop() + L"\\" + name);
  EXPECT_EQ(bytes.rfind(kBom), 0u) << "one mark, at the start";
  EXPECT_FALSE(Search(bytes, "[^\r]\n|\r[^\n]")) << "a line end other than CR LF";
  const std::string text = ReplaceAll(bytes, R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)", "T");
  const std::string head = kBom + "VARN USB Audio 桥接器 —— 诊断日志（导出文件）\r\n导出时间: T\r\n"
      "程序版本: 7.3 (7.3.0.0)\r\n程序路径: " + Utf8(program_->ProgramPath()) + "\r\n日志位置: " + Utf8(AppDir()) +
      "\r\n包含日志: 3 份，按时间从旧到新拼接；末尾附一份当前环境快照\r\n\r\n"
      "阅读提示: 每行形如「时间 [级别] [模块] 正文」，级别为 WARN / ERROR 的行是需要留意的那几行。\r\n"
      "          模块标签 app=界面动作 route=侦听路由 guard=音量守护 dev=设备变化\r\n"
      "                    tool=外部命令 work=工作线程 env=环境快照\r\n\r\n"
      "\r\n==================== VARNListenFix.log.2 ====================\r\ntwo\r\n"
      "\r\n==================== VARNListenFix.log.1 ====================\r\none\r\n"
      "\r\n==================== VARNListenFix.log ====================\r\nT.";
  EXPECT_EQ(text.substr(0, head.size()), head);
  // Two empty lines after the last record, then the snapshot, then the sound tool's self-check
  // to the end of the file: the stand-in knows no /Check and says so by its code; ours reports.
  const bool ownTool = GetEnvironmentVariableW(L"VARN_SOUND_TOOL", nullptr, 0) > 0;
  const std::string check = ownTool ? "退出码: 0\r\nwindows: [^\r]+\r\npolicy interface: [^\r]+\r\n([^\r]+\r\n){3,}"
                                    : "退出码: 2\r\n";
  const std::string tail("T\\.\\d{3} \\[[A-Z ]{5}\\] \\[[a-z]+\\] [^\r]*\r\n"
                        "\r\n\r\n==================== 环境快照 T ====================\r\n"
                        "VARN USB Audio 桥接器 —— 诊断环境快照\r\n([^\r]+\r\n){40,}"
                        "==================== 环境快照结束 ====================\r\n"
                        "\r\n==================== \\[声音工具自检\\] ====================\r\n" + check + "$");
  EXPECT_TRUE(Search(text, tail)) << text.substr(text.size() > 3000 ? text.size() - 3000 : 0);
  ExitThroughTrayWithACleanLog();
}

// A name on the desktop taken already is never opened (let alone emptied): the export takes the
// next one, "-2", as when two exports fall within one second. Only when every choice is taken
// does it fail, with the box that says where the logs are. A desktop the shell cannot name has
// its own box.
TEST_F(DiagnosticsExport, TakesTheNextFreeNameAndReportsADesktopThatCannotTakeTheFile) {
  ASSERT_NE(Start(), nullptr);
  // Every name of a choice the export could make in the next half minute.
  FILETIME utc, local;
  GetSystemTimeAsFileTime(&utc);
  FileTimeToLocalFileTime(&utc, &local);
  const ULONGLONG now = (ULONGLONG(local.dwHighDateTime) << 32) | local.dwLowDateTime;
  auto plant = [&](int fromChoice, int toChoice, std::set<std::wstring>& planted) {
    for (ULONGLONG second = 0; second < 30; ++second) {
      const ULONGLONG at = now + second * 10000000;
      const FILETIME stamp{DWORD(at), DWORD(at >> 32)};
      SYSTEMTIME t;
      FileTimeToSystemTime(&stamp, &t);
      for (int choice = fromChoice; choice <= toChoice; ++choice) {
        wchar_t name[64];
        swprintf(name, 64, L"VARN日志-%04u%02u%02u-%02u%02u%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                 t.wSecond);
        std::wstring file = std::wstring(name) + (choice > 1 ? L"-" + std::to_wstring(choice) : L"") + L".txt";
        if (FileExists(Desktop() + L"\\" + file)) continue;
        planted.insert(file);
        ASSERT_TRUE(WriteBytes(Desktop() + L"\\" + file, "mine"));
      }
    }
  };
  std::set<std::wstring> planted;
  plant(1, 1, planted);
  const std::set<std::wstring> before = ExportFiles();
  ASSERT_TRUE(ExportWhenIdle());
  ASSERT_TRUE(WaitUntil([&] { return ExportFiles().size() > before.size(); }, 30000));
  std::wstring made;
  for (const std::wstring& name : ExportFiles()) {
    if (before.count(name) == 0) made = name;
  }
  EXPECT_TRUE(WholeMatch(Utf8(made), "VARN日志-\\d{8}-\\d{6}-2\\.txt")) << Utf8(made);
  EXPECT_TRUE(WaitUntil([&] { return Status() == L"诊断日志已导出到桌面：" + made; }, 10000)) << Utf8(Status());
  EXPECT_EQ(ReadBytes(Desktop() + L"\\" + made).rfind(kBom, 0), 0u);

  plant(2, 9, planted);
  ASSERT_TRUE(ExportWhenIdle());
  std::optional<ShownBox> box = CloseNextBox(20000);
  ASSERT_TRUE(box.has_value());
  // Nothing blocked the write: the box names what is in the way, not security software.
  EXPECT_EQ(box->title + L"|" + box->text,
            L"VARN 侦听修复|导出诊断日志失败：桌面上已有 9 个同一时刻的诊断文件，没有可用的新文件名。"
            L"请移走桌面上多余的「VARN日志」文件后再试。\r\n\r\n"
            L"可以手动到这个目录取日志文件，把 VARNListenFix.log 发回来即可：\r\n" + AppDir());
  EXPECT_EQ(Status(), L"导出失败：桌面上的同名文件已占满可用的文件名。");
  for (const std::wstring& name : planted) EXPECT_EQ(ReadBytes(Desktop() + L"\\" + name), "mine") << Utf8(name);

  // The shell's desktop folder below a file, where no folder can be.
  ASSERT_TRUE(WriteBytes(dir / L"file", "x"));
  const std::wstring unusable = dir / L"file\\Desktop";
  wchar_t usual[1024] = {};
  DWORD size = sizeof(usual);
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, kShellFolders, L"Desktop", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr,
                         usual, &size), ERROR_SUCCESS);
  RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"Desktop", REG_EXPAND_SZ, unusable.c_str(),
                  DWORD((unusable.size() + 1) * sizeof(wchar_t)));
  const bool started = ExportWhenIdle();
  box = CloseNextBox(20000);
  RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"Desktop", REG_EXPAND_SZ, usual, size);
  ASSERT_TRUE(started && box.has_value());
  EXPECT_EQ(box->text, L"导出诊断包失败：无法定位桌面目录。");
  EXPECT_EQ(Status(), L"导出失败：找不到桌面目录。");
  ExitThroughTrayWithACleanLog();
}

}  // namespace
