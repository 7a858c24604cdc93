// The product's own sound tool, SoundVolumeView.exe from tool/: its argument forms as one
// table, then the real program run under Wine against the fake Core Audio server's audio
// policy object, world file and fault rules, as the program runs it.

#include <gtest/gtest.h>

#include <windows.h>

#include <iterator>
#include <string>
#include <vector>

#include "command_line.h"
#include "exit_codes.h"
#include "support/sim_fixture.h"
#include "support/test_support.h"
#include "world.h"

using namespace testing_support;

namespace {

using sound_tool::Action;

// Every accepted form and a good set of refused ones, from the whole command line as the
// program writes it (the tool's path in quotes, one blank, the argument text).
TEST(SoundToolArguments, OnlyTheSixFormsAreAccepted) {
  struct Row {
    const wchar_t* text;
    int exitCode;  // kDone: accepted, kBadArguments: refused
    Action action;
    const wchar_t* endpointId;
    const wchar_t* targetId;
  };
  constexpr Action kAny = Action::kEnable;
  const Row rows[] = {
      {LR"(/SetPlaybackThroughDevice "{0.0.1.00000000}.{c}" "{0.0.0.00000000}.{r}")", sound_tool::kDone,
       Action::kPlaybackThrough, L"{0.0.1.00000000}.{c}", L"{0.0.0.00000000}.{r}"},
      {LR"(/SetListenToThisDevice "{0.0.1.00000000}.{c}" 1)", sound_tool::kDone, Action::kListenOn,
       L"{0.0.1.00000000}.{c}", L""},
      {LR"(/SetListenToThisDevice "{0.0.1.00000000}.{c}" 0)", sound_tool::kDone, Action::kListenOff,
       L"{0.0.1.00000000}.{c}", L""},
      {LR"(/SetDefault "{0.0.0.00000000}.{r}" all)", sound_tool::kDone, Action::kSetDefault, L"{0.0.0.00000000}.{r}", L""},
      {LR"(/Enable "{0.0.0.00000000}.{r}")", sound_tool::kDone, Action::kEnable, L"{0.0.0.00000000}.{r}", L""},
      {LR"(/Disable "{0.0.0.00000000}.{r}")", sound_tool::kDone, Action::kDisable, L"{0.0.0.00000000}.{r}", L""},
      // Ids without quotes are ids all the same.
      {LR"(/Enable x)", sound_tool::kDone, Action::kEnable, L"x", L""},
      {LR"(/Check)", sound_tool::kDone, Action::kCheck, L"", L""},
      {LR"(/check)", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/Check "x")", sound_tool::kBadArguments, kAny, L"", L""},
      // Refused: option names and "all" in another letter case.
      {LR"(/setdefault "x" all)", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/SetDefault "x" ALL)", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/ENABLE x)", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/sEtLiStEnToThIsDeViCe "x" 1)", sound_tool::kBadArguments, kAny, L"", L""},
      // Refused: nothing, unknown or misspelt commands, other option marks.
      {L"", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/Mute "x")", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/SetDefaults "x" all)", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(-Enable "x")", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(Enable "x")", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"("x")", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/ "x")", sound_tool::kBadArguments, kAny, L"", L""},
      {L"/Ena\u0130ble x", sound_tool::kBadArguments, kAny, L"", L""},
      // Refused: missing or extra operands.
      {LR"(/Enable)", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/Disable "x" "y")", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/SetDefault "x")", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/SetDefault "x" all console)", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/SetListenToThisDevice "x")", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/SetListenToThisDevice "x" 1 1)", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/SetPlaybackThroughDevice "x")", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/SetPlaybackThroughDevice "x" "y" "z")", sound_tool::kBadArguments, kAny, L"", L""},
      // Refused: operands of the wrong kind.
      {LR"(/SetDefault "x" console)", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/SetDefault "x" "all ")", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/SetListenToThisDevice "x" 2)", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/SetListenToThisDevice "x" 01)", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/SetListenToThisDevice "x" true)", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/SetListenToThisDevice "x" "")", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/Enable "")", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/SetDefault "" all)", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/SetPlaybackThroughDevice "x" "")", sound_tool::kBadArguments, kAny, L"", L""},
      {LR"(/SetPlaybackThroughDevice "" "y")", sound_tool::kBadArguments, kAny, L"", L""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Utf8(row.text));
    const std::wstring commandLine = std::wstring(LR"("C:\Program Files\VARN\SoundVolumeView.exe" )") + row.text;
    std::wstring why;
    std::optional<sound_tool::Command> command =
        sound_tool::ParseCommand(sound_tool::SplitCommandLine(commandLine.c_str()), &why);
    EXPECT_EQ(command ? sound_tool::kDone : sound_tool::kBadArguments, row.exitCode);
    if (!command) {
      EXPECT_FALSE(why.empty()) << "a refusal says why";
      continue;
    }
    EXPECT_EQ(static_cast<int>(command->action), static_cast<int>(row.action));
    EXPECT_EQ(command->endpointId, row.endpointId);
    EXPECT_EQ(command->targetId, row.targetId);
  }
}

