#include "overlay/blur_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/sim/sim_desktop.h"
#include "settings/settings_manager.h"
#include "support/log_capture.h"

namespace dunelo {
namespace {

using sim::OverlaySnapshot;
using sim::SimDesktop;
using sim::SurfaceCall;
using ::testing::ElementsAre;

const ScreenInfo kMain{Rect(0, 0, 1440, 900), 2.0, 1};
const ScreenInfo kSide{Rect(1440, 0, 1920, 1080), 1.0, 2};
constexpr double kDeep70 = 0.808;  // targetAlpha at the defaults

// One screen, an editor in front with a focused window, an engine at its defaults.
class Engine : public ::testing::Test {
 public:
  Engine() {
    d.addScreen(kMain);
    editor = d.launchApp("org.example.Editor");
    d.activate(editor);
    window = d.openWindow(editor, Rect(100, 100, 800, 600));
    d.runUntilIdle();
    makeEngine();
  }
  void makeEngine() {
    engine = std::make_unique<BlurEngine>(d.displays(), d.overlaySurfaces(), d.workspace(),
                                          d.accessibility(), d.windowList(), d.scheduler());
  }
  // Shows the overlays and waits until ordering passes follow the window list.
  void showAndSettle() {
    engine->isActive = true;
    d.advance(kPollingStartDelay);
    ASSERT_TRUE(engine->isFollowingChanges());
  }
  // Sets each state 0.1 s after the last (all within the show and hide delays), then waits 1 s.
  void toggle(std::initializer_list<bool> states) {
    for (bool on : states) {
      engine->isActive = on;
      d.advance(0.1);
    }
    d.advance(0.9);
  }
  void tick(int count = 1) {
    for (int i = 0; i < count; ++i) d.advance(1.0 / 60);
  }
  OverlaySnapshot only() const {
    EXPECT_EQ(d.overlayCount(), 1u);
    return *d.overlay(d.overlays().front());
  }
  ProcessID switchToNewApp() {
    const ProcessID app = d.launchApp("org.example.Browser");
    page = d.openWindow(app, Rect(50, 50, 1000, 700));
    d.activate(app);
    return app;
  }

