// The logon task through the stand-in schtasks.exe in the prefix's system folder: the command
// lines it receives, the task definition it is handed, the old Run entry, and the refusal to
// register a program that someone other than an administrator could replace.

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log.h"
#include "base/path.h"
#include "autostart/autostart.h"
#include "tool_runner/tool_runner.h"
#include "schtasks_files.h"
#include "support/patterns.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const std::string kQuery = "schtasks.exe /Query /TN \"VARN Audio Bridge Startup\"";
const std::string kDelete = "schtasks.exe /Delete /F /TN \"VARN Audio Bridge Startup\"";
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValue[] = L"VARNListenFix";

struct RunEntry {
  bool present = false;
  std::wstring text;
};

RunEntry ReadRunEntry() {
  wchar_t text[1024];
  DWORD bytes = sizeof(text);
  RunEntry entry;
  entry.present = RegGetValueW(HKEY_CURRENT_USER, kRunKey, kRunValue, RRF_RT_REG_SZ, nullptr, text,
                               &bytes) == ERROR_SUCCESS;
  if (entry.present) entry.text = text;
  return entry;
}

void WriteRunEntry(const RunEntry& entry) {
  if (!entry.present) {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kRunValue);
    return;
  }
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, kRunValue, REG_SZ, entry.text.c_str(),
                            static_cast<DWORD>((entry.text.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

const RunEntry kOldEntry{true, L"\"C:\\Old\\VARNListenFix.exe\" --startup"};

class Autostart : public ::testing::Test {
 protected:
  void SetUp() override {
    savedEntry = ReadRunEntry();
    GetCurrentDirectoryW(MAX_PATH, savedDirectory);
    varn::OpenLog(dir / L"VARNListenFix.exe");
  }
  void TearDown() override {
    SetCurrentDirectoryW(savedDirectory);
    WriteRunEntry(savedEntry);
  }

  std::vector<std::string> Journal() const { return SplitCrLfLines(ReadBytes(dir / audiosim::kSchtasksJournalName)); }
  void ClearJournal() const { DeleteFileW((dir / audiosim::kSchtasksJournalName).c_str()); }
  void SetTaskExists() const { ASSERT_TRUE(WriteBytes(dir / audiosim::kSchtasksTasksName, "VARN Audio Bridge Startup\r\n")); }
  void SetFaults(const std::string& rules) const { ASSERT_TRUE(WriteBytes(dir / audiosim::kSchtasksFaultsName, rules)); }
  std::string LogText() const { return ReadBytes(varn::LogFilePath()); }

  TempDir dir;
  EnvScope simDir{L"AUDIOSIM_DIR", dir.path().c_str()};
  RunEntry savedEntry;
  wchar_t savedDirectory[MAX_PATH] = {};
};

TEST_F(Autostart, QueryAndDeleteRunTheSystemSchtasksAndDisablingTrustsTheQuery) {
  // A program of that name in the current directory, where a search by name looks before the
  // system folder: the sound tool's stand-in, which journals what it receives.
  ASSERT_TRUE(CopyFileW(SimProgram(L"SoundVolumeView.exe").c_str(), (dir / L"schtasks.exe").c_str(), FALSE));
  ASSERT_TRUE(SetCurrentDirectoryW(dir.path().c_str()));
  varn::RunCommandLine(varn::AutostartQueryCommand(), varn::kSchtasksLimitMs);
  ASSERT_EQ(SplitCrLfLines(ReadBytes(dir / L"journal.log")).size(), 1u) << "a search by name finds the decoy";
  ASSERT_TRUE(Journal().empty());

  WriteRunEntry(kOldEntry);
  const varn::AutostartState kept = varn::AlignAutostart(false);
  EXPECT_FALSE(kept.present);
  EXPECT_FALSE(kept.refusedAsUnsafe);
  ASSERT_EQ(Journal(), (std::vector<std::string>{kQuery, kQuery}))
      << "the stand-in in the system folder ran, twice (scripts/lib/wine-env.sh puts it there)";
  EXPECT_EQ(SplitCrLfLines(ReadBytes(dir / L"journal.log")).size(), 1u) << "never the decoy";
  EXPECT_EQ(ReadRunEntry().text, kOldEntry.text) << "nothing to change, so the Run key is left alone";
  EXPECT_NE(LogText().find("[WARN ] [tool] \xE5\xA4\x96\xE9\x83\xA8\xE5\x91\xBD\xE4\xBB\xA4 rc=1 "),
            std::string::npos);
  EXPECT_NE(LogText().find("ms cmd=" + kQuery), std::string::npos);

  // A task to remove: deleted, the Run entry with it.
  SetTaskExists();
  ClearJournal();
  EXPECT_FALSE(varn::AlignAutostart(false).present);
  EXPECT_EQ(Journal(), (std::vector<std::string>{kQuery, kDelete, kQuery}));
  EXPECT_FALSE(ReadRunEntry().present);

  // The delete fails: the query decides.
  SetFaults("Delete exit=1\n");
  WriteRunEntry(kOldEntry);
  ClearJournal();
  EXPECT_TRUE(varn::ConfigureAutostart(false)) << "no task, so the wanted state holds";
  EXPECT_EQ(Journal(), (std::vector<std::string>{kDelete, kQuery}));
  EXPECT_FALSE(ReadRunEntry().present);
  SetTaskExists();
  EXPECT_FALSE(varn::ConfigureAutostart(false)) << "the task is still there";
}

std::wstring FromUtf16Bytes(const std::string& bytes) {
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

std::wstring WindowsTemp() {
  wchar_t windows[MAX_PATH];
  UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  return std::wstring(windows, length) + L"\\Temp\\";
}

// The definition file named on the create line, and whether it is in the Windows folder's Temp.
std::wstring DefinitionPathOf(const std::string& createLine) {
  std::vector<std::string> match;
  if (!WholeMatch(createLine, "schtasks\\.exe /Create /F /TN \"VARN Audio Bridge Startup\" /XML \"([^\"]+\\.xml)\"",
                  &match)) {
    return std::wstring();
  }
  std::string path = match[1];
  return std::wstring(path.begin(), path.end());
}

TEST_F(Autostart, CreateHandsOverADefinitionFileThatLivesOnlyForTheCall) {
  const std::wstring program = L"C:\\Program Files\\R&D <Audio> 'VARN'\\VARNListenFix.exe";
  ASSERT_TRUE(varn::CreateAutostartTask(program));
  std::vector<std::string> journal = Journal();
  ASSERT_EQ(journal.size(), 1u);
  std::wstring path = DefinitionPathOf(journal[0]);
  ASSERT_FALSE(path.empty()) << journal[0];
  EXPECT_EQ(_wcsnicmp(path.c_str(), WindowsTemp().c_str(), WindowsTemp().size()), 0) << journal[0];
  EXPECT_FALSE(FileExists(path)) << "removed after the call";
  EXPECT_NE(LogText().find("[INFO ] [tool] \xE5\xA4\x96\xE9\x83\xA8\xE5\x91\xBD\xE4\xBB\xA4 rc=0 "),
            std::string::npos);
  EXPECT_TRUE(varn::IsAutostartTaskPresent());

  std::string bytes = ReadBytes(dir / audiosim::kSchtasksDefinitionName);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE") << "UTF-16 LE with its byte-order mark";
  EXPECT_EQ(bytes.size() % 2, 0u);
  std::wstring xml = FromUtf16Bytes(bytes.substr(2));
  EXPECT_EQ(xml.find(L"\xFEFF"), std::wstring::npos) << "one mark, not two";
  for (const wchar_t* expected : {
           L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>",
           L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">",
           L"<LogonTrigger>", L"<LogonType>InteractiveToken</LogonType>",
           L"<RunLevel>HighestAvailable</RunLevel>", L"<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>",
           L"<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>",
           L"<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>", L"<Priority>5</Priority>",
           L"<Command>C:\\Program Files\\R&amp;D &lt;Audio&gt; &apos;VARN&apos;\\VARNListenFix.exe</Command>",
           L"<Arguments>--startup</Arguments>", L"</Task>"}) {
    EXPECT_NE(xml.find(expected), std::wstring::npos) << Utf8(expected);
  }
  // The trigger's user and the principal: the same, this process's user.
  std::vector<std::wstring> users;
  ASSERT_TRUE(Search(xml, L"<UserId>(S-1-[0-9-]+)</UserId>[\\s\\S]*<UserId>(S-1-[0-9-]+)</UserId>", &users))
      << Utf8(xml);
  EXPECT_EQ(Utf8(users[1]), Utf8(users[2]));

  // A refused create leaves no file behind either.
  SetFaults("Create exit=1\n");
  EXPECT_FALSE(varn::CreateAutostartTask(program));
  journal = Journal();
  ASSERT_EQ(journal.size(), 3u);
  path = DefinitionPathOf(journal[2]);
  ASSERT_FALSE(path.empty()) << journal[2];
  EXPECT_FALSE(FileExists(path));
}

TEST_F(Autostart, AProgramOthersCouldReplaceGetsNoTaskAndLosesAnOldOne) {
  // Under Wine every file and folder belongs to the Wine user, who may change it.
  std::wstring folder = ThisExeDirectory();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT,
                                  OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, nullptr, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  bool folderTrusted = varn::OnlyAdministratorsCanWrite(descriptor);
  LocalFree(descriptor);
  ASSERT_FALSE(folderTrusted) << "this case needs a test program in a folder ordinary users can change";

  SetTaskExists();
  WriteRunEntry(kOldEntry);
  const varn::AutostartState refused = varn::AlignAutostart(true);
  EXPECT_FALSE(refused.present);
  EXPECT_TRUE(refused.refusedAsUnsafe);
  EXPECT_EQ(Journal(), (std::vector<std::string>{kDelete, kQuery})) << "no create\n" << LogText();
  EXPECT_FALSE(ReadRunEntry().present);
  std::string log = LogText();
  size_t warning = log.find("[WARN ] [tool] \xE4\xB8\x8D\xE5\x88\x9B\xE5\xBB\xBA");  // 不创建
  ASSERT_NE(warning, std::string::npos) << log;
  std::string line = log.substr(warning, log.find('\n', warning) - warning);
  EXPECT_NE(line.find(Utf8(folder)), std::string::npos) << "the line names the folder: " << line;

  WriteRunEntry(kOldEntry);
  EXPECT_FALSE(varn::ConfigureAutostart(true));
  EXPECT_FALSE(ReadRunEntry().present) << "the Run entry goes in this direction too";
  for (const std::string& line : Journal()) EXPECT_EQ(line.find("/Create"), std::string::npos) << line;
}

struct DescriptorCase {
  const char* name;
  const wchar_t* sddl;  // nullptr: no descriptor at all
  bool trusted;
};

// Program Files as Windows 10 ships it: TrustedInstaller owns it, SYSTEM and the administrators
// may modify, users and app packages read, and CREATOR OWNER gets full rights on what is made
// inside (inherit-only, so not on the folder itself).
#define TI L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
const DescriptorCase kDescriptors[] = {
    {"Program Files", L"O:" TI L"G:" TI L"D:PAI(A;;FA;;;" TI L")(A;CIIO;GA;;;" TI L")(A;;0x1301bf;;;SY)"
     L"(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)"
     L"(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;S-1-15-2-1)(A;OICIIO;GXGR;;;S-1-15-2-1)", true},
    {"an installed file, inherited entries", L"O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)", true},
    {"owned by SYSTEM", L"O:SYD:(A;;FA;;;SY)", true},
    {"users may set attributes only", L"O:BAD:(A;;FA;;;BA)(A;;0x100180;;;BU)", true},
    {"users denied, not allowed", L"O:BAD:(A;;FA;;;BA)(D;;FA;;;BU)", true},
    {"users get full rights on children only", L"O:BAD:(A;;FA;;;BA)(A;OICIIO;FA;;;BU)", true},
    {"empty DACL", L"O:BAD:", true},
    {"users write data", L"O:BAD:(A;;FA;;;BA)(A;;0x120116;;;BU)", false},
    {"users add files", L"O:BAD:(A;;FA;;;BA)(A;;0x2;;;BU)", false},
    {"authenticated users create folders", L"O:BAD:(A;;FA;;;BA)(A;CI;0x4;;;AU)", false},
    {"users write extended attributes", L"O:BAD:(A;;FA;;;BA)(A;;0x10;;;BU)", false},
    {"users delete children", L"O:BAD:(A;;FA;;;BA)(A;;0x40;;;BU)", false},
    {"users delete", L"O:BAD:(A;;FA;;;BA)(A;;SD;;;BU)", false},
    {"users change the DACL", L"O:BAD:(A;;FA;;;BA)(A;;WD;;;BU)", false},
    {"users take ownership", L"O:BAD:(A;;FA;;;BA)(A;;WO;;;BU)", false},
    {"users generic write", L"O:BAD:(A;;FA;;;BA)(A;;GW;;;BU)", false},
    {"users generic all", L"O:BAD:(A;;FA;;;BA)(A;;GA;;;BU)", false},
    {"authenticated users modify", L"O:BAD:(A;;FA;;;BA)(A;;0x1301bf;;;AU)", false},
    {"everyone full", L"O:BAD:(A;;FA;;;BA)(A;;FA;;;WD)", false},
    {"CREATOR OWNER on the object itself", L"O:BAD:(A;;FA;;;BA)(A;;FA;;;CO)", false},
    {"no DACL", L"O:BA", false},
    {"owned by a user", L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;BA)(A;;FA;;;SY)", false},
    {"no owner", L"D:(A;;FA;;;BA)", false},
    {"no descriptor", nullptr, false},
};
#undef TI

TEST(AutostartTrust, OnlyTheAdministrationMayChangeATrustedObject) {
  for (const DescriptorCase& c : kDescriptors) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (c.sddl != nullptr) {
      ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl, SDDL_REVISION_1,
                                                                       &descriptor, nullptr))
          << c.name;
    }
    EXPECT_EQ(varn::OnlyAdministratorsCanWrite(descriptor), c.trusted) << c.name;
    LocalFree(descriptor);
  }
  // A NULL DACL lets everyone do anything. Built by hand: Wine's SDDL parser makes an empty DACL
  // of "NO_ACCESS_CONTROL".
  BYTE admins[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(admins);
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size));
  SECURITY_DESCRIPTOR nullDacl;
  ASSERT_TRUE(InitializeSecurityDescriptor(&nullDacl, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorOwner(&nullDacl, admins, FALSE));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&nullDacl, TRUE, nullptr, FALSE));
  EXPECT_FALSE(varn::OnlyAdministratorsCanWrite(&nullDacl)) << "NULL DACL";
}

