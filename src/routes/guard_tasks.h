#pragma once
// The upkeep task bodies that the window submits on its own.

#include <string>

#include "worker/worker.h"

namespace varn {

// Holds the sound card input (volume only: its mute is the user's) and both bridge endpoints
// (volume and mute) at full level with the sound enhancements off. Any id may be empty. What
// it corrected comes back as the outcome's notice text; the status line is left alone.
WorkerOutcome VolumeGuardTaskBody(const std::wstring& input, const std::wstring& bridgeCapture,
                                  const std::wstring& bridgeRender, const Progress& progress);

}  // namespace varn
