#include "controller/flag_events.h"

#include "operations/operations.h"

namespace varn {

namespace {

WindowFlags flags;

bool IsConnectKind(OperationKind op) {
  return op == OperationKind::ManualConnect || op == OperationKind::StartupAutoConnect ||
         op == OperationKind::BridgeReturnReconnect || op == OperationKind::EndpointEnabledReconnect;
}

}  // namespace

const WindowFlags& Flags() { return flags; }

// A recovery that worked ends the loss; one that failed keeps it handled, so that the next run
// tries again, and the Connect button off until then. The enabling and the start-up work judge
// the bridge by what the endpoints show, nothing else: an endpoint that comes up on its own
// later is then a bridge come back. A connect that worked proves both chosen channels are there
// and the ledger now names them, so whatever loss was marked is over; without this a refused
// connect's mark, never seen by the watchdog, would keep the guard and the mute check off.
// A connect that recorded routes may have switched route ① on before it failed: until a stop
// or a cancel switches the input off, it may play, and without the bridge Windows plays it on
// the default output.
void ApplyOutcome(WindowFlags& f, const WorkerOutcome& outcome, bool bridgeListed) {
  const OperationKind op = OperationOf(outcome);
  switch (op) {
    case OperationKind::InputRecoveryReconnect:
      f.channelUnavailable = !outcome.ok;
      f.connectEnabled = outcome.ok;
      if (outcome.ok) f.unavailableHandled = false;
      break;
    case OperationKind::EnableBridgeEndpoints: f.bridgePresent = bridgeListed; break;
    case OperationKind::StartupWork:
      f.startupReady = true;
      f.bridgePresent = bridgeListed;
      if (!bridgeListed) f.bridgeAbsentAtStart = false;
      break;
    default:
      if (IsConnectKind(op) && outcome.ok) {
        f.channelUnavailable = false;
        f.unavailableHandled = false;
        f.connectEnabled = true;
      }
      break;
  }
  if (outcome.autostartKnown) f.autostartOn = outcome.autostartEnabled;
  if (outcome.listenKnown) f.listeningActive = outcome.listening;
  if (outcome.routesRecorded) {
    f.inputMayListen = true;
  } else if ((op == OperationKind::RepeatStopInputListen || op == OperationKind::CancelListen) && outcome.ok) {
    f.inputMayListen = false;
  }
}

// A moved endpoint is marked as a handled loss only while the window believes it listens: the
// routes ran on the old id, and the recovery path is what rebuilds them on the new one.
void ApplyFinding(WindowFlags& f, DeviceFinding finding) {
  switch (finding) {
    // The run that finds a loss silences the input (once: a stop that fails is not repeated).
    case DeviceFinding::ChannelLost:
      f.channelUnavailable = true;
      f.connectEnabled = true;
      f.unavailableHandled = true;
      f.inputMayListen = false;
      break;
    case DeviceFinding::RoutedEndpointMoved:
      if (f.listeningActive) f.unavailableHandled = true;
      break;
    case DeviceFinding::ChannelsBack:
    case DeviceFinding::BridgeBack: f.bridgePresent = true; break;
    // Without the bridge neither route plays, whatever the stop that follows reports; a stop
    // that fails is not repeated on every run.
    case DeviceFinding::BridgeUnplugged:
      f.bridgePresent = false;
      f.listeningActive = false;
      f.inputMayListen = false;
      break;
  }
}

void ApplyUsablePick(WindowFlags& f) {
  f.channelUnavailable = false;
  f.unavailableHandled = false;
  f.connectEnabled = true;
}

void NoteWindowCreated(bool bridgeListed, bool autostartWanted) {
  const bool startupMode = flags.startupMode;
  flags = WindowFlags();
  flags.startupMode = startupMode;
  flags.autostartOn = autostartWanted;
  flags.bridgePresent = bridgeListed;
  flags.bridgeAbsentAtStart = !bridgeListed;
}

void NoteTaskOutcome(const WorkerOutcome& outcome, bool bridgeListed) { ApplyOutcome(flags, outcome, bridgeListed); }
void NoteDeviceFinding(DeviceFinding finding) { ApplyFinding(flags, finding); }
void NoteUsablePick() { ApplyUsablePick(flags); }
void NoteRefusedConnect() { flags.channelUnavailable = true; }

bool NoteInputMute(bool muted) {
  if (!muted) {
    flags.muteNotified = false;
    return false;
  }
  if (flags.muteNotified) return false;
  flags.muteNotified = true;
  return true;
}

void NoteAutostartWish(bool on) { flags.autostartOn = on; }
void NoteStartupMode(bool on) { flags.startupMode = on; }
void NoteExitRequested() { flags.exitRequested = true; }

}  // namespace varn