// The folders above the program's one may let users add entries (Windows lets every user
// create folders in the root of the system drive) but not delete, rename or take over what
// they hold.
TEST(AutostartTrust, NoFolderAboveTheProgramMayBeMovedAside) {
  const DescriptorCase cases[] = {
      {"C:\\ as Windows 10 ships it", L"O:SYD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"
       L"(A;OICIIO;SDGXGWGR;;;AU)(A;;0x4;;;AU)", true},
      {"users add files", L"O:BAD:(A;;FA;;;BA)(A;;0x2;;;BU)", true},
      {"users write data and attributes", L"O:BAD:(A;;FA;;;BA)(A;;0x120116;;;BU)", true},
      {"users delete children", L"O:BAD:(A;;FA;;;BA)(A;;0x40;;;BU)", false},
      {"users delete (rename) it", L"O:BAD:(A;;FA;;;BA)(A;;SD;;;BU)", false},
      {"authenticated users modify", L"O:BAD:(A;;FA;;;BA)(A;;0x1301bf;;;AU)", false},
      {"users change the DACL", L"O:BAD:(A;;FA;;;BA)(A;;WD;;;BU)", false},
      {"users generic all", L"O:BAD:(A;;FA;;;BA)(A;;GA;;;BU)", false},
      {"owned by a user", L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;BA)", false},
  };
  for (const DescriptorCase& c : cases) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl, SDDL_REVISION_1, &descriptor, nullptr))
        << c.name;
    EXPECT_EQ(varn::OnlyAdministratorsCanReplaceEntries(descriptor), c.trusted) << c.name;
    LocalFree(descriptor);
  }
}

