// Points the debug log at a private file for the lifetime of a test and reads back its messages.
#pragma once

#include <string>
#include <vector>

#include "app/debug_log.h"
#include "support/scratch_dir.h"

namespace dunelo::testing {

class LogCapture {
 public:
  LogCapture() { setDebugLogPathForTesting(path()); }
  ~LogCapture() { setDebugLogPathForTesting(""); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string path() const { return dir_.file("debug.log"); }
  // The messages logged so far, without their timestamps.
  std::vector<std::string> messages() const {
    std::vector<std::string> out;
    for (const auto& line : readLines(path())) {
      const auto sep = line.find(" +0000: ");
      out.push_back(sep == std::string::npos ? line : line.substr(sep + 8));
    }
    return out;
  }
  // Messages that start with `prefix`.
  std::vector<std::string> messagesStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    for (auto& m : messages())
      if (m.rfind(prefix, 0) == 0) out.push_back(m);
    return out;
  }

 private:
  ScratchDir dir_;
};

}  // namespace dunelo::testing
