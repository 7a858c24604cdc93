#pragma once
// The exit codes of SoundVolumeView.exe, our sound helper. The program only tells 0 from the
// rest; the distinct codes are for people reading its log and for the tool's own tests. Every
// failure also writes one line on standard error that says why (docs/sound-tool.md).
// /Check ends with kDone when the tool can work on this Windows and kInterfaceUnavailable when
// it cannot (no enumerator or no policy interface), after printing what it found.

namespace sound_tool {

enum ExitCode : int {
  kDone = 0,                  // the change was made: every call returned success
  kInternalFailure = 1,       // the tool itself failed (out of memory); nothing was asked of Windows
  kBadArguments = 2,          // not one of the six argument forms; nothing was done
  kUnknownEndpoint = 3,       // an endpoint id that Core Audio does not know (GetDevice failed)
  kWrongFlow = 4,             // a render id where a capture id belongs, or the reverse
  kInterfaceUnavailable = 5,  // COM, the device enumerator or the audio policy interface could not be had
  kWriteRefused = 6,          // the policy interface refused a write; for /SetDefault the roles
                              // before the refused one may already be set
  kWriteNotSeen = 7,          // every call succeeded, but reading the endpoint back through the
                              // documented interfaces does not show the change
};

}  // namespace sound_tool
