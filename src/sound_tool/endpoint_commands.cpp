#include "endpoint_commands.h"

#include <windows.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <optional>

#include "exit_codes.h"
#include "policy_config.h"

using Microsoft::WRL::ComPtr;

namespace sound_tool {

namespace {

// {BCDE0395-E52F-467C-8E3D-C4579291692E}
constexpr CLSID kDeviceEnumeratorClass = {
    0xbcde0395, 0xe52f, 0x467c, {0x8e, 0x3d, 0xc4, 0x57, 0x92, 0x91, 0x69, 0x2e}};

Outcome Failure(int exitCode, std::wstring reason) { return Outcome{exitCode, std::move(reason)}; }

std::wstring Because(const wchar_t* call, HRESULT hr) { return std::wstring(L" (") + call + L" " + HexCode(hr) + L")"; }

// An id as it appears in the reason: in double quotes, control characters replaced, so that the
// reason stays one line whatever the caller passed.
std::wstring Shown(const std::wstring& id) {
  std::wstring shown = L"\"";
  for (wchar_t c : id) shown += c < 0x20 || c == 0x7f ? L'?' : c;
  return shown + L"\"";
}

// Whichever policy interface this Windows offers. The current one is asked for under the ids
// of every Windows version that had one; the Vista one only through its own class, and then
// only /SetDefault goes through it (policy_config.h).
struct Policy {
  ComPtr<PolicyConfig> current;
  ComPtr<PolicyConfigVista> vista;
  HRESULT failure = E_NOINTERFACE;  // why neither could be had
};

Policy OpenPolicy() {
  Policy policy;
  ComPtr<IUnknown> client;
  policy.failure = CoCreateInstance(kPolicyConfigClientClass, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&client));
  if (SUCCEEDED(policy.failure)) {
    for (const IID& iid : {kPolicyConfigInterface, kPolicyConfigInterface1507, kPolicyConfigInterface1511}) {
      policy.failure = client->QueryInterface(iid, reinterpret_cast<void**>(policy.current.ReleaseAndGetAddressOf()));
      if (SUCCEEDED(policy.failure) && policy.current) return policy;
    }
  }
  ComPtr<IUnknown> vistaClient;
  HRESULT hr = CoCreateInstance(kPolicyConfigVistaClientClass, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&vistaClient));
  if (SUCCEEDED(hr)) {
    hr = vistaClient->QueryInterface(kPolicyConfigVistaInterface,
                                     reinterpret_cast<void**>(policy.vista.ReleaseAndGetAddressOf()));
    if (SUCCEEDED(hr) && policy.vista) return policy;
  }
  return policy;
}

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
  }
  return Failure(kInternalFailure, L"no such command");
}

}  // namespace

std::wstring HexCode(HRESULT hr) {
  constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring text = L"0x";
  auto bits = static_cast<unsigned long>(hr);
  for (int shift = 28; shift >= 0; shift -= 4) text += kDigits[(bits >> shift) & 0xF];
  return text;
}

// The policy object is made before the endpoints are looked at: a Windows without it is told
// apart from a wrong id at once, and the order of the checks does not depend on the command.
Outcome Execute(const Command& command) {
  ComPtr<IMMDeviceEnumerator> enumerator;
  HRESULT hr = CoCreateInstance(kDeviceEnumeratorClass, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&enumerator));
  if (FAILED(hr)) {
    return Failure(kInterfaceUnavailable,
                   L"the Core Audio device enumerator is unavailable" + Because(L"CoCreateInstance", hr));
  }
  Policy policy = OpenPolicy();
  if (!policy.current && !policy.vista) {
    return Failure(kInterfaceUnavailable, L"the audio policy interface is unavailable" +
                                              Because(L"CoCreateInstance/QueryInterface", policy.failure));
  }
  if (std::optional<Outcome> failed = CheckEndpoints(enumerator.Get(), command)) return *failed;
  return Write(policy, command);
}

}  // namespace sound_tool
