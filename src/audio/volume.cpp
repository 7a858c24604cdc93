#include "audio/volume.h"

#include <windows.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>
#include <propsys.h>
#include <wrl/client.h>

#include "audio/core_audio.h"
#include "log/log.h"
#include "base/text.h"

namespace varn {

namespace {

using Microsoft::WRL::ComPtr;

constexpr wchar_t kGuardTag[] = L"guard";
constexpr wchar_t kUnreadable[] = L"(读不到)";

// PKEY_AudioEndpoint_Disable_SysFx; spelled out because mingw's headers do not carry it.
constexpr PROPERTYKEY kDisableSysFxKey = {
    {0x1da5d803, 0xd492, 0x4edd, {0x8c, 0x23, 0xe0, 0xc0, 0xff, 0xee, 0x7f, 0x0e}}, 5};
// The switch is documented as a VT_UI4 holding ENDPOINT_SYSFX_DISABLED; any other type or
// value leaves the effects on as far as we are concerned.
constexpr ULONG kSysFxDisabled = ENDPOINT_SYSFX_DISABLED;

// The first pause lets the driver settle after the write; the second, longer one gives a slow
// driver one more chance. Two attempts, then the next guard cycle tries again.
constexpr DWORD kFirstPauseMs = 100;
constexpr DWORD kPauseStepMs = 100;
constexpr DWORD kPauseLimitMs = 300;

bool ShutdownRequested(ShutdownTest isShutdown) { return isShutdown != nullptr && isShutdown(); }

struct VolumeReading {
  bool volumeRead = false;
  float volume = 0.0f;  // taken as silent until read
  bool muteRead = false;
  BOOL muted = TRUE;    // taken as muted until read
};

VolumeReading ReadVolume(IAudioEndpointVolume* endpoint) {
  VolumeReading reading;
  float level = 0.0f;
  BOOL muted = TRUE;
  reading.volumeRead = SUCCEEDED(endpoint->GetMasterVolumeLevelScalar(&level));
  if (reading.volumeRead) reading.volume = level;
  reading.muteRead = SUCCEEDED(endpoint->GetMute(&muted));
  if (reading.muteRead) reading.muted = muted;
  return reading;
}

// A mute flag that cannot be read is not trusted even when the caller does not care about
// mute: a failing read means the endpoint is not answering properly.
bool Complies(const VolumeReading& r, bool unmute) {
  return r.volumeRead && r.muteRead && r.volume >= kFullVolumeScalar && !(unmute && r.muted);
}

std::wstring VolumeText(const VolumeReading& r) {
  return r.volumeRead ? FormatText(L"%.0f%%", r.volume * 100.0) : std::wstring(kUnreadable);
}

std::wstring MuteText(const VolumeReading& r) {
  if (!r.muteRead) return kUnreadable;
  return r.muted ? L"是" : L"否";
}

bool SysFxDisabled(IPropertyStore* store) {
  PROPVARIANT value;
  PropVariantInit(&value);
  bool off = SUCCEEDED(store->GetValue(kDisableSysFxKey, &value)) && value.vt == VT_UI4 &&
             value.ulVal == kSysFxDisabled;
  PropVariantClear(&value);
  return off;
}

// Stores and commits the switch; false when the store refuses either step.
bool WriteSysFxDisabled(IPropertyStore* store) {
  PROPVARIANT value;
  PropVariantInit(&value);
  value.vt = VT_UI4;
  value.ulVal = kSysFxDisabled;
  return SUCCEEDED(store->SetValue(kDisableSysFxKey, value)) && SUCCEEDED(store->Commit());
}

}  // namespace

bool EnforceEndpointVolume(const std::wstring& id, bool unmute, bool* attempted,
                           ShutdownTest isShutdown) {
  if (attempted != nullptr) *attempted = false;
  ComPtr<IAudioEndpointVolume> endpoint = ActivateEndpointVolume(id);
  if (!endpoint) return false;

  const VolumeReading start = ReadVolume(endpoint.Get());
  bool complies = Complies(start, unmute);
  bool tried = false;
  for (DWORD pause = kFirstPauseMs; !complies && !ShutdownRequested(isShutdown);) {
    tried = true;
    bool written = SUCCEEDED(endpoint->SetMasterVolumeLevelScalar(1.0f, nullptr)) &&
                   (!unmute || SUCCEEDED(endpoint->SetMute(FALSE, nullptr)));
    // A refused write is not waited on: nothing changed that could settle.
    if (written) {
      Sleep(pause);
      complies = Complies(ReadVolume(endpoint.Get()), unmute);
    }
    pause += kPauseStepMs;
    if (pause >= kPauseLimitMs) break;
  }

  if (attempted != nullptr && tried) {
    *attempted = true;
    const VolumeReading final = ReadVolume(endpoint.Get());
    WriteLog(complies ? LOG_INFO : LOG_WARN, kGuardTag,
             FormatText(L"音量守护纠正 id=%s 音量=%s→%s 静音=%s→%s 解除静音=%d 结果=%s", id.c_str(),
                        VolumeText(start).c_str(), VolumeText(final).c_str(),
                        MuteText(start).c_str(), MuteText(final).c_str(), unmute ? 1 : 0,
                        complies ? L"成功" : L"仍不达标"));
  }
  return complies;
}

bool DisableEndpointEnhancements(const std::wstring& id, ShutdownTest isShutdown) {
  ComPtr<IMMDeviceEnumerator> enumerator = CreateDeviceEnumerator();
  ComPtr<IMMDevice> device = DeviceById(enumerator.Get(), id);
  ComPtr<IPropertyStore> store;
  if (!device || FAILED(device->OpenPropertyStore(STGM_READWRITE, &store))) return false;

  const bool alreadyOff = SysFxDisabled(store.Get());
  bool off = alreadyOff;
  for (DWORD pause = kFirstPauseMs; !off;) {
    if (ShutdownRequested(isShutdown)) break;
    if (WriteSysFxDisabled(store.Get())) {
      Sleep(pause);
      off = SysFxDisabled(store.Get());
    }
    pause += kPauseStepMs;
    if (pause >= kPauseLimitMs) break;
  }

  if (!alreadyOff) {
    WriteLog(off ? LOG_INFO : LOG_WARN, kGuardTag,
             FormatText(L"音效增强（信号处理）%s id=%s", off ? L"已关闭" : L"关闭失败", id.c_str()));
  }
  return off;
}

}  // namespace varn
