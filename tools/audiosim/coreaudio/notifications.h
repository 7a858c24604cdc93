#pragma once
// Endpoint notifications of the fake Core Audio server (notifications.cpp).

#include <windows.h>
#include <mmdeviceapi.h>

namespace coreaudio {

// Registered clients in this process; the DLL stays loaded while any is registered, since the
// watcher thread runs its code.
extern volatile LONG registeredClients;

HRESULT RegisterNotificationClient(IMMNotificationClient* client) noexcept;
// After this returns the client is never called again and has been released.
HRESULT UnregisterNotificationClient(IMMNotificationClient* client) noexcept;

}  // namespace coreaudio