// Runs of the real tool, on a fresh default world per test.
class OwnSoundTool : public SimulatedWorldTest {
 protected:
  static std::wstring ToolPath() {
    std::wstring tests = ThisExeDirectory();
    return tests.substr(0, tests.find_last_of(L"\\/")) + L"\\tool\\SoundVolumeView.exe";
  }
  // The exit code; the tool's standard error in lastError_.
  int Tool(const std::wstring& arguments) {
    lastError_.clear();
    return RunProgram(ToolPath(), arguments, 30000, &lastError_);
  }
  static std::wstring Q(const std::wstring& id) { return L"\"" + id + L"\""; }

  static audiosim::Endpoint Now(const std::wstring& id) {
    audiosim::World world;
    EXPECT_TRUE(audiosim::LoadWorld(world));
    const audiosim::Endpoint* e = audiosim::FindEndpoint(world, id);
    EXPECT_NE(e, nullptr) << Utf8(id);
    return e != nullptr ? *e : audiosim::Endpoint();
  }
  static std::wstring DefaultOf(audiosim::Flow flow, int role) {
    audiosim::World world;
    EXPECT_TRUE(audiosim::LoadWorld(world));
    return world.defaults[flow][role];
  }
  static std::string WorldText() {
    audiosim::World world;
    EXPECT_TRUE(audiosim::LoadWorld(world));
    return audiosim::SerializeWorld(world);
  }
  bool SaidOneLine(const std::string& part) const {
    return lastError_.find(part) != std::string::npos && lastError_.find('\n') == lastError_.size() - 1;
  }

  std::string lastError_;
};

TEST_F(OwnSoundTool, EachFormChangesTheWorldAndIsJournalled) {
  const std::wstring cardIn = Id(L"card-in"), bridgeIn = Id(L"bridge-in");
  const std::wstring phoneOut = Id(L"phone-out"), bridgeOut = Id(L"bridge-out");
  const std::vector<std::wstring> commands = {
      L"/SetPlaybackThroughDevice " + Q(cardIn) + L" " + Q(bridgeOut),
      L"/SetListenToThisDevice " + Q(cardIn) + L" 1",
      L"/SetListenToThisDevice " + Q(cardIn) + L" 0",
      L"/SetDefault " + Q(bridgeOut) + L" all",
      L"/Disable " + Q(bridgeOut),
      L"/Enable " + Q(bridgeOut),
  };
  EXPECT_EQ(Tool(commands[0]), 0) << lastError_;
  EXPECT_EQ(Now(cardIn).listenTarget, bridgeOut);
  EXPECT_FALSE(Now(cardIn).listen);
  EXPECT_EQ(Tool(commands[1]), 0) << lastError_;
  EXPECT_TRUE(Now(cardIn).listen);
  EXPECT_EQ(Tool(commands[2]), 0) << lastError_;
  EXPECT_FALSE(Now(cardIn).listen);
  EXPECT_EQ(Now(cardIn).listenTarget, bridgeOut) << "switching off keeps the target";

  // The roles start apart, so that each of the three calls shows.
  ASSERT_EQ(Audiosim(L"default card-in communications"), 0);
  ASSERT_EQ(Audiosim(L"default bridge-in multimedia"), 0);
  EXPECT_EQ(Tool(commands[3]), 0) << lastError_;
  for (int role = 0; role < audiosim::kRoles; ++role) EXPECT_EQ(DefaultOf(audiosim::kRender, role), bridgeOut);
  EXPECT_EQ(DefaultOf(audiosim::kCapture, audiosim::kMultimedia), bridgeIn) << "the other flow untouched";

  EXPECT_EQ(Tool(commands[4]), 0) << lastError_;
  EXPECT_EQ(audiosim::EffectiveState(Now(bridgeOut), audiosim::NowMs()), audiosim::kStateDisabled);
  for (int role = 0; role < audiosim::kRoles; ++role) {
    EXPECT_EQ(DefaultOf(audiosim::kRender, role), phoneOut) << "Windows chooses another default";
  }
  EXPECT_EQ(Tool(commands[5]), 0) << lastError_ << " (a disabled endpoint is found)";
  EXPECT_EQ(audiosim::EffectiveState(Now(bridgeOut), audiosim::NowMs()), audiosim::kStateActive);

  std::vector<std::string> expected;
  for (const std::wstring& command : commands) expected.push_back(Utf8(command));
  EXPECT_EQ(Journal(), expected) << "each run journalled as the stand-in journals it";
}

