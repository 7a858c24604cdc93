#include "world.h"

#include <windows.h>
#include <objbase.h>

#include <cstdlib>
#include <cwchar>
#include <sstream>

#include "sim_files.h"

namespace audiosim {

namespace {

constexpr wchar_t kWorldName[] = L"world.txt";
constexpr wchar_t kLockName[] = L"world.lock";
// A writer holds the lock for milliseconds; one that died holding it is overruled after this.
constexpr DWORD kStaleLockMs = 5000;

const wchar_t* const kRoleNames[kRoles] = {L"console", L"multimedia", L"communications"};

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return std::wstring();
  int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) {
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  }
  return out;
}

std::vector<std::wstring> SplitTabs(const std::wstring& line) {
  std::vector<std::wstring> fields;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find(L'\t', start);
    fields.push_back(line.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
    if (tab == std::wstring::npos) return fields;
    start = tab + 1;
  }
}

const wchar_t* FlowName(Flow flow) { return flow == kCapture ? L"capture" : L"render"; }

bool ParseFlow(const std::wstring& text, Flow& flow) {
  if (text == L"render") flow = kRender;
  else if (text == L"capture") flow = kCapture;
  else return false;
  return true;
}

}  // namespace

std::wstring EscapeField(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    switch (c) {
      case L'\\': out += L"\\\\"; break;
      case L'\r': out += L"\\r"; break;
      case L'\n': out += L"\\n"; break;
      case L'\t': out += L"\\t"; break;
      default: out += c;
    }
  }
  return out;
}

// Any other backslash stays as it is, so hand-written paths and ids survive.
std::wstring UnescapeField(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    wchar_t next = i + 1 < text.size() ? text[i + 1] : L'\0';
    if (text[i] != L'\\' || (next != L'\\' && next != L'r' && next != L'n' && next != L't')) {
      out += text[i];
      continue;
    }
    out += next == L'r' ? L'\r' : next == L'n' ? L'\n' : next == L't' ? L'\t' : L'\\';
    ++i;
  }
  return out;
}

bool SetEndpointField(Endpoint& e, const std::wstring& key, const std::wstring& fileValue) {
  const std::wstring value = UnescapeField(fileValue);
  auto flag = [&](bool& target) { target = value == L"1"; return value == L"0" || value == L"1"; };
  if (key == L"name") e.name = value;
  else if (key == L"alias") e.alias = value;
  else if (key == L"device") e.device = value;
  else if (key == L"present") return flag(e.present);
  else if (key == L"enabled") return flag(e.enabled);
  else if (key == L"jack_unplugged") return flag(e.jackUnplugged);
  else if (key == L"enable_at") e.enableAtMs = wcstoull(value.c_str(), nullptr, 10);
  else if (key == L"volume") e.volume = wcstod(value.c_str(), nullptr);
  else if (key == L"mute") return flag(e.mute);
  else if (key == L"effects") { e.effectsOn = value == L"on"; return value == L"on" || value == L"off"; }
  else if (key == L"listen") return flag(e.listen);
  else if (key == L"target") e.listenTarget = value;
  else if (key == L"volume_stuck") return flag(e.volumeStuck);
  else if (key == L"effects_locked") return flag(e.effectsLocked);
  else return false;
  return true;
}

namespace {

std::wstring WorldPath() { return SimFile(kWorldName); }

struct WorldLock {
  WorldLock() {
    path = SimFile(kLockName);
    ULONGLONG start = GetTickCount64();
    while (!CreateDirectoryW(path.c_str(), nullptr)) {
      if (GetLastError() != ERROR_ALREADY_EXISTS) return;  // no directory: nothing to guard
      if (GetTickCount64() - start > kStaleLockMs) {
        RemoveDirectoryW(path.c_str());
        start = GetTickCount64();
      }
      Sleep(1);
    }
    held = true;
  }
  ~WorldLock() {
    if (held) RemoveDirectoryW(path.c_str());
  }
  WorldLock(const WorldLock&) = delete;
  WorldLock& operator=(const WorldLock&) = delete;
  std::wstring path;
  bool held = false;
};

bool WriteWorldFile(const World& world) {
  std::wstring path = WorldPath();
  if (path.empty()) return false;
  std::wstring temp = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  std::string bytes = SerializeWorld(world);
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  if (!ok || written != bytes.size()) {
    DeleteFileW(temp.c_str());
    return false;
  }
  // A reader on Windows may hold the old file open for a moment; try again briefly.
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    Sleep(5);
  }
  DeleteFileW(temp.c_str());
  return false;
}

