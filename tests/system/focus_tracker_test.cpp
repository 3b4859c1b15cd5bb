#include "system/focus_tracker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/sim/sim_desktop.h"

namespace dunelo {
namespace {

using sim::SimDesktop;
using testing::ElementsAre;

const ScreenInfo kPrimary{Rect(0, 0, 1440, 900), 2.0, 1};

// One primary screen and an editor in front with one focused window.
struct Scene {
  Scene() {
    d.addScreen(kPrimary);
    editor = d.launchApp("org.example.Editor");
    d.activate(editor);
    window = d.openWindow(editor, Rect(100, 50, 800, 600));
    d.runUntilIdle();
  }
  void makeTracker() {
    tracker = std::make_unique<FocusTracker>(d.workspace(), d.accessibility(), d.displays(),
                                             d.scheduler());
  }

  SimDesktop d;
  ProcessID editor = 0;
  WindowNumber window = 0;
  std::unique_ptr<FocusTracker> tracker;
};

class Tracker : public testing::Test, public Scene {};

TEST_F(Tracker, TracksTheFrontmostApplicationAndRefreshesOncePerNotification) {
  makeTracker();
  EXPECT_EQ(*tracker->focusedAppBundleID, "org.example.Editor");
  EXPECT_EQ(*tracker->focusedWindowRect, Rect(100, 50, 800, 600));
  EXPECT_FALSE(*tracker->isFullScreen);
  EXPECT_EQ(d.activationObserverCount(), 1u);
  EXPECT_EQ(d.windowObserverCount(editor), 1u);
  EXPECT_THAT(d.observedNotifications(editor),
              ElementsAre("AXFocusedWindowChanged", "AXMoved", "AXResized", "AXMainWindowChanged"));

  // Re-tracking the same application republishes and replaces its observer.
  std::vector<std::optional<std::string>> ids;
  auto token = tracker->focusedAppBundleID.subscribe([&](const auto& v) { ids.push_back(v); });
  tracker->trackApplication(*d.workspace().frontmostApplication());
  // The current value on subscribing, then the same again.
  EXPECT_THAT(ids, ElementsAre("org.example.Editor", "org.example.Editor"));
  EXPECT_EQ(d.windowObserverCount(editor), 1u);
  EXPECT_EQ(d.observedNotifications(editor).size(), 4u);  // not eight: the old one is gone

  // The replacement delivers every notification once, on the main queue; each refresh reads the
  // window as it is when the refresh runs.
  std::vector<std::optional<Rect>> frames;
  auto frameToken =
      tracker->focusedWindowRect.subscribe([&](const auto& v) { frames.push_back(v); });
  frames.clear();
  d.moveWindow(window, {110, 60});
  d.resizeWindow(window, {820, 620});
  d.moveWindow(window, {120, 70});
  EXPECT_TRUE(frames.empty());
  d.runUntilIdle();
  EXPECT_THAT(frames, ElementsAre(Rect(120, 70, 820, 620), Rect(120, 70, 820, 620),
                                  Rect(120, 70, 820, 620)));
}

TEST_F(Tracker, WithoutAFrontmostApplicationWaitsForActivations) {
  d.clearFrontmost();
  makeTracker();
  EXPECT_EQ(*tracker->focusedAppBundleID, std::nullopt);
  EXPECT_EQ(*tracker->focusedWindowRect, std::nullopt);
  tracker->refreshFocusedWindow();  // nothing tracked: no frame
  EXPECT_EQ(*tracker->focusedWindowRect, std::nullopt);

  const ProcessID nameless = d.launchApp(std::nullopt, "Nameless");
  d.openWindow(nameless, Rect(0, 0, 300, 200));
  d.activate(nameless);
  EXPECT_EQ(*tracker->focusedWindowRect, std::nullopt);  // delivered on the main queue
  d.runUntilIdle();
  EXPECT_EQ(*tracker->focusedAppBundleID, std::nullopt);  // an application without identity
  EXPECT_EQ(*tracker->focusedWindowRect, Rect(0, 0, 300, 200));
  EXPECT_EQ(d.windowObserverCount(nameless), 1u);

  // The next activation moves the observer on.
  d.activate(editor);
  d.runUntilIdle();
  EXPECT_EQ(*tracker->focusedAppBundleID, "org.example.Editor");
  EXPECT_EQ(*tracker->focusedWindowRect, Rect(100, 50, 800, 600));
  EXPECT_EQ(d.windowObserverCount(nameless), 0u);
  EXPECT_EQ(d.windowObserverCount(editor), 1u);
}

TEST_F(Tracker, UnsupportedNotificationsAndFailedObserversAreSurvivable) {
  d.failNotification(editor, "AXMoved");
  makeTracker();
  EXPECT_THAT(d.observedNotifications(editor),
              ElementsAre("AXFocusedWindowChanged", "AXResized", "AXMainWindowChanged"));

  // No observer: window changes go unseen until the next tracking.
  d.failObserverCreation(editor);
  tracker->trackApplication(*d.workspace().frontmostApplication());
  EXPECT_EQ(d.windowObserverCount(editor), 0u);
  d.resizeWindow(window, {640, 480});
  d.runUntilIdle();
  EXPECT_EQ(*tracker->focusedWindowRect, Rect(100, 50, 800, 600));
  d.failObserverCreation(editor, false);
  tracker->trackApplication(*d.workspace().frontmostApplication());
  EXPECT_EQ(*tracker->focusedWindowRect, Rect(100, 50, 640, 480));
}

TEST_F(Tracker, UnreadableWindowClearsTheFrameButKeepsTheFullScreenState) {
  for (auto breakIt : {+[](SimDesktop&d, ProcessID app) { d.failFocusedWindowRead(app); },
                       +[](SimDesktop&d, ProcessID app) { d.clearFocusedWindow(app); },
                       +[](SimDesktop&d, ProcessID) { d.setAccessibilityTrusted(false); }}) {
    Scene fresh;
    fresh.d.setWindowFrame(fresh.window, Rect(0, 0, 1440, 900));
    fresh.makeTracker();
    ASSERT_TRUE(*fresh.tracker->isFullScreen);
    breakIt(fresh.d, fresh.editor);
    fresh.tracker->refreshFocusedWindow();
    EXPECT_EQ(*fresh.tracker->focusedWindowRect, std::nullopt);
    EXPECT_TRUE(*fresh.tracker->isFullScreen);
  }
}

TEST_F(Tracker, AFocusedWindowThatClosesLeavesNoFrameAndNothingFullScreen) {
  d.setWindowFrame(window, Rect(0, 0, 1440, 900));
  const WindowNumber second = d.openWindow(editor, Rect(40, 40, 300, 200));
  makeTracker();
  d.focusWindow(second);
  d.runUntilIdle();
  EXPECT_FALSE(*tracker->isFullScreen);
  // Closing the small window hands the focus back to the full-screen one.
  d.closeWindow(second);
  d.runUntilIdle();
  EXPECT_EQ(*tracker->focusedWindowRect, Rect(0, 0, 1440, 900));
  EXPECT_TRUE(*tracker->isFullScreen);
  // Closing that one leaves the application without a window.
  d.closeWindow(window);
  d.runUntilIdle();
  EXPECT_EQ(*tracker->focusedWindowRect, std::nullopt);
  EXPECT_FALSE(*tracker->isFullScreen);
}

// The primary screen is 1440 x 900 at the origin; a second screen of 2560 x 1440 stands to its
// right, bottoms aligned, so that in the window space it spans y from -540 to 900. Window frames
// are top-left-origin, as Accessibility reports them.
TEST_F(Tracker, FullScreenMeansAtLeastTheSizeOfTheScreenHoldingTheTopLeftCorner) {
  d.addScreen({Rect(1440, 0, 2560, 1440), 1.0, 2});
  const std::tuple<const char*, Rect, bool> cases[] = {
      {"exactly the primary screen", Rect(0, 0, 1440, 900), true},
      {"larger than the primary screen", Rect(0, 0, 1500, 1000), true},
      {"one point narrower", Rect(0, 0, 1439, 900), false},
      {"one point lower", Rect(0, 0, 1440, 899), false},
      {"corner on no screen", Rect(-10, 0, 1440, 900), false},
      {"corner on the far edge (outside)", Rect(1440 + 2560, 0, 2560, 1440), false},
      {"exactly the second screen", Rect(1440, -540, 2560, 1440), true},
      {"second screen, primary's size", Rect(1440, -540, 1440, 900), false},
  };
  makeTracker();
  for (const auto& [name, frame, fullScreen] : cases) {
    SCOPED_TRACE(name);
    d.setWindowFrame(window, frame);
    d.runUntilIdle();
    EXPECT_EQ(*tracker->focusedWindowRect, frame);
    EXPECT_EQ(*tracker->isFullScreen, fullScreen);
  }

  // A size that cannot be read counts as zero, however large the window is.
  d.setWindowFrame(window, Rect(0, 0, 1440, 900));
  d.failSizeRead(window);
  d.runUntilIdle();
  EXPECT_EQ(*tracker->focusedWindowRect, Rect(0, 0, 0, 0));
  EXPECT_FALSE(*tracker->isFullScreen);
}

TEST_F(Tracker, NothingRunsOnceTheTrackerIsGone) {
  makeTracker();
  d.moveWindow(window, {300, 300});  // a refresh is now queued
  tracker.reset();
  EXPECT_EQ(d.activationObserverCount(), 0u);
  EXPECT_EQ(d.windowObserverCount(editor), 0u);
  d.runUntilIdle();
  d.activate(d.launchApp("org.example.Browser"));
  d.runUntilIdle();
  SUCCEED();  // reaching here without touching freed memory (checked under the sanitizers)
}

}  // namespace
}  // namespace dunelo
