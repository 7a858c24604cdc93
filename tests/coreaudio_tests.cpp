// The simulated Core Audio, seen the way the program sees it: through CoCreateInstance of the
// MMDeviceEnumerator under Wine, with the world changed by the audiosim tool and the stand-in
// sound tool in between. Every test first proves that the fake server is what answered.

#include <gtest/gtest.h>

#include <windows.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>
#include <propsys.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "support/sim_fixture.h"
#include "support/test_support.h"
#include "sim_files.h"
#include "world.h"

using Microsoft::WRL::ComPtr;
using namespace testing_support;

namespace {

const CLSID kEnumeratorClass = {0xbcde0395, 0xe52f, 0x467c, {0x8e, 0x3d, 0xc4, 0x57, 0x92, 0x91, 0x69, 0x2e}};
const PROPERTYKEY kFriendlyName = {{0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};
const PROPERTYKEY kDisableSysFx = {{0x1da5d803, 0xd492, 0x4edd, {0x8c, 0x23, 0xe0, 0xc0, 0xff, 0xee, 0x7f, 0x0e}}, 5};
constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
constexpr HRESULT kInvalidated = static_cast<HRESULT>(0x88890004);

struct Seen {
  std::wstring id, name;
  DWORD state = 0;
};

ComPtr<IMMDeviceEnumerator> NewEnumerator() {
  ComPtr<IMMDeviceEnumerator> enumerator;
  HRESULT hr = CoCreateInstance(kEnumeratorClass, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&enumerator));
  EXPECT_EQ(hr, S_OK);
  return enumerator;
}

std::wstring IdOf(IMMDevice* device) {
  LPWSTR id = nullptr;
  if (FAILED(device->GetId(&id))) return L"";
  std::wstring result = id;
  CoTaskMemFree(id);
  return result;
}

std::wstring NameOf(IMMDevice* device) {
  ComPtr<IPropertyStore> store;
  if (FAILED(device->OpenPropertyStore(STGM_READ, &store))) return L"";
  PROPVARIANT value;
  PropVariantInit(&value);
  std::wstring name;
  if (SUCCEEDED(store->GetValue(kFriendlyName, &value)) && value.vt == VT_LPWSTR) name = value.pwszVal;
  PropVariantClear(&value);
  return name;
}

std::vector<Seen> List(EDataFlow flow, DWORD mask) {
  std::vector<Seen> seen;
  ComPtr<IMMDeviceCollection> devices;
  if (FAILED(NewEnumerator()->EnumAudioEndpoints(flow, mask, &devices))) return seen;
  UINT count = 0;
  devices->GetCount(&count);
  for (UINT i = 0; i < count; ++i) {
    ComPtr<IMMDevice> device;
    if (FAILED(devices->Item(i, &device))) continue;
    Seen s{IdOf(device.Get()), NameOf(device.Get())};
    device->GetState(&s.state);
    seen.push_back(s);
  }
  return seen;
}

std::vector<std::wstring> ActiveNames(EDataFlow flow) {
  std::vector<std::wstring> names;
  for (const Seen& s : List(flow, DEVICE_STATE_ACTIVE)) names.push_back(s.name);
  return names;
}

// The default endpoint's id for a role, or the failing HRESULT as text.
std::wstring DefaultId(EDataFlow flow, ERole role = eMultimedia) {
  ComPtr<IMMDevice> device;
  HRESULT hr = NewEnumerator()->GetDefaultAudioEndpoint(flow, role, &device);
  return SUCCEEDED(hr) ? IdOf(device.Get()) : L"error " + std::to_wstring(static_cast<unsigned long>(hr));
}

const std::wstring kNoDefault = L"error " + std::to_wstring(static_cast<unsigned long>(kNotFound));

ComPtr<IAudioEndpointVolume> VolumeOf(const std::wstring& id, HRESULT* result = nullptr) {
  ComPtr<IMMDevice> device;
  ComPtr<IAudioEndpointVolume> volume;
  HRESULT hr = NewEnumerator()->GetDevice(id.c_str(), &device);
  if (SUCCEEDED(hr)) hr = device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr, &volume);
  if (result != nullptr) *result = hr;
  return volume;
}

audiosim::World World() {
  audiosim::World world;
  EXPECT_TRUE(audiosim::LoadWorld(world));
  return world;
}

