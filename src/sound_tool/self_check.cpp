#include "self_check.h"

#include <windows.h>
#include <functiondiscoverykeys_devpkey.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>

#include "exit_codes.h"

using Microsoft::WRL::ComPtr;

namespace sound_tool {

namespace {

constexpr wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr wchar_t kPolicyServerKey[] =
    L"SOFTWARE\\Classes\\CLSID\\{870AF99C-171D-4F9E-AF0D-E63DF40C2BC9}\\InprocServer32";
// Defined here rather than through INITGUID so that no other key is instantiated.
constexpr PROPERTYKEY kFriendlyNameKey = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

std::wstring RegistryText(const wchar_t* key, const wchar_t* value) {
  wchar_t text[256] = {};
  DWORD bytes = sizeof(text);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_SZ, nullptr, text, &bytes) != ERROR_SUCCESS) {
    return std::wstring();
  }
  return text;
}

// RtlGetVersion, not GetVersionExW: the latter answers what the manifest admits to, not what
// the machine runs.
std::wstring WindowsVersionLine() {
  using GetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  auto getVersion = reinterpret_cast<GetVersionFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  std::wstring line = L"windows: ";
  if (getVersion == nullptr || getVersion(&info) != 0) {
    line += L"version unreadable";
  } else {
    line += std::to_wstring(info.dwMajorVersion) + L"." + std::to_wstring(info.dwMinorVersion) + L" build " +
            std::to_wstring(info.dwBuildNumber);
  }
  DWORD revision = 0, bytes = sizeof(revision);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"UBR", RRF_RT_REG_DWORD, nullptr, &revision, &bytes) ==
      ERROR_SUCCESS) {
    line += L"." + std::to_wstring(revision);
  }
  const std::wstring product = RegistryText(kCurrentVersionKey, L"ProductName");
  const std::wstring release = RegistryText(kCurrentVersionKey, L"DisplayVersion");
  if (!product.empty()) line += L" (" + Shown(product) + (release.empty() ? L"" : L" " + Shown(release)) + L")";
  return line;
}

// A class registered "Apartment" (or with no model) would be made in an apartment of its
// own for a multithreaded caller, through a marshaller this interface does not have.
std::wstring ThreadingModelLine() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyServerKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return L"policy class threading model: (class not registered)";
  }
  RegCloseKey(key);
  const std::wstring model = RegistryText(kPolicyServerKey, L"ThreadingModel");
  return L"policy class threading model: " + (model.empty() ? std::wstring(L"(no value: single-threaded)") : Shown(model));
}

std::wstring FriendlyName(IMMDevice* device) {
  ComPtr<IPropertyStore> store;
  PROPVARIANT value;
  PropVariantInit(&value);
  std::wstring name = L"(no name)";
  if (SUCCEEDED(device->OpenPropertyStore(STGM_READ, &store)) && SUCCEEDED(store->GetValue(kFriendlyNameKey, &value)) &&
      value.vt == VT_LPWSTR && value.pwszVal != nullptr) {
    name = Shown(value.pwszVal);
  }
  PropVariantClear(&value);
  return name;
}

std::wstring ListenText(IMMDeviceEnumerator* enumerator, const std::wstring& id, const PROPERTYKEY& key) {
  PROPVARIANT value;
  PropVariantInit(&value);
  HRESULT hr = ReadListenProperty(enumerator, id, key, &value);
  std::wstring text = SUCCEEDED(hr) ? PropertyText(value) : L"(unreadable " + HexCode(hr) + L")";
  PropVariantClear(&value);
  return text;
}

// The defaults of one flow, console, multimedia and communications, read once for all its lines.
struct FlowDefaultIds {
  std::wstring ids[3];
};

std::wstring EndpointLine(IMMDeviceEnumerator* enumerator, IMMDevice* device, EDataFlow flow,
                          const FlowDefaultIds& defaultIds) {
  LPWSTR rawId = nullptr;
  if (FAILED(device->GetId(&rawId))) return L"endpoint: id unreadable";
  const std::wstring id = rawId;
  CoTaskMemFree(rawId);
  DWORD state = 0;
  EndpointState(enumerator, id, &state);
  std::wstring defaults;
  for (ERole role : {eConsole, eMultimedia, eCommunications}) {
    const std::wstring& current = defaultIds.ids[role];
    if (CompareStringOrdinal(current.c_str(), -1, id.c_str(), -1, TRUE) != CSTR_EQUAL) continue;
    defaults += (defaults.empty() ? L"" : L",") + std::wstring(RoleName(role));
  }
  return std::wstring(L"endpoint: ") + (flow == eRender ? L"render " : L"capture ") + FriendlyName(device) +
         L" id=" + Shown(id) + L" state=" + StateName(state) + L" default=" + (defaults.empty() ? L"none" : defaults) +
         L" listen=" + ListenText(enumerator, id, kListenEnabledKey) +
         L" target=" + ListenText(enumerator, id, kListenTargetKey);
}

void AddEndpointLines(IMMDeviceEnumerator* enumerator, std::vector<std::wstring>* lines) {
  for (EDataFlow flow : {eRender, eCapture}) {
    ComPtr<IMMDeviceCollection> collection;
    UINT count = 0;
    HRESULT hr = enumerator->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, &collection);
    if (SUCCEEDED(hr)) hr = collection->GetCount(&count);
    const wchar_t* flowName = flow == eRender ? L"render" : L"capture";
    if (FAILED(hr)) {
      lines->push_back(std::wstring(L"endpoints: ") + flowName + L" unreadable (EnumAudioEndpoints " + HexCode(hr) + L")");
      continue;
    }
    lines->push_back(std::wstring(L"endpoints: ") + flowName + L" " + std::to_wstring(count) + L" active");
    FlowDefaultIds defaultIds;
    for (ERole role : {eConsole, eMultimedia, eCommunications}) defaultIds.ids[role] = DefaultEndpointId(enumerator, flow, role);
    for (UINT i = 0; i < count; ++i) {
      ComPtr<IMMDevice> device;
      if (SUCCEEDED(collection->Item(i, &device))) {
        lines->push_back(EndpointLine(enumerator, device.Get(), flow, defaultIds));
      }
    }
  }
}

}  // namespace

Outcome SelfCheck(std::vector<std::wstring>* lines) {
  lines->push_back(WindowsVersionLine());
  Policy policy = OpenPolicy();
  std::wstring policyLine = std::wstring(L"policy interface: ") + policy.obtained;
  if (!policy.current && !policy.vista) policyLine += L" (CoCreateInstance/QueryInterface " + HexCode(policy.failure) + L")";
  lines->push_back(policyLine);
  lines->push_back(ThreadingModelLine());
  HRESULT hr = S_OK;
  ComPtr<IMMDeviceEnumerator> enumerator = OpenEnumerator(&hr);
  if (!enumerator) {
    lines->push_back(L"endpoints: the device enumerator is unavailable (CoCreateInstance " + HexCode(hr) + L")");
    return Outcome{kInterfaceUnavailable, L"the Core Audio device enumerator is unavailable"};
  }
  AddEndpointLines(enumerator.Get(), lines);
  if (!policy.current && !policy.vista) return Outcome{kInterfaceUnavailable, L"the audio policy interface is unavailable"};
  if (!policy.current) return Outcome{kInterfaceUnavailable, L"only the Windows Vista audio policy interface is available"};
  return Outcome{};
}

}  // namespace sound_tool
