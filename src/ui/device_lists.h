#pragma once
// The two device lists of the main window: the sound card input (control 101) and the phone
// output (control 102). They show the cached endpoint lists without the bridge's own
// endpoints, restore the saved choice on every fill, and turn the current picks into the
// endpoints that connect, stop and evaluation work on. What a pick saves and changes is the
// controller's (controller/device_pick.cpp). Window thread only.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "audio/device_identity.h"
#include "routes/connect_request.h"
#include "settings/saved_choice.h"

namespace varn {

// The window thread's cached endpoint lists, as ListEndpoints gave them: entry 0 is the
// default entry, entries from 1 on the active endpoints.
extern std::vector<DeviceIdentity> captureList;
extern std::vector<DeviceIdentity> renderList;

// The form in which two endpoint names are compared: without the system's "2- " numbering,
// trailing numbers and letter case.
std::wstring NormalizeDeviceName(const std::wstring& name);

// The endpoint (from entry 1 on) with the last resolved id, else the first non-bridge endpoint
// whose name matches the saved one.
std::optional<DeviceIdentity> FindEndpointByIdOrName(const std::vector<DeviceIdentity>& entries,
                                                     const std::wstring& lastResolvedId,
                                                     const std::wstring& savedName);

// The item a saved choice designates in a list filled from these entries, or -1 for none.
int ChooseSavedItem(const std::vector<DeviceIdentity>& entries, const std::wstring& savedChoice,
                    const std::wstring& savedName);

// Refills an emptied list control from the entries and selects the saved choice. The saved
// name comes from CaptureName for the sound card input list, else from RenderName.
void FillDeviceCombo(HWND combo, const std::vector<DeviceIdentity>& entries,
                     const std::wstring& savedChoice);

// The selected item of list control 101 or 102; -1 without a pick or without the control.
int SelectedDeviceItem(int controlId);

// Enumerates both flows anew and refills both lists keeping their current picks.
void RefreshDeviceLists();

// Fills the route selection (the first six fields) from the picks and the bridge endpoints
// of the cached lists; false when a list has no pick or the bridge is not listed.
bool BuildConnectRequestFromSelection(ConnectRequest& request);
// The side's list shows no item although its stored choice is one device: that device is not
// among the active endpoints (unplugged, disabled, or gone for good).
bool StoredDeviceUnlisted(ChoiceSide side);

// The sound card input whose listening is to be switched off: the one last resolved, else
// the current pick, else none.
DeviceIdentity StopListenIdentity();

}  // namespace varn
