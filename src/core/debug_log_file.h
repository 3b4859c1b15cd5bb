// The program's log file.
//
// The first choice is /tmp/dunelo_debug.log, where users and bug reports look for it. /tmp is
// shared with every other user, who may have put a file, a link or a FIFO of their own there: a
// file is only written when it is a regular file that this user owns, with no other names. When
// a file cannot be used that way the log moves, for the rest of the run, to the next place (the
// user's state directory, then the runtime directory), and its first line there says why. Each
// write opens and closes the file; a file that would grow past `maxBytes` is renamed to
// "<name>.1" (replacing the one before) and started afresh.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/debug_log.h"

namespace dunelo {

inline constexpr const char* kDebugLogPath = "/tmp/dunelo_debug.log";

class DebugLogFile final : public LogSink {
 public:
  struct Options {
    std::vector<std::string> paths;       // in order of preference; parents are made as needed
    uint64_t maxBytes = 4 * 1024 * 1024;  // size at which the file is rotated
  };

  // kDebugLogPath, then $XDG_STATE_HOME/dunelo/debug.log (~/.local/state/dunelo/debug.log), then
  // $XDG_RUNTIME_DIR/dunelo/debug.log; places whose variables are unset or relative are left out.
  static std::vector<std::string> defaultPaths();

  explicit DebugLogFile(Options options);
  // At the default paths.
  DebugLogFile();

  void write(std::string_view message) override;

  // Where the next line goes; empty once no place could be used.
  std::string currentPath() const;

 private:
  enum class Outcome { written, unusable };
  Outcome append(const std::string& path, const std::string& text, std::string* why);

  Options options_;
  size_t current_ = 0;
};

}  // namespace dunelo
