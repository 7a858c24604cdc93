// IMMDevice and IMMEndpoint: one endpoint, addressed by its id.

#include <new>

#include "objects.h"

namespace coreaudio {

namespace {

class Device : public IMMDevice, public IMMEndpoint, public RefCounted {
 public:
  Device(std::wstring id, audiosim::Flow flow) : id_(std::move(id)), flow_(flow) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IMMDevice)) {
      *object = static_cast<IMMDevice*>(this);
    } else if (iid == __uuidof(IMMEndpoint)) {
      *object = static_cast<IMMEndpoint*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRefImpl();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

  HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid != __uuidof(IAudioEndpointVolume)) return E_NOINTERFACE;
    if (EndpointState(id_) != DEVICE_STATE_ACTIVE) return kDeviceInvalidated;
    return CreateEndpointVolume(id_, object);
  }

  HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD access, IPropertyStore** store) override {
    if (store == nullptr) return E_POINTER;
    *store = nullptr;
    if (access != STGM_READ && access != STGM_WRITE && access != STGM_READWRITE) return E_INVALIDARG;
    return CreatePropertyStore(id_, access != STGM_READ, store);
  }

  HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override {
    if (id == nullptr) return E_POINTER;
    size_t bytes = (id_.size() + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (*id == nullptr) return E_OUTOFMEMORY;
    memcpy(*id, id_.c_str(), bytes);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
    if (state == nullptr) return E_POINTER;
    *state = EndpointState(id_);
    return *state != 0 ? S_OK : kNotFound;
  }

  HRESULT STDMETHODCALLTYPE GetDataFlow(EDataFlow* flow) override {
    if (flow == nullptr) return E_POINTER;
    *flow = static_cast<EDataFlow>(flow_);
    return S_OK;
  }

 private:
  const std::wstring id_;
  const audiosim::Flow flow_;
};

}  // namespace

HRESULT CreateDevice(const std::wstring& id, audiosim::Flow flow, IMMDevice** device) {
  if (device == nullptr) return E_POINTER;
  *device = new (std::nothrow) Device(id, flow);
  return *device != nullptr ? S_OK : E_OUTOFMEMORY;
}

DWORD EndpointState(const std::wstring& id) {
  audiosim::World world;
  if (!ReadWorld(world)) return 0;
  const audiosim::Endpoint* e = audiosim::FindEndpoint(world, id);
  return e != nullptr && e->id == id ? audiosim::EffectiveState(*e, audiosim::NowMs()) : 0;
}

}  // namespace coreaudio
