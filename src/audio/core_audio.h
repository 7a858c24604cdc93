#pragma once
// Small steps over the Core Audio interfaces shared by the endpoint and volume code. Each
// returns its interface as a ComPtr, so everything obtained is released by the operation that
// asked for it.

#include <windows.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <string>

#include "audio/device_identity.h"

namespace varn {

// {BCDE0395-E52F-467C-8E3D-C4579291692E}, MMDeviceEnumerator. The notification registration
// creates it itself rather than through CreateDeviceEnumerator, so that a refusal is logged
// with its own error code.
inline constexpr CLSID kDeviceEnumeratorClass = {
    0xbcde0395, 0xe52f, 0x467c, {0x8e, 0x3d, 0xc4, 0x57, 0x92, 0x91, 0x69, 0x2e}};

Microsoft::WRL::ComPtr<IMMDeviceEnumerator> CreateDeviceEnumerator();
Microsoft::WRL::ComPtr<IMMDevice> DeviceById(IMMDeviceEnumerator* enumerator, const std::wstring& id);
Microsoft::WRL::ComPtr<IAudioEndpointVolume> ActivateEndpointVolume(const std::wstring& id);
// The default endpoint for the multimedia role, empty when there is none or it cannot be read.
std::wstring DefaultEndpointIdFrom(IMMDeviceEnumerator* enumerator, Flow flow);
bool ReadDeviceId(IMMDevice* device, std::wstring& id);
// True only for a VT_LPWSTR value.
bool ReadFriendlyName(IMMDevice* device, std::wstring& name);

}  // namespace varn
