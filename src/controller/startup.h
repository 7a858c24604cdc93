#pragma once
// What the window thread does on its own once the main window exists. Window thread only.

namespace varn {

// Loads both endpoint lists and shows the saved choices in the drop-down lists, takes the
// autostart preference from the registry (writing the default on a first start), judges
// whether the bridge is there and shows the first status text and notices. The tray icon must
// exist already: the notices are balloons on it.
void ApplyInitialState();

// Hands the worker the preparation after the window is made: the snapshot into the log, the
// logon task in line with the preference, the bridge's endpoints enabled and its defaults and
// levels put right. Called once, right after the worker starts.
void SubmitStartupWork(bool autostartWanted);
// Has the worker bring the logon task in line with the user's choice; the outcome then shows
// what the system really has. When the worker is busy it follows the task that holds it.
void SubmitStartupSync(bool enable);
// Has the worker raise the sound card input and both bridge endpoints to full volume, unmute
// the bridge and switch enhancements off. Skipped while the worker is busy; a quiet task that
// writes no start and end lines.
void SubmitEnforceVolumes();
// Warns once per mute episode when the picked sound card input is muted (at creation and with
// the volume guard).
void CheckInputMute();
// Timer 3: once the start-up work is done and the worker is free, connects the routes once
// without the user, or says that the program waits for the bridge. Re-arms the timer while it
// has to wait.
void RunStartupAutoConnectStep();

}  // namespace varn
