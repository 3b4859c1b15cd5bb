// A private X server (Xvfb, numbered by the server itself through -displayfd) with openbox, for
// tests and benchmarks of the overlay renderer. Stopped (and its children killed) on destruction.
#pragma once

#include <sys/types.h>

#include <string>

namespace dunelo::x11::testing {

class PrivateDisplay {
 public:
  // Starts Xvfb with one screen of `width` x `height` x 24 and, when `windowManager`, openbox.
  // `name()` is empty when the server could not be started.
  PrivateDisplay(int width, int height, bool windowManager = true);
  ~PrivateDisplay();
  PrivateDisplay(const PrivateDisplay&) = delete;
  PrivateDisplay& operator=(const PrivateDisplay&) = delete;

  const std::string& name() const { return name_; }
  pid_t serverPid() const { return server_; }
  // Starts another program on this display (for example picom); killed on destruction.
  pid_t spawn(const char* const argv[]);

 private:
  std::string name_;
  pid_t server_ = -1;
  pid_t windowManager_ = -1;
  pid_t extra_[4] = {-1, -1, -1, -1};
};

}  // namespace dunelo::x11::testing
