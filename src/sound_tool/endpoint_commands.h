#pragma once
// Carries out one command through Core Audio and the audio policy interface, then reads the
// endpoint back through the documented interfaces to see that the change shows. The caller
// has initialised COM on this thread.

#include <windows.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <string>

#include "command_line.h"
#include "policy_config.h"

namespace sound_tool {

struct Outcome {
  int exitCode = 0;     // an ExitCode
  std::wstring reason;  // empty on success, else one line that says why, with the HRESULT
};

// Whichever policy interface this Windows offers. The current one is asked for under the ids
// of every Windows version that had one; the Vista one only through its own class, and then
// only /SetDefault goes through it (policy_config.h).
struct Policy {
  Microsoft::WRL::ComPtr<PolicyConfig> current;
  Microsoft::WRL::ComPtr<PolicyConfigVista> vista;
  const wchar_t* obtained = L"none";  // which one, in words, for /Check
  HRESULT failure = E_NOINTERFACE;    // why neither could be had
};
Policy OpenPolicy();

// The Core Audio device enumerator, or null with the reason in *failure.
Microsoft::WRL::ComPtr<IMMDeviceEnumerator> OpenEnumerator(HRESULT* failure);

// One of the write commands (not /Check).
Outcome Execute(const Command& command);

// What the self-check and the read-back say of an endpoint, in words.
std::wstring PropertyText(const PROPVARIANT& value);  // "(unset)", "on", "off", a quoted text, "vt=N"
std::wstring StateName(DWORD state);                  // "active", "disabled", ...
const wchar_t* RoleName(ERole role);                  // "console", "multimedia", "communications"
bool EndpointFlow(IMMDeviceEnumerator* enumerator, const std::wstring& id, EDataFlow* flow);
HRESULT EndpointState(IMMDeviceEnumerator* enumerator, const std::wstring& id, DWORD* state);
// Empty when the flow has no default for the role.
std::wstring DefaultEndpointId(IMMDeviceEnumerator* enumerator, EDataFlow flow, ERole role);
// Through the endpoint's own property store, opened for reading: the documented path.
HRESULT ReadListenProperty(IMMDeviceEnumerator* enumerator, const std::wstring& id, const PROPERTYKEY& key,
                           PROPVARIANT* value);

// "0x80070490".
std::wstring HexCode(HRESULT hr);
// An id or name as it appears in a line: in double quotes, control characters replaced by
// '?', so that the line stays one line whatever the endpoint or the caller holds.
std::wstring Shown(const std::wstring& text);

}  // namespace sound_tool
