// The audio policy object Windows' sound settings use (CPolicyConfigClient, interface
// IPolicyConfig, undocumented), and its Windows Vista form, over the simulated world. Through
// it the product's own SoundVolumeView.exe changes the world as the stand-in tool does: the
// effects come from the same code (sound_commands.h), written under the same world lock.
//
// Since the program and its tests watch the tool's runs through the stand-in's journal and
// steer them through faults.txt, the policy object plays that part for a process whose
// program is named SoundVolumeView.exe: at the first policy object made in it, it journals the
// process's argument text (and its start time in journal-times.log, when that file exists), then
// applies the faults.txt rules for that command: delay=N sleeps, hang never returns, exit=N
// ends the process with that code, noeffect makes every later write succeed without a change,
// enable-delay=N makes an enable take effect N ms later. The shipped tool knows nothing of it.
//
// AUDIOSIM_POLICY in the environment of the process that makes the object, read each time a
// class object is asked for: "off" serves neither class (as a Windows without the interface),
// "vista" only the Vista class (as Windows Vista); anything else, or nothing, serves both.
//
// Only the current interface id {F8679F50-...} is answered; those of Windows 10 1507 and 1511
// get E_NOINTERFACE, as on every Windows since 1607.

#include <windows.h>
#include <mmreg.h>

#include <cwchar>
#include <functional>
#include <new>

#include "objects.h"
#include "sim_files.h"
#include "sound_commands.h"

namespace coreaudio {

namespace {

constexpr CLSID kPolicyClientClass = {0x870af99c, 0x171d, 0x4f9e, {0xaf, 0x0d, 0xe6, 0x3d, 0xf4, 0x0c, 0x2b, 0xc9}};
constexpr IID kPolicyInterface = {0xf8679f50, 0x850a, 0x41cf, {0x9c, 0x72, 0x43, 0x0f, 0x29, 0x02, 0x90, 0xc8}};
constexpr CLSID kVistaClientClass = {0x294935ce, 0xf637, 0x4e7c, {0xa4, 0x1b, 0xab, 0x25, 0x54, 0x60, 0xb8, 0x62}};
constexpr IID kVistaInterface = {0x568b9108, 0x44bf, 0x40b4, {0x90, 0x06, 0x86, 0xaf, 0xe5, 0xb5, 0xa6, 0x20}};
constexpr GUID kListenPropertySet = {0x24dbb0fc, 0x9311, 0x4b3d, {0x9c, 0xf0, 0x18, 0xff, 0x15, 0x56, 0x39, 0xd4}};
constexpr DWORD kListenTargetPid = 0, kListenEnabledPid = 1;

constexpr wchar_t kSwitchVariable[] = L"AUDIOSIM_POLICY";
constexpr wchar_t kToolFileName[] = L"SoundVolumeView.exe";

// The layouts as Windows has them: IUnknown, then these in this order.
struct PolicyConfigLayout : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetMixFormat(PCWSTR, WAVEFORMATEX**) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDeviceFormat(PCWSTR, BOOL, WAVEFORMATEX**) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResetDeviceFormat(PCWSTR) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDeviceFormat(PCWSTR, WAVEFORMATEX*, WAVEFORMATEX*) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProcessingPeriod(PCWSTR, BOOL, LONGLONG*, LONGLONG*) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetProcessingPeriod(PCWSTR, LONGLONG*) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetShareMode(PCWSTR, int*) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetShareMode(PCWSTR, int*) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPropertyValue(PCWSTR, BOOL, const PROPERTYKEY&, PROPVARIANT*) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPropertyValue(PCWSTR, BOOL, const PROPERTYKEY&, PROPVARIANT*) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDefaultEndpoint(PCWSTR, ERole) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetEndpointVisibility(PCWSTR, BOOL) = 0;
};

// Vista's has no ResetDeviceFormat; here only its SetDefaultEndpoint does anything.
struct PolicyConfigVistaLayout : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetMixFormat(PCWSTR, WAVEFORMATEX**) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDeviceFormat(PCWSTR, BOOL, WAVEFORMATEX**) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDeviceFormat(PCWSTR, WAVEFORMATEX*, WAVEFORMATEX*) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProcessingPeriod(PCWSTR, BOOL, LONGLONG*, LONGLONG*) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetProcessingPeriod(PCWSTR, LONGLONG*) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetShareMode(PCWSTR, int*) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetShareMode(PCWSTR, int*) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPropertyValue(PCWSTR, const PROPERTYKEY&, PROPVARIANT*) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPropertyValue(PCWSTR, const PROPERTYKEY&, PROPVARIANT*) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDefaultEndpoint(PCWSTR, ERole) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetEndpointVisibility(PCWSTR, BOOL) = 0;
};

