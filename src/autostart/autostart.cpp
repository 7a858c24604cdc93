#include "autostart/autostart.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "log/log.h"
#include "base/path.h"
#include "base/scoped_handles.h"
#include "base/text.h"
#include "tool_runner/tool_runner.h"
#include "settings/registry_key.h"

namespace varn {

namespace {

constexpr wchar_t kRunKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kLegacyRunValue[] = L"VARNListenFix";
constexpr wchar_t kSoundToolName[] = L"SoundVolumeView.exe";

// What lets someone change a file or what a folder holds: write, append, extended attributes,
// delete (the object or a child), and the rights to change the DACL or take ownership, plainly
// or as generic rights. Writing attributes is left out: it sets times and the read-only flag,
// never content.
constexpr ACCESS_MASK kChangingRights = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA |
                                        FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                        DELETE | WRITE_DAC | WRITE_OWNER;
// What lets someone move a folder above the program's one out of the way, or one of the folders
// it holds, so that a folder of their own can take its name: deleting or renaming it, deleting
// its entries, or the rights to grant themselves either. Adding entries is left out here: a new
// entry cannot take the name of one that is there, and Windows lets every user create folders
// in the root of the system drive.
constexpr ACCESS_MASK kReplacingRights = GENERIC_ALL | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER;

std::wstring SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return L"?";
  LocalMemory owned(text);
  return text;
}

bool IsTrustedInstaller(PSID sid) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID trustedInstaller = nullptr;
  if (!AllocateAndInitializeSid(&nt, 6, 80, 956008885, 3418522649, 1831038044, 1853292631,
                                2271478464, 0, 0, &trustedInstaller)) {
    return false;
  }
  bool same = EqualSid(sid, trustedInstaller) != FALSE;
  FreeSid(trustedInstaller);
  return same;
}

bool IsAdministrativeSid(PSID sid) {
  return sid != nullptr && IsValidSid(sid) &&
         (IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
          IsWellKnownSid(sid, WinLocalSystemSid) || IsTrustedInstaller(sid));
}

// Why the descriptor grants one of the rights to someone other than the administration; none
// when it does not. Deny entries are not weighed: they could only make the answer stricter than
// needed. Inherit-only entries (CREATOR OWNER on Program Files) do not apply to the object.
std::optional<std::wstring> WhoElseCanChange(PSECURITY_DESCRIPTOR descriptor, ACCESS_MASK rights) {
  if (descriptor == nullptr || !IsValidSecurityDescriptor(descriptor)) return L"安全描述符无效";
  PSID owner = nullptr;
  BOOL ownerDefaulted = FALSE;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) || !IsAdministrativeSid(owner)) {
    return L"所有者 " + (owner != nullptr ? SidText(owner) : std::wstring(L"(无)")) + L" 不是管理员";
  }
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present ||
      dacl == nullptr) {
    return L"没有访问控制列表，任何人都可写";
  }
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) return L"访问控制列表无法读取";
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
    // Every allow entry starts with its mask; only these two kinds have the SID right after it.
    ACCESS_MASK mask = static_cast<const ACCESS_ALLOWED_ACE*>(entry)->Mask;
    switch (header->AceType) {
      case ACCESS_ALLOWED_ACE_TYPE:
      case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
        PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart;
        if ((mask & rights) != 0 && !IsAdministrativeSid(sid)) {
          return FormatText(L"%s 有写入权限 0x%08lX", SidText(sid).c_str(),
                            static_cast<unsigned long>(mask));
        }
        break;
      }
      case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
      case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
      case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
        if ((mask & rights) != 0) {
          return FormatText(L"第 %lu 项（类型 %u）允许写入", static_cast<unsigned long>(i),
                            static_cast<unsigned>(header->AceType));
        }
        break;
      default:
        break;
    }
  }
  return std::nullopt;
}

// Why someone other than the administration could change the file or folder at this path;
// none when nobody can. readError is the error of reading its descriptor (a missing file:
// ERROR_FILE_NOT_FOUND).
std::optional<std::wstring> WhoElseCanChangePath(const std::wstring& path, ACCESS_MASK rights, DWORD& readError) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  readError = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, nullptr, nullptr, &descriptor);
  if (readError != ERROR_SUCCESS) return L"安全信息无法读取 err=" + FormatErrorCode(readError);
  LocalMemory owned(descriptor);
  return WhoElseCanChange(descriptor, rights);
}