bool IsActiveNow(const Endpoint& e) { return EffectiveState(e, NowMs()) == kStateActive; }

// Gives every role of the flow that has no active default the first active endpoint.
void RepairDefaults(World& world, Flow flow) {
  const Endpoint* first = nullptr;
  for (const Endpoint& e : world.endpoints) {
    if (e.flow == flow && IsActiveNow(e)) { first = &e; break; }
  }
  for (std::wstring& id : world.defaults[flow]) {
    const Endpoint* current = id.empty() ? nullptr : FindEndpoint(world, id);
    if (current == nullptr || !IsActiveNow(*current)) id = first != nullptr ? first->id : L"";
  }
}

// Pending enables whose time has come become real, so writers keep a settled world.
void SettlePendingEnables(World& world) {
  std::uint64_t now = NowMs();
  for (Endpoint& e : world.endpoints) {
    if (e.enableAtMs != 0 && now >= e.enableAtMs) {
      e.enableAtMs = 0;
      e.enabled = true;
    }
  }
  RepairDefaults(world, kRender);
  RepairDefaults(world, kCapture);
}

}  // namespace

std::uint64_t NowMs() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return ((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) / 10000;
}

std::uint32_t EffectiveState(const Endpoint& e, std::uint64_t nowMs) {
  if (!e.present) return kStateNotPresent;
  bool enabled = e.enabled || (e.enableAtMs != 0 && nowMs >= e.enableAtMs);
  if (!enabled) return kStateDisabled;
  return e.jackUnplugged ? kStateUnplugged : kStateActive;
}

std::string SerializeWorld(const World& world) {
  std::wostringstream out;
  out << L"# audiosim world: tab-separated; edit with the audiosim tool while programs run\n";
  out << L"option\tplug_takes_default\t" << (world.plugTakesDefault ? 1 : 0) << L"\n";
  for (int flow = 0; flow < 2; ++flow) {
    for (int role = 0; role < kRoles; ++role) {
      if (world.defaults[flow][role].empty()) continue;
      out << L"default\t" << FlowName(static_cast<Flow>(flow)) << L"\t" << kRoleNames[role] << L"\t"
          << EscapeField(world.defaults[flow][role]) << L"\n";
    }
  }
  wchar_t volume[32];
  for (const Endpoint& e : world.endpoints) {
    swprintf(volume, 32, L"%.6f", e.volume);
    out << L"endpoint\t" << EscapeField(e.id) << L"\t" << FlowName(e.flow) << L"\talias="
        << EscapeField(e.alias) << L"\tdevice=" << EscapeField(e.device) << L"\tpresent="
        << e.present << L"\tenabled=" << e.enabled << L"\tjack_unplugged=" << e.jackUnplugged
        << L"\tenable_at=" << e.enableAtMs << L"\tvolume=" << volume << L"\tmute=" << e.mute
        << L"\teffects=" << (e.effectsOn ? L"on" : L"off") << L"\tlisten=" << e.listen
        << L"\ttarget=" << EscapeField(e.listenTarget) << L"\tvolume_stuck=" << e.volumeStuck
        << L"\teffects_locked=" << e.effectsLocked << L"\tname=" << EscapeField(e.name) << L"\n";
  }
  return ToUtf8(out.str());
}