// The path a task may be made with is the one the file system resolves the program to, and the
// folders judged run from the program's one up to the volume root.
TEST(AutostartTrust, TheTaskPathIsTheFinalPathAndEveryFolderUpToTheRootIsJudged) {
  const struct {
    const wchar_t* started;
    const wchar_t* final;
    bool same;
  } paths[] = {
      {L"C:\\Program Files\\VARN\\VARNListenFix.exe", L"\\\\?\\C:\\Program Files\\VARN\\VARNListenFix.exe", true},
      {L"c:\\program files\\varn\\varnlistenfix.exe", L"\\\\?\\C:\\Program Files\\VARN\\VARNListenFix.exe", true},
      {L"\\\\server\\share\\VARN\\VARNListenFix.exe", L"\\\\?\\UNC\\server\\share\\VARN\\VARNListenFix.exe", true},
      // Through a junction the user owns, pointing into Program Files.
      {L"C:\\Users\\u\\link\\VARNListenFix.exe", L"\\\\?\\C:\\Program Files\\VARN\\VARNListenFix.exe", false},
      // A short name, a substituted drive: another spelling is another path.
      {L"C:\\PROGRA~1\\VARN\\VARNListenFix.exe", L"\\\\?\\C:\\Program Files\\VARN\\VARNListenFix.exe", false},
      {L"S:\\VARN\\VARNListenFix.exe", L"\\\\?\\C:\\Program Files\\VARN\\VARNListenFix.exe", false},
      {L"C:\\Program Files\\VARN\\VARNListenFix.exe", L"", false},
  };
  for (const auto& p : paths) EXPECT_EQ(varn::IsFinalPathAsStarted(p.started, p.final), p.same) << Utf8(p.started);

  const struct {
    const wchar_t* path;
    std::vector<std::wstring> folders;
  } chains[] = {
      {L"C:\\Program Files\\VARN\\VARNListenFix.exe", {L"C:\\Program Files\\VARN", L"C:\\Program Files", L"C:\\"}},
      {L"\\\\?\\C:\\VARN\\VARNListenFix.exe", {L"C:\\VARN", L"C:\\"}},
      {L"C:\\VARNListenFix.exe", {L"C:\\"}},
      {L"C:\\", {}},
      {L"\\\\server\\share\\VARN\\VARNListenFix.exe", {L"\\\\server\\share\\VARN", L"\\\\server\\share\\"}},
      {L"\\\\?\\UNC\\server\\share\\a.exe", {L"\\\\server\\share\\"}},
  };
  for (const auto& c : chains) EXPECT_EQ(varn::FoldersAbove(c.path), c.folders) << Utf8(c.path);
}

