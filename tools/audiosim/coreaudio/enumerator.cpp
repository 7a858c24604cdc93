// IMMDeviceEnumerator and IMMDeviceCollection over the simulated world.

#include <new>
#include <vector>

#include "notifications.h"
#include "objects.h"

namespace coreaudio {

namespace {

bool FlowMatches(EDataFlow wanted, audiosim::Flow flow) {
  return wanted == eAll || static_cast<int>(wanted) == static_cast<int>(flow);
}

struct Entry {
  std::wstring id;
  audiosim::Flow flow;
};

// A snapshot of the endpoints that matched when it was made, as on Windows.
class Collection : public IMMDeviceCollection, public RefCounted {
 public:
  explicit Collection(std::vector<Entry> entries) : entries_(std::move(entries)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    return QuerySingle<IMMDeviceCollection>(this, iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

  HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = static_cast<UINT>(entries_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** device) override {
    if (device == nullptr) return E_POINTER;
    *device = nullptr;
    if (index >= entries_.size()) return E_INVALIDARG;
    return CreateDevice(entries_[index].id, entries_[index].flow, device);
  }

 private:
  const std::vector<Entry> entries_;
};

class Enumerator : public IMMDeviceEnumerator, public RefCounted {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    return QuerySingle<IMMDeviceEnumerator>(this, iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD stateMask,
                                               IMMDeviceCollection** devices) override {
    if (devices == nullptr) return E_POINTER;
    *devices = nullptr;
    if (flow != eRender && flow != eCapture && flow != eAll) return E_INVALIDARG;
    if (stateMask == 0 || (stateMask & ~DEVICE_STATEMASK_ALL) != 0) return E_INVALIDARG;
    audiosim::World world;
    ReadWorld(world);
    std::uint64_t now = audiosim::NowMs();
    try {
      std::vector<Entry> entries;
      for (const audiosim::Endpoint& e : world.endpoints) {
        if (FlowMatches(flow, e.flow) && (audiosim::EffectiveState(e, now) & stateMask) != 0) {
          entries.push_back({e.id, e.flow});
        }
      }
      *devices = new Collection(std::move(entries));
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role,
                                                    IMMDevice** endpoint) override {
    if (endpoint == nullptr) return E_POINTER;
    *endpoint = nullptr;
    if (flow != eRender && flow != eCapture) return E_INVALIDARG;
    if (role < eConsole || role > eCommunications) return E_INVALIDARG;
    audiosim::World world;
    ReadWorld(world);
    const std::wstring& id = world.defaults[flow][role];
    const audiosim::Endpoint* e = id.empty() ? nullptr : audiosim::FindEndpoint(world, id);
    if (e == nullptr || audiosim::EffectiveState(*e, audiosim::NowMs()) != audiosim::kStateActive) {
      return kNotFound;
    }
    return CreateDevice(e->id, e->flow, endpoint);
  }

  HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** device) override {
    if (id == nullptr || device == nullptr) return E_POINTER;
    *device = nullptr;
    audiosim::World world;
    ReadWorld(world);
    for (const audiosim::Endpoint& e : world.endpoints) {
      if (e.id == id) return CreateDevice(e.id, e.flow, device);
    }
    return kNotFound;
  }

  // Registrations belong to the process, not to this enumerator, as on Windows: another
  // enumerator may unregister the client.
  HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient* client) override {
    return RegisterNotificationClient(client);
  }
  HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient* client) override {
    return UnregisterNotificationClient(client);
  }
};

}  // namespace

HRESULT CreateEnumerator(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  Enumerator* enumerator = new (std::nothrow) Enumerator();
  if (enumerator == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = enumerator->QueryInterface(iid, object);
  enumerator->Release();
  return hr;
}

}  // namespace coreaudio