// The misbehaviour of this process's tool run, settled once, at the first policy object.
INIT_ONCE toolRunOnce = INIT_ONCE_STATIC_INIT;
audiosim::Misbehaviour toolRunFault;

bool IsToolProcess() {
  wchar_t path[MAX_PATH * 2];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  if (length == 0 || length >= MAX_PATH * 2) return false;
  const wchar_t* name = path + length;
  while (name > path && name[-1] != L'\\' && name[-1] != L'/') --name;
  return _wcsicmp(name, kToolFileName) == 0;
}

BOOL CALLBACK StartToolRun(PINIT_ONCE, PVOID, PVOID*) {
  if (!IsToolProcess()) return TRUE;
  try {
    toolRunFault = audiosim::JournalToolRun(audiosim::ArgumentText(GetCommandLineW()), audiosim::NowMs());
  } catch (...) {
    return TRUE;
  }
  if (toolRunFault.hang) Sleep(INFINITE);
  if (toolRunFault.delayMs > 0) Sleep(toolRunFault.delayMs);
  if (toolRunFault.forceExit) ExitProcess(toolRunFault.exitCode);
  return TRUE;
}

const audiosim::Misbehaviour& ToolRunFault() {
  InitOnceExecuteOnce(&toolRunOnce, StartToolRun, nullptr, nullptr);
  return toolRunFault;
}

// One change of the world under its lock, as the stand-in makes it. An id the world does not
// know, or no world at all, is ERROR_NOT_FOUND, as GetDevice answers it.
HRESULT Apply(const std::function<audiosim::CommandResult(audiosim::World&)>& change) noexcept {
  if (ToolRunFault().noEffect) return S_OK;
  audiosim::CommandResult result = audiosim::CommandResult::kUnknownId;
  try {
    bool written = audiosim::UpdateWorld([&](audiosim::World& world) {
      result = change(world);
      return result == audiosim::CommandResult::kDone;
    });
    switch (result) {
      case audiosim::CommandResult::kDone: return written ? S_OK : E_FAIL;
      case audiosim::CommandResult::kUnknownId: return kNotFound;
      case audiosim::CommandResult::kWrongFlow: return E_INVALIDARG;
      case audiosim::CommandResult::kNotActive: return kDeviceInvalidated;
    }
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return E_FAIL;
}

HRESULT SetDefaultEndpointOf(PCWSTR id, ERole role) {
  if (id == nullptr) return E_POINTER;
  if (role < eConsole || role > eCommunications) return E_INVALIDARG;
  return Apply([&](audiosim::World& world) { return audiosim::SetDefault(world, id, role); });
}

// The two "Listen to this device" properties, as the sound settings page writes them: into the
// endpoint's own store (fxStore FALSE), the target as a text, the switch as a VARIANT_BOOL.
HRESULT SetListenProperty(PCWSTR id, BOOL fxStore, const PROPERTYKEY& key, const PROPVARIANT* value) {
  if (id == nullptr || value == nullptr) return E_POINTER;
  if (!IsEqualGUID(key.fmtid, kListenPropertySet) || (key.pid != kListenTargetPid && key.pid != kListenEnabledPid)) {
    return E_NOTIMPL;  // the simulated store holds no other property
  }
  if (fxStore != FALSE) return E_INVALIDARG;
  if (key.pid == kListenTargetPid) {
    if (value->vt != VT_LPWSTR || value->pwszVal == nullptr) return E_INVALIDARG;
    const std::wstring target = value->pwszVal;
    return Apply([&](audiosim::World& world) { return audiosim::SetListenTarget(world, id, target); });
  }
  if (value->vt != VT_BOOL || (value->boolVal != VARIANT_TRUE && value->boolVal != VARIANT_FALSE)) return E_INVALIDARG;
  const bool on = value->boolVal == VARIANT_TRUE;
  return Apply([&](audiosim::World& world) { return audiosim::SetListening(world, id, on); });
}

// IUnknown of a policy object: the one interface it serves, besides IUnknown itself.
template <typename Layout, const IID& kServed>
class PolicyUnknown : public Layout, public RefCounted {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid != __uuidof(IUnknown) && iid != kServed) return E_NOINTERFACE;
    *object = static_cast<Layout*>(this);
    AddRefImpl();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
};

