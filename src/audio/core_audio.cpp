#include "audio/core_audio.h"

#include <propsys.h>

namespace varn {

namespace {

using Microsoft::WRL::ComPtr;

// PKEY_Device_FriendlyName
constexpr PROPERTYKEY kFriendlyNameKey = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

}  // namespace

ComPtr<IMMDeviceEnumerator> CreateDeviceEnumerator() {
  ComPtr<IMMDeviceEnumerator> enumerator;
  if (FAILED(CoCreateInstance(kDeviceEnumeratorClass, nullptr, CLSCTX_ALL,
                              __uuidof(IMMDeviceEnumerator),
                              reinterpret_cast<void**>(enumerator.GetAddressOf())))) {
    return nullptr;
  }
  return enumerator;
}

ComPtr<IMMDevice> DeviceById(IMMDeviceEnumerator* enumerator, const std::wstring& id) {
  ComPtr<IMMDevice> device;
  if (enumerator == nullptr || id.empty() || FAILED(enumerator->GetDevice(id.c_str(), &device))) {
    return nullptr;
  }
  return device;
}

ComPtr<IAudioEndpointVolume> ActivateEndpointVolume(const std::wstring& id) {
  ComPtr<IMMDeviceEnumerator> enumerator = CreateDeviceEnumerator();
  ComPtr<IMMDevice> device = DeviceById(enumerator.Get(), id);
  ComPtr<IAudioEndpointVolume> volume;
  if (!device || FAILED(device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr,
                                         reinterpret_cast<void**>(volume.GetAddressOf())))) {
    return nullptr;
  }
  return volume;
}

std::wstring DefaultEndpointIdFrom(IMMDeviceEnumerator* enumerator, Flow flow) {
  ComPtr<IMMDevice> device;
  std::wstring id;
  if (SUCCEEDED(enumerator->GetDefaultAudioEndpoint(static_cast<EDataFlow>(flow), eMultimedia,
                                                    &device))) {
    ReadDeviceId(device.Get(), id);
  }
  return id;
}

bool ReadDeviceId(IMMDevice* device, std::wstring& id) {
  LPWSTR text = nullptr;
  if (FAILED(device->GetId(&text)) || text == nullptr) return false;
  id = text;
  CoTaskMemFree(text);
  return true;
}

bool ReadFriendlyName(IMMDevice* device, std::wstring& name) {
  ComPtr<IPropertyStore> store;
  if (FAILED(device->OpenPropertyStore(STGM_READ, &store))) return false;
  PROPVARIANT value;
  PropVariantInit(&value);
  bool ok = SUCCEEDED(store->GetValue(kFriendlyNameKey, &value)) && value.vt == VT_LPWSTR &&
            value.pwszVal != nullptr;
  if (ok) name = value.pwszVal;
  PropVariantClear(&value);
  return ok;
}

}  // namespace varn