bool ParseWorld(const std::string& text, World& world) {
  world = World();
  std::wistringstream lines(FromUtf8(text));
  std::wstring line;
  bool sawOption = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (line.empty() || line[0] == L'#') continue;
    std::vector<std::wstring> f = SplitTabs(line);
    if (f[0] == L"option" && f.size() == 3 && f[1] == L"plug_takes_default") {
      world.plugTakesDefault = f[2] == L"1";
      sawOption = true;
    } else if (f[0] == L"default" && f.size() == 4) {
      Flow flow;
      if (!ParseFlow(f[1], flow)) return false;
      int role = -1;
      for (int r = 0; r < kRoles; ++r) if (f[2] == kRoleNames[r]) role = r;
      if (role < 0) return false;
      world.defaults[flow][role] = UnescapeField(f[3]);
    } else if (f[0] == L"endpoint" && f.size() >= 3) {
      Endpoint e;
      e.id = UnescapeField(f[1]);
      if (e.id.empty() || !ParseFlow(f[2], e.flow)) return false;
      for (size_t i = 3; i < f.size(); ++i) {
        size_t eq = f[i].find(L'=');
        if (eq == std::wstring::npos || !SetEndpointField(e, f[i].substr(0, eq), f[i].substr(eq + 1))) {
          return false;
        }
      }
      world.endpoints.push_back(e);
    } else {
      return false;
    }
  }
  // A complete file always carries the option line; without it the file is not a world.
  return sawOption;
}

World DefaultWorld() {
  World world;
  auto add = [&](const wchar_t* id, Flow flow, const wchar_t* alias, const wchar_t* device,
                 const wchar_t* name) {
    Endpoint e;
    e.id = id;
    e.flow = flow;
    e.alias = alias;
    e.device = device;
    e.name = name;
    world.endpoints.push_back(e);
  };
  add(L"{0.0.1.00000000}.{8d3c6f2a-51b0-4c7e-9a61-0c5a1e7d2b01}", kCapture, L"card-in", L"card",
      L"线路输入 (High Definition Audio Device)");
  add(L"{0.0.1.00000000}.{3f9e2b7c-8a14-4d52-b0c3-7e61d9a45c02}", kCapture, L"bridge-in", L"bridge",
      L"麦克风 (USB Audio VARN)");
  add(L"{0.0.0.00000000}.{c2a47e19-6d3b-4f80-8e25-1b9f0c7a6d03}", kRender, L"phone-out", L"phone",
      L"扬声器 (Phone Audio Adapter)");
  add(L"{0.0.0.00000000}.{71e5d0b8-2c96-4a3f-a4d7-5f8b3e1c9e04}", kRender, L"bridge-out", L"bridge",
      L"扬声器 (USB Audio VARN)");
  for (int role = 0; role < kRoles; ++role) {
    world.defaults[kCapture][role] = world.endpoints[0].id;
    world.defaults[kRender][role] = world.endpoints[2].id;
  }
  return world;
}

bool LoadWorld(World& world) {
  std::wstring path = WorldPath();
  if (path.empty()) return false;
  // The rename that publishes a new world can race with opening the old one; a second try
  // then sees the new file.
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::string bytes = ReadFileBytes(path);
    if (!bytes.empty() && ParseWorld(bytes, world)) return true;
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES && attempt > 2) return false;
    Sleep(2);
  }
  return false;
}

bool UpdateWorld(const std::function<bool(World&)>& change) {
  WorldLock lock;
  if (!lock.held) return false;
  World world;
  if (!LoadWorld(world)) return false;
  SettlePendingEnables(world);
  if (!change(world)) return false;
  return WriteWorldFile(world);
}

bool SaveWorld(const World& world) {
  WorldLock lock;
  return lock.held && WriteWorldFile(world);
}

Endpoint* FindEndpoint(World& world, const std::wstring& key) {
  for (Endpoint& e : world.endpoints) if (e.id == key) return &e;
  for (Endpoint& e : world.endpoints) if (!key.empty() && e.alias == key) return &e;
  return nullptr;
}

