#pragma once
// The route ledger: the program's record of the two "Listen to this device" routes it has put
// on Windows and not yet released. Windows keeps a capture endpoint listening across restarts
// of this program, unplugging and re-plugging, so whatever the ledger names may still be
// playing: every connect first switches off what the ledger holds and the new routes do not
// use, a cancel switches off exactly what it holds and then empties it, and a lost channel or
// an unplugged bridge silences its input.
//
// It lives in the four registry values that older versions already kept; only the route task
// bodies write it (RecordRoutes, ReleaseRoutes), from the worker, and only when they switch
// listening on or off. A pick, a re-recognised endpoint or a failed check never does.

#include <string>
#include <vector>

#include "audio/device_identity.h"

namespace varn {

struct RouteLedger {
  DeviceIdentity input;          // source of route ①, "LastCaptureResolved"
  DeviceIdentity bridgeRender;   // target of route ①, "LastVarnRenderResolved"
  DeviceIdentity bridgeCapture;  // source of route ②, "LastVarnCaptureResolved"
  DeviceIdentity output;         // target of route ②, "LastRenderResolved"
};

// The ledger as the registry holds it. Names are those the routes were built with in this run
// of the program; a ledger left by an earlier run has ids only.
RouteLedger ReadRouteLedger();
// The new routes, written before they are switched on: from then on they may listen.
void RecordRoutes(const RouteLedger& routes);
// After a cancel switched both sources off: nothing is routed any more.
void ReleaseRoutes();

// The held routes run on bridge endpoints other than those listed now: the bridge came back as
// a new instance (another USB port) and the routes still play into its old, absent endpoints.
bool HeldOffTheListedBridge(const RouteLedger& held, const std::vector<DeviceIdentity>& captureList,
                            const std::vector<DeviceIdentity>& renderList);

// One held route: a capture endpoint that may listen, and where it plays.
struct HeldRoute {
  DeviceIdentity source;
  DeviceIdentity target;
};

// The held routes that must stop listening before `next` is built: the old input's when the
// input changes or route ① gets another target, and the old bridge capture's when the bridge
// capture changes or route ② gets another target (Windows plays a re-targeted route only once
// it restarts, and a connect that fails to re-target would leave it playing into the old one).
// Empty ids in `held` mean "not known to listen"; a held bridge capture that is unknown while
// its target is known is taken to be the bridge capture of `next`.
std::vector<HeldRoute> StaleRoutes(const RouteLedger& held, const RouteLedger& next);

}  // namespace varn
