#pragma once
// The fake Core Audio objects: the device enumerator and what it hands out, each a COM object
// over the simulated world file. Objects keep only ids; every call reads the world afresh, so
// a change made by another process shows at the next call, as on Windows. All objects are
// free-threaded (ThreadingModel Both): the only mutable member is the pending value of a
// writable property store, which has its own lock.

#include <windows.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>
#include <propsys.h>

#include <functional>
#include <string>

#include "world.h"

namespace coreaudio {

// Live COM objects in this process, for leak tests.
extern volatile LONG liveObjects;

// Reads the world; false (and an empty world) when there is none or it cannot be read.
bool ReadWorld(audiosim::World& world) noexcept;

// Changes one endpoint under the world lock. The change returns S_OK to write the world, or
// an error to abandon; kNotFound when the id is unknown.
HRESULT UpdateEndpoint(const std::wstring& id,
                       const std::function<HRESULT(audiosim::Endpoint&)>& change) noexcept;

// Reference counting shared by every object of the DLL.
class RefCounted {
 public:
  RefCounted() { InterlockedIncrement(&liveObjects); }
  virtual ~RefCounted() { InterlockedDecrement(&liveObjects); }
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;
  ULONG AddRefImpl() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG ReleaseImpl() {
    LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

 private:
  volatile LONG refs_ = 1;
};

// QueryInterface of an object that has one interface besides IUnknown.
template <typename Interface>
HRESULT QuerySingle(Interface* self, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (iid == __uuidof(IUnknown) || iid == __uuidof(Interface)) {
    *object = self;
    self->AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

// Makes a new object of one class and asks it for the interface.
using ClassCreator = HRESULT (*)(REFIID iid, void** object);

HRESULT CreateEnumerator(REFIID iid, void** object);
// The maker of one of the two audio policy classes (policy_config.cpp), or null when the
// class is not one of them or is not served in this process.
ClassCreator PolicyClassCreator(REFCLSID clsid);
HRESULT CreateDevice(const std::wstring& id, audiosim::Flow flow, IMMDevice** device);
HRESULT CreatePropertyStore(const std::wstring& id, bool writable, IPropertyStore** store);
HRESULT CreateEndpointVolume(const std::wstring& id, void** object);

// The endpoint's state now, or 0 when the world does not know the id.
DWORD EndpointState(const std::wstring& id);

constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
constexpr HRESULT kDeviceInvalidated = static_cast<HRESULT>(0x88890004);  // AUDCLNT_E_DEVICE_INVALIDATED

}  // namespace coreaudio
