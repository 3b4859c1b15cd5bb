#include "system/focus_tracker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
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

TEST_F(Tracker, AttachesToTheFrontmostApplicationAtOnceAndOnRetracking) {
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
  EXPECT_EQ(ids.size(), 2u);  // the current value on subscribing, then the same again
  EXPECT_EQ(ids.back(), "org.example.Editor");
  EXPECT_EQ(d.windowObserverCount(editor), 1u);
  EXPECT_EQ(d.observedNotifications(editor).size(), 4u);  // not eight: the old one is gone

  // The replacement still delivers.
  d.moveWindow(window, {200, 80});
  d.runUntilIdle();
  EXPECT_EQ(*tracker->focusedWindowRect, Rect(200, 80, 800, 600));
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

TEST_F(Tracker, EveryNotificationRefreshesOnceOnTheMainQueue) {
  makeTracker();
  std::vector<std::optional<Rect>> frames;
  auto token = tracker->focusedWindowRect.subscribe([&](const auto& v) { frames.push_back(v); });
  frames.clear();
  d.moveWindow(window, {110, 60});
  d.resizeWindow(window, {820, 620});
  d.moveWindow(window, {120, 70});
  EXPECT_TRUE(frames.empty());
  d.runUntilIdle();
  // Three refreshes, each reading the window as it is when the refresh runs.
  EXPECT_THAT(frames, ElementsAre(Rect(120, 70, 820, 620), Rect(120, 70, 820, 620),
                                  Rect(120, 70, 820, 620)));
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

struct FullScreenCase {
  const char* name;
  Rect window;  // top-left-origin, as Accessibility reports it
  bool fullScreen;
};

// The primary screen is 1440 x 900 at the origin; a second screen of 2560 x 1440 stands to its
// right, bottoms aligned, so that in the window space it spans y from -540 to 900.
TEST_F(Tracker, FullScreenMeansAtLeastTheSizeOfTheScreenHoldingTheTopLeftCorner) {
  d.addScreen({Rect(1440, 0, 2560, 1440), 1.0, 2});
  const FullScreenCase cases[] = {
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    d.setWindowFrame(window, c.window);
    d.runUntilIdle();
    EXPECT_EQ(*tracker->focusedWindowRect, c.window);
    EXPECT_EQ(*tracker->isFullScreen, c.fullScreen);
  }
}

TEST_F(Tracker, WindowWithUnreadableSizeIsZeroSizedAndNotFullScreen) {
  d.setWindowFrame(window, Rect(0, 0, 1440, 900));
  d.failSizeRead(window);
  makeTracker();
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
  const ProcessID browser = d.launchApp("org.example.Browser");
  d.activate(browser);
  d.runUntilIdle();
  SUCCEED();  // reaching here without touching freed memory (checked under the sanitizers)
}

}  // namespace
}  // namespace dunelo
