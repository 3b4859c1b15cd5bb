// Runs the small fixed scripts with which Dunelo reads and changes the desktop's dock preference.
//
// Scripts drive desktop tools that may take seconds or hang, so they never run on the main thread:
// `run` queues a script and its completion comes back on the main thread later, through the
// scheduler. Scripts run one at a time, in the order they were queued.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dunelo {

// Key of the human-readable message in a script error.
inline constexpr const char* kScriptErrorMessageKey = "NSAppleScriptErrorMessage";

// The dock's own settings as the read script found them, so that they can be put back exactly:
// short text entries that only the runner that wrote them interprets. They are kept in the
// settings file between runs, so a runner treats a snapshot handed to it as untrusted input.
using DockSnapshot = std::vector<std::string>;

struct ScriptOutcome {
  std::optional<std::string> result;                        // the result's text, if any
  std::optional<std::map<std::string, std::string>> error;  // present when the script failed
  DockSnapshot snapshot;                                    // what the read script found
};

class ScriptRunner {
 public:
  // Receives the outcome, or none when the script could not be created.
  using Completion = std::function<void(std::optional<ScriptOutcome>)>;

  virtual ~ScriptRunner() = default;

  // Queues `source`. The hide script acts on the parts of the dock named in `snapshot`, the show
  // script puts back what `snapshot` holds; the read script ignores it. `done` runs on the main
  // thread unless the runner is stopped first.
  virtual void run(std::string_view source, DockSnapshot snapshot, Completion done) = 0;

  // For the way out of the process, on the main thread after its loop has ended: drops the queued
  // scripts (their completions never run), ends the one in progress, and runs the show script
  // with `snapshot`, blocking for at most `seconds`.
  virtual ScriptOutcome restoreBeforeExit(const DockSnapshot& snapshot, double seconds) = 0;
};

}  // namespace dunelo
