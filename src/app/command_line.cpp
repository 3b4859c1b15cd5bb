#include "app/command_line.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace dunelo {

namespace {

constexpr std::array<std::pair<std::string_view, RemoteCommand>, 6> kCommandOptions = {{
    {"--toggle", RemoteCommand::Toggle},
    {"--on", RemoteCommand::On},
    {"--off", RemoteCommand::Off},
    {"--panel", RemoteCommand::ShowPanel},
    {"--quit", RemoteCommand::Quit},
    {"--status", RemoteCommand::Status},
}};

CommandLine only(CommandLine::Action action) {
  CommandLine result;
  result.action = action;
  return result;
}

CommandLine invalid(std::string error) {
  CommandLine result = only(CommandLine::Action::Invalid);
  result.error = std::move(error);
  return result;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  std::string command;  // the option given, for messages
  CommandLine result;
  bool watch = false;
  for (const std::string& arg : args) {
    if (arg == "-h" || arg == "--help") return only(CommandLine::Action::Help);
    if (arg == "--version") return only(CommandLine::Action::Version);
    if (arg == "--watch") {
      watch = true;
      continue;
    }
    const auto* found = std::find_if(kCommandOptions.begin(), kCommandOptions.end(),
                                     [&](const auto& option) { return option.first == arg; });
    if (found == kCommandOptions.end()) {
      if (arg.starts_with('-')) return invalid("unknown option '" + arg + "'");
      return invalid("unexpected argument '" + arg + "'");
    }
    if (!command.empty())
      return invalid("one command at a time ('" + command + "' and '" + arg + "')");
    command = arg;
    result.action = CommandLine::Action::Command;
    result.command = found->second;
  }
  if (watch) {
    if (result.action != CommandLine::Action::Command || result.command != RemoteCommand::Status)
      return invalid("'--watch' goes with '--status'");
    result.command = RemoteCommand::Watch;
  }
  return result;
}

std::string helpText() {
  return "Usage: dunelo [COMMAND]\n"
         "\n"
         "Blurs everything on the screen but the window you work in. Without a command, starts\n"
         "Dunelo in this X11 session, or opens the panel of the Dunelo already running.\n"
         "\n"
         "Commands for the running Dunelo:\n"
         "  --toggle          switch on or off, as the power button does\n"
         "  --on              switch on\n"
         "  --off             switch off\n"
         "  --panel           open the settings panel\n"
         "  --status          print 'on' or 'off'\n"
         "  --status --watch  print 'on' or 'off', then a line at every change until Dunelo quits\n"
         "  --quit            quit Dunelo and wait until it has ended\n"
         "\n"
         "  -h, --help        show this help\n"
         "  --version         show the version\n"
         "\n"
         "Exit status: 0 on success, 1 when no Dunelo runs or it does not answer, 2 for a\n"
         "mistake in the arguments. See dunelo(1) for the files and environment it uses.\n";
}

std::string versionText() {
  return std::string("dunelo ") + DUNELO_VERSION + "\n";
}

std::optional<int> answerDirectly(const CommandLine& commandLine) {
  switch (commandLine.action) {
    case CommandLine::Action::Help:
      std::fputs(helpText().c_str(), stdout);
      return 0;
    case CommandLine::Action::Version:
      std::fputs(versionText().c_str(), stdout);
      return 0;
    case CommandLine::Action::Invalid:
      std::fprintf(stderr, "dunelo: %s\nTry 'dunelo --help' for more information.\n",
                   commandLine.error.c_str());
      return kExitUsage;
    case CommandLine::Action::Run:
    case CommandLine::Action::Command:
      break;
  }
  return std::nullopt;
}

}  // namespace dunelo