// A copy of one endpoint as the world file has it now.
audiosim::Endpoint EndpointNow(const std::wstring& idOrAlias) {
  audiosim::World world = World();
  const audiosim::Endpoint* e = audiosim::FindEndpoint(world, idOrAlias);
  EXPECT_NE(e, nullptr) << "no endpoint " << Utf8(idOrAlias);
  return e != nullptr ? *e : audiosim::Endpoint();
}


class SimulatedAudio : public SimulatedWorldTest {
 protected:
  int StandIn(const std::wstring& arguments) {
    return RunProgram(SimProgram(L"SoundVolumeView.exe"), arguments);
  }
};

TEST_F(SimulatedAudio, CoreAudioSeesTheDefaultWorldAndEachChange) {
  const std::wstring cardIn = Id(L"card-in"), bridgeIn = Id(L"bridge-in");
  const std::wstring phoneOut = Id(L"phone-out"), bridgeOut = Id(L"bridge-out");
  EXPECT_EQ(ActiveNames(eCapture),
            (std::vector<std::wstring>{L"线路输入 (High Definition Audio Device)", L"麦克风 (USB Audio VARN)"}));
  EXPECT_EQ(ActiveNames(eRender),
            (std::vector<std::wstring>{L"扬声器 (Phone Audio Adapter)", L"扬声器 (USB Audio VARN)"}));
  EXPECT_EQ(List(eAll, DEVICE_STATEMASK_ALL).size(), 4u);
  for (ERole role : {eConsole, eMultimedia, eCommunications}) {
    EXPECT_EQ(DefaultId(eCapture, role), cardIn);
    EXPECT_EQ(DefaultId(eRender, role), phoneOut);
  }

  // A name reaches the program exactly as the driver gives it, line breaks included, whether
  // a test writes the world itself or through the control tool's escapes.
  const std::wstring forged = L"Card\r\n2026-01-01 00:00:00.000 [ERROR] [app] forged";
  ASSERT_TRUE(audiosim::UpdateWorld([&](audiosim::World& w) {
    audiosim::FindEndpoint(w, L"card-in")->name = forged;
    return true;
  }));
  ASSERT_EQ(Audiosim(L"set phone-out \"name=Out\\tA\\\\B\\r\\nC\""), 0);
  EXPECT_EQ(ActiveNames(eCapture).at(0), forged);
  EXPECT_EQ(ActiveNames(eRender).at(0), L"Out\tA\\B\r\nC");
  EXPECT_EQ(ActiveNames(eCapture).size(), 2u);

  // Unplugged: gone from the active list, still known as not present, same id.
  ASSERT_EQ(Audiosim(L"unplug bridge"), 0);
  EXPECT_EQ(ActiveNames(eRender), std::vector<std::wstring>{L"Out\tA\\B\r\nC"});
  std::vector<Seen> all = List(eCapture, DEVICE_STATEMASK_ALL);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[1].id, bridgeIn);
  EXPECT_EQ(all[1].state, static_cast<DWORD>(DEVICE_STATE_NOTPRESENT));

  // Disabling the default with no other active capture endpoint leaves no default at all.
  ASSERT_EQ(Audiosim(L"disable card-in"), 0);
  EXPECT_TRUE(ActiveNames(eCapture).empty());
  EXPECT_EQ(List(eCapture, DEVICE_STATE_DISABLED).at(0).id, cardIn);
  EXPECT_EQ(DefaultId(eCapture), kNoDefault);

  // Plugged back under the same ids; a flow without a default takes it.
  ASSERT_EQ(Audiosim(L"plug bridge"), 0);
  EXPECT_EQ(DefaultId(eCapture), bridgeIn);
  ASSERT_EQ(Audiosim(L"enable card-in"), 0);
  EXPECT_EQ(DefaultId(eCapture), bridgeIn) << "enabling does not take the default back";
  ASSERT_EQ(Audiosim(L"default card-in"), 0);
  EXPECT_EQ(DefaultId(eCapture), cardIn);

  // Re-plugged as a new instance: new ids, Windows' numbering, the old ids stay not present.
  ASSERT_EQ(Audiosim(L"replug bridge"), 0);
  EXPECT_EQ(ActiveNames(eRender),
            (std::vector<std::wstring>{L"Out\tA\\B\r\nC", L"扬声器 (2- USB Audio VARN)"}));
  std::wstring newBridgeOut = Id(L"bridge-out");
  EXPECT_NE(newBridgeOut, bridgeOut);
  EXPECT_EQ(newBridgeOut.substr(0, 18), L"{0.0.0.00000000}.{");
  ComPtr<IMMDevice> old;
  ASSERT_EQ(NewEnumerator()->GetDevice(bridgeOut.c_str(), &old), S_OK);
  DWORD state = 0;
  EXPECT_EQ(old->GetState(&state), S_OK);
  EXPECT_EQ(state, static_cast<DWORD>(DEVICE_STATE_NOTPRESENT));
  ASSERT_EQ(Audiosim(L"replug bridge"), 0);
  EXPECT_EQ(ActiveNames(eCapture).back(), L"麦克风 (3- USB Audio VARN)");

  // Unplugging a default render endpoint moves the default to the next active one, and with
  // takeover on, the plugged-in bridge takes the default, as the real device does.
  ASSERT_EQ(Audiosim(L"unplug phone"), 0);
  EXPECT_EQ(DefaultId(eRender), Id(L"bridge-out"));
  ASSERT_EQ(Audiosim(L"plug phone"), 0);
  EXPECT_EQ(DefaultId(eRender), Id(L"bridge-out")) << "takeover is off";
  ASSERT_EQ(Audiosim(L"default phone-out"), 0);
  ASSERT_EQ(Audiosim(L"takeover on"), 0);
  ASSERT_EQ(Audiosim(L"unplug bridge"), 0);
  ASSERT_EQ(Audiosim(L"plug bridge"), 0);
  EXPECT_EQ(DefaultId(eRender), Id(L"bridge-out"));
  EXPECT_EQ(DefaultId(eCapture), Id(L"bridge-in"));

  // An empty jack: neither active nor disabled nor gone. The default moves on, interfaces
  // die, and the sound tool cannot make it the default; the jack plugged back in is active.
  const std::wstring jacked = Id(L"bridge-in");
  ComPtr<IAudioEndpointVolume> volume = VolumeOf(jacked);
  ASSERT_NE(volume, nullptr);
  ASSERT_EQ(Audiosim(L"jack bridge-in out"), 0);
  std::vector<Seen> unplugged = List(eCapture, DEVICE_STATE_UNPLUGGED);
  ASSERT_EQ(unplugged.size(), 1u);
  EXPECT_EQ(unplugged[0].id, jacked);
  EXPECT_EQ(unplugged[0].state, static_cast<DWORD>(DEVICE_STATE_UNPLUGGED));
  EXPECT_EQ(ActiveNames(eCapture), std::vector<std::wstring>{forged});
  EXPECT_TRUE(List(eCapture, DEVICE_STATE_DISABLED).empty());
  for (ERole role : {eConsole, eMultimedia, eCommunications}) EXPECT_EQ(DefaultId(eCapture, role), cardIn);
  float level = 0;
  EXPECT_EQ(volume->GetMasterVolumeLevelScalar(&level), kInvalidated);
  HRESULT hr = S_OK;
  EXPECT_EQ(VolumeOf(jacked, &hr), nullptr);
  EXPECT_EQ(hr, kInvalidated);
  EXPECT_EQ(RunProgram(SimProgram(L"SoundVolumeView.exe"), L"/SetDefault \"" + jacked + L"\" all"), 5);
  ASSERT_EQ(Audiosim(L"disable bridge-in"), 0);
  EXPECT_EQ(List(eCapture, DEVICE_STATE_DISABLED).at(0).id, jacked) << "disabled shows first";
  ASSERT_EQ(Audiosim(L"enable bridge-in"), 0);
  ASSERT_EQ(Audiosim(L"jack bridge-in in"), 0);
  EXPECT_EQ(DefaultId(eCapture), jacked) << "takeover is on";
  EXPECT_EQ(Audiosim(L"jack bridge-in sideways"), 1);

  EXPECT_EQ(Audiosim(L"disable no-such-endpoint"), 2);
  EXPECT_EQ(Audiosim(L"frobnicate"), 1);
}

