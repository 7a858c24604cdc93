#pragma once
// A scenario on the real program: a fresh simulated world and an empty settings key, the
// program started from its own folder and driven as a user drives it, and at the end the exit
// through the tray with a log that holds nothing but records.

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app.h"
#include "support/program.h"
#include "support/sim_fixture.h"

namespace testing_support {

// A message box of the program as the user sees it.
struct ShownBox {
  HWND window = nullptr;
  std::wstring title;
  std::wstring text;
};
// The text of a window of another process.
std::wstring TextOf(HWND window);
// The program's message box that is shown now (a dialog whose message is control 0xFFFF).
std::optional<ShownBox> FindMessageBox(DWORD processId);

class ProgramScenario : public SimulatedWorldTest {
 protected:
  static constexpr int kTrayExitCommand = varn::kCmdTrayExit;

  void SetUp() override;
  // A program that is still running (after a failed assertion) is ended; on failure its log
  // and the tool's journal are printed.
  void TearDown() override;

  // Starts the program and waits until its window is shown: its lists are filled and its
  // buttons set by then. Null when no window came. Settled, it also waits for what the program
  // does on its own at start (the start-up work, then the automatic connect or the waiting
  // text) and empties the sound tool's journal, so that the scenario sees only what it causes.
  enum class Startup { Raw, Settled };
  HWND Start(const std::wstring& arguments = L"", Startup startup = Startup::Settled);
  // The same for a program_ made beforehand, so that its folder can be prepared first.
  HWND Launch(const std::wstring& arguments = L"", Startup startup = Startup::Settled);
  void ClearJournal();
  // Keeps the start-up work waiting on its Task Scheduler query for a while, so that a scenario
  // sees the window as it is made, with nothing the program does on its own in between.
  void HoldStartupWork();
  // Ends the program as the user does and checks that every line it logged is one record.
  void ExitThroughTrayWithACleanLog();

  HWND Control(int id) const { return GetDlgItem(window_, id); }
  // A press of a button as the button itself reports it to the window.
  void Click(int id);
  // A pick in a drop-down list: the list changes its selection and tells its parent.
  void Pick(int comboId, int index);
  size_t LogCount(const std::string& line) const;
  static constexpr size_t kNowhere = static_cast<size_t>(-1);
  static constexpr DWORD kFewRuns = 8000;  // a few 1500 ms device runs and the tasks they start
  // The first log line from `from` on that begins with the text (time stamp left off).
  size_t Find(const std::string& begin, size_t from = 0) const;
  // The same, waiting for it; kNowhere when it did not come in time.
  size_t WaitFor(const std::string& begin, size_t from = 0, DWORD timeoutMs = kFewRuns) const;
  // The box the program shows next within the deadline: its title and text, closed once read.
  std::optional<ShownBox> CloseNextBox(DWORD timeoutMs);

  std::unique_ptr<ProgramRun> program_;
  HWND window_ = nullptr;
  DWORD processId_ = 0;
};

}  // namespace testing_support
