#pragma once
// The logon task that starts the program hidden in the tray with "--startup", and the old
// per-user Run entry it replaces. Everything here runs schtasks.exe and waits for it, so it
// belongs on the worker thread.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varn {

constexpr wchar_t kAutostartTaskName[] = L"VARN Audio Bridge Startup";
constexpr std::uint32_t kSchtasksLimitMs = 15000;

// The query command line; the task counts as present exactly when it exits with code 0.
std::wstring AutostartQueryCommand();
std::wstring AutostartDeleteCommand();
// The create command line for a task definition file.
std::wstring AutostartCreateCommand(const std::wstring& definitionPath);
// The task definition (XML text, without its byte-order mark) for a program path; empty when
// the current user cannot be read.
std::wstring AutostartTaskDefinition(const std::wstring& programPath);

bool IsAutostartTaskPresent();
// Removes the old Run entry, then creates or deletes the task; true when the wanted state was
// reached. Creating refuses a program that someone other than an administrator could replace.
bool ConfigureAutostart(bool enable);
// The logon task after an alignment: whether it exists, and whether a wanted task was not
// created because the program's folder or files can be changed by an ordinary user.
struct AutostartState {
  bool present = false;
  bool refusedAsUnsafe = false;
};
// Brings the task in line with the wanted state.
AutostartState AlignAutostart(bool wanted);

// Creates (or replaces) the task for this program from a definition file, WITHOUT the check
// that only administrators can change the program: ConfigureAutostart(true) is the way in.
bool CreateAutostartTask(const std::wstring& programPath);

// True when only administrators, SYSTEM and TrustedInstaller may change what the descriptor
// protects: no allow entry grants a write, delete or rights change to anyone else, the DACL is
// present, and the owner is one of those three.
bool OnlyAdministratorsCanWrite(PSECURITY_DESCRIPTOR descriptor);
// The rule for the folders above the program's one: nobody else may delete or rename what the
// descriptor protects or its entries (adding entries is allowed), nor grant themselves that.
bool OnlyAdministratorsCanReplaceEntries(PSECURITY_DESCRIPTOR descriptor);
// True when the path the program was started under is the path the file system resolves it
// to, letter case and the "\\?\" prefix aside.
bool IsFinalPathAsStarted(const std::wstring& startedPath, const std::wstring& finalPath);
// A folder above the program's one, with its security descriptor.
struct JudgedFolder {
  std::wstring path;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
};
// The refusal for the nearest of them (nearest first) that fails the rule above, as
// "<path>: 上级目录 <reason>"; none when none does.
std::optional<std::wstring> WhyFoldersAboveAreUnsafe(const std::vector<JudgedFolder>& nearestFirst);
// Why a logon task must not start the program at this path, as the refusal's log line says it
// ("<path>: <reason>"); none when it may.
std::optional<std::wstring> WhyProgramPathIsUnsafe(const std::wstring& programPath);

}  // namespace varn