TEST_F(SimulatedAudio, StandInToolAppliesTheSixCommandsAndRejectsTheRest) {
  const std::wstring cardIn = Id(L"card-in"), bridgeIn = Id(L"bridge-in");
  const std::wstring phoneOut = Id(L"phone-out"), bridgeOut = Id(L"bridge-out");
  auto q = [](const std::wstring& id) { return L"\"" + id + L"\""; };

  EXPECT_EQ(StandIn(L"/SetPlaybackThroughDevice " + q(cardIn) + L" " + q(bridgeOut)), 0);
  EXPECT_EQ(StandIn(L"/SetListenToThisDevice " + q(cardIn) + L" 1"), 0);
  EXPECT_EQ(StandIn(L"/SetPlaybackThroughDevice " + q(bridgeIn) + L" " + q(phoneOut)), 0);
  EXPECT_EQ(StandIn(L"/SetListenToThisDevice " + q(bridgeIn) + L" 1"), 0);
  EXPECT_TRUE(EndpointNow(cardIn).listen);
  EXPECT_EQ(EndpointNow(cardIn).listenTarget, bridgeOut);
  EXPECT_TRUE(EndpointNow(bridgeIn).listen);
  EXPECT_EQ(EndpointNow(bridgeIn).listenTarget, phoneOut);
  EXPECT_EQ(StandIn(L"/SetListenToThisDevice " + q(cardIn) + L" 0"), 0);
  EXPECT_FALSE(EndpointNow(cardIn).listen);

  EXPECT_EQ(StandIn(L"/SetDefault " + q(bridgeOut) + L" all"), 0);
  for (ERole role : {eConsole, eMultimedia, eCommunications}) EXPECT_EQ(DefaultId(eRender, role), bridgeOut);

  EXPECT_EQ(StandIn(L"/Disable " + q(bridgeOut)), 0);
  EXPECT_EQ(DefaultId(eRender), phoneOut) << "Windows chooses another default";
  EXPECT_EQ(StandIn(L"/SetDefault " + q(bridgeOut) + L" all"), 5) << "a disabled endpoint";
  EXPECT_EQ(StandIn(L"/Enable " + q(bridgeOut)), 0);
  EXPECT_EQ(ActiveNames(eRender).size(), 2u);

  // Wrong ids, wrong flows, wrong forms.
  EXPECT_EQ(StandIn(L"/Enable \"{0.0.0.00000000}.{unknown}\""), 3);
  EXPECT_EQ(StandIn(L"/SetListenToThisDevice " + q(phoneOut) + L" 1"), 4);
  EXPECT_EQ(StandIn(L"/SetPlaybackThroughDevice " + q(cardIn) + L" " + q(bridgeIn)), 4);
  EXPECT_EQ(StandIn(L"/SetListenToThisDevice " + q(cardIn) + L" 2"), 2);
  EXPECT_EQ(StandIn(L"/SetDefault " + q(cardIn)), 2);
  EXPECT_EQ(StandIn(L"/Mute " + q(cardIn)), 2);
  EXPECT_EQ(StandIn(L""), 2);

  std::vector<std::string> journal = SplitCrLfLines(ReadBytes(dir / L"journal.log"));
  ASSERT_EQ(journal.size(), 16u);
  EXPECT_EQ(journal[0], Utf8(L"/SetPlaybackThroughDevice " + q(cardIn) + L" " + q(bridgeOut)));
  EXPECT_EQ(journal[15], "");
}

