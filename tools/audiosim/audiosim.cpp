// audiosim: the control tool of the simulated audio system, for tests, scripts and people.
// It changes the world the way the hardware and Windows would (plugging, disabling, new
// defaults, re-plugging as a new instance). Run "audiosim help" for the commands.

#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "sim_files.h"
#include "world.h"

using namespace audiosim;

namespace {

enum ExitCode : int { kOk = 0, kUsage = 1, kUnknown = 2, kNoWorld = 3 };

constexpr wchar_t kHelp[] =
    L"usage: audiosim <command> [arguments]   (world in %AUDIOSIM_DIR%\\world.txt)\n"
    L"  init                        write the default world: card-in, phone-out, bridge-in, bridge-out\n"
    L"  show                        print defaults and endpoints\n"
    L"  id <endpoint>               print an endpoint's id\n"
    L"  plug <device>               plug a device in (again)\n"
    L"  unplug <device>             unplug a device\n"
    L"  replug <device>             plug a device back as a new instance: new ids, \"2- \" names\n"
    L"  enable <endpoint>           enable an endpoint\n"
    L"  disable <endpoint>          disable an endpoint\n"
    L"  jack <endpoint> in|out      plug or pull the jack of a card with jack detection (out: unplugged)\n"
    L"  default <endpoint> [<role>] make an endpoint the default for all roles, or for one\n"
    L"                              (console, multimedia or communications)\n"
    L"  mute <endpoint>, unmute <endpoint>\n"
    L"  volume <endpoint> <0..1>    set the master volume scalar\n"
    L"  effects <endpoint> on|off   switch the sound enhancements\n"
    L"  set <endpoint> <field>=<value>  any field of the world file (volume_stuck=1, effects_locked=1, ...);\n"
    L"                              \\r \\n \\t \\\\ in a value stand for CR, LF, tab, backslash\n"
    L"  takeover on|off             a plugged or enabled endpoint takes the default (as the bridge does)\n"
    L"  churn <endpoint> <count>    rewrite the world count times (tests of readers)\n"
    L"<endpoint> is an alias (card-in, bridge-out, ...) or an id; <device> is a device key\n"
    L"(card, phone, bridge) or an endpoint of the device.\n";

void Print(const std::wstring& text) {
  std::string bytes = ToUtf8(text);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
            nullptr);
}

void PrintError(const std::wstring& text) {
  std::string bytes = ToUtf8(L"audiosim: " + text + L"\n");
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
            nullptr);
}

const wchar_t* StateName(std::uint32_t state) {
  switch (state) {
    case kStateActive: return L"active";
    case kStateDisabled: return L"disabled";
    case kStateUnplugged: return L"unplugged";
    default: return L"not present";
  }
}

// The device key of a device name, or of the device an endpoint belongs to.
std::wstring DeviceKey(const World& world, const std::wstring& name) {
  for (const Endpoint& e : world.endpoints) if (e.device == name) return name;
  const Endpoint* e = FindEndpoint(world, name);
  return e != nullptr ? e->device : std::wstring();
}

int Show() {
  World world;
  if (!LoadWorld(world)) return kNoWorld;
  const wchar_t* flows[2] = {L"render", L"capture"};
  const wchar_t* roles[kRoles] = {L"console", L"multimedia", L"communications"};
  std::wstring text = L"takeover " + std::wstring(world.plugTakesDefault ? L"on" : L"off") + L"\n";
  wchar_t line[1024];
  for (int flow = 0; flow < 2; ++flow) {
    for (int role = 0; role < kRoles; ++role) {
      const std::wstring& id = world.defaults[flow][role];
      const Endpoint* e = id.empty() ? nullptr : FindEndpoint(world, id);
      swprintf(line, 1024, L"default %-8ls %-15ls %ls\n", flows[flow], roles[role],
               e == nullptr ? L"(none)" : e->alias.empty() ? e->id.c_str() : e->alias.c_str());
      text += line;
    }
  }
  std::uint64_t now = NowMs();
  for (const Endpoint& e : world.endpoints) {
    swprintf(line, 1024, L"%-8ls %-11ls %-11ls vol=%3.0f%% mute=%d fx=%ls listen=%d  %ls\n    %ls\n",
             flows[e.flow], e.alias.empty() ? L"-" : e.alias.c_str(),
             StateName(EffectiveState(e, now)), e.volume * 100.0, e.mute ? 1 : 0,
             e.effectsOn ? L"on" : L"off", e.listen ? 1 : 0, EscapeField(e.name).c_str(), e.id.c_str());
    text += line;
  }
  Print(text);
  return kOk;
}

int Init() {
  std::wstring directory = SimDirectory();
  if (directory.empty()) {
    PrintError(L"AUDIOSIM_DIR is not set");
    return kNoWorld;
  }
  CreateDirectoryW(directory.c_str(), nullptr);
  return SaveWorld(DefaultWorld()) ? kOk : kNoWorld;
}

// Runs a change of one endpoint; unknown endpoints end with kUnknown.
int ChangeEndpoint(const std::wstring& key, const std::function<bool(World&, Endpoint&)>& change) {
  int result = kNoWorld;
  UpdateWorld([&](World& world) {
    Endpoint* e = FindEndpoint(world, key);
    if (e == nullptr) {
      result = kUnknown;
      return false;
    }
    result = change(world, *e) ? kOk : kUsage;
    return result == kOk;
  });
  if (result == kUnknown) PrintError(L"no endpoint " + key);
  return result;
}

