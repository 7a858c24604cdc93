// Entry points of the fake Core Audio server. The test prefix registers this DLL as the
// in-process server of the MMDeviceEnumerator class (and disables Wine's own mmdevapi), and of
// the two audio policy classes (policy_config.cpp), so a program's CoCreateInstance lands here. Every process that gets a class object records
// itself in coreaudio-load.log in the simulator directory: the harness's proof that a test
// ran on the simulated world and not on the host's audio.

#include <windows.h>
#include <objbase.h>

#include <new>

#include "notifications.h"
#include "objects.h"
#include "sim_files.h"

namespace coreaudio {

volatile LONG liveObjects = 0;

namespace {

// {BCDE0395-E52F-467C-8E3D-C4579291692E}
constexpr CLSID kMMDeviceEnumeratorClass = {
    0xbcde0395, 0xe52f, 0x467c, {0x8e, 0x3d, 0xc4, 0x57, 0x92, 0x91, 0x69, 0x2e}};

volatile LONG loadRecorded = 0;
volatile LONG serverLocks = 0;

void RecordLoad() {
  if (InterlockedExchange(&loadRecorded, 1) != 0) return;
  std::wstring log = audiosim::SimFile(L"coreaudio-load.log");
  if (log.empty()) return;
  wchar_t exe[MAX_PATH * 2];
  DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH * 2);
  std::wstring line = L"pid=" + std::to_wstring(GetCurrentProcessId()) + L" exe=" +
                      std::wstring(exe, length) + L"\r\n";
  audiosim::AppendFileBytes(log, audiosim::ToUtf8(line));
}

class ClassFactory : public IClassFactory, public RefCounted {
 public:
  explicit ClassFactory(ClassCreator creator) : creator_(creator) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    return QuerySingle<IClassFactory>(this, iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return creator_(iid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) InterlockedIncrement(&serverLocks);
    else InterlockedDecrement(&serverLocks);
    return S_OK;
  }

 private:
  const ClassCreator creator_;
};

}  // namespace

bool ReadWorld(audiosim::World& world) noexcept {
  try {
    if (audiosim::LoadWorld(world)) return true;
  } catch (...) {
  }
  world = audiosim::World();
  return false;
}

HRESULT UpdateEndpoint(const std::wstring& id,
                       const std::function<HRESULT(audiosim::Endpoint&)>& change) noexcept {
  HRESULT result = kNotFound;
  try {
    bool written = audiosim::UpdateWorld([&](audiosim::World& world) {
      audiosim::Endpoint* e = audiosim::FindEndpoint(world, id);
      if (e == nullptr || e->id != id) return false;
      result = change(*e);
      return result == S_OK;
    });
    if (result == S_OK && !written) return E_FAIL;
    return result;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace coreaudio

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  coreaudio::ClassCreator creator = IsEqualCLSID(clsid, coreaudio::kMMDeviceEnumeratorClass)
                                        ? coreaudio::CreateEnumerator
                                        : coreaudio::PolicyClassCreator(clsid);
  if (creator == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
  coreaudio::RecordLoad();
  auto* factory = new (std::nothrow) coreaudio::ClassFactory(creator);
  if (factory == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = factory->QueryInterface(iid, object);
  factory->Release();
  return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  bool idle = coreaudio::liveObjects == 0 && coreaudio::serverLocks == 0 && coreaudio::registeredClients == 0;
  return idle ? S_OK : S_FALSE;
}

// For leak tests: how many of this DLL's COM objects are alive in the process.
extern "C" LONG STDAPICALLTYPE AudiosimLiveObjects() { return coreaudio::liveObjects; }
