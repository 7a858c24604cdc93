#include "support/program_scenario.h"

#include <cstdio>
#include <cwchar>

#include "settings/settings.h"
#include "support/patterns.h"

namespace testing_support {

std::wstring TextOf(HWND window) {
  wchar_t text[1024] = {};
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &ignored);
  return text;
}

std::optional<ShownBox> FindMessageBox(DWORD processId) {
  struct Search {
    DWORD processId;
    HWND found;
  } search{processId, nullptr};
  EnumWindows([](HWND candidate, LPARAM data) -> BOOL {
    auto* search = reinterpret_cast<Search*>(data);
    wchar_t className[16] = {};
    DWORD owner = 0;
    GetWindowThreadProcessId(candidate, &owner);
    if (owner != search->processId || !IsWindowVisible(candidate) || GetClassNameW(candidate, className, 16) == 0 ||
        wcscmp(className, L"#32770") != 0) {
      return TRUE;
    }
    search->found = candidate;
    return FALSE;
  }, reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) return std::nullopt;
  return ShownBox{search.found, TextOf(search.found), TextOf(GetDlgItem(search.found, 0xFFFF))};
}

void ProgramScenario::SetUp() {
  SimulatedWorldTest::SetUp();
  RegDeleteTreeW(HKEY_CURRENT_USER, varn::kSettingsKeyPath);
  ASSERT_EQ(FindProgramWindow(), nullptr) << "another instance is still running";
}

void ProgramScenario::TearDown() {
  if (HasFailure() && program_) {
    for (const std::string& line : program_->LogLines()) std::printf("log: %s\n", line.c_str());
    for (const std::string& line : Journal()) std::printf("journal: %s\n", line.c_str());
  }
  if (program_ && program_->Running()) {
    // A box would block the exit.
    if (std::optional<ShownBox> box = FindMessageBox(processId_)) PostMessageW(box->window, WM_COMMAND, IDOK, 0);
    program_->PostCommand(kTrayExitCommand);
    program_->WaitForExit();
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, varn::kSettingsKeyPath);
  SimulatedWorldTest::TearDown();
}

HWND ProgramScenario::Start(const std::wstring& arguments, Startup startup) {
  program_ = std::make_unique<ProgramRun>(dir);
  return Launch(arguments, startup);
}

HWND ProgramScenario::Launch(const std::wstring& arguments, Startup startup) {
  if (!program_->Start(arguments)) return nullptr;
  window_ = program_->WaitForWindow();
  // The window can be found while it is still being made.
  if (window_ == nullptr || !WaitUntil([&] { return IsWindowVisible(window_) != FALSE; }, 10000)) return nullptr;
  GetWindowThreadProcessId(window_, &processId_);
  if (startup == Startup::Raw) return window_;
  auto logged = [&](const std::string& begin) {
    for (const std::string& line : program_->LogLines()) {
      if (line.rfind(begin, 0) == 0) return true;
    }
    return false;
  };
  if (!WaitUntil([&] { return logged("[INFO ] [app] 操作完成 [启动准备工作]"); }, 20000)) {
    ADD_FAILURE() << "the start-up work never ended";
    return window_;
  }
  // Timer 3 decides at its first tick after that; a choice that cannot be connected submits
  // nothing and says nothing, so the wait may run out. A connect that started is waited for to
  // its end, however long its tool runs take on a loaded machine.
  WaitUntil([&] {
    return logged("[INFO ] [work] 任务开始 [启动自动连接]") ||
           logged("[INFO ] [app] 等待 USB Audio VARN，设备连接后将自动侦听...");
  }, 5000);
  if (logged("[INFO ] [work] 任务开始 [启动自动连接]") &&
      !WaitUntil([&] { return logged("[INFO ] [app] 操作完成 [启动自动连接]"); }, 30000)) {
    ADD_FAILURE() << "the start-up connect never ended";
  }
  ClearJournal();
  return window_;
}

void ProgramScenario::HoldStartupWork() { WriteBytes(dir / L"schtasks_faults.txt", "Query delay=30000\n"); }

void ProgramScenario::ClearJournal() { DeleteFileW((dir / L"journal.log").c_str()); }

void ProgramScenario::ExitThroughTrayWithACleanLog() {
  program_->PostCommand(kTrayExitCommand);
  EXPECT_EQ(program_->WaitForExit(), 0);
  // Only the prefix goes through the pattern: the library's matcher recurses once per
  // character, and a record of a few thousand characters would exhaust the test's stack.
  const std::string record(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \[(TRACE|INFO |WARN |ERROR)\] \[[a-z]+\] )");
  for (const std::string& line : SplitCrLfLines(ReadBytes(program_->LogPath()))) {
    const std::string prefix = line.substr(0, line.find("] ", line.find("] ") + 2) + 2);
    EXPECT_TRUE(WholeMatch(prefix, record)) << "not a record: " << line.substr(0, 200);
  }
}

size_t ProgramScenario::Find(const std::string& begin, size_t from) const {
  const std::vector<std::string> lines = program_->LogLines();
  for (size_t i = from; i < lines.size(); ++i) {
    if (lines[i].rfind(begin, 0) == 0) return i;
  }
  return kNowhere;
}

size_t ProgramScenario::WaitFor(const std::string& begin, size_t from, DWORD timeoutMs) const {
  size_t found = kNowhere;
  WaitUntil([&] { return (found = Find(begin, from)) != kNowhere; }, timeoutMs);
  return found;
}

void ProgramScenario::Click(int id) {
  PostMessageW(window_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(id)));
}

void ProgramScenario::Pick(int comboId, int index) {
  HWND combo = Control(comboId);
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageW(window_, WM_COMMAND, MAKEWPARAM(comboId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

size_t ProgramScenario::LogCount(const std::string& line) const {
  size_t count = 0;
  for (const std::string& logged : program_->LogLines()) count += logged == line ? 1 : 0;
  return count;
}

std::optional<ShownBox> ProgramScenario::CloseNextBox(DWORD timeoutMs) {
  std::optional<ShownBox> box;
  if (!WaitUntil([&] { return (box = FindMessageBox(processId_)).has_value() && !box->text.empty(); }, timeoutMs)) {
    return std::nullopt;
  }
  PostMessageW(box->window, WM_COMMAND, IDOK, 0);
  WaitUntil([&] { return !FindMessageBox(processId_).has_value(); }, 5000);
  return box;
}

}  // namespace testing_support