int ChangeDevice(const std::wstring& name, const std::function<bool(World&, const std::wstring&)>& change) {
  int result = kNoWorld;
  UpdateWorld([&](World& world) {
    std::wstring device = DeviceKey(world, name);
    if (device.empty()) {
      result = kUnknown;
      return false;
    }
    result = change(world, device) ? kOk : kUnknown;
    return result == kOk;
  });
  if (result == kUnknown) PrintError(L"no device " + name);
  return result;
}

constexpr int kAllRoles = kRoles;

// Windows lets each role have its own default (the sound control panel sets console and
// multimedia together, the communications role apart); tests need worlds where they differ.
int RoleByName(const std::wstring& name) {
  const wchar_t* names[kRoles] = {L"console", L"multimedia", L"communications"};
  for (int role = 0; role < kRoles; ++role) if (name == names[role]) return role;
  return -1;
}

bool ParseOnOff(const std::wstring& text, bool& value) {
  if (text == L"on" || text == L"1") value = true;
  else if (text == L"off" || text == L"0") value = false;
  else return false;
  return true;
}

int Churn(const std::wstring& key, int count) {
  for (int i = 0; i < count; ++i) {
    int result = ChangeEndpoint(key, [&](World&, Endpoint& e) {
      e.volume = (i % 2 == 0) ? 0.25 : 0.75;
      return true;
    });
    if (result != kOk) return result;
  }
  return kOk;
}

int Run(const std::vector<std::wstring>& a) {
  auto is = [&](const wchar_t* command, size_t operands) {
    return a[0] == command && a.size() == operands + 1;
  };
  if (is(L"init", 0)) return Init();
  if (is(L"show", 0)) return Show();
  if (is(L"id", 1)) {
    World world;
    if (!LoadWorld(world)) return kNoWorld;
    const Endpoint* e = FindEndpoint(world, a[1]);
    if (e == nullptr) return kUnknown;
    Print(e->id + L"\n");
    return kOk;
  }
  if (is(L"plug", 1) || is(L"unplug", 1)) {
    bool present = a[0] == L"plug";
    return ChangeDevice(a[1], [&](World& w, const std::wstring& d) { SetPresent(w, d, present); return true; });
  }
  if (is(L"replug", 1)) return ChangeDevice(a[1], ReplugAsNewInstance);
  if (is(L"enable", 1) || is(L"disable", 1)) {
    bool enable = a[0] == L"enable";
    return ChangeEndpoint(a[1], [&](World& w, Endpoint& e) { SetEnabled(w, e, enable); return true; });
  }
  if (is(L"jack", 2)) {
    bool plugged = a[2] == L"in";
    if (!plugged && a[2] != L"out") return kUsage;
    return ChangeEndpoint(a[1], [&](World& w, Endpoint& e) { SetJackPlugged(w, e, plugged); return true; });
  }
  if (is(L"default", 1) || is(L"default", 2)) {
    int role = a.size() == 3 ? RoleByName(a[2]) : kAllRoles;
    if (role < 0) return kUsage;
    return ChangeEndpoint(a[1], [&](World& w, Endpoint& e) {
      if (EffectiveState(e, NowMs()) != kStateActive) return false;
      if (role == kAllRoles) SetDefaultAllRoles(w, e);
      else w.defaults[e.flow][role] = e.id;
      return true;
    });
  }
  if (is(L"mute", 1) || is(L"unmute", 1)) {
    bool mute = a[0] == L"mute";
    return ChangeEndpoint(a[1], [&](World&, Endpoint& e) { e.mute = mute; return true; });
  }
  if (is(L"volume", 2)) {
    wchar_t* end = nullptr;
    double volume = wcstod(a[2].c_str(), &end);
    if (end == a[2].c_str() || *end != L'\0' || volume < 0.0 || volume > 1.0) return kUsage;
    return ChangeEndpoint(a[1], [&](World&, Endpoint& e) { e.volume = volume; return true; });
  }
  if (is(L"effects", 2)) {
    bool on = false;
    if (!ParseOnOff(a[2], on)) return kUsage;
    return ChangeEndpoint(a[1], [&](World&, Endpoint& e) { e.effectsOn = on; return true; });
  }
  if (is(L"set", 2)) {
    size_t eq = a[2].find(L'=');
    if (eq == std::wstring::npos) return kUsage;
    return ChangeEndpoint(a[1], [&](World&, Endpoint& e) {
      return SetEndpointField(e, a[2].substr(0, eq), a[2].substr(eq + 1));
    });
  }
  if (is(L"takeover", 1)) {
    bool on = false;
    if (!ParseOnOff(a[1], on)) return kUsage;
    return UpdateWorld([&](World& w) { w.plugTakesDefault = on; return true; }) ? kOk : kNoWorld;
  }
  if (is(L"churn", 2)) return Churn(a[1], _wtoi(a[2].c_str()));
  return -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == L"help" || args[0] == L"--help") {
    Print(kHelp);
    return args.empty() ? kUsage : kOk;
  }
  int result = Run(args);
  if (result < 0) {
    PrintError(L"unknown command or wrong arguments; see 'audiosim help'");
    return kUsage;
  }
  if (result == kNoWorld) PrintError(L"no world to change (run 'audiosim init' with AUDIOSIM_DIR set)");
  if (result == kUsage) PrintError(L"the change was refused; see 'audiosim help'");
  return result;
}