struct UnsafePath {
  std::wstring path;
  std::wstring reason;
};

// The nearest folder above the program's one that someone other than the administration could
// move aside, or empty its entries, to put a folder of their own in its place.
std::optional<UnsafePath> FindReplaceableFolder(const std::vector<JudgedFolder>& nearestFirst) {
  for (const JudgedFolder& folder : nearestFirst) {
    if (std::optional<std::wstring> reason = WhoElseCanChange(folder.descriptor, kReplacingRights)) {
      return UnsafePath{folder.path, L"上级目录 " + *reason};
    }
  }
  return std::nullopt;
}

// A logon task with the highest rights runs whatever file lies at the path it stores, and the
// program runs the sound tool beside it. So the path is judged as the file system resolves it:
// a path that reaches the program through a link or a junction the user owns is refused, since
// the user could point it elsewhere later; the program, the tool and their folder must be
// beyond an ordinary user's reach, and no folder above them may be moved aside for one of the
// user's own. A sound tool that is not there is judged by its folder, which is what decides
// whether someone could put one there later. finalPath is the path to store.
std::optional<UnsafePath> FindUnsafeProgramPath(const std::wstring& programPath, std::wstring& finalPath) {
  finalPath = FinalPathOf(programPath);
  if (finalPath.empty()) return UnsafePath{programPath, L"程序文件的实际路径无法读取"};
  if (!IsFinalPathAsStarted(programPath, finalPath)) {
    return UnsafePath{programPath, L"启动路径经过链接或别名，实际位置是 " + finalPath};
  }
  if (PassesThroughLink(finalPath)) return UnsafePath{finalPath, L"路径上有链接、联接或挂载点"};
  const std::wstring folder = ParentDirectory(finalPath);
  const std::wstring soundTool = JoinPath(folder, kSoundToolName);
  if (PathExists(soundTool) && (!SamePath(FinalPathOf(soundTool), soundTool) || PassesThroughLink(soundTool))) {
    return UnsafePath{soundTool, L"声音工具经过链接或联接"};
  }
  const std::wstring* paths[] = {&folder, &finalPath, &soundTool};
  for (const std::wstring* path : paths) {
    DWORD error = ERROR_SUCCESS;
    std::optional<std::wstring> reason = WhoElseCanChangePath(*path, kChangingRights, error);
    if (!reason) continue;
    if (path == &soundTool && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) continue;
    return UnsafePath{*path, *reason};
  }
  std::vector<LocalMemory> owned;
  std::vector<JudgedFolder> chain;
  for (const std::wstring& above : FoldersAbove(folder)) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = GetNamedSecurityInfoW(above.c_str(), SE_FILE_OBJECT,
                                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                                              nullptr, nullptr, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) return UnsafePath{above, L"上级目录 安全信息无法读取 err=" + FormatErrorCode(error)};
    owned.emplace_back(descriptor);
    chain.push_back(JudgedFolder{above, descriptor});
  }
  return FindReplaceableFolder(chain);
}

std::wstring CurrentUserSid() {
  HANDLE rawToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return std::wstring();
  KernelHandle token(rawToken);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  // In 8-byte units: the record starts with a pointer.
  std::vector<std::uint64_t> buffer(size / sizeof(std::uint64_t) + 1);
  if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
    return std::wstring();
  }
  return SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
}

std::wstring XmlEscape(const std::wstring& text) {
  std::wstring escaped;
  for (wchar_t c : text) {
    switch (c) {
      case L'&': escaped += L"&amp;"; break;
      case L'<': escaped += L"&lt;"; break;
      case L'>': escaped += L"&gt;"; break;
      case L'"': escaped += L"&quot;"; break;
      case L'\'': escaped += L"&apos;"; break;
      default: escaped += c; break;
    }
  }
  return escaped;
}

// The system's own folder, never the program's or the current one, where a bare "schtasks.exe"
// would be looked for first by a program that runs elevated.
std::wstring SystemSchtasksPath() {
  wchar_t folder[MAX_PATH];
  UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  return JoinPath(std::wstring(folder, length), L"schtasks.exe");
}

