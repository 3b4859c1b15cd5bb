// Runs the small fixed scripts with which Dunelo changes the desktop's dock preference.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace dunelo {

// Key of the human-readable message in a script error.
inline constexpr const char* kScriptErrorMessageKey = "NSAppleScriptErrorMessage";

struct ScriptOutcome {
  std::optional<std::string> result;                        // the result's text, if any
  std::optional<std::map<std::string, std::string>> error;  // present when the script failed
};

class ScriptRunner {
 public:
  virtual ~ScriptRunner() = default;
  // Runs `source` to completion on the calling thread. None when the script cannot be created.
  virtual std::optional<ScriptOutcome> run(std::string_view source) = 0;
};

}  // namespace dunelo
