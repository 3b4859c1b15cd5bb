// A private X server for one test: Xvfb on a display number of its own choosing (-displayfd),
// optionally with openbox managing it. Torn down with the object.
#pragma once

#include <sys/types.h>

#include <string>

namespace dunelo::testing {

class PrivateXServer {
 public:
  struct Options {
    bool withWindowManager = false;
    int width = 1280;
    int height = 800;
  };
  explicit PrivateXServer(Options options);
  PrivateXServer() : PrivateXServer(Options{}) {}
  ~PrivateXServer();
  PrivateXServer(const PrivateXServer&) = delete;
  PrivateXServer& operator=(const PrivateXServer&) = delete;

  // ":N", or empty when the server did not come up.
  const std::string& display() const { return display_; }
  bool isRunning() const { return !display_.empty(); }

 private:
  pid_t server_ = -1;
  pid_t windowManager_ = -1;
  std::string display_;
};

}  // namespace dunelo::testing
