// The whole program on X11, switched on: the overlays stay directly below the active window's
// frame as windows are raised and activated, and follow the screens RandR reports.
#include <gtest/gtest.h>

#include <optional>

#include "app/app_coordinator.h"
#include "platform/x11/dunelo_session.h"

namespace dunelo {
namespace {

using testing::DuneloSession;

// What the server showed after one ordering pass.
struct TickSample {
  double time = 0;
  xcb_window_t knownActive = XCB_NONE;  // the active window as Dunelo knew it at the tick
  bool shown = false;                   // every overlay viewable
  bool inPlace = false;                 // directly below the active frame
};

class OverlayOrderingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(session.start());
    ASSERT_TRUE(session.runUntil([&] {
      return session.coordinator->blurEngine.isFollowingChanges();
    })) << "switched on in the settings file, with both permissions granted on this desktop";
    EXPECT_TRUE(*session.coordinator->permissions.hasScreenRecording);
    EXPECT_TRUE(*session.coordinator->permissions.hasAccessibility);
    session.setAfterOrderingTick([this] {
      if (!recording) return;
      TickSample s;
      s.time = session.loop().uptime();
      s.knownActive = session.desktop().tree().activeWindow();
      s.inPlace = session.overlaysDirectlyBelowActiveFrame();
      s.shown = s.inPlace ||
                (!session.overlays().empty() && session.isViewable(session.overlays().front()));
      ticks.push_back(s);
    });
  }

  // Records the ordering passes after `action` until `enough` says so (or five seconds pass).
  void recordTicks(const std::function<void()>& action, const std::function<bool()>& enough) {
    ticks.clear();
    recording = true;
    action();
    session.runUntil(enough, 5.0);
    recording = false;
  }
  bool inPlaceSoon() {
    return session.runUntil([&] { return session.overlaysDirectlyBelowActiveFrame(); });
  }

  DuneloSession session{R"({"isActive": true})"};
  std::vector<TickSample> ticks;
  bool recording = false;
};

TEST_F(OverlayOrderingTest, OverlayFollowsTheActiveFrameThroughRaisesAndSwitches) {
  const xcb_window_t editor = session.openWindow(100, 100, 5001, "Editor");
  const xcb_window_t editor2 = session.openWindow(300, 200, 5001, "Editor", false);
  const xcb_window_t viewer = session.openWindow(600, 300, 5002, "Viewer", false);
  session.activate(editor);
  EXPECT_TRUE(inPlaceSoon()) << "after activation";

  // Another window raised without taking the focus lies above both; the overlay stays put.
  const uint32_t above = XCB_STACK_MODE_ABOVE;
  xcb_configure_window(session.client().xcb(), viewer, XCB_CONFIG_WINDOW_STACK_MODE, &above);
  EXPECT_TRUE(session.runUntil([&] {
    const auto order = session.client().stacking();
    return std::find(order.begin(), order.end(), session.client().frameOf(viewer)) >
           std::find(order.begin(), order.end(), session.client().frameOf(editor));
  }));
  EXPECT_EQ(session.desktop().tree().activeWindow(), editor);
  EXPECT_TRUE(inPlaceSoon()) << "after raising another window";

  // Another window of the same application: the next pass that knows of it puts the overlay
  // below it, and the overlay never leaves the screen.
  recordTicks([&] { session.client().activate(editor2); },
              [&] {
                return std::any_of(ticks.begin(), ticks.end(),
                                   [&](const TickSample& t) { return t.knownActive == editor2; });
              });
  ASSERT_FALSE(ticks.empty());
  bool sawSwitch = false;
  for (const TickSample& t : ticks) {
    EXPECT_TRUE(t.shown) << "no hiding within one application";
    if (t.knownActive != editor2) continue;
    sawSwitch = true;
    EXPECT_TRUE(t.inPlace) << "at " << t.time;
  }
  EXPECT_TRUE(sawSwitch);

  // Another application: the overlays leave the screen for a moment, then return below it.
  const auto shownAfterHidden = [&] {
    const auto h = std::find_if(ticks.begin(), ticks.end(), [](auto& t) { return !t.shown; });
    return std::find_if(h, ticks.end(), [](auto& t) { return t.shown; }) != ticks.end();
  };
  recordTicks([&] { session.client().activate(viewer); }, shownAfterHidden);
  const auto hidden =
      std::find_if(ticks.begin(), ticks.end(), [](const TickSample& t) { return !t.shown; });
  ASSERT_NE(hidden, ticks.end()) << "the overlays must be taken off the screen";
  const auto back = std::find_if(hidden, ticks.end(), [](const TickSample& t) { return t.shown; });
  ASSERT_NE(back, ticks.end()) << "and brought back";
  EXPECT_TRUE(back->inPlace);
  EXPECT_EQ(back->knownActive, viewer);
  const double gone = back->time - hidden->time;
  EXPECT_GE(gone, kReshowDelay - 0.01);
  EXPECT_LT(gone, 1.0);
  EXPECT_TRUE(std::all_of(back, ticks.end(), [](const TickSample& t) { return t.inPlace; }));
  EXPECT_EQ(session.composition->connection().unexpectedErrorCount(), 0u);
}

TEST_F(OverlayOrderingTest, MonitorsAddedAndRemovedChangeTheOverlaySet) {
  session.openWindow(100, 100, 5101, "Editor");
  ASSERT_TRUE(inPlaceSoon());
  ASSERT_EQ(session.overlays().size(), 1u);

  ASSERT_EQ(session.server().run(
                {"xrandr", "--setmonitor", "dunelo-right", "640/100x800/200+640+0", "none"}),
            0);
  EXPECT_TRUE(session.runUntil([&] { return session.overlays().size() == 2; }));
  EXPECT_EQ(session.coordinator->blurEngine.overlayCount(), 2u);
  EXPECT_TRUE(inPlaceSoon()) << "both overlays below the active frame";

  ASSERT_EQ(session.server().run({"xrandr", "--delmonitor", "dunelo-right"}), 0);
  EXPECT_TRUE(session.runUntil([&] { return session.overlays().size() == 1; }));
  EXPECT_EQ(session.coordinator->blurEngine.overlayCount(), 1u);
  EXPECT_TRUE(inPlaceSoon());
}

}  // namespace
}  // namespace dunelo