TEST_F(SimulatedAudio, MisbehaviourSwitchesOfTheStandInTool) {
  const std::wstring bridgeOut = Id(L"bridge-out"), phoneOut = Id(L"phone-out");
  // A default that refuses to change: success reported, nothing changed.
  SetFaults("SetDefault noeffect\n");
  EXPECT_EQ(StandIn(L"/SetDefault \"" + bridgeOut + L"\" all"), 0);
  EXPECT_EQ(DefaultId(eRender), phoneOut);

  // An enable that takes effect only later.
  SetFaults("Enable enable-delay=1500\nDisable exit=7\n");
  ASSERT_EQ(Audiosim(L"disable bridge-out"), 0);
  EXPECT_EQ(StandIn(L"/Disable \"" + phoneOut + L"\""), 7);
  EXPECT_EQ(ActiveNames(eRender).size(), 1u) << "the failing disable changed nothing";
  ULONGLONG start = GetTickCount64();
  EXPECT_EQ(StandIn(L"/Enable \"" + bridgeOut + L"\""), 0);
  EXPECT_EQ(ActiveNames(eRender).size(), 1u) << "not yet";
  ASSERT_TRUE(WaitUntil([] { return ActiveNames(eRender).size() == 2; }, 5000));
  EXPECT_GE(GetTickCount64() - start, 1400u);

  // Rules: "*" matches every command; later lines win; commands match without case.
  audiosim::Misbehaviour m = audiosim::ParseMisbehaviour(
      "# comment\n* delay=100\nsetdefault exit=4\nSetDefault delay=250 hang\nEnable noeffect\n",
      L"SetDefault", 1);
  EXPECT_TRUE(m.hang);
  EXPECT_EQ(m.delayMs, 250u);
  EXPECT_TRUE(m.forceExit);
  EXPECT_EQ(m.exitCode, 4u);
  EXPECT_FALSE(m.noEffect);
  // Counted runs: only the second and third run of /Enable fail.
  const std::string counted = "Enable exit=9 from=2 to=3\n";
  EXPECT_FALSE(audiosim::ParseMisbehaviour(counted, L"Enable", 1).forceExit);
  EXPECT_TRUE(audiosim::ParseMisbehaviour(counted, L"Enable", 2).forceExit);
  EXPECT_TRUE(audiosim::ParseMisbehaviour(counted, L"Enable", 3).forceExit);
  EXPECT_FALSE(audiosim::ParseMisbehaviour(counted, L"Enable", 4).forceExit);
}

