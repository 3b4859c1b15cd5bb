#include "app/run_apple_script.h"

#include <gtest/gtest.h>

#include <deque>

#include "support/log_capture.h"
#include "app/updater_controller.h"

namespace dunelo {
namespace {

using ::dunelo::testing::LogCapture;

class ScriptedRunner : public ScriptRunner {
 public:
  std::optional<ScriptOutcome> run(std::string_view source) override {
    sources.emplace_back(source);
    if (outcomes.empty()) return ScriptOutcome{};
    auto next = outcomes.front();
    outcomes.pop_front();
    return next;
  }
  std::deque<std::optional<ScriptOutcome>> outcomes;
  std::vector<std::string> sources;
};

TEST(RunAppleScript, PassesSourceAndResultThroughWithoutLogging) {
  LogCapture log;
  ScriptedRunner runner;
  runner.outcomes = {ScriptOutcome{"done", std::nullopt}, ScriptOutcome{}, std::nullopt};

  EXPECT_EQ(runAppleScript(runner, kHideDockScript), "done");
  EXPECT_EQ(runAppleScript(runner, kShowDockScript), std::nullopt);
  // A script that cannot be created yields nothing and is not an error worth a line.
  EXPECT_EQ(runAppleScript(runner, "garbage"), std::nullopt);

  EXPECT_EQ(runner.sources[0],
            "tell application \"System Events\" to set autohide of dock preferences to true");
  EXPECT_EQ(runner.sources[1],
            "tell application \"System Events\" to set autohide of dock preferences to false");
  EXPECT_TRUE(log.messages().empty());
}

TEST(RunAppleScript, LogsMessageOrWholeErrorAndStillReturnsResult) {
  LogCapture log;
  ScriptedRunner runner;
  runner.outcomes = {
      ScriptOutcome{std::nullopt,
                    std::map<std::string, std::string>{
                        {kScriptErrorMessageKey, "System Events got an error: Access not allowed."},
                        {"NSAppleScriptErrorNumber", "-1743"}}},
      ScriptOutcome{"partial",
                    std::map<std::string, std::string>{
                        {"NSAppleScriptErrorNumber", "-1728"},
                        {"NSAppleScriptErrorBriefMessage", "Can't get \"dock\"."}}},
      ScriptOutcome{std::nullopt, std::map<std::string, std::string>{}},
      // A message spanning lines stays on one log line.
      ScriptOutcome{std::nullopt,
                    std::map<std::string, std::string>{{kScriptErrorMessageKey, "one\ntwo"}}},
  };

  EXPECT_EQ(runAppleScript(runner, kHideDockScript), std::nullopt);
  EXPECT_EQ(runAppleScript(runner, kHideDockScript), "partial");
  runAppleScript(runner, kHideDockScript);
  runAppleScript(runner, kHideDockScript);

  EXPECT_EQ(
      log.messages(),
      (std::vector<std::string>{
          "[AppleScript] ERROR: System Events got an error: Access not allowed.",
          "[AppleScript] ERROR: {NSAppleScriptErrorBriefMessage = \"Can't get \\\"dock\\\".\"; "
          "NSAppleScriptErrorNumber = \"-1728\";}",
          "[AppleScript] ERROR: {}",
          "[AppleScript] ERROR: one\\ntwo",
      }));
}

class CountingUpdater : public Updater {
 public:
  void start() override { ++starts; }
  void checkForUpdates() override { ++checks; }
  int starts = 0;
  int checks = 0;
};

TEST(UpdaterController, StartsOnceAtCreationAndForwardsChecks) {
  CountingUpdater updater;
  UpdaterController controller(updater);
  EXPECT_EQ(updater.starts, 1);
  EXPECT_EQ(updater.checks, 0);
  controller.checkForUpdates();
  controller.checkForUpdates();
  EXPECT_EQ(updater.starts, 1);
  EXPECT_EQ(updater.checks, 2);
}

}  // namespace
}  // namespace dunelo
