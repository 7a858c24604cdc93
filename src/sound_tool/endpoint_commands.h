#pragma once
// Carries out one command through Core Audio and the audio policy interface. The caller has
// initialised COM on this thread.

#include <windows.h>

#include <string>

#include "command_line.h"

namespace sound_tool {

struct Outcome {
  int exitCode = 0;     // an ExitCode
  std::wstring reason;  // empty on success, else one line that says why, with the HRESULT
};

Outcome Execute(const Command& command);

// "0x80070490".
std::wstring HexCode(HRESULT hr);

}  // namespace sound_tool
