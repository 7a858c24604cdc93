// IAudioEndpointVolume of an active endpoint: master volume and mute. Channels, steps and
// change notifications are not used by the program and are not simulated.

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <new>

#include "objects.h"

namespace coreaudio {

namespace {

constexpr float kMinDb = -65.25f;

// AUDIOSIM_VOLUME_READ_DELAY=MS makes every reading of the master volume take that long, as
// with a driver slow to answer: whoever reads volumes (the program's volume guard) is held up.
void WaitAsASlowDriver() {
  wchar_t value[16] = {};
  const DWORD length = GetEnvironmentVariableW(L"AUDIOSIM_VOLUME_READ_DELAY", value, 16);
  if (length > 0 && length < 16) Sleep(wcstoul(value, nullptr, 10));
}

class EndpointVolume : public IAudioEndpointVolume, public RefCounted {
 public:
  explicit EndpointVolume(std::wstring id) : id_(std::move(id)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    return QuerySingle<IAudioEndpointVolume>(this, iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

  HRESULT STDMETHODCALLTYPE GetMasterVolumeLevelScalar(float* level) override {
    if (level == nullptr) return E_POINTER;
    WaitAsASlowDriver();
    audiosim::Endpoint e;
    HRESULT hr = ReadActive(e);
    if (SUCCEEDED(hr)) *level = static_cast<float>(e.volume);
    return hr;
  }
  HRESULT STDMETHODCALLTYPE SetMasterVolumeLevelScalar(float level, LPCGUID) override {
    if (!(level >= 0.0f && level <= 1.0f)) return E_INVALIDARG;
    return Change([&](audiosim::Endpoint& e) { e.volume = level; });
  }
  HRESULT STDMETHODCALLTYPE GetMasterVolumeLevel(float* db) override {
    if (db == nullptr) return E_POINTER;
    audiosim::Endpoint e;
    HRESULT hr = ReadActive(e);
    if (SUCCEEDED(hr)) {
      *db = e.volume <= 0.0 ? kMinDb : std::max(kMinDb, 20.0f * std::log10(static_cast<float>(e.volume)));
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE SetMasterVolumeLevel(float db, LPCGUID) override {
    if (!(db >= kMinDb && db <= 0.0f)) return E_INVALIDARG;
    return Change([&](audiosim::Endpoint& e) { e.volume = std::pow(10.0f, db / 20.0f); });
  }
  HRESULT STDMETHODCALLTYPE GetMute(BOOL* mute) override {
    if (mute == nullptr) return E_POINTER;
    audiosim::Endpoint e;
    HRESULT hr = ReadActive(e);
    if (SUCCEEDED(hr)) *mute = e.mute ? TRUE : FALSE;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE SetMute(BOOL mute, LPCGUID) override {
    return Change([&](audiosim::Endpoint& e) { e.mute = mute != FALSE; });
  }
  HRESULT STDMETHODCALLTYPE GetChannelCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 2;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetVolumeRange(float* minDb, float* maxDb, float* stepDb) override {
    if (minDb == nullptr || maxDb == nullptr || stepDb == nullptr) return E_POINTER;
    *minDb = kMinDb;
    *maxDb = 0.0f;
    *stepDb = 0.03125f;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryHardwareSupport(DWORD* mask) override {
    if (mask == nullptr) return E_POINTER;
    *mask = 0;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE RegisterControlChangeNotify(IAudioEndpointVolumeCallback*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE UnregisterControlChangeNotify(IAudioEndpointVolumeCallback*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetChannelVolumeLevel(UINT, float, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetChannelVolumeLevelScalar(UINT, float, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetChannelVolumeLevel(UINT, float*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetChannelVolumeLevelScalar(UINT, float*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetVolumeStepInfo(UINT*, UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE VolumeStepUp(LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE VolumeStepDown(LPCGUID) override { return E_NOTIMPL; }

 private:
  // An endpoint that is no longer active invalidates the interfaces activated on it.
  HRESULT ReadActive(audiosim::Endpoint& out) {
    audiosim::World world;
    ReadWorld(world);
    const audiosim::Endpoint* e = audiosim::FindEndpoint(world, id_);
    if (e == nullptr || e->id != id_) return kDeviceInvalidated;
    if (audiosim::EffectiveState(*e, audiosim::NowMs()) != audiosim::kStateActive) {
      return kDeviceInvalidated;
    }
    out = *e;
    return S_OK;
  }

  // A stuck endpoint accepts writes and keeps its levels, like a driver that resets them.
  template <typename Apply>
  HRESULT Change(Apply apply) {
    HRESULT hr = UpdateEndpoint(id_, [&](audiosim::Endpoint& e) {
      if (audiosim::EffectiveState(e, audiosim::NowMs()) != audiosim::kStateActive) {
        return kDeviceInvalidated;
      }
      if (e.volumeStuck) return S_FALSE;
      apply(e);
      return S_OK;
    });
    if (hr == kNotFound) return kDeviceInvalidated;
    return hr == S_FALSE ? S_OK : hr;
  }

  const std::wstring id_;
};

}  // namespace

HRESULT CreateEndpointVolume(const std::wstring& id, void** object) {
  if (object == nullptr) return E_POINTER;
  auto* volume = new (std::nothrow) EndpointVolume(id);
  *object = static_cast<IAudioEndpointVolume*>(volume);
  return volume != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace coreaudio
