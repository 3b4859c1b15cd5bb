#include "platform/x11/x11_connection.h"

#include <gtest/gtest.h>
#include <poll.h>

#include "platform/x11/x11_harness.h"

namespace dunelo::x11 {
namespace {

// xcb reads the events that arrive while it waits for a reply into a queue of its own, and the
// socket then stays quiet: the loop must hand those events out before it goes to sleep.
TEST(X11ConnectionLoop, EventsReadWhileWaitingForAReplyAreHandledBeforeTheLoopSleeps) {
  dunelo::testing::X11Harness h;
  ASSERT_TRUE(h.isReady()) << "Xvfb must be installed (scripts/install-deps.sh)";
  X11Connection& c = *h.connection;
  int seen = 0;
  const Cancellable handler =
      c.on<XCB_PROPERTY_NOTIFY>([&](const xcb_property_notify_event_t&) { ++seen; });
  const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(c.xcb(), c.root(), XCB_CW_EVENT_MASK, &mask);
  const xcb_atom_t property = c.atom("_DUNELO_TEST");
  bool socketQuiet = false;
  h.loop.post([&] {
    xcb_change_property(c.xcb(), XCB_PROP_MODE_REPLACE, c.root(), property, XCB_ATOM_STRING, 8, 1,
                        "x");
    c.sync();  // the notification arrives ahead of the reply and lands in xcb's queue
    pollfd p{c.fd(), POLLIN, 0};
    socketQuiet = ::poll(&p, 1, 0) == 0;
  });
  h.loop.runOnce(0);
  EXPECT_TRUE(socketQuiet);
  EXPECT_EQ(seen, 1);
}

}  // namespace
}  // namespace dunelo::x11
