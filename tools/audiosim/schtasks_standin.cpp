// Stand-in for Windows' schtasks.exe, copied into the test prefix's system folder. It journals
// every command line it receives and keeps the one state the program relies on: which tasks
// exist. "/Create /F /TN <name> /XML <file>" makes a task exist (and keeps a copy of the
// definition's bytes), "/Delete /F /TN <name>" removes it, "/Query /TN <name>" answers 0 only
// while it exists. Wine's own schtasks.exe answers every query with 0 and fails every change.
//
// Exit codes: 0 done, 1 what the real tool answers for a missing task or an unreadable
// definition, 2 unknown argument form, 6 no simulator directory (AUDIOSIM_DIR unset).

#include <windows.h>
#include <shellapi.h>

#include <sstream>
#include <string>
#include <vector>

#include "schtasks_files.h"
#include "sim_files.h"

namespace {

enum ExitCode : int { kDone = 0, kFailed = 1, kBadArguments = 2, kNoSimulator = 6 };

struct Request {
  std::wstring command;  // without its slash: "Create", "Delete", "Query"
  std::wstring taskName;
  std::wstring definitionPath;
  bool force = false;
};

bool IsSwitch(const std::wstring& argument, const wchar_t* name) {
  return argument.size() > 1 && argument[0] == L'/' && _wcsicmp(argument.c_str() + 1, name) == 0;
}

// Only the forms the program uses; anything else is refused, as a wrong command line must show.
bool ParseRequest(const wchar_t* commandLine, Request& request) {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(commandLine, &count);
  if (argv == nullptr) return false;
  std::vector<std::wstring> args(argv + 1, argv + count);
  LocalFree(argv);
  if (args.empty()) return false;
  for (const wchar_t* name : {L"Create", L"Delete", L"Query"}) {
    if (IsSwitch(args[0], name)) request.command = name;
  }
  if (request.command.empty()) return false;
  for (size_t i = 1; i < args.size(); ++i) {
    bool hasValue = i + 1 < args.size();
    if (IsSwitch(args[i], L"F")) {
      request.force = true;
    } else if (IsSwitch(args[i], L"TN") && hasValue) {
      request.taskName = args[++i];
    } else if (IsSwitch(args[i], L"XML") && hasValue) {
      request.definitionPath = args[++i];
    } else {
      return false;
    }
  }
  if (request.taskName.empty()) return false;
  if (request.command == L"Create") return !request.definitionPath.empty();
  return request.definitionPath.empty();
}

std::vector<std::string> TaskNames() {
  std::vector<std::string> names;
  std::istringstream lines(audiosim::ReadFileBytes(audiosim::SimFile(audiosim::kSchtasksTasksName)));
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) names.push_back(line);
  }
  return names;
}

bool SaveTaskNames(const std::vector<std::string>& names) {
  std::string bytes;
  for (const std::string& name : names) bytes += name + "\r\n";
  std::wstring path = audiosim::SimFile(audiosim::kSchtasksTasksName);
  DeleteFileW(path.c_str());
  return audiosim::AppendFileBytes(path, bytes);
}

// Runs of this command so far, this one included, counted in the journal's second words.
int CountRuns(const std::wstring& command) {
  std::string wanted = audiosim::ToUtf8(command);
  wanted.insert(wanted.begin(), '/');
  std::istringstream lines(audiosim::ReadFileBytes(audiosim::SimFile(audiosim::kSchtasksJournalName)));
  std::string line, program, first;
  int runs = 0;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    if (words >> program >> first && _stricmp(first.c_str(), wanted.c_str()) == 0) ++runs;
  }
  return runs;
}

bool CopyDefinition(const std::wstring& definitionPath) {
  HANDLE file = CreateFileW(definitionPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  std::wstring copy = audiosim::SimFile(audiosim::kSchtasksDefinitionName);
  DeleteFileW(copy.c_str());
  return audiosim::AppendFileBytes(copy, audiosim::ReadFileBytes(definitionPath));
}

int Apply(const Request& request) {
  std::vector<std::string> names = TaskNames();
  std::string name = audiosim::ToUtf8(request.taskName);
  auto found = names.end();
  for (auto it = names.begin(); it != names.end(); ++it) {
    if (_stricmp(it->c_str(), name.c_str()) == 0) found = it;
  }
  bool exists = found != names.end();
  if (request.command == L"Query") return exists ? kDone : kFailed;
  if (request.command == L"Delete") {
    if (!exists) return kFailed;
    names.erase(found);
    return SaveTaskNames(names) ? kDone : kFailed;
  }
  if (exists && !request.force) return kFailed;
  if (!CopyDefinition(request.definitionPath)) return kFailed;
  if (!exists) names.push_back(name);
  return SaveTaskNames(names) ? kDone : kFailed;
}

}  // namespace

int wmain() {
  const wchar_t* commandLine = GetCommandLineW();
  std::wstring journal = audiosim::SimFile(audiosim::kSchtasksJournalName);
  if (journal.empty()) return kNoSimulator;
  audiosim::AppendFileBytes(journal, audiosim::ToUtf8(commandLine) + "\r\n");

  Request request;
  if (!ParseRequest(commandLine, request)) return kBadArguments;
  audiosim::Misbehaviour fault = audiosim::ParseMisbehaviour(
      audiosim::ReadFileBytes(audiosim::SimFile(audiosim::kSchtasksFaultsName)), request.command,
      CountRuns(request.command));
  if (fault.hang) Sleep(INFINITE);
  if (fault.delayMs > 0) Sleep(fault.delayMs);
  if (fault.forceExit) return static_cast<int>(fault.exitCode);
  if (fault.noEffect) return kDone;
  return Apply(request);
}
