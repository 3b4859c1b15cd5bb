// The dunelo program's arguments: none to run, one command for the instance already running, or
// a request for help or the version. Nothing here needs a display.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "system/remote_control.h"

namespace dunelo {

struct CommandLine {
  enum class Action { Run, Help, Version, Command, Invalid };
  Action action = Action::Run;
  RemoteCommand command = RemoteCommand::Status;  // with Action::Command
  std::string error;                              // with Action::Invalid: one line, no newline
};

// Exit statuses shared by every command-line path.
inline constexpr int kExitNotRunning = 1;  // no instance runs, or it did not answer
inline constexpr int kExitUsage = 2;

// `args` are the arguments after the program name. Options are read in order: --help and
// --version win over what follows them; an unknown option or a second command is an error.
CommandLine parseCommandLine(const std::vector<std::string>& args);

std::string helpText();
std::string versionText();

// Prints the help, the version or the mistake (with a pointer to --help) and returns the exit
// status; none for the actions that are not answered here (running and commands).
std::optional<int> answerDirectly(const CommandLine& commandLine);

}  // namespace dunelo
