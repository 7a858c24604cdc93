#include "soak_user.h"

#include <cstdio>
#include <regex>

#include "app/app.h"
#include "bench_common.h"
#include "sim_files.h"
#include "ui/window_state.h"
#include "world.h"

namespace soak {

namespace {

constexpr DWORD kAnswerMs = 2000;

// The local time of the last box closed, in the log's own form: builds logged before it may not
// follow the choice (the program refused or failed what the user asked).
std::string refusedAt;

std::string LocalStamp() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char text[32];
  std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond, t.wMilliseconds);
  return text;
}

// The log, the generation before the current file first, so that a rotation loses no line.
std::vector<std::string> LogLines(const ProgramWindow& program) {
  const std::wstring path = program.appDir + L"\\VARNListenFix.log";
  std::string text = audiosim::ReadFileBytes(path + L".1") + audiosim::ReadFileBytes(path);
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kAnswerMs, &result) == 0) return -1;
  return static_cast<LRESULT>(result);
}

std::wstring ItemText(HWND combo, int index) {
  LRESULT length = Ask(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  Ask(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  text.resize(wcslen(text.c_str()));
  return text;
}

// What the window shows as chosen: the item's name, or empty without a pick.
std::wstring Chosen(const ProgramWindow& program, int comboId, int* index) {
  HWND combo = GetDlgItem(program.window, comboId);
  *index = static_cast<int>(Ask(combo, CB_GETCURSEL, 0, 0));
  return *index >= 0 ? ItemText(combo, *index) : std::wstring();
}

void Select(const ProgramWindow& program, int comboId, int index) {
  HWND combo = GetDlgItem(program.window, comboId);
  Ask(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  Ask(program.window, WM_COMMAND, MAKEWPARAM(comboId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

bool ButtonEnabled(const ProgramWindow& program, int id) { return IsWindowEnabled(GetDlgItem(program.window, id)) != FALSE; }

size_t LogSize(const ProgramWindow& program) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW((program.appDir + L"\\VARNListenFix.log").c_str(), GetFileExInfoStandard, &data)) return 0;
  return data.nFileSizeLow;
}

bool LoggedSince(const ProgramWindow& program, size_t fromBytes, const std::string& text) {
  std::string log = audiosim::ReadFileBytes(program.appDir + L"\\VARNListenFix.log");
  return log.size() > fromBytes && log.find(text, fromBytes) != std::string::npos;
}

// A click as the button itself sends it, once the button can be pressed; false when it stays
// greyed. The click counts only when the program logged that it took it: a click that finds
// the worker busy in the same moment does nothing, and the user clicks again.
bool Press(ProgramWindow& program, int id, const std::string& taken) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    for (int wait = 0; wait < 100 && !ButtonEnabled(program, id); ++wait) Sleep(100);
    if (!ButtonEnabled(program, id)) return false;
    const size_t before = LogSize(program);
    PostMessageW(program.window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(program.window, id)));
    for (int wait = 0; wait < 30; ++wait) {
      Sleep(100);
      if (LoggedSince(program, before, taken)) return true;
      if (CloseBox(program)) return true;  // refused, and said so
    }
  }
  return false;
}

std::string Field(const std::smatch& match, int n) { return match[static_cast<size_t>(n)].str(); }

// The last build of the routes the log tells of: the four endpoint ids, when it began, and
// whether it completed.
struct Build {
  std::string stamp;
  std::wstring input, bridgeRender, bridgeCapture, output;
  bool completed = false;
};

std::wstring Wide(const std::string& utf8) {
  int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), length);
  return text;
}

