#pragma once
// Repairs that need no route command: taking the system defaults back from the bridge, and
// enabling or disabling endpoints. Success is judged by reading the state back through Core
// Audio, never by the tool's exit code alone. Runs on the worker.

#include <optional>
#include <string>
#include <vector>

#include "audio/device_identity.h"

namespace varn {

struct ConnectRequest;

// Runs "/Enable" or "/Disable" and waits until the endpoint is (not) active: up to three
// passes of eight checks 200 ms apart.
bool SetEndpointEnabled(const std::wstring& id, Flow flow, bool enable);

// One flow as a default reclaim sees it.
struct FlowDefaults {
  std::optional<DeviceIdentity> bridge;  // the flow's bridge endpoint, when listed
  std::wstring defaultId;                // the flow's default endpoint now
  bool otherActive = false;              // an active endpoint other than the bridge's is listed
};
// From a flow's endpoint list (ListEndpoints: entry 0 the default entry).
FlowDefaults FlowDefaultsOf(const std::vector<DeviceIdentity>& list);
bool BridgeIsDefault(const FlowDefaults& flow);
// The bridge endpoint is the flow's default and Windows has nothing else to choose.
bool DefaultCannotMove(const FlowDefaults& flow);

// When a bridge endpoint has become a system default: disables it for a moment so Windows
// picks another default, enables it again, and makes Windows' pick the default for all roles.
// A flow in which the bridge's endpoint is the only active one is left alone: Windows would
// choose no other, and the bridge endpoint would stay disabled. True only when a bridge
// endpoint was default in a flow that could move and the defaults were taken back.
bool ReclaimDefaultDevices(const DeviceIdentity& bridgeCapture, const DeviceIdentity& bridgeRender);

// Enables the bridge endpoints that are found disabled.
void EnableDisabledBridgeEndpoints();

// Takes the defaults back, then refreshes the ids of choices that follow the default. True
// when the request's endpoints are usable (a followed default exists and is not the bridge).
bool ReclaimDefaultsForRequest(ConnectRequest& request);

}  // namespace varn
