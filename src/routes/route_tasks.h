#pragma once
// The worker task bodies that change the listen routes or the bridge endpoints. Each takes
// the data copied into its task on the window thread and returns the outcome the window
// thread applies; none lets an exception out.

#include <string>

#include "audio/device_identity.h"
#include "routes/connect_request.h"
#include "operations/operations.h"
#include "worker/worker.h"

namespace varn {

// What the repeated stop of the sound card input's listening carries.
struct StopListenRequest {
  DeviceIdentity identity;
  bool updateStatus = true;
  std::wstring successStatus;
  std::wstring failureStatus;
  bool showBalloon = false;
  std::wstring balloonTitle;
  std::wstring successBalloonText;
  std::wstring failureBalloonText;
  bool showWindow = false;
};

// Manual and automatic connects: reclaim the defaults, switch the held routes the new ones do
// not use off, record the new ones in the ledger and build them.
WorkerOutcome ConnectTaskBody(ConnectRequest request, const Progress& progress);
// After a bridge endpoint became the system default: take it back and listen once more, with
// the held routes handled as by a connect.
WorkerOutcome DefaultReclaimTaskBody(ConnectRequest request, const Progress& progress);
// Enable bridge endpoints that were found disabled; ok when both are back.
WorkerOutcome EnableBridgeTaskBody(const Progress& progress);
// Switch listening on the sound card input off three times in a row.
WorkerOutcome StopListenTaskBody(const StopListenRequest& request, const Progress& progress);
// Switch listening off on the sound card input, then on the bridge capture endpoint; when both
// are off the ledger is emptied.
WorkerOutcome CancelTaskBody(const DeviceIdentity& input, const DeviceIdentity& bridge,
                             const Progress& progress);

}  // namespace varn