  dunelo::testing::LogCapture log;
  SimDesktop d;
  ProcessID editor = 0;
  WindowNumber window = 0, page = 0;
  std::unique_ptr<BlurEngine> engine;
};

TEST_F(Engine, TargetAlphaSpansTheModesRange) {
  const std::tuple<double, BlurMode, double> cases[] = {
      {70, BlurMode::deep, 0.808}, {70, BlurMode::ambient, 0.493}, {0, BlurMode::ambient, 0.36},
      {100, BlurMode::deep, 1.0},  {100, BlurMode::ambient, 0.55}, {150, BlurMode::deep, 1.32}};
  for (const auto& [radius, mode, alpha] : cases) {
    engine->setBlurRadius(radius);
    engine->setBlurMode(mode);
    EXPECT_NEAR(engine->targetAlpha(), alpha, 1e-12) << radius << " " << rawValue(mode);
  }
}

TEST_F(Engine, ShowFadesInBelowTheFocusedWindowAndHideFadesOutThenOrdersOut) {
  EXPECT_EQ(d.overlayCount(), 0u);  // nothing before the first rebuild
  engine->isActive = true;
  auto o = only();
  EXPECT_TRUE(o.onScreen);
  EXPECT_EQ(d.directlyBelow(o.windowNumber), window);
  EXPECT_EQ(o.alpha, 0.0);
  EXPECT_NEAR(o.targetAlpha, kDeep70, 1e-12);
  EXPECT_EQ(o.alphaAnimation, Animation::fade());
  EXPECT_THAT(log.messages(),
              ElementsAre("[BlurEngine] rebuildOverlayWindows: 1 screen(s), 1 overlay(s)",
                          "[BlurEngine]   screen 1: frame=(0.0, 0.0, 1440.0, 900.0)"));
  d.advance(0.349);  // passes follow changes from 0.35 s after the show
  EXPECT_NEAR(only().alpha, kDeep70, 1e-12);
  EXPECT_FALSE(engine->isFollowingChanges());
  d.advance(0.002);
  EXPECT_TRUE(engine->isFollowingChanges());

  engine->isActive = false;
  EXPECT_FALSE(engine->isFollowingChanges());
  EXPECT_EQ(only().targetAlpha, 0.0);
  EXPECT_EQ(only().alphaAnimation, Animation::fade());
  d.advance(0.349);  // ordered out 0.35 s after the hide
  EXPECT_TRUE(only().onScreen);
  d.advance(0.002);
  EXPECT_FALSE(only().onScreen);
}

TEST_F(Engine, DelayedTasksActOnTheStateTheyFind) {
  // On, off, on within the delay: the pending order-out does nothing; the second show polls.
  toggle({true, false, true});
  EXPECT_TRUE(only().onScreen);
  EXPECT_NEAR(only().alpha, kDeep70, 1e-12);
  EXPECT_TRUE(engine->isFollowingChanges());

  // Showing again while shown drops to zero and fades back in.
  engine->isActive = true;
  EXPECT_EQ(only().alpha, 0.0);
  d.advance(0.3);
  EXPECT_NEAR(only().alpha, kDeep70, 1e-12);

  // Off, on, off within the delay: the pending polling start does nothing.
  toggle({false, true, false});
  EXPECT_FALSE(engine->isFollowingChanges());
  EXPECT_FALSE(only().onScreen);
}

// Focus moving inside the frontmost application is followed within an interval; a switch to another
// application hides the overlays briefly and re-shows them below its window without a fade.
TEST_F(Engine, OverlaysFollowTheFocusedWindowAcrossWindowsAndApplications) {
  showAndSettle();
  const WindowNumber overlay = only().windowNumber;
  const WindowNumber second = d.openWindow(editor, Rect(300, 200, 500, 400));
  EXPECT_EQ(d.directlyBelow(overlay), window);  // untouched until the pass runs
  tick();
  EXPECT_EQ(d.directlyBelow(overlay), second);
  EXPECT_EQ(d.callCount(overlay, SurfaceCall::orderOut), 0);

  const ProcessID browser = switchToNewApp();
  tick();
  EXPECT_TRUE(engine->isResettingOrder());
  EXPECT_FALSE(only().onScreen);
  d.advance(0.079);  // re-shown 0.08 s later; passes skip meanwhile
  EXPECT_FALSE(only().onScreen);
  d.advance(0.002);
  EXPECT_FALSE(engine->isResettingOrder());
  EXPECT_TRUE(only().onScreen);
  EXPECT_EQ(d.directlyBelow(overlay), page);
  EXPECT_NEAR(only().alpha, kDeep70, 1e-12);
  EXPECT_EQ(only().alphaAnimation, Animation::none());
  EXPECT_EQ(engine->lastFocusedPID(), browser);

  // No focused window found: the overlays stay where they are, and an application without
  // windows in front does not count as a switch.
  d.clearFocusedWindow(browser);
  d.activate(d.launchApp("org.example.Empty"));
  const auto before = d.stackingOrder();
  tick(10);
  EXPECT_EQ(d.stackingOrder(), before);
  EXPECT_FALSE(engine->isResettingOrder());
  EXPECT_EQ(engine->lastFocusedPID(), browser);

  // Switched off while a re-show is pending: the overlays stay away.
  d.activate(editor);
  tick();
  ASSERT_TRUE(engine->isResettingOrder());
  engine->isActive = false;
  d.advance(1.0);
  EXPECT_FALSE(engine->isResettingOrder());
  EXPECT_FALSE(only().onScreen);
}

TEST_F(Engine, DisplaysComeAndGoWithTheirOverlays) {
  showAndSettle();
  const WindowNumber mainOverlay = only().windowNumber;
  // Connected while active: ordered front at the default alpha.
  d.addScreen(kSide);
  d.runUntilIdle();
  ASSERT_EQ(d.overlayCount(), 2u);
  const WindowNumber sideOverlay = d.overlays().back();
  EXPECT_TRUE(d.overlay(sideOverlay)->onScreen);
  EXPECT_EQ(d.overlay(sideOverlay)->alpha, 1.0);
  EXPECT_EQ(d.callCount(sideOverlay, SurfaceCall::setAlpha), 0);
  tick();
  EXPECT_EQ(d.directlyBelow(sideOverlay), window);
  EXPECT_EQ(d.directlyBelow(mainOverlay), window);

  // A new frame for a known display: only the frame follows.
  const auto grain = d.overlay(mainOverlay)->grainImage;
  d.reconfigureScreen(0, {Rect(0, 0, 1680, 1050), 2.0, 1});
  d.runUntilIdle();
  EXPECT_EQ(d.overlay(mainOverlay)->frame, Rect(0, 0, 1680, 1050));
  EXPECT_EQ(d.overlay(mainOverlay)->grainImage, grain);

  // Disconnected: ordered out and dropped.
  d.removeScreen(0);
  d.runUntilIdle();
  EXPECT_EQ(d.overlay(mainOverlay), std::nullopt);
  EXPECT_EQ(engine->overlayCount(), 1u);
  EXPECT_EQ(d.overlaysCreated(), 2);
}

TEST_F(Engine, ScreensWithoutANumberShareOneOverlay) {
  const ScreenInfo right{Rect(1440, 0, 1280, 1024), 1.0, std::nullopt};
  d.setScreens({{Rect(0, 0, 1440, 900), 1.0, std::nullopt}, right});
  d.runUntilIdle();  // a change while inactive rebuilds too, showing nothing
  EXPECT_FALSE(only().onScreen);
  EXPECT_EQ(only().frame, right.frame);
  EXPECT_NE(engine->overlay(0), nullptr);
  EXPECT_THAT(log.messages(),
              ElementsAre("[BlurEngine] rebuildOverlayWindows: 2 screen(s), 1 overlay(s)",
                          "[BlurEngine]   screen 0: frame=(0.0, 0.0, 1440.0, 900.0)",
                          "[BlurEngine]   screen 0: frame=(1440.0, 0.0, 1280.0, 1024.0)"));
}

// Appearance set before any overlay exists reaches every overlay made later; on live overlays grain
// and grayscale change at once, the tint fades, the intensity jumps and a new mode fades.
TEST_F(Engine, AppearanceReachesNewAndLiveOverlays) {
  EXPECT_EQ(engine->currentTintColor(), accentColor());
  engine->setTint(Color::srgb(0.0, 0.5, 0.5), 0.3);
  engine->setGrainIntensity(0.4);
  engine->setGrayscale(true);
  engine->setBlurMode(BlurMode::ambient);
  engine->setBlurRadius(50);
  d.addScreen(kSide);
  showAndSettle();
  ASSERT_EQ(d.overlayCount(), 2u);
  const Color c = Color::deviceRGB(0.0, 0.5, 0.5);
  for (WindowNumber n : d.overlays()) {
    const auto o = *d.overlay(n);
    EXPECT_EQ(o.material, BlurMaterial::ambient);
    EXPECT_THAT(o.tintColors, ElementsAre(c, c.withAlpha(0.4), c.withAlpha(0.0)));
    EXPECT_FLOAT_EQ(static_cast<float>(o.tintOpacity), 0.3f);
    EXPECT_EQ(o.grainOpacity, 0.4f);
    EXPECT_EQ(o.grayscaleOpacity, 1.0f);
    // The ambient span is 0.55 - 0.36 in double precision, not 0.19: they differ in the last bit.
    EXPECT_EQ(o.alpha, 0.36 + 0.5 * (0.55 - 0.36));
    EXPECT_NE(o.alpha, 0.36 + 0.5 * 0.19);
  }
  d.removeScreen(1);
  d.runUntilIdle();
  const WindowNumber n = only().windowNumber;

  engine->setGrainIntensity(0.25);
  engine->setGrayscale(false);
  engine->setTint(Color::srgb(1, 0, 0), 0.5);
  EXPECT_EQ(only().grainOpacity, 0.25f);
  EXPECT_EQ(only().grayscaleOpacity, 0.0f);
  EXPECT_EQ(only().tintAnimation, Animation::fade());
  engine->setBlurMode(BlurMode::deep);
  engine->setBlurRadius(20);  // active: the alpha jumps
  EXPECT_NEAR(only().alpha, 0.36 + 0.2 * 0.64, 1e-12);
  engine->setBlurMode(BlurMode::ambient);  // active: new material and a fade
  EXPECT_EQ(only().material, BlurMaterial::ambient);
  EXPECT_EQ(only().alphaAnimation, Animation::fade());
  EXPECT_NEAR(only().targetAlpha, 0.36 + 0.2 * 0.19000000000000006, 1e-12);

  // Inactive: intensity is only stored, the mode only sets the material; the next show uses both.
  engine->isActive = false;
  d.advance(1.0);
  const int alphaCalls = d.callCount(n, SurfaceCall::setAlpha);
  engine->setBlurRadius(100);
  engine->setBlurMode(BlurMode::deep);
  EXPECT_EQ(d.callCount(n, SurfaceCall::setAlpha), alphaCalls);
  EXPECT_EQ(only().material, BlurMaterial::deep);
  engine->isActive = true;
  d.advance(0.3);
  EXPECT_EQ(only().alpha, 1.0);
}

// Whatever is pending when the engine goes away finds no engine: nothing runs on freed memory
// (checked under the sanitizers), no work stays queued, no registration stays behind.
TEST_F(Engine, ReleasedWhileWorkIsPending) {
  const std::pair<const char*, std::function<void(Engine&)>> cases[] = {
      {"polling start", [](Engine& t) { t.engine->isActive = true; }},
      {"following changes", [](Engine& t) { t.showAndSettle(); }},
      {"order-out",
       [](Engine& t) {
         t.showAndSettle();
         t.engine->isActive = false;
       }},
      {"re-show",
       [](Engine& t) {
         t.showAndSettle();
         t.switchToNewApp();
         t.tick();
         ASSERT_TRUE(t.engine->isResettingOrder());
       }},
  };
  for (const auto& [name, prepare] : cases) {
    SCOPED_TRACE(name);
    makeEngine();
    prepare(*this);
    engine.reset();
    EXPECT_EQ(d.overlayCount(), 0u);
    EXPECT_EQ(d.screenObserverCount(), 0u);
    EXPECT_EQ(d.windowListObserverCount(), 0u);
    d.addScreen(kSide);
    d.advance(2.0);
    d.removeScreen(1);
    d.runUntilIdle();
    EXPECT_FALSE(d.scheduler().nextDue(nullptr));
  }
}

// Passes follow the window list's reports: none while nothing changes (no timer is even due), one
// per interval however many changes it brought, and never two within an interval; hidden, the
// engine stops listening.
TEST_F(Engine, OrderingPassesComeFromChangesAtMostSixtyASecond) {
  std::vector<double> passes;
  Cancellable listening =
      engine->orderingPassed.subscribe([&](const int&) { passes.push_back(d.now()); });
  showAndSettle();
  d.advance(1.0);
  passes.clear();
  d.advance(30.0);
  EXPECT_TRUE(passes.empty());
  EXPECT_FALSE(d.scheduler().nextDue(nullptr)) << "an idle overlay schedules nothing";
  EXPECT_EQ(d.windowListObserverCount(), 1u);

  // A burst: another window comes to the front, then the focused one moves and is lowered
  // behind it. One pass, and the overlay is directly below the focused window.
  const WindowNumber overlay = only().windowNumber;
  const WindowNumber other = d.openWindow(d.launchApp("org.example.Other"), Rect(0, 0, 90, 90));
  d.moveWindow(window, {120, 130});
  d.raiseWindow(other);
  tick();
  EXPECT_EQ(passes.size(), 1u);
  EXPECT_EQ(d.directlyBelow(overlay), window);
  EXPECT_EQ(d.windowAbove(window), other);

  // Changes four times an interval for a second: passes keep up, an interval apart.
  passes.clear();
  for (int i = 0; i < 240; ++i) {
    d.moveWindow(other, {double(i), 0});
    d.advance(1.0 / 240);
  }
  EXPECT_GE(passes.size(), 55u);
  EXPECT_LE(passes.size(), 61u);
  for (size_t i = 1; i < passes.size(); ++i)
    EXPECT_GE(passes[i] - passes[i - 1], kOrderingInterval - 1e-9) << i;
  tick();
  EXPECT_EQ(d.directlyBelow(overlay), window);

  engine->isActive = false;
  EXPECT_EQ(d.windowListObserverCount(), 0u);
  passes.clear();
  d.raiseWindow(window);
  d.advance(1.0);
  EXPECT_TRUE(passes.empty());
}

// One minute, a sixtieth of a second at a time, with windows opening, moving, resizing, closing
// and taking focus, and applications coming to the front. After every step each overlay sits
// directly below the frontmost application's focused window; while an application switch is
// handled the overlays are off screen; when no focused window is found the stack stays alone.
TEST_F(Engine, OverlaysFollowTheFocusedWindowAtEveryTickForAMinute) {
  d.addScreen(kSide);
  std::mt19937 rng(20261206);
  auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; };
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  int serial = 0;  // sizes never repeat, so only the focused window matches its own frame
  auto freshFrame = [&] {
    ++serial;
    return Rect(double(pick(2400)), double(pick(700)), 200.0 + 3 * serial, 150.0 + 2 * serial);
  };