class PolicyConfigObject : public PolicyUnknown<PolicyConfigLayout, kPolicyInterface> {
 public:

  HRESULT STDMETHODCALLTYPE GetMixFormat(PCWSTR, WAVEFORMATEX**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDeviceFormat(PCWSTR, BOOL, WAVEFORMATEX**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ResetDeviceFormat(PCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDeviceFormat(PCWSTR, WAVEFORMATEX*, WAVEFORMATEX*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetProcessingPeriod(PCWSTR, BOOL, LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetProcessingPeriod(PCWSTR, LONGLONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetShareMode(PCWSTR, int*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetShareMode(PCWSTR, int*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPropertyValue(PCWSTR, BOOL, const PROPERTYKEY&, PROPVARIANT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetPropertyValue(PCWSTR id, BOOL fxStore, const PROPERTYKEY& key,
                                             PROPVARIANT* value) override {
    return SetListenProperty(id, fxStore, key, value);
  }
  HRESULT STDMETHODCALLTYPE SetDefaultEndpoint(PCWSTR id, ERole role) override {
    return SetDefaultEndpointOf(id, role);
  }
  // Hiding an endpoint is disabling it; showing it again enables it, after the enable-delay
  // of faults.txt when one is set.
  HRESULT STDMETHODCALLTYPE SetEndpointVisibility(PCWSTR id, BOOL visible) override {
    if (id == nullptr) return E_POINTER;
    const std::uint32_t delayMs = ToolRunFault().enableDelayMs;
    return Apply([&](audiosim::World& world) {
      return audiosim::SetEndpointEnabled(world, id, visible != FALSE, delayMs);
    });
  }
};

class PolicyConfigVistaObject : public PolicyUnknown<PolicyConfigVistaLayout, kVistaInterface> {
 public:

  HRESULT STDMETHODCALLTYPE GetMixFormat(PCWSTR, WAVEFORMATEX**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDeviceFormat(PCWSTR, BOOL, WAVEFORMATEX**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDeviceFormat(PCWSTR, WAVEFORMATEX*, WAVEFORMATEX*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetProcessingPeriod(PCWSTR, BOOL, LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetProcessingPeriod(PCWSTR, LONGLONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetShareMode(PCWSTR, int*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetShareMode(PCWSTR, int*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPropertyValue(PCWSTR, const PROPERTYKEY&, PROPVARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetPropertyValue(PCWSTR, const PROPERTYKEY&, PROPVARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDefaultEndpoint(PCWSTR id, ERole role) override { return SetDefaultEndpointOf(id, role); }
  HRESULT STDMETHODCALLTYPE SetEndpointVisibility(PCWSTR, BOOL) override { return E_NOTIMPL; }
};

template <typename Object>
HRESULT Create(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  ToolRunFault();
  Object* created = new (std::nothrow) Object();
  if (created == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = created->QueryInterface(iid, object);
  created->Release();
  return hr;
}

std::wstring Switch() {
  wchar_t value[16] = {};
  DWORD length = GetEnvironmentVariableW(kSwitchVariable, value, 16);
  return length > 0 && length < 16 ? std::wstring(value, length) : std::wstring();
}

}  // namespace

ClassCreator PolicyClassCreator(REFCLSID clsid) {
  const bool current = IsEqualCLSID(clsid, kPolicyClientClass), vista = IsEqualCLSID(clsid, kVistaClientClass);
  if (!current && !vista) return nullptr;
  const std::wstring served = Switch();
  if (served == L"off" || (current && served == L"vista")) return nullptr;
  return current ? Create<PolicyConfigObject> : Create<PolicyConfigVistaObject>;
}

}  // namespace coreaudio
