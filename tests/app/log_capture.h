// Points the debug log at a fresh temporary file for one test and reads back the messages.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/debug_log.h"

namespace dunelo::testing {

class LogCapture {
 public:
  LogCapture() {
    char path[] = "/tmp/dunelo_test_log_XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd >= 0) ::close(fd);
    path_ = path;
    setDebugLogPathForTesting(path_);
  }
  ~LogCapture() {
    setDebugLogPathForTesting("");
    std::remove(path_.c_str());
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // The messages written so far, without their timestamps.
  std::vector<std::string> messages() const {
    std::vector<std::string> out;
    std::ifstream in(path_);
    std::string line;
    while (std::getline(in, line)) {
      const auto sep = line.find(": ");
      out.push_back(sep == std::string::npos ? line : line.substr(sep + 2));
    }
    return out;
  }
  // The messages that start with `prefix`.
  std::vector<std::string> messagesStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    for (auto& m : messages())
      if (m.rfind(prefix, 0) == 0) out.push_back(m);
    return out;
  }
  void clear() const { std::ofstream(path_, std::ios::trunc); }

 private:
  std::string path_;
};

}  // namespace dunelo::testing
