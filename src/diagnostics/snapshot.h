#pragma once
// The environment snapshot: the program's state, its settings and the machine's audio
// endpoints at one moment, as text lines for the log and the diagnostics file. Building one
// asks Core Audio several times and runs schtasks.exe, so it belongs on the worker thread.

#include <string>
#include <vector>

#include "diagnostics/snapshot_input.h"

namespace varn {

// One line per fact, none empty and none holding a line break, without line terminators.
std::vector<std::wstring> BuildSnapshot(const SnapshotInput& input, const std::wstring& programPath);
// The snapshot into the log under "env", between a start and an end marker.
void LogSnapshot(const SnapshotInput& input, const std::wstring& programPath);

// The local time now as "YYYY-MM-DD hh:mm:ss".
std::wstring LocalTimeText();

}  // namespace varn
