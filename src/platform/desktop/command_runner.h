// Runs desktop tools (gsettings, xfconf-query, notify-send, ...) directly, never through a shell:
// the program is looked up in a search path given at construction and gets its arguments as they
// are, so no argument is ever parsed as shell syntax.
//
// Each tool runs in a process group of its own. When the tool exits, or its deadline passes, or
// its caller asks it to stop, the whole group is killed: nothing a tool started (a helper holding
// its output open, a forgotten `sleep`) outlives the call.
#pragma once

#include <chrono>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace dunelo {

// When a series of commands must be over: one point in time shared by every command of the
// series, and a stop request (from any thread) that ends the running command at once.
struct Deadline {
  using Clock = std::chrono::steady_clock;

  Clock::time_point at;
  std::stop_token stop;

  // `seconds` from now.
  static Deadline in(double seconds, std::stop_token stop = {});
  // What is left, never negative.
  double secondsLeft() const;
  bool passed() const { return stop.stop_requested() || Clock::now() >= at; }
};

struct CommandResult {
  int exitCode = -1;  // the exit status; -1 when killed by a signal, timed out or stopped
  bool timedOut = false;
  bool stopped = false;     // ended by a stop request
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
  // /dev/null, and waits until it exits or `deadline` passes (then its group is killed and the
  // result says `timedOut` or `stopped`; nothing is started when it has passed already). Output
  // that the tool's leftovers write after it exited is not waited for. None when the program
  // cannot be found or started.
  std::optional<CommandResult> run(const std::vector<std::string>& argv,
                                   const Deadline& deadline) const;
  std::optional<CommandResult> run(const std::vector<std::string>& argv, double timeout) const {
    return run(argv, Deadline::in(timeout));
  }

 private:
  std::string searchPath_;
};

}  // namespace dunelo
