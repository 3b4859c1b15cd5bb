// Runs one of Dunelo's small desktop scripts and logs what went wrong.
//
// Script failures are never shown to the user and never retried; the debug log is the only place
// they appear, as "[AppleScript] ERROR: " followed by the error's message (or, when the error
// carries no message, a description of every entry it has).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/script_runner.h"

namespace dunelo {

// The scripts that switch the dock's auto-hide on and off.
inline constexpr std::string_view kHideDockScript =
    "tell application \"System Events\" to set autohide of dock preferences to true";
inline constexpr std::string_view kShowDockScript =
    "tell application \"System Events\" to set autohide of dock preferences to false";

// Runs `source` synchronously. Returns the result's text, or none when the script could not be
// created (nothing is logged then), produced no text, or failed (the failure is logged).
std::optional<std::string> runAppleScript(ScriptRunner& runner, std::string_view source);

// One-line text of a script error: "{key = value; ...}" with the keys in order and every value
// quoted, control characters escaped. Used when the error has no message entry.
std::string describeScriptError(const std::map<std::string, std::string>& error);

}  // namespace dunelo
