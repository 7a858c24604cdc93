#include "endpoint_commands.h"

#include <windows.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <functional>
#include <optional>

#include "exit_codes.h"

using Microsoft::WRL::ComPtr;

namespace sound_tool {

namespace {

// {BCDE0395-E52F-467C-8E3D-C4579291692E}
constexpr CLSID kDeviceEnumeratorClass = {
    0xbcde0395, 0xe52f, 0x467c, {0x8e, 0x3d, 0xc4, 0x57, 0x92, 0x91, 0x69, 0x2e}};

Outcome Failure(int exitCode, std::wstring reason) { return Outcome{exitCode, std::move(reason)}; }

std::wstring Because(const wchar_t* call, HRESULT hr) { return std::wstring(L" (") + call + L" " + HexCode(hr) + L")"; }

// The endpoint exists (disabled and unplugged ones included: GetDevice finds every state)
// and, when a flow is wanted, has that flow.
std::optional<Outcome> CheckEndpoint(IMMDeviceEnumerator* enumerator, const std::wstring& id,
                                     std::optional<EDataFlow> wanted) {
  ComPtr<IMMDevice> device;
  HRESULT hr = enumerator->GetDevice(id.c_str(), &device);
  if (FAILED(hr) || !device) {
    return Failure(kUnknownEndpoint, L"unknown endpoint " + Shown(id) + Because(L"IMMDeviceEnumerator::GetDevice", hr));
  }
  if (!wanted) return std::nullopt;
  ComPtr<IMMEndpoint> endpoint;
  EDataFlow flow = eAll;
  hr = device.As(&endpoint);
  if (SUCCEEDED(hr)) hr = endpoint->GetDataFlow(&flow);
  if (FAILED(hr)) {
    return Failure(kUnknownEndpoint,
                   L"endpoint " + Shown(id) + L" tells no data flow" + Because(L"IMMEndpoint::GetDataFlow", hr));
  }
  if (flow != *wanted) {
    return Failure(kWrongFlow, L"wrong flow: endpoint " + Shown(id) + L" is not a " +
                                   (*wanted == eCapture ? L"capture" : L"render") + L" endpoint");
  }
  return std::nullopt;
}

std::optional<Outcome> CheckEndpoints(IMMDeviceEnumerator* enumerator, const Command& command) {
  switch (command.action) {
    case Action::kPlaybackThrough:
      if (auto failed = CheckEndpoint(enumerator, command.endpointId, eCapture)) return failed;
      return CheckEndpoint(enumerator, command.targetId, eRender);
    case Action::kListenOn:
    case Action::kListenOff:
      return CheckEndpoint(enumerator, command.endpointId, eCapture);
    default:
      return CheckEndpoint(enumerator, command.endpointId, std::nullopt);
  }
}

Outcome Written(HRESULT hr, const wchar_t* call, const std::wstring& id, const wchar_t* detail = L"") {
  if (SUCCEEDED(hr)) return Outcome{};
  return Failure(kWriteRefused, L"refused for endpoint " + Shown(id) + detail + Because(call, hr));
}

// The property value owns its copy of the text: PropVariantClear frees it with the task
// allocator, whatever the policy object did with the value.
Outcome WriteListenTarget(PolicyConfig* policy, const Command& command) {
  const size_t bytes = (command.targetId.size() + 1) * sizeof(wchar_t);
  auto* text = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
  if (text == nullptr) return Failure(kInternalFailure, L"out of memory");
  memcpy(text, command.targetId.c_str(), bytes);
  PROPVARIANT value;
  PropVariantInit(&value);
  value.vt = VT_LPWSTR;
  value.pwszVal = text;
  HRESULT hr = policy->SetPropertyValue(command.endpointId.c_str(), FALSE, kListenTargetKey, &value);
  PropVariantClear(&value);
  return Written(hr, L"IPolicyConfig::SetPropertyValue", command.endpointId);
}

Outcome WriteListening(PolicyConfig* policy, const Command& command) {
  PROPVARIANT value;
  PropVariantInit(&value);
  value.vt = VT_BOOL;
  value.boolVal = command.action == Action::kListenOn ? VARIANT_TRUE : VARIANT_FALSE;
  HRESULT hr = policy->SetPropertyValue(command.endpointId.c_str(), FALSE, kListenEnabledKey, &value);
  PropVariantClear(&value);
  return Written(hr, L"IPolicyConfig::SetPropertyValue", command.endpointId);
}

// Console, multimedia and communications, in that order; the first refusal ends it.
template <typename Interface>
Outcome WriteDefault(Interface* policy, const std::wstring& id, const wchar_t* call) {
  struct RoleName {
    ERole role;
    const wchar_t* detail;
  };
  constexpr RoleName kRoles[] = {
      {eConsole, L", console role"}, {eMultimedia, L", multimedia role"}, {eCommunications, L", communications role"}};
  for (const RoleName& role : kRoles) {
    Outcome outcome = Written(policy->SetDefaultEndpoint(id.c_str(), role.role), call, id, role.detail);
    if (outcome.exitCode != kDone) return outcome;
  }
  return Outcome{};
}

Outcome Write(const Policy& policy, const Command& command) {
  if (!policy.current) {
    if (command.action == Action::kSetDefault) {
      return WriteDefault(policy.vista.Get(), command.endpointId, L"IPolicyConfigVista::SetDefaultEndpoint");
    }
    return Failure(kInterfaceUnavailable,
                   L"only the Windows Vista audio policy interface is available, and it does not carry this command");
  }
  PolicyConfig* current = policy.current.Get();
  switch (command.action) {
    case Action::kPlaybackThrough: return WriteListenTarget(current, command);
    case Action::kListenOn:
    case Action::kListenOff: return WriteListening(current, command);
    case Action::kSetDefault: return WriteDefault(current, command.endpointId, L"IPolicyConfig::SetDefaultEndpoint");
    case Action::kEnable:
    case Action::kDisable: {
      BOOL visible = command.action == Action::kEnable ? TRUE : FALSE;
      return Written(current->SetEndpointVisibility(command.endpointId.c_str(), visible),
                     L"IPolicyConfig::SetEndpointVisibility", command.endpointId);
    }
    case Action::kCheck: break;
  }
  return Failure(kInternalFailure, L"no such command");
}

// Windows applies a policy write through the audio service, and an endpoint's state or the
// defaults may show it a moment later: the read-back is tried again for up to a second.
constexpr DWORD kSettleLimitMs = 1000;
constexpr DWORD kSettleStepMs = 50;

// What the endpoint shows of the command's change, in words; empty when it shows it.
std::wstring Unseen(IMMDeviceEnumerator* enumerator, const Command& command) {
  const std::wstring& id = command.endpointId;
  switch (command.action) {
    case Action::kPlaybackThrough:
    case Action::kListenOn:
    case Action::kListenOff: {
      const bool target = command.action == Action::kPlaybackThrough;
      PROPVARIANT value;
      PropVariantInit(&value);
      HRESULT hr = ReadListenProperty(enumerator, id, target ? kListenTargetKey : kListenEnabledKey, &value);
      std::wstring seen = SUCCEEDED(hr) ? PropertyText(value) : L"nothing" + Because(L"IPropertyStore::GetValue", hr);
      bool shows = false;
      if (target) {
        shows = value.vt == VT_LPWSTR && value.pwszVal != nullptr &&
                CompareStringOrdinal(value.pwszVal, -1, command.targetId.c_str(), -1, TRUE) == CSTR_EQUAL;
      } else {
        const bool on = value.vt == VT_BOOL && value.boolVal != VARIANT_FALSE;
        shows = SUCCEEDED(hr) && on == (command.action == Action::kListenOn);
      }
      PropVariantClear(&value);
      if (shows) return std::wstring();
      return std::wstring(target ? L"the listen target" : L"listening") + L" reads " + seen;
    }
    case Action::kSetDefault: {
      EDataFlow flow = eAll;
      if (!EndpointFlow(enumerator, id, &flow)) return L"the endpoint tells no data flow";
      for (ERole role : {eConsole, eMultimedia, eCommunications}) {
        std::wstring current = DefaultEndpointId(enumerator, flow, role);
        if (CompareStringOrdinal(current.c_str(), -1, id.c_str(), -1, TRUE) != CSTR_EQUAL) {
          return std::wstring(RoleName(role)) + L" default is " + (current.empty() ? L"none" : Shown(current));
        }
      }
      return std::wstring();
    }
    case Action::kEnable:
    case Action::kDisable: {
      DWORD state = 0;
      HRESULT hr = EndpointState(enumerator, id, &state);
      if (FAILED(hr)) return L"the state is unreadable" + Because(L"IMMDevice::GetState", hr);
      const bool disabled = state == DEVICE_STATE_DISABLED;
      if (disabled == (command.action == Action::kDisable)) return std::wstring();
      return L"the state is " + StateName(state);
    }
    case Action::kCheck: break;
  }
  return std::wstring();
}

Outcome ReadBack(IMMDeviceEnumerator* enumerator, const Command& command) {
  const ULONGLONG started = GetTickCount64();
  for (;;) {
    std::wstring unseen = Unseen(enumerator, command);
    if (unseen.empty()) return Outcome{};
    if (GetTickCount64() - started >= kSettleLimitMs) {
      return Failure(kWriteNotSeen, L"the write was accepted but does not show on endpoint " + Shown(command.endpointId) +
                                        L": " + unseen + L" after " + std::to_wstring(kSettleLimitMs) + L" ms");
    }
    Sleep(kSettleStepMs);
  }
}

}  // namespace

std::wstring Shown(const std::wstring& text) {
  std::wstring shown = L"\"";
  for (wchar_t c : text) shown += c < 0x20 || c == 0x7f ? L'?' : c;
  return shown + L"\"";
}

std::wstring PropertyText(const PROPVARIANT& value) {
  switch (value.vt) {
    case VT_EMPTY: return L"(unset)";
    case VT_BOOL: return value.boolVal != VARIANT_FALSE ? L"on" : L"off";
    case VT_LPWSTR: return value.pwszVal != nullptr ? Shown(value.pwszVal) : L"(null text)";
    default: return L"vt=" + std::to_wstring(value.vt);
  }
}

std::wstring StateName(DWORD state) {
  switch (state) {
    case DEVICE_STATE_ACTIVE: return L"active";
    case DEVICE_STATE_DISABLED: return L"disabled";
    case DEVICE_STATE_NOTPRESENT: return L"not present";
    case DEVICE_STATE_UNPLUGGED: return L"unplugged";
    default: return L"state " + std::to_wstring(state);
  }
}

const wchar_t* RoleName(ERole role) {
  switch (role) {
    case eConsole: return L"console";
    case eMultimedia: return L"multimedia";
    default: return L"communications";
  }
}

bool EndpointFlow(IMMDeviceEnumerator* enumerator, const std::wstring& id, EDataFlow* flow) {
  ComPtr<IMMDevice> device;
  ComPtr<IMMEndpoint> endpoint;
  return SUCCEEDED(enumerator->GetDevice(id.c_str(), &device)) && SUCCEEDED(device.As(&endpoint)) &&
         SUCCEEDED(endpoint->GetDataFlow(flow));
}

HRESULT EndpointState(IMMDeviceEnumerator* enumerator, const std::wstring& id, DWORD* state) {
  ComPtr<IMMDevice> device;
  HRESULT hr = enumerator->GetDevice(id.c_str(), &device);
  return SUCCEEDED(hr) ? device->GetState(state) : hr;
}

std::wstring DefaultEndpointId(IMMDeviceEnumerator* enumerator, EDataFlow flow, ERole role) {
  ComPtr<IMMDevice> device;
  LPWSTR id = nullptr;
  if (FAILED(enumerator->GetDefaultAudioEndpoint(flow, role, &device)) || FAILED(device->GetId(&id))) {
    return std::wstring();
  }
  std::wstring text = id;
  CoTaskMemFree(id);
  return text;
}

HRESULT ReadListenProperty(IMMDeviceEnumerator* enumerator, const std::wstring& id, const PROPERTYKEY& key,
                           PROPVARIANT* value) {
  ComPtr<IMMDevice> device;
  HRESULT hr = enumerator->GetDevice(id.c_str(), &device);
  if (FAILED(hr)) return hr;
  ComPtr<IPropertyStore> store;
  hr = device->OpenPropertyStore(STGM_READ, &store);
  if (FAILED(hr)) return hr;
  return store->GetValue(key, value);
}

Policy OpenPolicy() {
  Policy policy;
  ComPtr<IUnknown> client;
  policy.failure = CoCreateInstance(kPolicyConfigClientClass, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&client));
  if (SUCCEEDED(policy.failure)) {
    struct Version {
      const IID& iid;
      const wchar_t* name;
    };
    const Version versions[] = {
        {kPolicyConfigInterface, L"Windows 7 to 8.1, 10 1607 and later"},
        {kPolicyConfigInterface1507, L"Windows 10 1507"},
        {kPolicyConfigInterface1511, L"Windows 10 1511"},
    };
    for (const Version& version : versions) {
      policy.failure =
          client->QueryInterface(version.iid, reinterpret_cast<void**>(policy.current.ReleaseAndGetAddressOf()));
      if (SUCCEEDED(policy.failure) && policy.current) {
        policy.obtained = version.name;
        return policy;
      }
    }
  }
  ComPtr<IUnknown> vistaClient;
  HRESULT hr = CoCreateInstance(kPolicyConfigVistaClientClass, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&vistaClient));
  if (SUCCEEDED(hr)) {
    hr = vistaClient->QueryInterface(kPolicyConfigVistaInterface,
                                     reinterpret_cast<void**>(policy.vista.ReleaseAndGetAddressOf()));
    if (SUCCEEDED(hr) && policy.vista) policy.obtained = L"Windows Vista";
  }
  return policy;
}

