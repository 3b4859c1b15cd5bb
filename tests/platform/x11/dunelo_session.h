// Dunelo as the program runs it (the X11 composition and the coordinator) on a private Xvfb with
// openbox, switched on from its settings file, with an ordinary client that opens and activates
// windows and reads the server's real stacking order.
#pragma once

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/composition.h"
#include "app/x11_composition.h"
#include "platform/x11/x_server.h"
#include "support/log_capture.h"
#include "support/scratch_dir.h"

namespace dunelo::testing {

class DuneloSession {
 public:
  // Starts the server and writes the settings file; `start()` brings Dunelo up.
  explicit DuneloSession(const std::string& settingsJson)
      : client_(server_.ok() ? server_.display() : std::string(":0")) {
    writeFile(dir_.file("defaults.json"), settingsJson);
  }
  ~DuneloSession() {
    afterPass_.cancel();
    coordinator.reset();
    composition.reset();
  }

  // Connects Dunelo and builds the coordinator; false (with a test failure) when it cannot.
  bool start() {
    if (!server_.ok() || xcb_connection_has_error(client_.xcb())) {
      ADD_FAILURE() << "Xvfb and openbox must be installed (scripts/install-deps.sh)";
      return false;
    }
    std::string failure;
    composition = X11Composition::open({.displayName = server_.display().c_str(),
                                        .defaultsPath = dir_.file("defaults.json"),
                                        .autostartDir = dir_.file("autostart")},
                                       &failure);
    if (!composition) {
      ADD_FAILURE() << failure;
      return false;
    }
    coordinator = makeAppCoordinator(composition->platform());
    return true;
  }

  x11::EventLoop& loop() { return composition->loop(); }
  x11::X11Desktop& desktop() { return composition->desktop(); }
  x11::testing::XServer& server() { return server_; }
  std::string settingsPath() const { return dir_.file("defaults.json"); }
  x11::testing::TestClient& client() { return client_; }
  // Runs `hook` after every ordering pass of the overlay (none: stops).
  void setAfterOrderingTick(std::function<void()> hook) {
    afterPass_.cancel();
    if (hook)
      afterPass_ = coordinator->blurEngine.orderingPassed.subscribe(
          [hook = std::move(hook)](const int&) { hook(); });
  }
  bool runUntil(const std::function<bool()>& done, double timeout = 3.0) {
    client_.flush();
    return loop().runUntil(done, timeout);
  }

  // A managed, active application window of process `pid`.
  xcb_window_t openWindow(int x, int y, int32_t pid, const std::string& wmClass) {
    const xcb_window_t id = client_.createWindow(x, y, 320, 220, pid, "app", wmClass);
    EXPECT_TRUE(runUntil([&] {
      const x11::ClientInfo* c = desktop().tree().client(id);
      const x11::TopLevel* f = c ? desktop().tree().topLevel(c->frame) : nullptr;
      return f && c->frame != id && f->mapped;
    })) << "the window manager did not take the window";
    activate(id);
    return id;
  }
  void activate(xcb_window_t window) {
    client_.activate(window);
    EXPECT_TRUE(runUntil([&] { return desktop().tree().activeWindow() == window; }));
  }

  // Dunelo's overlay windows, one per screen.
  std::vector<xcb_window_t> overlays() {
    std::vector<xcb_window_t> out;
    for (const x11::X11OverlaySurface* s : desktop().overlaySurfaces().surfaces())
      out.push_back(s->window());
    return out;
  }
  // The server's truth: the frame of the client _NET_ACTIVE_WINDOW names (none when none).
  xcb_window_t activeFrame() {
    xcb_connection_t* c = client_.xcb();
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c,
        xcb_get_property(c, 0, client_.root(), client_.atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW,
                         0, 1),
        nullptr);
    xcb_window_t active = XCB_NONE;
    if (reply && xcb_get_property_value_length(reply) == 4)
      active = *static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
    free(reply);
    return active == XCB_NONE ? XCB_NONE : client_.frameOf(active);
  }
  // Whether every overlay is mapped and lies directly below the active frame in the server's
  // stacking order (only other overlays in between). Waits for Dunelo's requests to be carried
  // out first, then looks with the server grabbed, so that the answer is one consistent picture.
  bool overlaysDirectlyBelowActiveFrame() {
    composition->connection().sync();
    xcb_grab_server(client_.xcb());
    const std::vector<xcb_window_t> order = client_.stacking(), own = overlays();
    const auto target = std::find(order.begin(), order.end(), activeFrame());
    bool inPlace =
        target != order.end() && !own.empty() && target - order.begin() >= long(own.size());
    for (size_t n = 1; inPlace && n <= own.size(); ++n)
      inPlace = std::count(own.begin(), own.end(), *(target - long(n))) == 1 &&
                client_.isViewable(*(target - long(n)));
    xcb_ungrab_server(client_.xcb());
    client_.flush();
    return inPlace;
  }

  LogCapture log;
  std::unique_ptr<X11Composition> composition;
  std::unique_ptr<AppCoordinator> coordinator;

 private:
  x11::testing::XServer server_{true};
  x11::testing::TestClient client_;
  ScratchDir dir_;
  Cancellable afterPass_;
};

}  // namespace dunelo::testing
