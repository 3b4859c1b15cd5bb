// A private X server, Dunelo's connection to it and the main loop that drives the connection,
// as the program wires them.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "platform/x11/event_loop.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x_server.h"

namespace dunelo::testing {

struct X11Harness {
  explicit X11Harness(bool withWindowManager = false) : server(withWindowManager) {
    if (!server.ok()) return;
    connection = x11::X11Connection::open(server.display().c_str());
    if (!connection) return;
    attached = x11::attachToEventLoop(*connection, loop);
  }
  bool isReady() const { return connection != nullptr; }
  // Runs the loop until `done` or two seconds pass.
  bool runUntil(const std::function<bool()>& done) { return loop.runUntil(done, 2.0); }

  x11::testing::XServer server;
  x11::EventLoop loop;
  std::unique_ptr<x11::X11Connection> connection;
  CancellableBag attached;
};

}  // namespace dunelo::testing
