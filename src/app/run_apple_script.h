// Runs one of Dunelo's small desktop scripts and logs what went wrong.
//
// Script failures are never shown to the user and never retried; the debug log is the only place
// they appear, as "[AppleScript] ERROR: " followed by the error's message (or, when the error
// carries no message, a description of every entry it has).
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/script_runner.h"

namespace dunelo {

// The scripts that read the dock's own preference and switch its auto-hide on and off.
inline constexpr std::string_view kReadDockScript =
    "tell application \"System Events\" to get autohide of dock preferences";
inline constexpr std::string_view kHideDockScript =
    "tell application \"System Events\" to set autohide of dock preferences to true";
inline constexpr std::string_view kShowDockScript =
    "tell application \"System Events\" to set autohide of dock preferences to false";

// Queues `source` (see ScriptRunner::run). Once it has run, a failure is logged and `done` (may
// be empty) gets the outcome, none when the script could not be created (nothing is logged then).
void runAppleScript(ScriptRunner& runner, std::string_view source, DockSnapshot snapshot,
                    std::function<void(const std::optional<ScriptOutcome>&)> done);

// Logs `outcome`'s error, if it has one; true when it had.
bool logScriptFailure(const ScriptOutcome& outcome);

// One-line text of a script error: "{key = value; ...}" with the keys in order and every value
// quoted, control characters escaped. Used when the error has no message entry.
std::string describeScriptError(const std::map<std::string, std::string>& error);

}  // namespace dunelo
