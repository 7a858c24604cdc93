#pragma once
// Keeping an endpoint usable for the listen routes: its master volume at full (and unmuted
// when asked) and the Windows sound enhancements off. Both operations run on the worker
// thread (COM initialised there), make at most two attempts and wait at most 300 ms, and cost
// only reads when the endpoint is already in order.

#include <string>

namespace varn {

// Asked before each attempt; true ends the operation early. The audio folder cannot see the
// tool runner's shutdown flag, so the caller hands its test in (for the program:
// IsShutdownSignalled). Null means "never".
using ShutdownTest = bool (*)();

// Full volume counts from this scalar on: the driver's own rounding of 1.0 lands a hair below.
constexpr float kFullVolumeScalar = 0.999f;

// Brings the endpoint to 100 % and, with unmute, out of mute; true when it is there on return.
// With an attempted flag, it tells whether a correction was tried and the correction is
// logged (tag "guard"); without one the correction is silent.
bool EnforceEndpointVolume(const std::wstring& id, bool unmute, bool* attempted,
                           ShutdownTest isShutdown);

// Switches the endpoint's system effects off through its property store; true when they are
// off on return. A change (or a failed one) is logged; an endpoint already in order is not.
bool DisableEndpointEnhancements(const std::wstring& id, ShutdownTest isShutdown);

}  // namespace varn