const Endpoint* FindEndpoint(const World& world, const std::wstring& key) {
  return FindEndpoint(const_cast<World&>(world), key);
}

void SetEnabled(World& world, Endpoint& endpoint, bool enabled) {
  // With takeover on, an endpoint that comes back (plugged or enabled) grabs the default, as
  // the bridge's driver does; otherwise enabling never takes the default back.
  bool wasActive = IsActiveNow(endpoint);
  endpoint.enabled = enabled;
  endpoint.enableAtMs = 0;
  if (!wasActive && IsActiveNow(endpoint) && world.plugTakesDefault) SetDefaultAllRoles(world, endpoint);
  RepairDefaults(world, endpoint.flow);
}

// A jack plugged back in counts like a device plugged in: with takeover on it grabs the default.
void SetJackPlugged(World& world, Endpoint& endpoint, bool plugged) {
  bool wasActive = IsActiveNow(endpoint);
  endpoint.jackUnplugged = !plugged;
  if (!wasActive && IsActiveNow(endpoint) && world.plugTakesDefault) SetDefaultAllRoles(world, endpoint);
  RepairDefaults(world, endpoint.flow);
}

void SetPresent(World& world, const std::wstring& device, bool present) {
  for (Endpoint& e : world.endpoints) {
    if (e.device != device || e.present == present) continue;
    // Only the newest instance of a device is plugged back; older ones stay away.
    if (present && e.alias.empty()) continue;
    e.present = present;
    if (present && world.plugTakesDefault && IsActiveNow(e)) SetDefaultAllRoles(world, e);
  }
  RepairDefaults(world, kRender);
  RepairDefaults(world, kCapture);
}

void SetDefaultAllRoles(World& world, const Endpoint& endpoint) {
  for (std::wstring& id : world.defaults[endpoint.flow]) id = endpoint.id;
}

std::wstring NumberedName(const std::wstring& name) {
  size_t open = name.rfind(L" (");
  bool bracketed = open != std::wstring::npos && !name.empty() && name.back() == L')';
  size_t start = bracketed ? open + 2 : 0;
  std::wstring inner = name.substr(start, bracketed ? name.size() - 1 - start : std::wstring::npos);
  // An existing "N- " prefix counts up; otherwise this is the second instance.
  int number = 2;
  size_t dash = inner.find(L"- ");
  if (dash != std::wstring::npos && dash > 0 &&
      inner.find_first_not_of(L"0123456789") == dash) {
    number = _wtoi(inner.substr(0, dash).c_str()) + 1;
    inner = inner.substr(dash + 2);
  }
  std::wstring numbered = std::to_wstring(number) + L"- " + inner;
  return bracketed ? name.substr(0, start) + numbered + L")" : numbered;
}

std::wstring NewEndpointId(Flow flow) {
  GUID guid;
  CoCreateGuid(&guid);
  wchar_t text[80];
  swprintf(text, 80, L"{0.0.%d.00000000}.{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
           static_cast<int>(flow), static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3,
           guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
           guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

bool ReplugAsNewInstance(World& world, const std::wstring& device) {
  std::vector<Endpoint> fresh;
  for (Endpoint& e : world.endpoints) {
    if (e.device != device || e.alias.empty()) continue;
    Endpoint copy = e;
    copy.id = NewEndpointId(e.flow);
    copy.name = NumberedName(e.name);
    copy.present = true;
    copy.enabled = true;
    copy.enableAtMs = 0;
    copy.listen = false;
    copy.listenTarget.clear();
    fresh.push_back(copy);
    e.present = false;
    e.alias.clear();
  }
  if (fresh.empty()) return false;
  for (const Endpoint& e : fresh) {
    world.endpoints.push_back(e);
    if (world.plugTakesDefault) SetDefaultAllRoles(world, world.endpoints.back());
  }
  RepairDefaults(world, kRender);
  RepairDefaults(world, kCapture);
  return true;
}

}  // namespace audiosim
