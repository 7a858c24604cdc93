#pragma once
// Everything a connect task needs, copied whole from the window thread into the task so that
// the worker never reads window-thread state; and the texts that show its endpoints in logs.

#include <string>

#include "audio/device_identity.h"
#include "operations/operations.h"

namespace varn {

struct ConnectRequest {
  // The route selection: route ① plays `capture` through `bridgeRender`, route ② plays
  // `bridgeCapture` through `render`.
  DeviceIdentity capture;        // the sound card input
  DeviceIdentity render;         // the phone output
  DeviceIdentity bridgeCapture;  // the bridge's capture endpoint
  DeviceIdentity bridgeRender;   // the bridge's render endpoint
  bool captureFollowsDefault = false;  // chosen as the list's default-device item
  bool renderFollowsDefault = false;

  OperationKind kind = OperationKind::ManualConnect;  // submitted as, and the task's name
  int connectCount = 2;  // how many times both routes are switched on
  bool showErrorBox = false;
  bool closeStaleRoutes = false;  // first switch off held routes the new ones do not use
  // The route ledger (route_ledger.h) when the request was made: what may still listen.
  std::wstring lastCaptureResolved;
  std::wstring lastRenderResolved;
  std::wstring lastBridgeCaptureResolved;
  std::wstring lastBridgeRenderResolved;

  std::wstring progressText;
  std::wstring successText;
  bool showBalloon = false;
  std::wstring successBalloonTitle;
  std::wstring successBalloonText;
  std::wstring failureBalloonTitle;
  std::wstring failureBalloonText;
};

// "name[id]", or whichever of the two is present, or "(空)".
std::wstring DescribeIdentity(const DeviceIdentity& identity);
// Both routes and the follow-default flags on one log line; reads only the route selection.
std::wstring DescribeRoutes(const ConnectRequest& request);

}  // namespace varn
