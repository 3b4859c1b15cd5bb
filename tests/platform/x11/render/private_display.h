// A private X server with openbox for tests and benchmarks of the overlay renderer: a black root
// of a chosen size. Stopped (and the programs started on it killed) on destruction.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/x11/x_server.h"

namespace dunelo::x11::testing {

class PrivateDisplay {
 public:
  // Starts Xvfb with one screen of `width` x `height` x 24 and, when `windowManager`, openbox.
  // `name()` is empty when the server could not be started.
  PrivateDisplay(int width, int height, bool windowManager = true)
      : server_({.width = width,
                 .height = height,
                 .windowManager = windowManager,
                 .blackBackground = true}) {}

  const std::string& name() const { return server_.display(); }
  pid_t serverPid() const { return server_.serverPid(); }
  // Starts another program on this display (for example picom); killed on destruction.
  pid_t spawn(const char* const argv[]) {
    std::vector<std::string> args;
    for (; *argv; ++argv) args.emplace_back(*argv);
    return server_.start(args);
  }

 private:
  XServer server_;
};

}  // namespace dunelo::x11::testing
