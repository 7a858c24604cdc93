#pragma once
// The decisions of the device watchdog (EvaluateDeviceState, controller.h), as values: what
// one run found goes in, which branch it takes and which texts it shows come out. The run
// itself (device_watch.cpp) gathers the facts on the window thread and acts on the result.
// Nothing here asks the system or touches window-thread state.

#include <optional>
#include <string>

#include "audio/device_identity.h"
#include "routes/endpoint_control.h"

namespace varn {

// The chosen sound card input and phone output as the availability test found them. A
// disabled channel is also missing; "disabled" only chooses the wording.
struct ChannelState {
  bool captureMissing = false;
  bool captureDisabled = false;
  bool renderMissing = false;
  bool renderDisabled = false;
};

// What a run says and does about a chosen channel that is gone.
struct UnavailableNotice {
  bool report = false;  // the first run of this loss: warn, stop input listening, balloon, raise
  std::wstring balloonTitle;
  std::wstring balloonText;
  std::wstring statusText;  // shown on every run of the loss
};
UnavailableNotice DecideUnavailableNotice(const ChannelState& channels, bool bridgeNow, bool alreadyHandled);

// The status text while a channel is gone and the bridge is there.
std::wstring LostChannelStatus(const ChannelState& channels);

// What a run with both chosen channels usable (or none chosen) knows.
struct DispatchFacts {
  bool unavailableHandled = false;  // a loss was reported and is not yet recovered
  bool channelsActive = false;      // both chosen ids set and active (read only while unavailableHandled)
  bool bridgeNow = false;           // both bridge endpoints are active now
  bool bridgePresent = false;       // both were active when last judged
  bool bridgeDisabled = false;      // a bridge endpoint is listed as disabled (read only without bridgeNow)
  bool bridgeMoved = false;         // the routes run on bridge endpoints that are not the listed ones
  bool listening = false;           // both routes are on, as last reported by a task
  bool inputMayListen = false;      // a connect put route ① on, perhaps half way, and no stop followed
};

enum class WatchBranch {
  ChannelsBack,             // the lost channels are back and so is the bridge: reconnect the input
  ChannelsBackNoBridge,     // the channels are back, the bridge is not
  ChannelsStillLost,        // a channel is still gone, the bridge is there
  ChannelsAndBridgeLost,    // a channel and the bridge are gone
  BridgeStays,              // look for a bridge endpoint made the system default
  BridgeBack,               // the bridge came back, or came back under new ids: reconnect both routes
  BridgeDisabled,           // the bridge left the active lists but is listed as disabled
  BridgeUnplugged,          // the bridge was unplugged: stop input listening
  Nothing,
};

struct WatchDecision {
  WatchBranch branch = WatchBranch::Nothing;
  bool enableBridge = false;  // submit the enabling of the disabled bridge endpoints
};
WatchDecision DecideDispatch(const DispatchFacts& facts);

enum class HijackAction {
  None,      // no bridge endpoint is a default
  Reclaim,   // take the defaults back and listen again
  Hopeless,  // no hijacked flow has anything else Windows could choose: leave them alone
};
HijackAction DecideHijack(const FlowDefaults& capture, const FlowDefaults& render);

}  // namespace varn