bool RunSchtasks(const std::wstring& commandLine) {
  std::wstring program = SystemSchtasksPath();
  if (program.empty()) {
    LogError(L"tool", FormatText(L"系统目录无法读取，未执行 cmd=%s", commandLine.c_str()));
    return false;
  }
  return RunProgram(program, commandLine, kSchtasksLimitMs);
}

// The shared Windows folder's Temp, which an ordinary user cannot list and whose files made by
// an administrator they cannot change.
std::wstring NewDefinitionPath() { return NewPrivateTempPath(L"varn-autostart-", L".xml"); }

// A new file (a name that is already taken, by chance or planted, is refused), readable and
// writable by the administration only, holding the definition as UTF-16 LE with its mark.
// Answers the error, ERROR_SUCCESS when written; a file it made but could not fill is removed.
DWORD WriteDefinitionFile(const std::wstring& path, const std::wstring& definition) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)",
                                                            SDDL_REVISION_1, &descriptor, nullptr)) {
    return GetLastError();
  }
  LocalMemory owned(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY, nullptr));
  if (!file) return GetLastError();
  std::wstring bytes = L"\xFEFF" + definition;
  DWORD size = static_cast<DWORD>(bytes.size() * sizeof(wchar_t));
  DWORD written = 0;
  BOOL wrote = WriteFile(file.get(), bytes.data(), size, &written, nullptr);
  if (wrote && written == size) return ERROR_SUCCESS;
  DWORD error = wrote ? ERROR_WRITE_FAULT : GetLastError();
  file.reset();
  DeleteFileW(path.c_str());
  return error;
}

void RemoveLegacyRunEntry() {
  RegistryKey run = OpenRegistryKey(HKEY_CURRENT_USER, kRunKeyPath, KEY_SET_VALUE);
  if (run) RegDeleteValueW(run.get(), kLegacyRunValue);
}

// Deleting may fail because there is no task: then the wanted state holds all the same.
bool DeleteAutostartTask() {
  if (RunSchtasks(AutostartDeleteCommand())) return true;
  return !IsAutostartTaskPresent();
}

// How a change of the logon task ended.
enum class AutostartChange { Reached, Failed, RefusedAsUnsafe };

AutostartChange Reached(bool reached) { return reached ? AutostartChange::Reached : AutostartChange::Failed; }

AutostartChange EnableAutostart() {
  std::wstring finalPath;
  const std::optional<UnsafePath> unsafe = FindUnsafeProgramPath(GetProgramPath(), finalPath);
  if (!unsafe) return Reached(CreateAutostartTask(finalPath));
  // A task left from an earlier, safe place would now start whatever lies at its path.
  LogWarn(L"tool", FormatText(L"不创建开机自启任务（并删除已有的）：%s 可被管理员以外的用户修改，"
                              L"不能以最高权限自动启动 原因=%s",
                              unsafe->path.c_str(), unsafe->reason.c_str()));
  RunSchtasks(AutostartDeleteCommand());
  return AutostartChange::RefusedAsUnsafe;
}

AutostartChange ChangeAutostart(bool enable) {
  RemoveLegacyRunEntry();
  return enable ? EnableAutostart() : Reached(DeleteAutostartTask());
}

}  // namespace

std::wstring AutostartQueryCommand() {
  return L"schtasks.exe /Query /TN " + QuoteArgument(kAutostartTaskName);
}

std::wstring AutostartDeleteCommand() {
  return L"schtasks.exe /Delete /F /TN " + QuoteArgument(kAutostartTaskName);
}

std::wstring AutostartCreateCommand(const std::wstring& definitionPath) {
  return L"schtasks.exe /Create /F /TN " + QuoteArgument(kAutostartTaskName) + L" /XML " +
         QuoteArgument(definitionPath);
}

