#pragma once
// The six argument forms the program uses, and the self-check, and nothing else. Option names and the word "all"
// are matched exactly as written; the listen switch is exactly "1" or "0"; endpoint ids are
// taken as they are, but never empty.

#include <optional>
#include <string>
#include <vector>

namespace sound_tool {

enum class Action {
  kPlaybackThrough,  // /SetPlaybackThroughDevice "<capture id>" "<render id>"
  kListenOn,         // /SetListenToThisDevice "<capture id>" 1
  kListenOff,        // /SetListenToThisDevice "<capture id>" 0
  kSetDefault,       // /SetDefault "<endpoint id>" all
  kEnable,           // /Enable "<endpoint id>"
  kDisable,          // /Disable "<endpoint id>"
  kCheck,            // /Check: reports what the tool relies on, changes nothing
};

struct Command {
  Action action = Action::kEnable;
  std::wstring endpointId;  // the capture endpoint for the listen commands
  std::wstring targetId;    // the render endpoint of kPlaybackThrough, empty otherwise
};

// The arguments after the program name, split the way Windows splits a command line.
std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine);

// The command, or nothing with the reason in *why.
std::optional<Command> ParseCommand(const std::vector<std::wstring>& arguments, std::wstring* why);

}  // namespace sound_tool
