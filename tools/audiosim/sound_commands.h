#pragma once
// What a sound tool command does to the simulated world, and how one run of the tool is
// journalled and told to misbehave. Shared by the two ways a command reaches the world: the
// stand-in SoundVolumeView.exe, which applies the command itself, and the fake Core Audio
// server's audio policy object, through which the product's own tool applies it. Both must
// change the world in exactly the same way, so that the program cannot tell them apart.

#include <cstdint>
#include <string>

#include "sim_files.h"
#include "world.h"

namespace audiosim {

enum class CommandResult { kDone, kUnknownId, kWrongFlow, kNotActive };

// The capture endpoint's "Listen to this device" switch.
CommandResult SetListening(World& world, const std::wstring& captureId, bool on);
// Its playback target, a render endpoint. (Windows takes an empty target for the default
// playback device; the sound tool contract never asks for that, and neither way here offers it.)
CommandResult SetListenTarget(World& world, const std::wstring& captureId, const std::wstring& renderId);
// The default for one role (kConsole ... kCommunications) or, with kRoles, for all three. Only
// an active endpoint can be the default.
CommandResult SetDefault(World& world, const std::wstring& id, int role);
// Enabling with a delay leaves the endpoint disabled until its time has come; an endpoint that
// is already coming up does not start over.
CommandResult SetEndpointEnabled(World& world, const std::wstring& id, bool enabled, std::uint32_t enableDelayMs);

// The argument text of a command line exactly as the caller wrote it: everything after the
// program token and the blanks that follow it.
std::wstring ArgumentText(const wchar_t* commandLine);
// The command's name as faults.txt names it: the first word without its slash.
std::wstring CommandName(const std::wstring& argumentText);

// One run of the sound tool: its argument text goes into journal.log (and, after the start time
// and the process's creation time in ms since 1601, into journal-times.log when that file
// exists), then the rules of faults.txt for this run of the command are returned.
Misbehaviour JournalToolRun(const std::wstring& argumentText, std::uint64_t startedMs);

}  // namespace audiosim