ComPtr<IMMDeviceEnumerator> OpenEnumerator(HRESULT* failure) {
  ComPtr<IMMDeviceEnumerator> enumerator;
  *failure = CoCreateInstance(kDeviceEnumeratorClass, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&enumerator));
  if (FAILED(*failure)) enumerator.Reset();
  return enumerator;
}

std::wstring HexCode(HRESULT hr) {
  constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring text = L"0x";
  auto bits = static_cast<unsigned long>(hr);
  for (int shift = 28; shift >= 0; shift -= 4) text += kDigits[(bits >> shift) & 0xF];
  return text;
}

// The policy object is made before the endpoints are looked at: a Windows without it is told
// apart from a wrong id at once, and the order of the checks does not depend on the command.
// A change counts as made only once it shows when read back (ReadBack): a policy object that
// answers success and changes nothing must not pass for one that works.
Outcome Execute(const Command& command) {
  HRESULT hr = S_OK;
  ComPtr<IMMDeviceEnumerator> enumerator = OpenEnumerator(&hr);
  if (!enumerator) {
    return Failure(kInterfaceUnavailable,
                   L"the Core Audio device enumerator is unavailable" + Because(L"CoCreateInstance", hr));
  }
  Policy policy = OpenPolicy();
  if (!policy.current && !policy.vista) {
    return Failure(kInterfaceUnavailable, L"the audio policy interface is unavailable" +
                                              Because(L"CoCreateInstance/QueryInterface", policy.failure));
  }
  if (std::optional<Outcome> failed = CheckEndpoints(enumerator.Get(), command)) return *failed;
  Outcome written = Write(policy, command);
  if (written.exitCode != kDone) return written;
  return ReadBack(enumerator.Get(), command);
}

}  // namespace sound_tool
