#include "app/run_apple_script.h"

#include <gtest/gtest.h>

#include "support/log_capture.h"

namespace dunelo {
namespace {

using ::dunelo::testing::LogCapture;
using Error = std::map<std::string, std::string>;

// The dock scripts are an external interface: System Events must receive exactly these texts.
static_assert(kReadDockScript ==
              "tell application \"System Events\" to get autohide of dock preferences");
static_assert(kHideDockScript ==
              "tell application \"System Events\" to set autohide of dock preferences to true");
static_assert(kShowDockScript ==
              "tell application \"System Events\" to set autohide of dock preferences to false");

// Completes every script at once with the same outcome.
class OneOutcomeRunner : public ScriptRunner {
 public:
  explicit OneOutcomeRunner(std::optional<ScriptOutcome> outcome) : outcome_(std::move(outcome)) {}
  void run(std::string_view, DockSnapshot, Completion done) override { done(outcome_); }
  ScriptOutcome restoreBeforeExit(const DockSnapshot&, double) override { return {}; }

 private:
  std::optional<ScriptOutcome> outcome_;
};

TEST(RunAppleScript, HandsOnTheOutcomeAndLogsOnlyFailures) {
  struct Case {
    const char* name;
    std::optional<ScriptOutcome> outcome;  // none: the script cannot be created
    std::optional<std::string> result;
    std::optional<std::string> logged;
  };
  const Case cases[] = {
      {"success", ScriptOutcome{"done", std::nullopt, {}}, "done", std::nullopt},
      {"no result text", ScriptOutcome{}, std::nullopt, std::nullopt},
      {"cannot be created", std::nullopt, std::nullopt, std::nullopt},
      {"message entry",
       ScriptOutcome{std::nullopt,
                     Error{{kScriptErrorMessageKey, "Access not allowed."},
                           {"NSAppleScriptErrorNumber", "-1743"}},
                     {}},
       std::nullopt, "[AppleScript] ERROR: Access not allowed."},
      {"no message: the whole error, and the result still comes back",
       ScriptOutcome{"partial",
                     Error{{"NSAppleScriptErrorNumber", "-1728"},
                           {"NSAppleScriptErrorBriefMessage", "Can't get \"dock\"."}},
                     {}},
       "partial",
       "[AppleScript] ERROR: {NSAppleScriptErrorBriefMessage = \"Can't get \\\"dock\\\".\"; "
       "NSAppleScriptErrorNumber = \"-1728\";}"},
      {"empty error", ScriptOutcome{std::nullopt, Error{}, {}}, std::nullopt,
       "[AppleScript] ERROR: {}"},
      {"line breaks stay on one log line",
       ScriptOutcome{std::nullopt, Error{{kScriptErrorMessageKey, "one\ntwo\r"}}, {}}, std::nullopt,
       "[AppleScript] ERROR: one\\ntwo\\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    OneOutcomeRunner runner(c.outcome);
    int calls = 0;
    std::optional<std::string> result;
    runAppleScript(runner, kHideDockScript, {}, [&](const std::optional<ScriptOutcome>& outcome) {
      ++calls;
      if (outcome) result = outcome->result;
    });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(log.messages(), c.logged ? std::vector{*c.logged} : std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace dunelo
