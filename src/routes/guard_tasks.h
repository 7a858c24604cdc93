#pragma once
// The upkeep task bodies that the window submits on its own.

#include <functional>
#include <string>

#include "operations/operations.h"
#include "worker/worker.h"

namespace varn {

// Holds the sound card input (volume only: its mute is the user's) and both bridge endpoints
// (volume and mute) at full level with the sound enhancements off. Any id may be empty. What
// it corrected comes back as the outcome's notice text; the status line is left alone.
WorkerOutcome VolumeGuardTaskBody(const std::wstring& input, const std::wstring& bridgeCapture,
                                  const std::wstring& bridgeRender, const Progress& progress);

// Brings the logon task in line with the wanted state and reports whether it exists. A task
// refused because ordinary users could replace the program says so in the status line.
WorkerOutcome AutostartSyncTaskBody(bool wanted, const Progress& progress);

// The preparation after the window is made: the environment snapshot into the log (written by
// logSnapshot, which may be empty), the logon task, disabled bridge endpoints enabled, and
// with the bridge there the defaults taken back from it and the levels and enhancements of the
// input (may be empty) and the bridge set.
WorkerOutcome StartupWorkTaskBody(bool autostartWanted, const std::wstring& input,
                                  const std::function<void()>& logSnapshot, const Progress& progress);

}  // namespace varn
