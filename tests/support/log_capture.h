// Collects the debug log's messages in memory for the lifetime of a test.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/debug_log.h"

namespace dunelo::testing {

class LogCapture final : public LogSink {
 public:
  LogCapture() : installed_(installLogSink(*this)) {}
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  void write(std::string_view message) override { messages_.emplace_back(message); }

  // The messages logged so far, as given.
  const std::vector<std::string>& messages() const { return messages_; }
  // Messages that start with `prefix`.
  std::vector<std::string> messagesStartingWith(std::string_view prefix) const {
    std::vector<std::string> out;
    for (const auto& m : messages_)
      if (m.starts_with(prefix)) out.push_back(m);
    return out;
  }
  // Whether any message contains `text`.
  bool contains(std::string_view text) const {
    for (const auto& m : messages_)
      if (m.find(text) != std::string::npos) return true;
    return false;
  }

 private:
  std::vector<std::string> messages_;
  Cancellable installed_;
};

}  // namespace dunelo::testing
