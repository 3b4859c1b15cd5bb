#include "app/main_commands.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "ui/single_instance.h"

namespace dunelo {

namespace {

int sendCommand(RemoteCommand command, const std::string& option) {
  const QString name = SingleInstance::defaultName();
  const bool prints = command == RemoteCommand::Status || command == RemoteCommand::Watch;
  const auto outcome = SingleInstance::send(name, command, [prints](bool active) {
    if (!prints) return;
    std::printf("%s\n", std::string(stateWord(active)).c_str());
    std::fflush(stdout);  // a status bar reads each line as it comes
  });
  switch (outcome) {
    case SingleInstance::Outcome::Answered:
      return 0;
    case SingleInstance::Outcome::NotRunning:
      std::fputs(name.isEmpty() ? "dunelo: Dunelo is not running (no private runtime directory "
                                  "for its socket)\n"
                                : "dunelo: Dunelo is not running\n",
                 stderr);
      break;
    case SingleInstance::Outcome::NoAnswer:
      std::fprintf(stderr, "dunelo: the running Dunelo does not answer\n");
      break;
    case SingleInstance::Outcome::NotUnderstood:
      std::fprintf(stderr,
                   "dunelo: the running Dunelo did not understand '%s' (restart it to update it)\n",
                   option.c_str());
      break;
  }
  return kExitNotRunning;
}

}  // namespace

std::optional<int> runCommandLine(int argc, char** argv) {
  const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  const CommandLine commandLine = parseCommandLine(args);
  if (auto status = answerDirectly(commandLine)) return status;
  if (commandLine.action != CommandLine::Action::Command) return std::nullopt;
  // The socket needs an application object, not a display.
  QCoreApplication app(argc, argv);
  std::string given;
  for (const std::string& arg : args) given += (given.empty() ? "" : " ") + arg;
  return sendCommand(commandLine.command, given);
}

}  // namespace dunelo
