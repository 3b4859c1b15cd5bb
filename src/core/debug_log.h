// The diagnostic log: every message goes to the one sink the program installed.
//
// Every message starts with its component's name in brackets ("[BlurEngine] ..."). There are no
// levels and no console output. The composition root installs the log file
// (core/debug_log_file.h); tests install a sink that keeps the messages in memory. With no sink
// installed a message is dropped.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "core/cancellable.h"

namespace dunelo {

class LogSink {
 public:
  virtual ~LogSink() = default;
  // One message as given: no timestamp, no line feed added. Calls never overlap; a sink must not
  // log itself.
  virtual void write(std::string_view message) = 0;
};

// Hands `message` to the installed sink. Failures are silent: the message is lost. Safe to call
// from any thread.
void debugLog(std::string_view message);

// Makes `sink` receive every message until the token is cancelled or destroyed, when the sink
// installed before it takes over again. `sink` must outlive the token; tokens are undone in the
// reverse order of installing.
[[nodiscard]] Cancellable installLogSink(LogSink& sink);

// A line of the log file: "<UTC date and time>: <message>\n", the time as
// "2026-12-05 08:24:39 +0000".
std::string formatLogLine(std::time_t when, std::string_view message);

}  // namespace dunelo