TEST_F(SimulatedAudio, VolumeMuteAndEnhancementsThroughTheInterfaces) {
  const std::wstring bridgeOut = Id(L"bridge-out"), cardIn = Id(L"card-in");
  ComPtr<IAudioEndpointVolume> volume = VolumeOf(bridgeOut);
  ASSERT_NE(volume, nullptr);
  float level = 0;
  BOOL mute = TRUE;
  EXPECT_EQ(volume->GetMasterVolumeLevelScalar(&level), S_OK);
  EXPECT_FLOAT_EQ(level, 1.0f);
  EXPECT_EQ(volume->GetMute(&mute), S_OK);
  EXPECT_FALSE(mute);

  ASSERT_EQ(Audiosim(L"volume bridge-out 0.4"), 0);
  ASSERT_EQ(Audiosim(L"mute bridge-out"), 0);
  EXPECT_EQ(volume->GetMasterVolumeLevelScalar(&level), S_OK);
  EXPECT_NEAR(level, 0.4f, 1e-5);
  EXPECT_EQ(volume->GetMute(&mute), S_OK);
  EXPECT_TRUE(mute);
  EXPECT_EQ(volume->SetMasterVolumeLevelScalar(1.0f, nullptr), S_OK);
  EXPECT_EQ(volume->SetMute(FALSE, nullptr), S_OK);
  EXPECT_DOUBLE_EQ(EndpointNow(bridgeOut).volume, 1.0);
  EXPECT_FALSE(EndpointNow(bridgeOut).mute);
  EXPECT_EQ(volume->SetMasterVolumeLevelScalar(1.5f, nullptr), E_INVALIDARG);
  EXPECT_EQ(volume->GetMute(nullptr), E_POINTER);

  // A driver that keeps its level: the write is accepted, the level stays.
  ASSERT_EQ(Audiosim(L"set bridge-out volume_stuck=1"), 0);
  ASSERT_EQ(Audiosim(L"volume bridge-out 0.3"), 0);
  EXPECT_EQ(volume->SetMasterVolumeLevelScalar(1.0f, nullptr), S_OK);
  EXPECT_EQ(volume->GetMasterVolumeLevelScalar(&level), S_OK);
  EXPECT_NEAR(level, 0.3f, 1e-5);

  // Interfaces of an endpoint that stops being active are invalidated; a disabled endpoint
  // cannot be activated.
  ASSERT_EQ(Audiosim(L"disable bridge-out"), 0);
  EXPECT_EQ(volume->GetMasterVolumeLevelScalar(&level), kInvalidated);
  HRESULT hr = S_OK;
  EXPECT_EQ(VolumeOf(bridgeOut, &hr), nullptr);
  EXPECT_EQ(hr, kInvalidated);

  // Enhancements: VT_UI4, ENDPOINT_SYSFX_DISABLED (1) means off.
  ComPtr<IMMDevice> device;
  ASSERT_EQ(NewEnumerator()->GetDevice(cardIn.c_str(), &device), S_OK);
  ASSERT_EQ(Audiosim(L"effects card-in on"), 0);
  ComPtr<IPropertyStore> store;
  ASSERT_EQ(device->OpenPropertyStore(STGM_READWRITE, &store), S_OK);
  PROPVARIANT value;
  PropVariantInit(&value);
  ASSERT_EQ(store->GetValue(kDisableSysFx, &value), S_OK);
  EXPECT_EQ(value.vt, VT_UI4);
  EXPECT_EQ(value.ulVal, 0u);
  PROPVARIANT off;
  PropVariantInit(&off);
  off.vt = VT_UI4;
  off.ulVal = 1;
  EXPECT_EQ(store->SetValue(kDisableSysFx, off), S_OK);
  EXPECT_TRUE(EndpointNow(cardIn).effectsOn) << "nothing before Commit";
  EXPECT_EQ(store->Commit(), S_OK);
  EXPECT_FALSE(EndpointNow(cardIn).effectsOn);

  ComPtr<IPropertyStore> readOnly;
  ASSERT_EQ(device->OpenPropertyStore(STGM_READ, &readOnly), S_OK);
  EXPECT_EQ(readOnly->SetValue(kDisableSysFx, off), STG_E_ACCESSDENIED);
  ASSERT_EQ(Audiosim(L"effects card-in on"), 0);
  ASSERT_EQ(Audiosim(L"set card-in effects_locked=1"), 0);
  EXPECT_EQ(store->SetValue(kDisableSysFx, off), S_OK);
  EXPECT_EQ(store->Commit(), E_ACCESSDENIED) << "a store that refuses the write";
  EXPECT_TRUE(EndpointNow(cardIn).effectsOn);
}

