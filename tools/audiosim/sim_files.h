#pragma once
// Where the simulated audio system keeps its files, and the misbehaviour rules that tests set
// for the stand-in sound tool. Everything lives in one directory named by the environment
// variable AUDIOSIM_DIR, so the program under test, the stand-in tool and the tests all see
// the same simulated machine.

#include <cstdint>
#include <string>
#include <vector>

namespace audiosim {

constexpr wchar_t kDirVariable[] = L"AUDIOSIM_DIR";
constexpr wchar_t kJournalName[] = L"journal.log";
constexpr wchar_t kFaultsName[] = L"faults.txt";

// The simulator directory, empty when the variable is not set.
std::wstring SimDirectory();
std::wstring SimFile(const wchar_t* name);

// How one run of the stand-in tool misbehaves. A rule line in faults.txt is
//   <command or *> <setting> [<setting> ...]
// with the command named without its slash ("Enable", "SetListenToThisDevice") and the
// settings
//   exit=N          end with exit code N without any effect
//   delay=MS        take this long before doing the work
//   hang            never end
//   noeffect        report success (exit code 0) but change nothing
//   enable-delay=MS an /Enable takes effect only this long after the tool has ended
//   from=N, to=N    the line applies only to the N-th and later (or earlier) runs of that
//                   command, counted in the journal from 1
// Every matching line applies, later ones win.
struct Misbehaviour {
  bool hang = false;
  std::uint32_t delayMs = 0;
  bool forceExit = false;
  std::uint32_t exitCode = 0;
  bool noEffect = false;
  std::uint32_t enableDelayMs = 0;
};

Misbehaviour ParseMisbehaviour(const std::string& rules, const std::wstring& command, int run);
// The rules of faults.txt for this run of the command, counted in the journal.
Misbehaviour MisbehaviourFor(const std::wstring& command);
// How many journal lines are runs of this command ("/Command ..." in any letter case).
int CountJournalRuns(const std::wstring& command);

// Whole-file helpers; a missing file reads as empty.
std::string ReadFileBytes(const std::wstring& path);
bool AppendFileBytes(const std::wstring& path, const std::string& bytes);
std::string ToUtf8(const std::wstring& text);

}  // namespace audiosim
