// Runs desktop tools (gsettings, xfconf-query, notify-send, ...) directly, never through a shell:
// the program is looked up in a search path given at construction and gets its arguments as they
// are, so no argument is ever parsed as shell syntax.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dunelo {

struct CommandResult {
  int exitCode = -1;  // the exit status; -1 when killed by a signal or timed out
  bool timedOut = false;
  std::string output;       // standard output, at most kMaxOutput bytes
  std::string errorOutput;  // standard error, at most kMaxOutput bytes
};

class CommandRunner {
 public:
  static constexpr size_t kMaxOutput = 64 * 1024;

  // `searchPath` is a PATH-style list of directories.
  explicit CommandRunner(std::string searchPath) : searchPath_(std::move(searchPath)) {}
  // Searches this process's PATH (or the usual system directories when it has none).
  static CommandRunner forThisProcess();

  // The absolute path of an executable `program` in the search path; none when absent.
  std::optional<std::string> find(std::string_view program) const;

  // Runs argv[0] (looked up in the search path) with the rest as arguments, standard input from
  // /dev/null, and waits for it to finish, at most `timeout` seconds (after which it is killed).
  // None when the program cannot be found or started.
  std::optional<CommandResult> run(const std::vector<std::string>& argv, double timeout) const;

  // Starts argv[0] without waiting for it; it is not this process's child afterwards, so nothing
  // needs reaping. False when it cannot be found or started.
  bool spawnDetached(const std::vector<std::string>& argv) const;

 private:
  std::string searchPath_;
};

}  // namespace dunelo
