#include "routes/route_ledger.h"

#include <windows.h>

#include "audio/endpoints.h"
#include "base/scoped_lock.h"
#include "settings/settings.h"

namespace varn {

namespace {

// The names of the last recorded routes. The registry keeps ids only (its values are older
// than the ledger); the watchdog needs the name of a routed endpoint to find it again after
// Windows renumbered it, and the name of a later pick would find the wrong one. Written on the
// worker, read on the window thread.
RouteLedger recordedNames;
SRWLOCK namesLock = SRWLOCK_INIT;

DeviceIdentity Held(const wchar_t* value, const DeviceIdentity& recorded) {
  DeviceIdentity held{L"", ReadSettingString(value)};
  if (!held.id.empty() && held.id == recorded.id) held.name = recorded.name;
  return held;
}

}  // namespace

RouteLedger ReadRouteLedger() {
  RouteLedger names;
  {
    ScopedExclusiveLock scope(namesLock);
    names = recordedNames;
  }
  RouteLedger held;
  held.input = Held(kLastCaptureResolvedValue, names.input);
  held.output = Held(kLastRenderResolvedValue, names.output);
  held.bridgeCapture = Held(kLastBridgeCaptureResolvedValue, names.bridgeCapture);
  held.bridgeRender = Held(kLastBridgeRenderResolvedValue, names.bridgeRender);
  return held;
}

void RecordRoutes(const RouteLedger& routes) {
  {
    ScopedExclusiveLock scope(namesLock);
    recordedNames = routes;
  }
  WriteSettingString(kLastCaptureResolvedValue, routes.input.id);
  WriteSettingString(kLastRenderResolvedValue, routes.output.id);
  WriteSettingString(kLastBridgeCaptureResolvedValue, routes.bridgeCapture.id);
  WriteSettingString(kLastBridgeRenderResolvedValue, routes.bridgeRender.id);
}

void ReleaseRoutes() { RecordRoutes(RouteLedger()); }

bool HeldOffTheListedBridge(const RouteLedger& held, const std::vector<DeviceIdentity>& captureList,
                            const std::vector<DeviceIdentity>& renderList) {
  const std::optional<DeviceIdentity> capture = FindBridge(captureList);
  const std::optional<DeviceIdentity> render = FindBridge(renderList);
  return (!held.bridgeCapture.id.empty() && capture && held.bridgeCapture.id != capture->id) ||
         (!held.bridgeRender.id.empty() && render && held.bridgeRender.id != render->id);
}

std::vector<HeldRoute> StaleRoutes(const RouteLedger& held, const RouteLedger& next) {
  std::vector<HeldRoute> stale;
  const bool inputRetargeted = !held.bridgeRender.id.empty() && held.bridgeRender.id != next.bridgeRender.id;
  if (!held.input.id.empty() && (held.input.id != next.input.id || inputRetargeted)) {
    stale.push_back({held.input, held.bridgeRender});
  }
  const DeviceIdentity& bridgeCapture = held.bridgeCapture.id.empty() ? next.bridgeCapture : held.bridgeCapture;
  const bool bridgeMoved = !held.bridgeCapture.id.empty() && held.bridgeCapture.id != next.bridgeCapture.id;
  const bool outputMoved = !held.output.id.empty() && held.output.id != next.output.id;
  if (!bridgeCapture.id.empty() && (bridgeMoved || outputMoved)) stale.push_back({bridgeCapture, held.output});
  return stale;
}

}  // namespace varn
