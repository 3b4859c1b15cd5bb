#include "platform/x11/x11_mouse_monitors.h"

#include <gtest/gtest.h>
#include <xcb/xtest.h>

#include <numeric>
#include <vector>

#include "platform/x11/fake_input.h"
#include "platform/x11/window_tree.h"
#include "platform/x11/x11_displays.h"
#include "platform/x11/x11_harness.h"

namespace dunelo::x11 {
namespace {

using dunelo::testing::FakeInput;
using dunelo::testing::X11Harness;

class X11MouseMonitorsTest : public ::testing::TestWithParam<bool /*useRawMotion*/> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(x.isReady()) << "no private X server";
    ASSERT_TRUE(user.isConnected());
    tree = std::make_unique<WindowTree>(*x.connection);
    displays = std::make_unique<X11Displays>(*x.connection, *tree);
    monitors = std::make_unique<X11MouseMonitors>(
        *x.connection, x.loop,
        X11MouseMonitors::Options{.useRawMotion = GetParam(),
                                  .coordinates = &displays->coordinates()});
    global = watch();
    local = monitors->addLocalMonitor([this](const MouseMovedEvent&) { ++localCalls; });
    ASSERT_TRUE(global);
    ASSERT_TRUE(local);
    user.warpTo(640, 400);
    settle();
    deltas.clear();
  }

  // Lets polls and coalesced deliveries happen for everything sent so far.
  void settle() {
    user.sync();
    x.connection->sync();
    x.loop.runFor(0.1);
  }
  Cancellable watch() {
    return monitors->addGlobalMonitor(
        [this](const MouseMovedEvent& e) { deltas.push_back(e.deltaX); });
  }
  // Moves the pointer by (dx, dy) and lets the monitors hear it.
  void move(int dx, int dy = 0) {
    user.moveBy(dx, dy);
    settle();
  }
  double total() const { return std::accumulate(deltas.begin(), deltas.end(), 0.0); }

  void setXftDpi(const std::string& dpi) {
    const std::string resources = "Xft.dpi:\t" + dpi + "\n";
    xcb_change_property(user.connection(), XCB_PROP_MODE_REPLACE, user.root(),
                        XCB_ATOM_RESOURCE_MANAGER, XCB_ATOM_STRING, 8,
                        static_cast<uint32_t>(resources.size()), resources.data());
    user.sync();
  }

  X11Harness x;
  FakeInput user{x.server.display()};
  std::unique_ptr<WindowTree> tree;
  std::unique_ptr<X11Displays> displays;
  std::unique_ptr<X11MouseMonitors> monitors;
  Cancellable global;
  Cancellable local;
  std::vector<double> deltas;
  int localCalls = 0;
};

TEST_P(X11MouseMonitorsTest, ShakeArrivesAsAlternatingHorizontalDeltasOnceEach) {
  EXPECT_EQ(monitors->source(),
            GetParam() ? X11MouseMonitors::Source::rawMotion : X11MouseMonitors::Source::polling);
  for (int dx : {40, -40, 40, -40}) {
    move(dx, 3);
  }
  ASSERT_EQ(deltas, (std::vector<double>{40, -40, 40, -40}));
  EXPECT_EQ(localCalls, 0) << "movement must not be delivered twice";
  move(0, 25);  // vertical only
  EXPECT_EQ(deltas.size(), 4u);
}

TEST_P(X11MouseMonitorsTest, WarpsAreNotMovement) {
  user.warpTo(100, 100);
  settle();
  if (GetParam()) {
    EXPECT_TRUE(deltas.empty());
  } else {
    // Polling sees positions only, so a warp is indistinguishable from a movement.
    EXPECT_EQ(total(), -540);
  }
}

TEST_P(X11MouseMonitorsTest, RawMotionKeepsReportingAtTheScreenEdge) {
  user.warpTo(0, 400);
  settle();
  deltas.clear();
  move(-30);
  ASSERT_EQ(user.pointerX(), 0);
  if (GetParam()) {
    EXPECT_EQ(total(), -30);
  } else {
    EXPECT_TRUE(deltas.empty());
  }
}

TEST_P(X11MouseMonitorsTest, BurstsOfSmallMovesAreCoalesced) {
  // A high-rate mouse: twenty 1-pixel reports in quick succession.
  for (int i = 0; i < 20; ++i) {
    xcb_test_fake_input(user.connection(), XCB_MOTION_NOTIFY, 1, XCB_CURRENT_TIME, XCB_NONE, 1, 0,
                        0);
  }
  settle();
  EXPECT_EQ(total(), 20);
  EXPECT_LE(deltas.size(), 2u);
}

TEST_P(X11MouseMonitorsTest, LastMonitorGoneStopsListening) {
  global.cancel();
  EXPECT_EQ(monitors->source(), X11MouseMonitors::Source::none);
  move(50);
  EXPECT_TRUE(deltas.empty());
  // A new monitor starts over.
  global = watch();
  settle();
  move(-50);
  EXPECT_EQ(total(), -50);
}

TEST_P(X11MouseMonitorsTest, DragsAreNotMovement) {
  // Resizing a window or scrubbing a slider back and forth: movement with a button held.
  user.button(XCB_BUTTON_PRESS, 1);
  for (int dx : {40, -40, 40, -40}) {
    move(dx);
  }
  user.button(XCB_BUTTON_RELEASE, 1);
  settle();
  EXPECT_TRUE(deltas.empty());
  // Released, the mouse moves again; a wheel step in between holds nothing down.
  user.button(XCB_BUTTON_PRESS, 4);
  user.button(XCB_BUTTON_RELEASE, 4);
  move(40);
  EXPECT_EQ(deltas, std::vector<double>{40});

  // A button already down when the monitors start counts too.
  global.cancel();
  user.button(XCB_BUTTON_PRESS, 3);
  global = watch();
  settle();
  deltas.clear();
  move(-40);
  EXPECT_TRUE(deltas.empty());
  user.button(XCB_BUTTON_RELEASE, 3);
  move(-40);
  EXPECT_EQ(deltas, std::vector<double>{-40});
}

TEST_P(X11MouseMonitorsTest, DeltasAreInPointsOnAHiDPIScreen) {
  setXftDpi("192");
  settle();
  ASSERT_EQ(displays->coordinates().scale, 2.0);
  move(40);
  EXPECT_EQ(deltas, std::vector<double>{20});
  setXftDpi("96");
  settle();
  ASSERT_EQ(displays->coordinates().scale, 1.0);
  move(-40);
  EXPECT_EQ(deltas, (std::vector<double>{20, -40}));
}

INSTANTIATE_TEST_SUITE_P(Sources, X11MouseMonitorsTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "RawMotion" : "Polling"; });

}  // namespace
}  // namespace dunelo::x11
