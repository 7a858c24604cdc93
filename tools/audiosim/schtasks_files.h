#pragma once
// The files of the stand-in schtasks.exe, in the simulator directory (AUDIOSIM_DIR) beside the
// world: the tests read what the program asked the Task Scheduler to do, and set how it answers.

namespace audiosim {

// Every command line the stand-in received, one UTF-8 line each (CR LF), as the caller wrote it.
constexpr wchar_t kSchtasksJournalName[] = L"schtasks_journal.log";
// The names of the tasks that exist, one a line: the Task Scheduler's state.
constexpr wchar_t kSchtasksTasksName[] = L"schtasks_tasks.txt";
// The bytes of the task definition file of the last "/Create ... /XML <file>", copied before the
// caller could delete its file.
constexpr wchar_t kSchtasksDefinitionName[] = L"schtasks_definition.xml";
// Misbehaviour rules, in the syntax of faults.txt, for the commands "Create", "Delete", "Query"
// (runs counted in the stand-in's own journal).
constexpr wchar_t kSchtasksFaultsName[] = L"schtasks_faults.txt";

}  // namespace audiosim
