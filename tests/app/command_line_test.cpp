#include "app/command_line.h"

#include <gtest/gtest.h>

namespace dunelo {
namespace {

using Action = CommandLine::Action;
using Args = std::vector<std::string>;

TEST(CommandLine, ReadsOneCommandOrHelpAndRefusesEverythingElse) {
  const std::tuple<Args, Action, RemoteCommand> accepted[] = {
      {{}, Action::Run, RemoteCommand::Status},
      {{"--help"}, Action::Help, RemoteCommand::Status},
      {{"-h", "--bogus"}, Action::Help, RemoteCommand::Status},  // read in order
      {{"--on", "--version"}, Action::Version, RemoteCommand::Status},
      {{"--toggle"}, Action::Command, RemoteCommand::Toggle},
      {{"--on"}, Action::Command, RemoteCommand::On},
      {{"--off"}, Action::Command, RemoteCommand::Off},
      {{"--panel"}, Action::Command, RemoteCommand::ShowPanel},
      {{"--quit"}, Action::Command, RemoteCommand::Quit},
      {{"--status"}, Action::Command, RemoteCommand::Status},
      {{"--status", "--watch"}, Action::Command, RemoteCommand::Watch},
      {{"--watch", "--status"}, Action::Command, RemoteCommand::Watch},
  };
  for (const auto& [args, action, command] : accepted) {
    const CommandLine parsed = parseCommandLine(args);
    EXPECT_EQ(parsed.action, action) << testing::PrintToString(args);
    if (action == Action::Command) {
      EXPECT_EQ(parsed.command, command);
    }
  }

  const std::pair<Args, std::string> refused[] = {
      {{"--bogus", "--help"}, "unknown option '--bogus'"},
      {{"-display", ":1"}, "unknown option '-display'"},
      {{"toggle"}, "unexpected argument 'toggle'"},
      {{"--on", "--off"}, "one command at a time ('--on' and '--off')"},
      {{"--watch"}, "'--watch' goes with '--status'"},
      {{"--toggle", "--watch"}, "'--watch' goes with '--status'"},
  };
  for (const auto& [args, error] : refused) {
    const CommandLine parsed = parseCommandLine(args);
    EXPECT_EQ(parsed.action, Action::Invalid) << testing::PrintToString(args);
    EXPECT_EQ(parsed.error, error);
  }
}

TEST(CommandLine, EveryCommandHasARequestWordThatReadsBackAndTheHelpListsIt) {
  for (auto command :
       {RemoteCommand::ShowPanel, RemoteCommand::Toggle, RemoteCommand::On, RemoteCommand::Off,
        RemoteCommand::Quit, RemoteCommand::Status, RemoteCommand::Watch})
    EXPECT_EQ(parseRequestWord(requestWord(command)), command);
  EXPECT_EQ(parseRequestWord("show\n"), std::nullopt);
  for (const char* option : {"--toggle", "--on", "--off", "--panel", "--quit", "--status",
                             "--watch", "--help", "--version"})
    EXPECT_NE(helpText().find(option), std::string::npos) << option;
  EXPECT_EQ(versionText(), std::string("dunelo ") + DUNELO_VERSION + "\n");
}

}  // namespace
}  // namespace dunelo