TEST_F(SimulatedAudio, ErrorsWhereWindowsReturnsThem) {
  ComPtr<IMMDeviceEnumerator> enumerator = NewEnumerator();
  ComPtr<IMMDevice> device;
  ComPtr<IMMDeviceCollection> devices;
  EXPECT_EQ(enumerator->GetDevice(L"{0.0.0.00000000}.{nothing}", &device), kNotFound);
  EXPECT_EQ(enumerator->GetDevice(nullptr, &device), E_POINTER);
  EXPECT_EQ(enumerator->GetDefaultAudioEndpoint(eAll, eConsole, &device), E_INVALIDARG);
  EXPECT_EQ(enumerator->GetDefaultAudioEndpoint(eRender, static_cast<ERole>(7), &device), E_INVALIDARG);
  EXPECT_EQ(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, nullptr), E_POINTER);
  EXPECT_EQ(enumerator->EnumAudioEndpoints(eRender, 0x10, &devices), E_INVALIDARG);
  EXPECT_EQ(enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, nullptr), E_POINTER);

  ASSERT_EQ(enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, &devices), S_OK);
  EXPECT_EQ(devices->Item(2, &device), E_INVALIDARG);
  ASSERT_EQ(devices->Item(0, &device), S_OK);
  ComPtr<IMMEndpoint> endpoint;
  ASSERT_EQ(device.As(&endpoint), S_OK);
  EDataFlow flow = eAll;
  EXPECT_EQ(endpoint->GetDataFlow(&flow), S_OK);
  EXPECT_EQ(flow, eRender);
  ComPtr<IUnknown> other;
  EXPECT_EQ(device->Activate(__uuidof(IMMDeviceEnumerator), CLSCTX_ALL, nullptr, &other), E_NOINTERFACE);
  ComPtr<IPropertyStore> store;
  EXPECT_EQ(device->OpenPropertyStore(0x1234, &store), E_INVALIDARG);

  // A collection is a snapshot: it keeps its count when the world changes.
  ASSERT_EQ(Audiosim(L"unplug bridge"), 0);
  UINT count = 0;
  EXPECT_EQ(devices->GetCount(&count), S_OK);
  EXPECT_EQ(count, 2u);
}

using LiveObjectsFn = LONG(STDAPICALLTYPE*)();