TEST_F(OwnSoundTool, EachFailureHasItsCodeAndOneLineWithTheReason) {
  const std::wstring cardIn = Id(L"card-in"), phoneOut = Id(L"phone-out"), bridgeOut = Id(L"bridge-out");
  const std::wstring unknown = L"{0.0.0.00000000}.{00000000-0000-0000-0000-000000000000}";
  const std::string before = WorldText();

  struct Failure {
    std::wstring arguments;
    int exitCode;
    const char* said;
  };
  const Failure failures[] = {
      {L"/Enable " + Q(unknown), sound_tool::kUnknownEndpoint, "unknown endpoint"},
      {L"/SetListenToThisDevice " + Q(unknown) + L" 1", sound_tool::kUnknownEndpoint, "0x80070490"},
      {L"/SetPlaybackThroughDevice " + Q(cardIn) + L" " + Q(unknown), sound_tool::kUnknownEndpoint, "0x80070490"},
      {L"/SetListenToThisDevice " + Q(phoneOut) + L" 1", sound_tool::kWrongFlow, "wrong flow"},
      {L"/SetPlaybackThroughDevice " + Q(phoneOut) + L" " + Q(bridgeOut), sound_tool::kWrongFlow, "capture"},
      {L"/SetPlaybackThroughDevice " + Q(cardIn) + L" " + Q(cardIn), sound_tool::kWrongFlow, "render"},
      {L"/SetDefault " + Q(cardIn), sound_tool::kBadArguments, "bad arguments"},
  };
  for (const Failure& failure : failures) {
    SCOPED_TRACE(Utf8(failure.arguments));
    EXPECT_EQ(Tool(failure.arguments), failure.exitCode);
    EXPECT_TRUE(SaidOneLine(failure.said)) << lastError_;
  }
  EXPECT_EQ(WorldText(), before) << "no failure changed the world";
  EXPECT_EQ(Journal().size(), std::size(failures) - 1) << "bad arguments never reach the policy object";
  // An id with a line break stays inside the one line.
  EXPECT_EQ(Tool(L"/Enable " + Q(L"line\r\nbreak")), sound_tool::kUnknownEndpoint);
  EXPECT_TRUE(SaidOneLine("\"line??break\"")) << lastError_;

  // A write the policy object refuses: an endpoint that is not active cannot be the default.
  ASSERT_EQ(Audiosim(L"disable bridge-out"), 0);
  EXPECT_EQ(Tool(L"/SetDefault " + Q(bridgeOut) + L" all"), sound_tool::kWriteRefused);
  EXPECT_TRUE(SaidOneLine(", console role (IPolicyConfig::SetDefaultEndpoint 0x88890004)")) << lastError_;
  EXPECT_EQ(DefaultOf(audiosim::kRender, audiosim::kConsole), phoneOut);
}

