#include "overlay/focused_window_locator.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/sim/sim_desktop.h"

namespace dunelo {
namespace {

using sim::SimDesktop;
using sim::WindowListFault;

// An editor in front with one focused window at (100, 100, 800, 600), another application's
// full-screen window behind it.
struct Scene {
  Scene() {
    d.addScreen({Rect(0, 0, 1440, 900), 2.0, 1});
    other = d.launchApp("org.example.Other");
    d.openWindow(other, Rect(0, 0, 1440, 900));
    app = d.launchApp("org.example.Editor");
    d.activate(app);
    window = d.openWindow(app, Rect(100, 100, 800, 600));
  }
  std::optional<WindowNumber> locate() {
    return findFocusedWindowNumber(d.workspace(), d.accessibility(), d.windowList());
  }

  SimDesktop d;
  ProcessID other = 0;
  ProcessID app = 0;
  WindowNumber window = 0;
};

class Locator : public testing::Test, protected Scene {};

TEST_F(Locator, FindsTheFocusedWindowOfTheFrontmostApplication) {
  EXPECT_EQ(locate(), window);
  // Another process's window with the same bounds in front does not count.
  d.openWindow(other, Rect(100, 100, 800, 600), {.focus = false});
  EXPECT_EQ(locate(), window);
  // A later window of the same application that takes focus wins.
  const WindowNumber second = d.openWindow(app, Rect(300, 200, 500, 400));
  EXPECT_EQ(locate(), second);
}

TEST_F(Locator, NothingWhenTheFocusedWindowCannotBeKnown) {
  const std::pair<const char*, std::function<void(SimDesktop&, Scene&)>> cases[] = {
      {"no frontmost application", [](SimDesktop& d, Scene&) { d.clearFrontmost(); }},
      {"no Accessibility trust", [](SimDesktop& d, Scene&) { d.setAccessibilityTrusted(false); }},
      {"focused window unreadable",
       [](SimDesktop& d, Scene& t) { d.failFocusedWindowRead(t.app); }},
      {"no focused window", [](SimDesktop& d, Scene& t) { d.clearFocusedWindow(t.app); }},
      // Read as 0 x 0, which matches no real window.
      {"size unreadable", [](SimDesktop& d, Scene& t) { d.failSizeRead(t.window); }},
      {"position unreadable", [](SimDesktop& d, Scene& t) { d.failPositionRead(t.window); }},
      {"no window list", [](SimDesktop& d, Scene&) { d.setWindowListAvailable(false); }},
      {"window off screen", [](SimDesktop& d, Scene& t) { d.setWindowOnScreen(t.window, false); }},
  };
  for (const auto& [name, breakIt] : cases) {
    SCOPED_TRACE(name);
    Scene fresh;
    ASSERT_EQ(fresh.locate(), fresh.window);
    breakIt(fresh.d, fresh);
    EXPECT_EQ(fresh.locate(), std::nullopt);
  }
}

TEST_F(Locator, BoundsMustAgreeWithinTwoPointsExclusiveInEachValue) {
  // The frame Accessibility reports; the window's real bounds are (100, 100, 800, 600).
  const std::pair<Rect, bool> cases[] = {
      {Rect(100, 100, 800, 600), true},
      {Rect(101.999, 98.001, 801.999, 598.001), true},
      {Rect(102, 100, 800, 600), false},
      {Rect(98, 100, 800, 600), false},
      {Rect(100, 102, 800, 600), false},
      {Rect(100, 100, 802, 600), false},
      {Rect(100, 100, 800, 598), false},
      {Rect(100, 100, 800, std::numeric_limits<double>::quiet_NaN()), false},
  };
  for (const auto& [f, matches] : cases) {
    SCOPED_TRACE(testing::Message() << f.origin.x << ", " << f.origin.y << ", " << f.size.width
                                    << ", " << f.size.height);
    d.setAccessibilityFrame(window, f);
    EXPECT_EQ(locate(), matches ? std::optional(window) : std::nullopt);
  }
}

TEST_F(Locator, FrontmostOfSeveralMatchingWindowsWins) {
  // (100, 100, 800, 600) is `window`; a near twin opens in front of it but stays unfocused.
  const WindowNumber twin = d.openWindow(app, Rect(101, 99, 801, 599), {.focus = false});
  d.setAccessibilityFrame(window, Rect(100.5, 100, 800, 600));
  EXPECT_EQ(locate(), twin);
  d.raiseWindow(window);
  EXPECT_EQ(locate(), window);
}

// A twin of `window` in front of it, with one field unreadable: entries with unreadable fields are
// skipped, but the first match without a number ends the search.
TEST_F(Locator, UnreadableEntriesAreSkippedAndANumberlessMatchEndsTheSearch) {
  for (WindowListFault fault :
       {WindowListFault::ownerPID, WindowListFault::bounds, WindowListFault::x, WindowListFault::y,
        WindowListFault::width, WindowListFault::height, WindowListFault::windowNumber}) {
    SCOPED_TRACE(static_cast<int>(fault));
    Scene fresh;
    const WindowNumber twin =
        fresh.d.openWindow(fresh.app, Rect(100, 100, 800, 600), {.focus = false});
    fresh.d.setWindowListFaults(twin, {fault});
    EXPECT_EQ(fresh.locate(),
              fault == WindowListFault::windowNumber ? std::nullopt : std::optional(fresh.window));
  }
}

}  // namespace
}  // namespace dunelo