Build LastBuild(const std::vector<std::string>& lines, std::string& cancelledAt) {
  static const std::regex ids(R"(\[(\{0\.0\.[01]\.[^\]]*\})\])");
  Build build;
  for (const std::string& line : lines) {
    if (line.find("[work] 任务结束 op=9 ok=1") != std::string::npos) cancelledAt = line.substr(0, 23);
    if (line.find("[route] 建立侦听完成") != std::string::npos) build.completed = true;
    if (line.find("[route] 开始建立侦听") == std::string::npos) continue;
    std::vector<std::wstring> found;
    for (std::sregex_iterator it(line.begin(), line.end(), ids), end; it != end; ++it) found.push_back(Wide(Field(*it, 1)));
    if (found.size() != 4) continue;
    build = Build{line.substr(0, 23), found[0], found[1], found[2], found[3], false};
  }
  return build;
}

const audiosim::Endpoint* ById(const audiosim::World& world, const std::wstring& id) {
  for (const audiosim::Endpoint& e : world.endpoints) {
    if (e.id == id) return &e;
  }
  return nullptr;
}

const audiosim::Endpoint* ByName(const audiosim::World& world, audiosim::Flow flow, const std::wstring& name) {
  for (const audiosim::Endpoint& e : world.endpoints) {
    if (e.flow == flow && e.present && e.name == name) return &e;
  }
  return nullptr;
}

std::wstring WindowText(HWND window) {
  const LRESULT length = Ask(window, WM_GETTEXTLENGTH, 0, 0);
  if (length <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  Ask(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(wcslen(text.c_str()));
  return text;
}

// A status that says both routes are up: the resting text that names them, or the success of a
// task that built them.
bool ClaimsBothRoutes(const std::wstring& status) {
  static const wchar_t* const kBuilt[] = {
      L"完成：两条音频路由均已连接 2 次。",   L"完成：软件启动时已自动建立音频侦听。",
      L"完成：声卡已重新连接并恢复侦听。",   L"完成：两条音频路由已恢复连接并保持侦听。",
      L"完成：VARN 已启用，音频路由已恢复连接。", L"默认设备已恢复，音频路由已重新侦听 1 次。",
  };
  if (status.rfind(L"● 机架 → 手机：", 0) == 0) return true;
  for (const wchar_t* text : kBuilt) {
    if (status == text) return true;
  }
  return false;
}

std::string Shown(const audiosim::World& world, const std::wstring& id) {
  const audiosim::Endpoint* e = ById(world, id);
  if (e == nullptr) return id.empty() ? "(default)" : bench::Utf8(id) + "(forgotten)";
  return bench::Utf8(e->alias.empty() ? e->id : e->alias) + (e->present ? "" : "(absent)");
}

}  // namespace

bool CloseBox(ProgramWindow& program) {
  struct Search {
    DWORD processId;
    HWND found;
  } search{program.processId, nullptr};
  EnumWindows([](HWND candidate, LPARAM data) -> BOOL {
    auto* s = reinterpret_cast<Search*>(data);
    wchar_t className[16] = {};
    DWORD owner = 0;
    GetWindowThreadProcessId(candidate, &owner);
    if (owner != s->processId || !IsWindowVisible(candidate) || GetClassNameW(candidate, className, 16) == 0 ||
        wcscmp(className, L"#32770") != 0) {
      return TRUE;
    }
    s->found = candidate;
    return FALSE;
  }, reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) return false;
  refusedAt = LocalStamp();
  PostMessageW(search.found, WM_COMMAND, IDOK, 0);
  return true;
}

std::wstring PickByName(ProgramWindow& program, int comboId, const std::wstring& name) {
  HWND combo = GetDlgItem(program.window, comboId);
  const int count = static_cast<int>(Ask(combo, CB_GETCOUNT, 0, 0));
  for (int i = 1; i < count; ++i) {
    if (ItemText(combo, i) != name) continue;
    Select(program, comboId, i);
    return (comboId == varn::kCaptureComboId ? L"pick input " : L"pick output ") + name;
  }
  return std::wstring();
}

// A named device only: the default item follows whatever Windows makes the default, which the
// routes follow only when they are built.
std::wstring PickAndConnect(ProgramWindow& program, std::mt19937& random) {
  const int comboId = std::uniform_int_distribution<int>(0, 1)(random) == 0 ? varn::kCaptureComboId : varn::kRenderComboId;
  HWND combo = GetDlgItem(program.window, comboId);
  const int count = static_cast<int>(Ask(combo, CB_GETCOUNT, 0, 0));
  if (count < 2) return std::wstring();
  const std::wstring picked = PickByName(program, comboId, ItemText(combo, std::uniform_int_distribution<int>(1, count - 1)(random)));
  if (picked.empty()) return picked;
  return picked + L", " + Connect(program);
}

std::wstring Connect(ProgramWindow& program) {
  return Press(program, varn::kConnectButtonId, "用户点击「立即连接」") ? L"connect" : L"connect (greyed)";
}

std::wstring Cancel(ProgramWindow& program) {
  return Press(program, varn::kCancelButtonId, "用户点击「取消连接」") ? L"cancel" : L"cancel (greyed)";
}

std::wstring ToggleAutostart(ProgramWindow& program) {
  PostMessageW(program.window, WM_COMMAND, varn::kCmdTrayAutostart, 0);
  return L"autostart";
}

bool Restart(ProgramWindow& program, std::string& problem) {
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, program.processId);
  if (process == nullptr) {
    problem = "the program's process cannot be opened";
    return false;
  }
  CloseBox(program);
  PostMessageW(program.window, WM_COMMAND, varn::kCmdTrayExit, 0);
  DWORD code = 1;
  const bool ended = WaitForSingleObject(process, 30000) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code);
  CloseHandle(process);
  if (!ended || code != 0) {
    problem = ended ? "the tray exit ended with code " + std::to_string(code) : "the tray exit did not end the program";
    return false;
  }
  const std::wstring exe = program.appDir + L"\\VARNListenFix.exe";
  std::wstring commandLine = L"\"" + exe + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, program.appDir.c_str(),
                      &startup, &started)) {
    problem = "the program could not be started again";
    return false;
  }
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  for (int wait = 0; wait < 200; ++wait) {
    HWND window = bench::FindWindowOfClass(bench::kProgramClass);
    if (window != nullptr && bench::ProcessOf(window) == started.dwProcessId) {
      program.window = window;
      program.processId = started.dwProcessId;
      return true;
    }
    Sleep(100);
  }
  problem = "no window after the new start";
  return false;
}