// The policy classes are not served in the tool's process (AUDIOSIM_POLICY, read by the fake
// server in that process only, so tests running beside this one are not disturbed).
TEST_F(OwnSoundTool, WithoutThePolicyInterfaceNothingIsWritten) {
  const std::wstring bridgeOut = Id(L"bridge-out"), phoneOut = Id(L"phone-out");
  {
    EnvScope off(L"AUDIOSIM_POLICY", L"off");
    EXPECT_EQ(Tool(L"/SetDefault " + Q(bridgeOut) + L" all"), sound_tool::kInterfaceUnavailable);
    EXPECT_TRUE(SaidOneLine("audio policy interface is unavailable (CoCreateInstance/QueryInterface 0x")) << lastError_;
    EXPECT_EQ(DefaultOf(audiosim::kRender, audiosim::kConsole), phoneOut);
  }
  // Only Vista's class: the default is set through it; nothing else goes through it.
  EnvScope vista(L"AUDIOSIM_POLICY", L"vista");
  EXPECT_EQ(Tool(L"/SetDefault " + Q(bridgeOut) + L" all"), sound_tool::kDone) << lastError_;
  for (int role = 0; role < audiosim::kRoles; ++role) EXPECT_EQ(DefaultOf(audiosim::kRender, role), bridgeOut);
  EXPECT_EQ(Tool(L"/Disable " + Q(bridgeOut)), sound_tool::kInterfaceUnavailable);
  EXPECT_TRUE(SaidOneLine("Vista")) << lastError_;
  EXPECT_EQ(audiosim::EffectiveState(Now(bridgeOut), audiosim::NowMs()), audiosim::kStateActive);
}

// faults.txt steers our tool's runs as it steers the stand-in's, and a write that the policy
// object accepts but that does not show when read back is a failure of its own.
TEST_F(OwnSoundTool, AWriteThatDoesNotShowIsAFailureWhateverThePolicyObjectAnswers) {
  const std::wstring cardIn = Id(L"card-in"), bridgeIn = Id(L"bridge-in");
  const std::wstring bridgeOut = Id(L"bridge-out"), phoneOut = Id(L"phone-out");
  ASSERT_EQ(Audiosim(L"disable bridge-in"), 0);
  const std::string before = WorldText();
  struct Unseen {
    const char* rule;
    std::wstring arguments;
    const char* said;
  };
  const Unseen writes[] = {
      {"SetPlaybackThroughDevice noeffect\n", L"/SetPlaybackThroughDevice " + Q(cardIn) + L" " + Q(bridgeOut),
       "the listen target reads (unset)"},
      {"SetListenToThisDevice noeffect\n", L"/SetListenToThisDevice " + Q(cardIn) + L" 1", "listening reads off"},
      {"SetDefault noeffect\n", L"/SetDefault " + Q(bridgeOut) + L" all", "console default is"},
      {"Disable noeffect\n", L"/Disable " + Q(phoneOut), "the state is active"},
      {"Enable noeffect\n", L"/Enable " + Q(bridgeIn), "the state is disabled"},
      {"Enable enable-delay=5000\n", L"/Enable " + Q(bridgeIn), "the state is disabled"},
  };
  for (const Unseen& write : writes) {
    SCOPED_TRACE(Utf8(write.arguments));
    SetFaults(write.rule);
    EXPECT_EQ(Tool(write.arguments), sound_tool::kWriteNotSeen);
    EXPECT_TRUE(SaidOneLine("does not show")) << lastError_;
    EXPECT_TRUE(SaidOneLine(write.said)) << lastError_;
    if (std::string(write.rule).find("enable-delay") == std::string::npos) {
      EXPECT_EQ(WorldText(), before);
    }
  }
  ASSERT_EQ(Audiosim(L"disable bridge-in"), 0);  // the late enable of the last row may have come

  SetFaults("Disable exit=9\nEnable enable-delay=400\nSetListenToThisDevice delay=700\n");
  EXPECT_EQ(Tool(L"/Disable " + Q(phoneOut)), 9);
  EXPECT_EQ(audiosim::EffectiveState(Now(phoneOut), audiosim::NowMs()), audiosim::kStateActive);
  // An enable that shows a moment later is waited for: done, and seen done, when the tool ends.
  const ULONGLONG enabled = GetTickCount64();
  EXPECT_EQ(Tool(L"/Enable " + Q(bridgeIn)), 0) << lastError_;
  EXPECT_GE(GetTickCount64() - enabled, 350u);
  EXPECT_EQ(audiosim::EffectiveState(Now(bridgeIn), audiosim::NowMs()), audiosim::kStateActive);

  const ULONGLONG started = GetTickCount64();
  EXPECT_EQ(Tool(L"/SetListenToThisDevice " + Q(cardIn) + L" 1"), 0) << lastError_;
  EXPECT_GE(GetTickCount64() - started, 700u);
  EXPECT_TRUE(Now(cardIn).listen);
}

