#include "command_line.h"

#include <windows.h>
#include <shellapi.h>

namespace sound_tool {

namespace {

// Exactly as the program writes them: the tool takes seven argument forms and no others, so a
// caller that spells a command differently learns it at once instead of relying on a variant.
bool IsOption(const std::wstring& argument, const wchar_t* name) {
  return !argument.empty() && argument[0] == L'/' && argument.compare(1, std::wstring::npos, name) == 0;
}

enum class Option { kPlaybackThrough, kListen, kSetDefault, kEnable, kDisable, kCheck };

struct Form {
  const wchar_t* name;
  Option option;
  size_t operands;
};

constexpr Form kForms[] = {
    {L"SetPlaybackThroughDevice", Option::kPlaybackThrough, 2},
    {L"SetListenToThisDevice", Option::kListen, 2},
    {L"SetDefault", Option::kSetDefault, 2},
    {L"Enable", Option::kEnable, 1},
    {L"Disable", Option::kDisable, 1},
    {L"Check", Option::kCheck, 0},
};

std::optional<Command> Refuse(std::wstring* why, std::wstring reason) {
  if (why != nullptr) *why = std::move(reason);
  return std::nullopt;
}

}  // namespace

std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine) {
  std::vector<std::wstring> arguments;
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(commandLine, &count);
  if (argv == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(argv[i]);
  LocalFree(argv);
  return arguments;
}

std::optional<Command> ParseCommand(const std::vector<std::wstring>& arguments, std::wstring* why) {
  if (arguments.empty()) return Refuse(why, L"no command given");
  const Form* form = nullptr;
  for (const Form& candidate : kForms) {
    if (IsOption(arguments[0], candidate.name)) form = &candidate;
  }
  if (form == nullptr) {
    return Refuse(why, L"unknown command; the commands are /SetPlaybackThroughDevice, "
                       L"/SetListenToThisDevice, /SetDefault, /Enable, /Disable and /Check");
  }
  const std::wstring name = std::wstring(L"/") + form->name;
  if (arguments.size() != form->operands + 1) {
    return Refuse(why, name + L" takes " + std::to_wstring(form->operands) + L" operand(s), not " +
                           std::to_wstring(arguments.size() - 1));
  }
  Command command;
  if (form->option == Option::kCheck) {
    command.action = Action::kCheck;
    return command;
  }
  if (arguments[1].empty()) return Refuse(why, name + L": an empty endpoint id");

  command.endpointId = arguments[1];
  switch (form->option) {
    case Option::kPlaybackThrough:
      if (arguments[2].empty()) return Refuse(why, name + L": an empty render endpoint id");
      command.action = Action::kPlaybackThrough;
      command.targetId = arguments[2];
      break;
    case Option::kListen:
      if (arguments[2] != L"1" && arguments[2] != L"0") return Refuse(why, name + L": the switch is 1 or 0");
      command.action = arguments[2] == L"1" ? Action::kListenOn : Action::kListenOff;
      break;
    case Option::kSetDefault:
      if (arguments[2] != L"all") return Refuse(why, name + L": only \"all\" roles are set");
      command.action = Action::kSetDefault;
      break;
    case Option::kEnable: command.action = Action::kEnable; break;
    case Option::kDisable: command.action = Action::kDisable; break;
    case Option::kCheck: break;
  }
  return command;
}

}  // namespace sound_tool
