#include "core/debug_log.h"

#include <mutex>

#include "core/file_io.h"

namespace dunelo {
namespace {

// Worker threads may log too (tools run off the main thread); one lock keeps the sink's lines
// whole and its state consistent.
std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}

LogSink*& currentSink() {
  static LogSink* sink = nullptr;
  return sink;
}

}  // namespace

void debugLog(std::string_view message) {
  const std::lock_guard lock(sinkMutex());
  if (LogSink* sink = currentSink()) sink->write(message);
}

Cancellable installLogSink(LogSink& sink) {
  const std::lock_guard lock(sinkMutex());
  LogSink* previous = std::exchange(currentSink(), &sink);
  return Cancellable([previous] {
    const std::lock_guard lock(sinkMutex());
    currentSink() = previous;
  });
}

std::string formatLogLine(std::time_t when, std::string_view message) {
  std::string line = formatUtc(when, "%Y-%m-%d %H:%M:%S +0000");
  line += ": ";
  line += message;
  line += '\n';
  return line;
}

}  // namespace dunelo