  std::vector<ProcessID> apps{editor};
  std::map<WindowNumber, ProcessID> owner{{window, editor}};
  for (int i = 1; i < 4; ++i) {
    apps.push_back(d.launchApp("org.example.App" + std::to_string(i)));
    for (int w = 0; w <= i % 3; ++w) owner[d.openWindow(apps.back(), freshFrame())] = apps.back();
  }
  showAndSettle();

  int resets = 0, followed = 0, unfound = 0;
  for (int t = 0; t < 60 * 60; ++t) {
    const ProcessID front = *d.frontmostPID();
    auto anyWindow = [&] { return std::next(owner.begin(), long(pick(owner.size()))); };
    if (chance(0.08)) {
      const ProcessID pid = chance(0.7) ? front : apps[pick(apps.size())];
      owner[d.openWindow(pid, freshFrame(), {.focus = chance(0.9)})] = pid;
    }
    if (chance(0.06) && !owner.empty()) {
      const auto it = anyWindow();
      d.closeWindow(it->first);
      owner.erase(it);
    }
    if (chance(0.2) && !owner.empty()) {
      const WindowNumber n = anyWindow()->first;
      chance(0.5) ? d.moveWindow(n, {double(pick(2400)), double(pick(700))})
                  : d.resizeWindow(n, freshFrame().size);
    }
    if (chance(0.05)) {
      std::vector<WindowNumber> mine;
      for (const auto& [n, pid] : owner)
        if (pid == front) mine.push_back(n);
      if (!mine.empty()) d.focusWindow(mine[pick(mine.size())]);
    }
    if (chance(0.03)) d.activate(apps[pick(apps.size())]);
    if (chance(0.01)) d.clearFocusedWindow(front);

    const auto stackBefore = d.stackingOrder();
    const bool resettingBefore = engine->isResettingOrder();
    d.advance(1.0 / 60);

    SCOPED_TRACE(::testing::Message() << "tick " << t);
    const auto overlays = d.overlays();
    ASSERT_EQ(overlays.size(), 2u);
    if (engine->isResettingOrder()) {
      resets += !resettingBefore;
      for (WindowNumber o : overlays) ASSERT_FALSE(d.overlay(o)->onScreen);
      continue;
    }
    const auto focused = d.focusedWindowOf(*d.frontmostPID());
    if (focused) {
      ++followed;
      for (WindowNumber o : overlays) {
        ASSERT_EQ(d.directlyBelow(o), focused);
        ASSERT_NEAR(d.overlay(o)->alpha, engine->targetAlpha(), 1e-12);
      }
    } else if (!resettingBefore) {
      ++unfound;
      ASSERT_EQ(d.stackingOrder(), stackBefore);
    }
  }
  // The run went through every branch.
  EXPECT_GT(resets, 20);
  EXPECT_GT(followed, 2000);
  EXPECT_GT(unfound, 5);
}

}  // namespace
}  // namespace dunelo