// The chain of folders above the program's one is judged nearest first, to the root: a folder
// that users may empty or rename is refused, however far up it is. (Wine keeps no owner set on
// a file, so this is shown with descriptors rather than on its file system.)
TEST(AutostartTrust, AFolderAboveThatUsersMayChangeIsRefusedWhereverItIs) {
  const wchar_t* kProgramFiles = L"O:SYD:PAI(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1200a9;;;BU)";
  const wchar_t* kShippedRoot = L"O:SYD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;;0x4;;;AU)";
  const wchar_t* kUsersEmptyIt = L"O:BAD:(A;;FA;;;BA)(A;;0x40;;;BU)";
  const struct {
    const char* name;
    std::vector<const wchar_t*> nearestFirst;  // Program Files, then the root
    std::wstring refused;
  } chains[] = {
      {"as installed", {kProgramFiles, kShippedRoot}, L""},
      {"the parent", {kUsersEmptyIt, kShippedRoot}, L"C:\\Program Files: 上级目录 "},
      {"the root", {kProgramFiles, kUsersEmptyIt}, L"C:\\: 上级目录 "},
  };
  const wchar_t* paths[] = {L"C:\\Program Files", L"C:\\"};
  for (const auto& c : chains) {
    std::vector<varn::JudgedFolder> folders;
    for (size_t i = 0; i < c.nearestFirst.size(); ++i) {
      PSECURITY_DESCRIPTOR descriptor = nullptr;
      ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.nearestFirst[i], SDDL_REVISION_1, &descriptor,
                                                                       nullptr));
      folders.push_back({paths[i], descriptor});
    }
    const std::optional<std::wstring> why = varn::WhyFoldersAboveAreUnsafe(folders);
    if (c.refused.empty()) {
      EXPECT_FALSE(why) << c.name << ": " << Utf8(why.value_or(L""));
    } else {
      ASSERT_TRUE(why) << c.name;
      EXPECT_EQ(why->rfind(c.refused, 0), 0u) << c.name << ": " << Utf8(*why);
    }
    for (const varn::JudgedFolder& folder : folders) LocalFree(folder.descriptor);
  }
}

