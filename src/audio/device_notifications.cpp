// The device-change client. Windows calls it from its own threads, often several times for one
// change (a device's endpoints one by one, then each role of each default), so a callback only
// counts and posts; one posted message stands for every notification until the window takes
// it, so that a burst cannot flood the window's queue.
//
// Property changes are not forwarded: Windows reports every volume, format and enhancements
// write there, the program's own volume guard among them, and none of them is a change that
// the device evaluation decides on. A renamed endpoint is still found by the poll.

#include "audio/device_notifications.h"

#include <atomic>
#include <new>
#include <utility>

#include <mmdeviceapi.h>
#include <wrl/client.h>

#include "audio/core_audio.h"

namespace varn {

namespace {

using Microsoft::WRL::ComPtr;


class DeviceChangeClient final : public IMMNotificationClient {
 public:
  DeviceChangeClient(HWND window, UINT message) : window_(window), message_(message) {}
  DeviceChangeClient(const DeviceChangeClient&) = delete;
  DeviceChangeClient& operator=(const DeviceChangeClient&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IMMNotificationClient)) {
      *object = static_cast<IMMNotificationClient*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return Notice(); }
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return Notice(); }
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return Notice(); }
  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow, ERole, LPCWSTR) override { return Notice(); }
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }

  int Take() {
    posted_.store(false);
    return count_.exchange(0);
  }

 private:
  ~DeviceChangeClient() = default;

  // Nothing here can throw; a failed post clears the flag so that the next change tries again.
  HRESULT Notice() {
    ++count_;
    if (!posted_.exchange(true) && !PostMessageW(window_, message_, 0, 0)) posted_.store(false);
    return S_OK;
  }

  std::atomic<ULONG> refs_{1};
  std::atomic<bool> posted_{false};
  std::atomic<int> count_{0};
  const HWND window_;
  const UINT message_;
};

// The enumerator is kept for the registration's lifetime: on Windows the registration is
// undone through the enumerator that made it.
struct Registration {
  ComPtr<IMMDeviceEnumerator> enumerator;
  ComPtr<DeviceChangeClient> client;
};
Registration registration;

}  // namespace

bool StartDeviceNotifications(HWND window, UINT message, HRESULT& hr) {
  StopDeviceNotifications();
  ComPtr<IMMDeviceEnumerator> enumerator;
  hr = CoCreateInstance(kDeviceEnumeratorClass, nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                        reinterpret_cast<void**>(enumerator.GetAddressOf()));
  if (FAILED(hr)) return false;
  // The client starts with one reference, which the owner takes over.
  ComPtr<DeviceChangeClient> client;
  client.Attach(new (std::nothrow) DeviceChangeClient(window, message));
  if (client == nullptr) {
    hr = E_OUTOFMEMORY;
    return false;
  }
  hr = enumerator->RegisterEndpointNotificationCallback(client.Get());
  if (FAILED(hr)) return false;
  registration.enumerator = std::move(enumerator);
  registration.client = std::move(client);
  return true;
}

void StopDeviceNotifications() {
  if (registration.client == nullptr) return;
  registration.enumerator->UnregisterEndpointNotificationCallback(registration.client.Get());
  registration.client.Reset();
  registration.enumerator.Reset();
}

int TakeDeviceNotifications() {
  return registration.client == nullptr ? 0 : registration.client->Take();
}

}  // namespace varn