// A definition rather than "/SC ONLOGON /RL HIGHEST /TR ...", whose hidden defaults would stop
// the program after three days, keep it from starting on battery and stop it when the mains
// goes, and run it at below-normal priority. The task runs for the user who set it up, in
// their session, with the highest rights that user has.
std::wstring AutostartTaskDefinition(const std::wstring& programPath) {
  std::wstring user = XmlEscape(CurrentUserSid());
  if (user.empty()) return std::wstring();
  return L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
         L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
         L"  <Triggers>\r\n"
         L"    <LogonTrigger>\r\n"
         L"      <Enabled>true</Enabled>\r\n"
         L"      <UserId>" + user + L"</UserId>\r\n"
         L"    </LogonTrigger>\r\n"
         L"  </Triggers>\r\n"
         L"  <Principals>\r\n"
         L"    <Principal id=\"Author\">\r\n"
         L"      <UserId>" + user + L"</UserId>\r\n"
         L"      <LogonType>InteractiveToken</LogonType>\r\n"
         L"      <RunLevel>HighestAvailable</RunLevel>\r\n"
         L"    </Principal>\r\n"
         L"  </Principals>\r\n"
         L"  <Settings>\r\n"
         L"    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\r\n"
         L"    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\r\n"
         L"    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\r\n"
         L"    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>\r\n"
         L"    <Priority>5</Priority>\r\n"
         L"    <Enabled>true</Enabled>\r\n"
         L"  </Settings>\r\n"
         L"  <Actions Context=\"Author\">\r\n"
         L"    <Exec>\r\n"
         L"      <Command>" + XmlEscape(programPath) + L"</Command>\r\n"
         L"      <Arguments>--startup</Arguments>\r\n"
         L"    </Exec>\r\n"
         L"  </Actions>\r\n"
         L"</Task>\r\n";
}

bool IsAutostartTaskPresent() { return RunSchtasks(AutostartQueryCommand()); }

// The definition file lives only for the one run, whatever its outcome.
bool CreateAutostartTask(const std::wstring& programPath) {
  std::wstring definition = AutostartTaskDefinition(programPath);
  if (definition.empty()) {
    LogError(L"tool", L"开机自启任务未创建：当前用户无法读取");
    return false;
  }
  std::wstring path = NewDefinitionPath();
  DWORD error = path.empty() ? ERROR_PATH_NOT_FOUND : WriteDefinitionFile(path, definition);
  if (error != ERROR_SUCCESS) {
    LogError(L"tool", FormatText(L"开机自启任务定义文件无法写入 err=%s path=%s",
                                 FormatErrorCode(error).c_str(), path.c_str()));
    return false;
  }
  bool created = RunSchtasks(AutostartCreateCommand(path));
  DeleteFileW(path.c_str());
  return created;
}

bool ConfigureAutostart(bool enable) { return ChangeAutostart(enable) == AutostartChange::Reached; }

// Wanted: always created anew, so that a moved program is picked up. Not wanted: deleted only
// when there is one. Either way the answer is the task's presence afterwards, not the outcome of
// the change.
AutostartState AlignAutostart(bool wanted) {
  AutostartState state;
  if (wanted) {
    state.refusedAsUnsafe = ChangeAutostart(true) == AutostartChange::RefusedAsUnsafe;
  } else if (IsAutostartTaskPresent()) {
    ChangeAutostart(false);
  }
  state.present = IsAutostartTaskPresent();
  return state;
}

bool OnlyAdministratorsCanWrite(PSECURITY_DESCRIPTOR descriptor) {
  return !WhoElseCanChange(descriptor, kChangingRights);
}

bool OnlyAdministratorsCanReplaceEntries(PSECURITY_DESCRIPTOR descriptor) {
  return !WhoElseCanChange(descriptor, kReplacingRights);
}

// The two spellings of one path differ only in letter case; anything else (a link, a junction,
// a short 8.3 name, a substituted drive) is a path the task must not be made with.
bool IsFinalPathAsStarted(const std::wstring& startedPath, const std::wstring& finalPath) {
  return !finalPath.empty() && SamePath(WithoutLongPathPrefix(startedPath), WithoutLongPathPrefix(finalPath));
}

std::optional<std::wstring> WhyFoldersAboveAreUnsafe(const std::vector<JudgedFolder>& nearestFirst) {
  const std::optional<UnsafePath> unsafe = FindReplaceableFolder(nearestFirst);
  if (!unsafe) return std::nullopt;
  return unsafe->path + L": " + unsafe->reason;
}

std::optional<std::wstring> WhyProgramPathIsUnsafe(const std::wstring& programPath) {
  std::wstring finalPath;
  const std::optional<UnsafePath> unsafe = FindUnsafeProgramPath(programPath, finalPath);
  if (!unsafe) return std::nullopt;
  return unsafe->path + L": " + unsafe->reason;
}

}  // namespace varn
