#pragma once
// Repairs that need no route command: taking the system defaults back from the bridge, and
// enabling or disabling endpoints. Success is judged by reading the state back through Core
// Audio, never by the tool's exit code alone. Runs on the worker.

#include <string>

#include "audio/device_identity.h"

namespace varn {

struct ConnectRequest;

// Runs "/Enable" or "/Disable" and waits until the endpoint is (not) active: up to three
// passes of eight checks 200 ms apart.
bool SetEndpointEnabled(const std::wstring& id, int flow, bool enable);

// When a bridge endpoint has become a system default: disables it for a moment so Windows
// picks another default, enables it again, and makes Windows' pick the default for all roles.
// True only when a bridge endpoint was default and the defaults were taken back.
bool ReclaimDefaultDevices(const DeviceIdentity& bridgeCapture, const DeviceIdentity& bridgeRender);

// Enables the bridge endpoints that are found disabled.
void EnableDisabledBridgeEndpoints();

// Takes the defaults back, then refreshes the ids of choices that follow the default. True
// when the request's endpoints are usable (a followed default exists and is not the bridge).
bool ReclaimDefaultsForRequest(ConnectRequest& request);

}  // namespace varn