// /Check tells, one fact a line, what the tool relies on, and every active endpoint with its
// listen properties as the property store reports them; it changes nothing.
TEST_F(OwnSoundTool, TheSelfCheckReportsTheMachineAndEveryActiveEndpoint) {
  const std::wstring cardIn = Id(L"card-in"), bridgeOut = Id(L"bridge-out"), phoneOut = Id(L"phone-out");
  ASSERT_EQ(Tool(L"/SetPlaybackThroughDevice " + Q(cardIn) + L" " + Q(bridgeOut)), 0) << lastError_;
  ASSERT_EQ(Tool(L"/SetListenToThisDevice " + Q(cardIn) + L" 1"), 0) << lastError_;
  ASSERT_EQ(Audiosim(L"disable bridge-in"), 0);
  const std::string before = WorldText();
  std::string said;
  EXPECT_EQ(RunProgram(ToolPath(), L"/Check", 30000, &said), sound_tool::kDone) << said;
  EXPECT_EQ(WorldText(), before);
  const std::vector<std::string> lines = SplitCrLfLines(said);
  auto lineWith = [&](const std::string& part) {
    for (const std::string& line : lines) {
      if (line.find(part) != std::string::npos) return line;
    }
    return std::string();
  };
  EXPECT_NE(lineWith("windows: "), "") << said;
  EXPECT_NE(lineWith("policy interface: Windows 7 to 8.1, 10 1607 and later"), "") << said;
  EXPECT_NE(lineWith("policy class threading model: \"Both\""), "") << said;
  audiosim::World world;
  ASSERT_TRUE(audiosim::LoadWorld(world));
  for (const audiosim::Endpoint& e : world.endpoints) {
    const std::string line = lineWith("id=\"" + Utf8(e.id) + "\"");
    const bool active = audiosim::EffectiveState(e, audiosim::NowMs()) == audiosim::kStateActive;
    EXPECT_EQ(line.empty(), !active) << Utf8(e.alias) << ": " << said;
    if (line.empty()) continue;
    const std::string quotedName = std::string(1, '"').append(Utf8(e.name)).append(1, '"');
    EXPECT_NE(line.find(quotedName), std::string::npos) << line;
    EXPECT_NE(line.find(" state=active "), std::string::npos) << line;
  }
  EXPECT_NE(lineWith("id=\"" + Utf8(cardIn) + "\"").find("listen=on target=\"" + Utf8(bridgeOut) + "\""),
            std::string::npos) << said;
  EXPECT_NE(lineWith("id=\"" + Utf8(phoneOut) + "\"").find("default=console,multimedia,communications listen=(unset)"),
            std::string::npos) << said;

  // Without the policy interface the tool could do nothing here: said, and told by the code.
  EnvScope off(L"AUDIOSIM_POLICY", L"off");
  EXPECT_EQ(RunProgram(ToolPath(), L"/Check", 30000, &said), sound_tool::kInterfaceUnavailable) << said;
  EXPECT_NE(said.find("policy interface: none (CoCreateInstance/QueryInterface 0x"), std::string::npos) << said;
  EXPECT_NE(said.find("id=\"" + Utf8(cardIn) + "\""), std::string::npos) << said;
}

// A policy class registered for the single-threaded apartment only: a multithreaded tool would
// get it through a proxy that this interface does not have. The registration is the prefix's,
// shared by every test, so it is put back at once.
TEST_F(OwnSoundTool, APolicyClassRegisteredForApartmentsOnlyStillServesTheTool) {
  const wchar_t kServer[] = L"Software\\Classes\\CLSID\\{870AF99C-171D-4F9E-AF0D-E63DF40C2BC9}\\InprocServer32";
  auto setModel = [&](const wchar_t* model) {
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, kServer, L"ThreadingModel", REG_SZ, model,
                           static_cast<DWORD>((wcslen(model) + 1) * sizeof(wchar_t)));
  };
  ASSERT_EQ(setModel(L"Apartment"), ERROR_SUCCESS);
  const std::wstring cardIn = Id(L"card-in");
  const int exitCode = Tool(L"/SetListenToThisDevice " + Q(cardIn) + L" 1");
  std::string said;
  RunProgram(ToolPath(), L"/Check", 30000, &said);
  setModel(L"Both");
  EXPECT_EQ(exitCode, sound_tool::kDone) << lastError_;
  EXPECT_TRUE(Now(cardIn).listen);
  EXPECT_NE(said.find("policy class threading model: \"Apartment\""), std::string::npos) << said;
}

}  // namespace