// A program reached through a link to its folder is refused for the path it was started under,
// which the user could point elsewhere once the task exists. Wine's CreateSymbolicLinkW makes
// nothing, but Wine shows its profile folders, links to Unix folders, as reparse points: the
// desktop is one.
TEST(AutostartTrust, AProgramStartedThroughALinkIsRefused) {
  wchar_t desktop[MAX_PATH] = {};
  ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop)));
  const DWORD attributes = GetFileAttributesW(desktop);
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  ASSERT_NE(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << "this case needs a desktop that is a link: " << Utf8(desktop);
  const std::wstring folder = std::wstring(desktop) + L"\\varn-link-test";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring program = folder + L"\\VARNListenFix.exe";
  ASSERT_TRUE(WriteBytes(program, "MZ"));
  const std::wstring why = varn::WhyProgramPathIsUnsafe(program).value_or(L"");
  const std::wstring finalPath = varn::FinalPathOf(program);
  DeleteFileW(program.c_str());
  RemoveDirectoryW(folder.c_str());
  EXPECT_FALSE(finalPath.empty());
  EXPECT_FALSE(varn::SamePath(finalPath, program)) << Utf8(finalPath);
  EXPECT_EQ(why, program + L": 启动路径经过链接或别名，实际位置是 " + finalPath);
}

}  // namespace
