#pragma once
// The window-thread flags (WindowFlags, diagnostics/snapshot_input.h) and the events that
// change them. A flag changes here and nowhere else, in the one function of its event: the
// window made, a task's outcome, what a device evaluation found, a pick, a refused connect, a
// mute reading, the user's autostart wish, the exit. Everyone else reads them through Flags().
// Window thread only.

#include "diagnostics/snapshot_input.h"
#include "worker/worker.h"

namespace varn {

const WindowFlags& Flags();

// What a device evaluation found that changes a flag.
enum class DeviceFinding {
  ChannelLost,          // a chosen channel is missing or disabled (reported now or before)
  RoutedEndpointMoved,  // a routed endpoint came back under a new id
  ChannelsBack,         // the lost channels and the bridge are back: the recovery is submitted
  BridgeBack,           // the bridge came back
  BridgeUnplugged,      // the bridge left the active lists and is not disabled
};

// The transitions themselves, on any set of flags. `bridgeListed`: both bridge endpoints are
// in the endpoint lists as refreshed for this outcome (read for the enabling and the start-up
// work only).
void ApplyOutcome(WindowFlags& flags, const WorkerOutcome& outcome, bool bridgeListed);
void ApplyFinding(WindowFlags& flags, DeviceFinding finding);
// A pick that made both sides usable with the bridge listed ends any loss.
void ApplyUsablePick(WindowFlags& flags);

// The window was made, with or without the bridge listed, with the stored autostart wish. The
// flags of a previous window (a test makes several) are forgotten; the start mode stays.
void NoteWindowCreated(bool bridgeListed, bool autostartWanted);
void NoteTaskOutcome(const WorkerOutcome& outcome, bool bridgeListed);
void NoteDeviceFinding(DeviceFinding finding);
void NoteUsablePick();
// A connect refused because a chosen channel cannot be used.
void NoteRefusedConnect();
// A mute reading of the chosen input; true when the muted-input notice is due (the first
// muted reading of an episode, which an unmuted reading ends).
bool NoteInputMute(bool muted);
void NoteAutostartWish(bool on);
void NoteStartupMode(bool on);
void NoteExitRequested();

}  // namespace varn
