#include "platform/sim/sim_desktop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/animated_value.h"

namespace dunelo::sim {
namespace {

using testing::ElementsAre;
using testing::IsEmpty;

const ScreenInfo kMain{Rect(0, 0, 1440, 900), 2.0, 1};
const ScreenInfo kSide{Rect(1440, 100, 1920, 1080), 1.0, 2};

struct DesktopTest : testing::Test {
  SimDesktop desktop;
  ProcessID editor = desktop.launchApp("com.example.editor", "Editor");
  ProcessID mail = desktop.launchApp(std::nullopt, "Mail");
};

TEST_F(DesktopTest, OverlaysMoveInTheOneStackAndLeaveItWhenDestroyed) {
  desktop.addScreen(kMain);
  const WindowNumber back = desktop.openWindow(mail, Rect(0, 0, 300, 200));
  const WindowNumber front = desktop.openWindow(editor, Rect(50, 50, 300, 200));
  auto a = desktop.overlaySurfaces().createSurface(kMain);
  auto b = desktop.overlaySurfaces().createSurface(kSide);
  const WindowNumber na = desktop.overlays().at(0), nb = desktop.overlays().at(1);
  EXPECT_THAT(desktop.stackingOrder(), ElementsAre(front, back));  // created off screen
  EXPECT_TRUE(desktop.isOverlay(na));
  EXPECT_FALSE(desktop.isOverlay(front));

  a->orderFront();
  b->orderFront();
  EXPECT_THAT(desktop.stackingOrder(), ElementsAre(nb, na, front, back));
  EXPECT_EQ(desktop.directlyBelow(na), std::nullopt);  // only overlays above it

  a->orderBelow(front);
  b->orderBelow(front);
  EXPECT_THAT(desktop.stackingOrder(), ElementsAre(front, nb, na, back));
  EXPECT_EQ(desktop.windowAbove(na), nb);
  EXPECT_EQ(desktop.directlyBelow(na), front);  // the other screen's overlay does not count
  EXPECT_EQ(desktop.directlyBelow(nb), front);

  // Below a window that is gone or off screen: the stacking stays as it was.
  desktop.setWindowOnScreen(back, false);
  a->orderBelow(back);
  a->orderBelow(9999);
  EXPECT_THAT(desktop.stackingOrder(), ElementsAre(front, nb, na));
  EXPECT_EQ(desktop.overlay(na)->lastOrderedBelow, 9999);
  EXPECT_EQ(desktop.callCount(na, SurfaceCall::orderBelow), 3);

  b->orderOut();
  EXPECT_FALSE(desktop.overlay(nb)->onScreen);
  EXPECT_EQ(desktop.directlyBelow(nb), std::nullopt);
  b->orderBelow(front);  // ordering relative to a window also brings it on screen
  EXPECT_TRUE(desktop.overlay(nb)->onScreen);

  a.reset();
  EXPECT_THAT(desktop.stackingOrder(), ElementsAre(front, nb));
  EXPECT_EQ(desktop.overlay(na), std::nullopt);
  EXPECT_EQ(desktop.overlayCount(), 1u);
  EXPECT_EQ(desktop.overlaysCreated(), 2);
}

TEST_F(DesktopTest, ActivationRaisesTheApplicationsWindowsAsABlock) {
  const WindowNumber desk = desktop.openWindow(mail, Rect(0, 0, 10, 10), {false, true});
  const WindowNumber e1 = desktop.openWindow(editor, Rect(0, 0, 10, 10));
  const WindowNumber m1 = desktop.openWindow(mail, Rect(0, 0, 10, 10));
  const WindowNumber e2 = desktop.openWindow(editor, Rect(0, 0, 10, 10));
  const WindowNumber m2 = desktop.openWindow(mail, Rect(0, 0, 10, 10));
  EXPECT_THAT(desktop.stackingOrder(), ElementsAre(m2, e2, m1, e1, desk));

  desktop.activate(editor);
  EXPECT_THAT(desktop.stackingOrder(), ElementsAre(e2, e1, m2, m1, desk));
  desktop.lowerWindow(e2);
  EXPECT_THAT(desktop.stackingOrder(), ElementsAre(e1, m2, m1, e2, desk));
  desktop.raiseWindow(m1);
  EXPECT_THAT(desktop.stackingOrder(), ElementsAre(m1, e1, m2, e2, desk));
}

TEST_F(DesktopTest, WindowListHoldsOnScreenWindowsFrontToBackWithOverlaysInTopLeftBounds) {
  desktop.addScreen(kMain);
  desktop.openWindow(editor, Rect(0, 0, 1440, 900), {false, true});  // wallpaper
  const WindowNumber w = desktop.openWindow(editor, Rect(10, 20, 300, 200));
  const WindowNumber hidden = desktop.openWindow(mail, Rect(0, 0, 5, 5));
  desktop.setWindowOnScreen(hidden, false);
  auto surface = desktop.overlaySurfaces().createSurface(kMain);
  surface->setFrame(Rect(0, 100, 1440, 800));  // bottom-left space: top edge at y = 900
  surface->orderFront();
  const WindowNumber o = desktop.overlays().front();

  auto list = desktop.windowList().onScreenWindows();
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ((*list)[0], (WindowListEntry{desktop.selfPID(), WindowBounds{0, 0, 1440, 800}, o}));
  EXPECT_EQ((*list)[1], (WindowListEntry{editor, WindowBounds{10, 20, 300, 200}, w}));
}

// Window, activation and screen notifications are posted to the main queue, never delivered
// synchronously, and stop with their observer or token.
TEST_F(DesktopTest, NotificationsArePostedOnlyForWhatIsObservedAndStopWithTheirTokens) {
  const WindowNumber w = desktop.openWindow(editor, Rect(0, 0, 100, 100));
  desktop.openWindow(mail, Rect(0, 0, 100, 100));
  std::vector<std::string> got, other;
  std::vector<ProcessID> activated;
  std::vector<size_t> screenCounts;
  auto observer = desktop.accessibility().createObserver(
      editor, [&](std::string_view n) { got.emplace_back(n); });
  auto mailObserver = desktop.accessibility().createObserver(
      mail, [&](std::string_view n) { other.emplace_back(n); });
  auto activation = desktop.workspace().observeActivations(
      [&](const RunningApplication& app) { activated.push_back(app.pid); });
  auto screens = desktop.displays().observeChanges(
      [&] { screenCounts.push_back(desktop.displays().screens().size()); });
  ASSERT_TRUE(observer);
  EXPECT_TRUE(observer->addNotification(kWindowMoved));
  EXPECT_TRUE(observer->addNotification(kFocusedWindowChanged));
  EXPECT_TRUE(mailObserver->addNotification(kWindowMoved));
  EXPECT_THAT(desktop.observedNotifications(editor),
              ElementsAre("AXMoved", "AXFocusedWindowChanged"));

  desktop.moveWindow(w, {10, 10});
  desktop.resizeWindow(w, {50, 50});  // not added
  desktop.focusWindow(w);             // focused added, main-window not
  desktop.activate(editor);
  desktop.activate(editor);  // already frontmost: no notification
  desktop.addScreen(kMain);
  desktop.addScreen(kSide);
  EXPECT_EQ(desktop.workspace().frontmostApplication()->pid, editor);
  EXPECT_THAT(got, IsEmpty());  // nothing synchronous
  EXPECT_THAT(activated, IsEmpty());
  desktop.runUntilIdle();
  EXPECT_THAT(got, ElementsAre("AXMoved", "AXFocusedWindowChanged"));
  EXPECT_THAT(other, IsEmpty());
  EXPECT_EQ(desktop.windowFrame(w), Rect(10, 10, 50, 50));
  EXPECT_THAT(activated, ElementsAre(editor));
  EXPECT_THAT(screenCounts, ElementsAre(2u, 2u));  // handlers run after the change

  // Nothing queued reaches an observer destroyed or a token cancelled in the meantime.
  desktop.moveWindow(w, {20, 20});
  desktop.activate(mail);
  desktop.removeScreen(0);
  observer.reset();
  activation.cancel();
  screens.cancel();
  desktop.runUntilIdle();
  EXPECT_EQ(got.size(), 2u);
  EXPECT_EQ(desktop.windowObserverCount(editor), 0u);
  EXPECT_THAT(activated, ElementsAre(editor));
  EXPECT_EQ(screenCounts.size(), 2u);
  EXPECT_EQ(desktop.activationObserverCount(), 0u);
  EXPECT_THAT(desktop.displays().screens(), ElementsAre(kSide));

  desktop.quitApp(mail);
  EXPECT_EQ(desktop.workspace().frontmostApplication(), std::nullopt);
}

TEST(TimingCurve, EaseInEaseOutMatchesTheStandardCubicBezier) {
  // Reference values of cubic-bezier(0.42, 0, 0.58, 1), solved independently.
  const std::pair<double, double> cases[] = {{0.0, 0.0}, {0.1, 0.0197225},  {0.25, 0.1291619},
                                             {0.5, 0.5}, {0.75, 0.8708381}, {0.9, 0.9802775},
                                             {1.0, 1.0}, {1.5, 1.0}};
  for (const auto& [t, expected] : cases)
    EXPECT_NEAR(timingCurveValue(TimingCurve::easeInEaseOut, t), expected, 1e-6) << t;
  EXPECT_DOUBLE_EQ(timingCurveValue(TimingCurve::linear, 0.3), 0.3);
}

TEST_F(DesktopTest, OverlayAlphaAndTintAreObservableMidAnimation) {
  auto s = desktop.overlaySurfaces().createSurface(kMain);
  const WindowNumber n = desktop.overlays().front();
  EXPECT_EQ(desktop.overlay(n)->alpha, 1.0);  // the platform default
  EXPECT_EQ(desktop.overlay(n)->tintOpacity, 0.0);

  s->setAlpha(0, Animation::none());
  s->setAlpha(0.8, Animation::fade());
  desktop.advance(0.15);
  EXPECT_NEAR(desktop.overlay(n)->alpha, 0.4, 1e-9);
  EXPECT_EQ(desktop.overlay(n)->targetAlpha, 0.8);
  s->setAlpha(0, Animation::fade());  // retarget from the on-screen 0.4
  desktop.advance(0.15);
  EXPECT_NEAR(desktop.overlay(n)->alpha, 0.2, 1e-9);
  desktop.advance(0.15);
  EXPECT_EQ(desktop.overlay(n)->alpha, 0.0);

  s->setAlpha(1.0, Animation::fade());
  desktop.advance(0.075);  // a quarter of the way along the ease-in-ease-out curve
  EXPECT_NEAR(desktop.overlay(n)->alpha, 0.1291619, 1e-6);
  s->setAlpha(0.25, Animation::none());  // lands at once, also in the middle of a fade
  EXPECT_EQ(desktop.overlay(n)->alpha, 0.25);

  const Color c = Color::deviceRGB(1, 0.5, 0);
  s->setTint({c, c.withAlpha(0.4), c.withAlpha(0)}, 1.0f, Animation::fade());
  // From no colours there is nothing to interpolate: the colours jump.
  EXPECT_EQ(desktop.overlay(n)->tintColors,
            (std::vector<Color>{c, c.withAlpha(0.4), c.withAlpha(0)}));
  desktop.advance(0.15);
  EXPECT_NEAR(desktop.overlay(n)->tintOpacity, 0.5, 1e-9);
  s->setTint({Color::deviceRGB(0, 0.5, 1), c, c}, 1.0f, Animation::fade());
  desktop.advance(0.15);
  const auto mid = desktop.overlay(n)->tintColors;
  ASSERT_EQ(mid.size(), 3u);
  EXPECT_NEAR(mid[0].red, 0.5, 1e-9);
  EXPECT_NEAR(mid[0].blue, 0.5, 1e-9);
  EXPECT_NEAR(mid[1].alpha, 0.7, 1e-9);
  EXPECT_NEAR(desktop.overlay(n)->tintOpacity, 0.75, 1e-9);  // from 0.5 on screen
  EXPECT_EQ(desktop.overlay(n)->tintAnimation, Animation::fade());
  EXPECT_EQ(desktop.callCount(n, SurfaceCall::setTint), 2);
  EXPECT_EQ(desktop.callCount(n, SurfaceCall::setAlpha), 5);
}

TEST(SimDesktopLifetime, TokensSurfacesAndObserversMayOutliveTheDesktop) {
  auto desktop = std::make_unique<SimDesktop>();
  auto surface = desktop->overlaySurfaces().createSurface(kMain);
  auto observer =
      desktop->accessibility().createObserver(desktop->launchApp("a"), [](std::string_view) {});
  Cancellable token = desktop->displays().observeChanges([] {});
  desktop.reset();
  surface->orderFront();
  EXPECT_FALSE(observer->addNotification(kWindowMoved));
  token.cancel();
  surface.reset();
  observer.reset();
}

}  // namespace
}  // namespace dunelo::sim
