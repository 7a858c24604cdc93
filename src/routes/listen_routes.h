#pragma once
// Switching "Listen to this device" routes on and off through the sound tool. A route plays a
// capture endpoint (its source) through a render endpoint (its target). Runs on the worker.

#include "audio/device_identity.h"

namespace varn {

// On: set the playback target, then switch listening on; off: switch listening off. Up to
// three attempts with pauses of 250, 500 and 750 ms after failures.
bool SetListenRoute(const DeviceIdentity& source, const DeviceIdentity& target, bool on);

// Switches route 1 (s1 -> t1) and route 2 (s2 -> t2) on `count` times, off again between the
// passes, and leaves them on.
bool EstablishListenRoutes(const DeviceIdentity& s1, const DeviceIdentity& t1,
                           const DeviceIdentity& s2, const DeviceIdentity& t2, int count);

// Switches listening on the source off `count` times in a row, without retries.
bool StopListenRepeatedly(const DeviceIdentity& source, int count);

}  // namespace varn
