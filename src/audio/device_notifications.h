#pragma once
// Early word of device changes: a Core Audio notification client that posts one message to a
// window when an endpoint is added, removed, changes state or a default changes. The message
// carries nothing; the window re-reads the world itself. Window thread only, apart from the
// client's callbacks, which run on the system's threads.

#include <windows.h>

namespace varn {

// Registers the client; false (the result in hr) when the system refused it. The program then
// learns of changes by polling alone.
bool StartDeviceNotifications(HWND window, UINT message, HRESULT& hr);
// Unregisters and releases the client; no message is posted after this returns.
void StopDeviceNotifications();
// The window took the posted message: the next notification may post again. Returns how many
// notifications arrived since the last call.
int TakeDeviceNotifications();

}  // namespace varn
