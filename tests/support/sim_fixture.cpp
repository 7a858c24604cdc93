#include "support/sim_fixture.h"

#include <windows.h>
#include <objbase.h>

#include <algorithm>

#include "log/log.h"
#include "tool_runner/tool_runner.h"
#include "world.h"

namespace testing_support {

namespace {
const CLSID kEnumeratorClass = {0xbcde0395, 0xe52f, 0x467c, {0x8e, 0x3d, 0xc4, 0x57, 0x92, 0x91, 0x69, 0x2e}};
const IID kEnumeratorInterface = {0xa95664d2, 0x9614, 0x4f35, {0xa7, 0x46, 0xde, 0x8d, 0xb6, 0x36, 0x17, 0xe6}};
}  // namespace

void SimulatedWorldTest::SetUp() {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  comInitialised_ = true;
  ASSERT_EQ(Audiosim(L"init"), 0);
  IUnknown* enumerator = nullptr;
  ASSERT_EQ(CoCreateInstance(kEnumeratorClass, nullptr, CLSCTX_ALL, kEnumeratorInterface,
                             reinterpret_cast<void**>(&enumerator)),
            S_OK);
  enumerator->Release();
  std::string loads = ReadBytes(dir / L"coreaudio-load.log");
  ASSERT_NE(loads.find("pid=" + std::to_string(GetCurrentProcessId()) + " "), std::string::npos)
      << "the simulated Core Audio server was not loaded: " << loads;
}

void SimulatedWorldTest::TearDown() {
  if (comInitialised_) CoUninitialize();
}

void SimulatedWorldTest::InstallSoundTool() {
  ASSERT_TRUE(CopyFileW(SoundToolToInstall().c_str(), (dir / L"SoundVolumeView.exe").c_str(), FALSE));
  varn::OpenLog(dir / L"VARNListenFix.exe");
  varn::LocateSoundTool(dir / L"VARNListenFix.exe");
}

std::vector<std::string> SimulatedWorldTest::LogLinesContaining(const std::string& text) const {
  std::vector<std::string> lines;
  for (const std::string& line : SplitCrLfLines(ReadBytes(varn::LogFilePath()))) {
    if (line.find(text) != std::string::npos) lines.push_back(line.substr(24));
  }
  return lines;
}

void SimulatedWorldTest::SetFaults(const std::string& rules) {
  ASSERT_TRUE(WriteBytes(dir / L"faults.txt", rules));
}

std::vector<std::string> SimulatedWorldTest::Journal() const {
  return SplitCrLfLines(ReadBytes(dir / L"journal.log"));
}

std::wstring SimulatedWorldTest::Id(const wchar_t* alias) const {
  audiosim::World world;
  if (!audiosim::LoadWorld(world)) return L"";
  const audiosim::Endpoint* e = audiosim::FindEndpoint(world, alias);
  return e != nullptr ? e->id : L"";
}

std::vector<std::string> SimulatedWorldTest::ListeningRoutes() const {
  audiosim::World world;
  std::vector<std::string> routes;
  if (!audiosim::LoadWorld(world)) return {"(no world)"};
  auto shown = [&](const std::wstring& id) {
    for (const audiosim::Endpoint& e : world.endpoints) {
      if (e.id == id) return Utf8(e.alias.empty() ? e.id : e.alias);
    }
    return Utf8(id.empty() ? L"(default)" : id);
  };
  for (const audiosim::Endpoint& e : world.endpoints) {
    if (e.flow == audiosim::kCapture && e.listen) routes.push_back(shown(e.id) + " → " + shown(e.listenTarget));
  }
  std::sort(routes.begin(), routes.end());
  return routes;
}

std::vector<std::string> SimulatedWorldTest::ChosenRoutes(const wchar_t* input, const wchar_t* output) const {
  std::vector<std::string> routes = {Utf8(input) + " → bridge-out", "bridge-in → " + Utf8(output)};
  std::sort(routes.begin(), routes.end());
  return routes;
}

}  // namespace testing_support