TEST_F(SimulatedAudio, NoObjectLeaksAfterAThousandEnumerations) {
  HMODULE server = GetModuleHandleW(L"audiosim_coreaudio.dll");
  ASSERT_NE(server, nullptr);
  // FARPROC has no parameters either; the detour through void* keeps the cast warning-free.
  auto liveObjects = reinterpret_cast<LiveObjectsFn>(
      reinterpret_cast<void*>(GetProcAddress(server, "AudiosimLiveObjects")));
  ASSERT_NE(liveObjects, nullptr);
  LONG before = liveObjects();
  for (int i = 0; i < 1000; ++i) {
    std::vector<Seen> seen = List(eAll, DEVICE_STATE_ACTIVE);
    ASSERT_EQ(seen.size(), 4u);
    if (i % 100 == 0) {
      ComPtr<IAudioEndpointVolume> volume = VolumeOf(seen[0].id);
      ASSERT_NE(volume, nullptr);
    }
  }
  EXPECT_EQ(liveObjects(), before);

  // Reference counts as COM callers see them.
  ComPtr<IMMDeviceEnumerator> enumerator = NewEnumerator();
  EXPECT_EQ(enumerator->AddRef(), 2u);
  EXPECT_EQ(enumerator->Release(), 1u);
  ComPtr<IMMDevice> device;
  ASSERT_EQ(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device), S_OK);
  ComPtr<IMMEndpoint> endpoint;
  ASSERT_EQ(device.As(&endpoint), S_OK);
  endpoint.Reset();
  EXPECT_EQ(device->AddRef(), 2u) << "the IMMEndpoint reference was given back";
  device->Release();
  device.Reset();
  enumerator.Reset();
  EXPECT_EQ(liveObjects(), before);
}

// Reads go on while another process rewrites the world: none of them may see half a file.
TEST_F(SimulatedAudio, ReadsNeverSeeATornWorld) {
  const std::wstring bridgeOut = Id(L"bridge-out");
  std::wstring commandLine = L"\"" + SimProgram(L"audiosim.exe") + L"\" churn bridge-out 300";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION writer{};
  ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS,
                             nullptr, nullptr, &startup, &writer));
  int reads = 0, changes = 0;
  float last = 1.0f;
  while (WaitForSingleObject(writer.hProcess, 0) == WAIT_TIMEOUT) {
    ASSERT_EQ(List(eAll, DEVICE_STATE_ACTIVE).size(), 4u) << "after " << reads << " reads";
    ComPtr<IAudioEndpointVolume> volume = VolumeOf(bridgeOut);
    ASSERT_NE(volume, nullptr);
    float level = 0;
    ASSERT_EQ(volume->GetMasterVolumeLevelScalar(&level), S_OK);
    ASSERT_TRUE(level == 0.25f || level == 0.75f || level == 1.0f) << level;
    if (level != last) ++changes;
    last = level;
    ++reads;
  }
  DWORD code = 1;
  GetExitCodeProcess(writer.hProcess, &code);
  CloseHandle(writer.hThread);
  CloseHandle(writer.hProcess);
  EXPECT_EQ(code, 0u);
  EXPECT_GT(reads, 20);
  EXPECT_GT(changes, 5) << "the reads overlapped the writes";
}

// The window thread (STA) and the worker (MTA) use the server at the same time.
DWORD WINAPI EnumerateFromApartment(void* param) {
  auto* failures = static_cast<LONG*>(param);
  bool sta = (failures[1] == 1);
  if (FAILED(CoInitializeEx(nullptr, sta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED))) {
    InterlockedIncrement(&failures[0]);
    return 0;
  }
  for (int i = 0; i < 200; ++i) {
    if (List(eAll, DEVICE_STATE_ACTIVE).size() != 4) InterlockedIncrement(&failures[0]);
  }
  CoUninitialize();
  return 0;
}

TEST_F(SimulatedAudio, WindowAndWorkerApartmentsAtOnce) {
  LONG sta[2] = {0, 1};
  LONG mta[2] = {0, 0};
  HANDLE threads[2] = {CreateThread(nullptr, 0, EnumerateFromApartment, sta, 0, nullptr),
                       CreateThread(nullptr, 0, EnumerateFromApartment, mta, 0, nullptr)};
  ASSERT_EQ(WaitForMultipleObjects(2, threads, TRUE, 60000), WAIT_OBJECT_0);
  for (HANDLE thread : threads) CloseHandle(thread);
  EXPECT_EQ(sta[0], 0);
  EXPECT_EQ(mta[0], 0);
}

}  // namespace