void WaitUntilQuiet(const ProgramWindow& program, void (*idle)(void*), void* context) {
  auto pause = [&](DWORD ms) {
    for (DWORD left = ms; left > 0; left -= std::min<DWORD>(left, 250)) {
      Sleep(std::min<DWORD>(left, 250));
      idle(context);
    }
  };
  pause(3200);
  for (int round = 0; round < 20; ++round) {
    const size_t before = LogSize(program);
    pause(1600);
    if (LogSize(program) != before) continue;
    std::vector<std::string> lines = LogLines(program);
    bool open = false;
    for (const std::string& line : lines) {
      if (line.find("[work] 任务开始 [") != std::string::npos) open = true;
      if (line.find("[work] 任务结束 op=") != std::string::npos) open = false;
    }
    if (!open) return;
  }
}

std::wstring StatusLine(const ProgramWindow& program) {
  std::wstring text = WindowText(GetDlgItem(program.window, varn::kStatusLabelId));
  for (wchar_t& c : text) {
    if (c == L'\r' || c == L'\n') c = L' ';
  }
  return text;
}

std::vector<std::string> JudgeRoutes(const ProgramWindow& program) {
  std::vector<std::string> problems;
  audiosim::World world;
  if (!audiosim::LoadWorld(world)) return {"no world"};
  std::string cancelledAt;
  const Build build = LastBuild(LogLines(program), cancelledAt);
  const bool cancelled = !cancelledAt.empty() && cancelledAt > build.stamp;
  const audiosim::Endpoint* bridgeOut = audiosim::FindEndpoint(world, L"bridge-out");
  // What the status line says must be what the world holds: both routes up means a capture
  // endpoint listening into the bridge playback that is plugged in now, and the bridge capture
  // of now listening into an output that is there.
  const std::wstring status = WindowText(GetDlgItem(program.window, varn::kStatusLabelId));
  if (ClaimsBothRoutes(status)) {
    const audiosim::Endpoint* capture = audiosim::FindEndpoint(world, L"bridge-in");
    bool intoBridge = false, fromBridge = false;
    for (const audiosim::Endpoint& e : world.endpoints) {
      if (e.flow != audiosim::kCapture || !e.listen) continue;
      const audiosim::Endpoint* target = ById(world, e.listenTarget);
      if (bridgeOut != nullptr && bridgeOut->present && e.listenTarget == bridgeOut->id) intoBridge = true;
      if (capture != nullptr && capture->present && e.id == capture->id && target != nullptr && target->present) {
        fromBridge = true;
      }
    }
    if (!intoBridge || !fromBridge) {
      problems.push_back("the status says both routes are up (" + bench::Utf8(StatusLine(program)) + "), the world has " +
                         (intoBridge ? "" : "no input into the bridge ") + (fromBridge ? "" : "no bridge capture listening"));
    }
  }
  for (const audiosim::Endpoint& e : world.endpoints) {
    if (e.flow != audiosim::kCapture || !e.listen) continue;
    const std::string route = Shown(world, e.id) + " → " + Shown(world, e.listenTarget);
    const audiosim::Endpoint* target = ById(world, e.listenTarget);
    if (cancelled) {
      problems.push_back("listens after a cancel: " + route);
    } else if (e.id == build.input) {
      if (e.listenTarget != build.bridgeRender) problems.push_back("the input plays elsewhere: " + route);
      if (bridgeOut == nullptr || !bridgeOut->present) problems.push_back("the input listens with the bridge away: " + route);
    } else if (e.id == build.bridgeCapture) {
      // A route into a device that is not there plays nothing.
      if (e.listenTarget != build.output && target != nullptr && target->present) {
        problems.push_back("the bridge capture plays elsewhere: " + route);
      }
    } else {
      problems.push_back("stray: " + route);
    }
  }
  // The routes last built follow what the window shows, unless a box said they could not, and
  // once the bridge is there to build them on (without it the program waits for it).
  const audiosim::Endpoint* bridgeIn = audiosim::FindEndpoint(world, L"bridge-in");
  const bool bridgeActive = bridgeIn != nullptr && bridgeOut != nullptr &&
                            audiosim::EffectiveState(*bridgeIn, audiosim::NowMs()) == audiosim::kStateActive &&
                            audiosim::EffectiveState(*bridgeOut, audiosim::NowMs()) == audiosim::kStateActive;
  if (cancelled || !build.completed || build.stamp < refusedAt || !bridgeActive) return problems;
  int inputIndex = -1, outputIndex = -1;
  const std::wstring input = Chosen(program, varn::kCaptureComboId, &inputIndex);
  const std::wstring output = Chosen(program, varn::kRenderComboId, &outputIndex);
  if (inputIndex < 1 || outputIndex < 1) return problems;
  const audiosim::Endpoint* chosenInput = ByName(world, audiosim::kCapture, input);
  const audiosim::Endpoint* chosenOutput = ByName(world, audiosim::kRender, output);
  if (chosenInput != nullptr && chosenInput->id != build.input) {
    problems.push_back("built on " + Shown(world, build.input) + ", chosen " + Shown(world, chosenInput->id));
  }
  if (chosenOutput != nullptr && chosenOutput->id != build.output) {
    problems.push_back("built for " + Shown(world, build.output) + ", chosen " + Shown(world, chosenOutput->id));
  }
  if ((bridgeIn->id != build.bridgeCapture || bridgeOut->id != build.bridgeRender)) {
    problems.push_back("built on bridge " + Shown(world, build.bridgeCapture) + ", listed " + Shown(world, bridgeIn->id));
  }
  return problems;
}

}  // namespace soak
