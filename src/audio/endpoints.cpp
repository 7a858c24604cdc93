#include "audio/endpoints.h"

#include <windows.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>
#include <propsys.h>
#include <wrl/client.h>

#include "audio/core_audio.h"

namespace varn {

namespace {

using Microsoft::WRL::ComPtr;

// The flow's endpoints in the given states, in the platform's order. An endpoint whose id
// cannot be read is left out; so is one without a readable name when the name is required,
// otherwise its name stays empty.
std::vector<DeviceIdentity> Enumerate(IMMDeviceEnumerator* enumerator, Flow flow, DWORD states,
                                      bool requireName) {
  std::vector<DeviceIdentity> found;
  ComPtr<IMMDeviceCollection> devices;
  UINT count = 0;
  if (enumerator == nullptr ||
      FAILED(enumerator->EnumAudioEndpoints(static_cast<EDataFlow>(flow), states, &devices)) ||
      FAILED(devices->GetCount(&count))) {
    return found;
  }
  for (UINT i = 0; i < count; ++i) {
    ComPtr<IMMDevice> device;
    DeviceIdentity identity;
    if (FAILED(devices->Item(i, &device))) continue;
    bool named = ReadFriendlyName(device.Get(), identity.name);
    if ((requireName && !named) || !ReadDeviceId(device.Get(), identity.id)) continue;
    found.push_back(identity);
  }
  return found;
}

std::vector<DeviceIdentity> DisabledEndpoints(Flow flow) {
  return Enumerate(CreateDeviceEnumerator().Get(), flow, DEVICE_STATE_DISABLED, false);
}

}  // namespace

// Index 0 is always the default entry, also when no default can be read (its id is then
// empty): every consumer treats index 0 as "follow the default", so a real endpoint must
// never slide into that place.
std::vector<DeviceIdentity> ListEndpoints(Flow flow) {
  ComPtr<IMMDeviceEnumerator> enumerator = CreateDeviceEnumerator();
  if (!enumerator) return {};
  std::vector<DeviceIdentity> list{{kDefaultEntryName, DefaultEndpointIdFrom(enumerator.Get(), flow)}};
  for (DeviceIdentity& entry : Enumerate(enumerator.Get(), flow, DEVICE_STATE_ACTIVE, true)) {
    list.push_back(std::move(entry));
  }
  return list;
}

bool NameIsBridge(const std::wstring& name) {
  return name.find(kBridgeNameMark) != std::wstring::npos;
}

std::optional<DeviceIdentity> FindBridge(const std::vector<DeviceIdentity>& list) {
  for (size_t i = 1; i < list.size(); ++i) {
    if (NameIsBridge(list[i].name)) return list[i];
  }
  return std::nullopt;
}

std::wstring FindDisabledBridgeId(Flow flow) {
  for (const DeviceIdentity& e : DisabledEndpoints(flow)) {
    if (NameIsBridge(e.name)) return e.id;
  }
  return std::wstring();
}

std::wstring DefaultEndpointId(Flow flow) {
  ComPtr<IMMDeviceEnumerator> enumerator = CreateDeviceEnumerator();
  return enumerator ? DefaultEndpointIdFrom(enumerator.Get(), flow) : std::wstring();
}

bool IsActiveEndpoint(const std::wstring& id, Flow flow) {
  if (id.empty()) return false;
  for (const DeviceIdentity& entry : ListEndpoints(flow)) {
    if (entry.id == id) return true;
  }
  return false;
}

bool IsDisabledEndpoint(const std::wstring& id, Flow flow) {
  if (id.empty()) return false;
  for (const DeviceIdentity& e : DisabledEndpoints(flow)) {
    if (e.id == id) return true;
  }
  return false;
}

bool EndpointExists(const std::wstring& id) {
  if (id.empty()) return false;
  ComPtr<IMMDeviceEnumerator> enumerator = CreateDeviceEnumerator();
  return enumerator && DeviceById(enumerator.Get(), id) != nullptr;
}

std::pair<bool, bool> ReadEndpointMute(const std::wstring& id) {
  ComPtr<IAudioEndpointVolume> volume = ActivateEndpointVolume(id);
  BOOL muted = FALSE;
  if (!volume || FAILED(volume->GetMute(&muted))) return {false, false};
  return {true, muted != FALSE};
}

DeviceIdentity ResolveSelection(const std::vector<DeviceIdentity>& list, int index, Flow flow) {
  if (index < 0 || list.empty()) return DeviceIdentity();
  if (index == 0) {
    DeviceIdentity current{kDefaultEntryName, DefaultEndpointId(flow)};
    for (size_t i = 1; i < list.size(); ++i) {
      if (!current.id.empty() && list[i].id == current.id) {
        current.name = list[i].name;
        break;
      }
    }
    return current;
  }
  int counted = 0;
  for (size_t i = 1; i < list.size(); ++i) {
    if (NameIsBridge(list[i].name)) continue;
    if (++counted == index) return list[i];
  }
  return DeviceIdentity();
}

}  // namespace varn
