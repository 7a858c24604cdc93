#pragma once
// The audio endpoints as Windows Core Audio reports them: the lists the selection boxes show,
// the system defaults, recognising the bridge by name, and the state of single endpoints.
// Nothing is cached; every call asks the system afresh. COM must be initialised on the
// calling thread.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "audio/device_identity.h"

namespace varn {

constexpr wchar_t kDefaultEntryName[] = L"默认设备";
constexpr wchar_t kBridgeNameMark[] = L"USB Audio VARN";

// Entry 0 is the default entry {"默认设备", id of the multimedia default}; entries from 1 on
// are the flow's active endpoints in the platform's order. Empty when Core Audio fails.
std::vector<DeviceIdentity> ListEndpoints(Flow flow);
// The first entry from index 1 on whose name marks it as the bridge.
std::optional<DeviceIdentity> FindBridge(const std::vector<DeviceIdentity>& list);
std::wstring FindDisabledBridgeId(Flow flow);
std::wstring DefaultEndpointId(Flow flow);
bool IsActiveEndpoint(const std::wstring& id, Flow flow);
bool IsDisabledEndpoint(const std::wstring& id, Flow flow);
// Windows still knows the endpoint, in any state (an unplugged one too). An endpoint it has
// forgotten can neither listen nor come back under that id.
bool EndpointExists(const std::wstring& id);
bool NameIsBridge(const std::wstring& name);
// (read succeeded, muted)
std::pair<bool, bool> ReadEndpointMute(const std::wstring& id);
// Maps an index of a selection box (default entry, then the non-bridge endpoints) to an
// endpoint; index 0 follows the default as it is now.
DeviceIdentity ResolveSelection(const std::vector<DeviceIdentity>& list, int index, Flow flow);

}  // namespace varn
