#pragma once
// /Check: what the tool relies on, as this Windows has it, one fact a line. It changes
// nothing. The caller has initialised COM on this thread.

#include <string>
#include <vector>

#include "endpoint_commands.h"

namespace sound_tool {

// The lines go to *lines even when the outcome is a failure: kInterfaceUnavailable when the
// enumerator or the policy interface cannot be had, so that the tool could not work here.
Outcome SelfCheck(std::vector<std::wstring>* lines);

}  // namespace sound_tool
