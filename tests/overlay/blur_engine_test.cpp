#include "overlay/blur_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/sim/sim_desktop.h"
#include "support/log_capture.h"

namespace dunelo {
namespace {

using sim::OverlaySnapshot;
using sim::SimDesktop;
using sim::SurfaceCall;
using ::testing::ElementsAre;

const ScreenInfo kMain{Rect(0, 0, 1440, 900), 2.0, 1};
const ScreenInfo kSide{Rect(1440, 0, 1920, 1080), 1.0, 2};

// One screen, an editor in front with a focused window, an engine at its defaults, and the debug
// log redirected to a file of the test's own.
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
  ~Engine() override { engine.reset(); }

  void makeEngine() {
    engine = std::make_unique<BlurEngine>(d.displays(), d.overlaySurfaces(), d.workspace(),
                                          d.accessibility(), d.windowList(), d.scheduler());
  }

  // Shows the overlays and waits until the ordering loop runs; its ticks then fall exactly at the
  // end of every later advance(kOrderingInterval).
  void showAndSettle() {
    engine->isActive = true;
    d.advance(kPollingStartDelay);
    ASSERT_TRUE(engine->isPolling());
  }
  void tick(int count = 1) {
    for (int i = 0; i < count; ++i) d.advance(kOrderingInterval);
  }

  std::vector<OverlaySnapshot> overlays() const {
    std::vector<OverlaySnapshot> out;
    for (WindowNumber n : d.overlays()) out.push_back(*d.overlay(n));
    return out;
  }
  OverlaySnapshot only() const {
    EXPECT_EQ(d.overlayCount(), 1u);
    return *d.overlay(d.overlays().front());
  }

  std::vector<std::string> logLines() const { return log.messages(); }

  dunelo::testing::LogCapture log;
  SimDesktop d;
  ProcessID editor = 0;
  WindowNumber window = 0;
  std::unique_ptr<BlurEngine> engine;
};

TEST(BlurEngineAlpha, TargetAlphaSpansTheModesRange) {
  struct Case {
    double radius;
    BlurMode mode;
    double alpha;
  };
  const Case cases[] = {
      {70, BlurMode::deep, 0.808},  {70, BlurMode::ambient, 0.493}, {0, BlurMode::deep, 0.36},
      {0, BlurMode::ambient, 0.36}, {100, BlurMode::deep, 1.0},     {100, BlurMode::ambient, 0.55},
      {150, BlurMode::deep, 1.32},  // not clamped
  };
  SimDesktop d;
  BlurEngine engine(d.displays(), d.overlaySurfaces(), d.workspace(), d.accessibility(),
                    d.windowList(), d.scheduler());
  EXPECT_EQ(engine.blurRadius(), 70.0);
  EXPECT_EQ(engine.blurMode(), BlurMode::deep);
  for (const auto& c : cases) {
    engine.setBlurRadius(c.radius);
    engine.setBlurMode(c.mode);
    EXPECT_NEAR(engine.targetAlpha(), c.alpha, 1e-12) << c.radius << " " << rawValue(c.mode);
  }
  // The ambient span is 0.55 - 0.36 in double precision, which differs from 0.19 in the last bit
  // of some results.
  engine.setBlurRadius(50);
  engine.setBlurMode(BlurMode::ambient);
  EXPECT_EQ(engine.targetAlpha(), 0.36 + 0.5 * (0.55 - 0.36));
  EXPECT_NE(engine.targetAlpha(), 0.36 + 0.5 * 0.19);
}

TEST_F(Engine, ShowBuildsOverlaysBelowTheFocusedWindowAndFadesThemIn) {
  EXPECT_EQ(d.overlayCount(), 0u);  // nothing before the first rebuild
  engine->isActive = true;

  const auto o = only();
  EXPECT_TRUE(o.onScreen);
  EXPECT_EQ(d.directlyBelow(o.windowNumber), window);
  EXPECT_EQ(o.alpha, 0.0);
  EXPECT_NEAR(o.targetAlpha, 0.808, 1e-12);
  EXPECT_EQ(o.alphaAnimation, Animation::fade());
  EXPECT_THAT(logLines(),
              ElementsAre("[BlurEngine] rebuildOverlayWindows: 1 screen(s), 1 overlay(s)",
                          "[BlurEngine]   screen 1: frame=(0.0, 0.0, 1440.0, 900.0)"));

  d.advance(0.3);
  EXPECT_NEAR(only().alpha, 0.808, 1e-12);
  d.advance(kPollingStartDelay - 0.3 - 0.001);
  EXPECT_FALSE(engine->isPolling());
  d.advance(0.002);
  EXPECT_TRUE(engine->isPolling());
}

TEST_F(Engine, HideFadesOutAtOnceAndOrdersOutLater) {
  showAndSettle();
  engine->isActive = false;
  EXPECT_FALSE(engine->isPolling());
  EXPECT_EQ(only().targetAlpha, 0.0);
  EXPECT_EQ(only().alphaAnimation, Animation::fade());
  d.advance(kOrderOutDelay - 0.001);
  EXPECT_TRUE(only().onScreen);
  EXPECT_EQ(only().alpha, 0.0);
  d.advance(0.002);
  EXPECT_FALSE(only().onScreen);
}

TEST_F(Engine, DelayedTasksActOnTheStateTheyFindNotTheOneTheyWereMadeIn) {
  // On, off and on again within the delay: the pending order-out does nothing, and the polling
  // start of the second show runs.
  engine->isActive = true;
  d.advance(0.1);
  engine->isActive = false;
  d.advance(0.1);
  engine->isActive = true;
  d.advance(kOrderOutDelay);
  EXPECT_TRUE(only().onScreen);
  EXPECT_NEAR(only().alpha, 0.808, 1e-12);
  EXPECT_TRUE(engine->isPolling());

  // On and off within the delay: the pending polling start does nothing.
  engine->isActive = false;
  d.advance(1.0);
  engine->isActive = true;
  d.advance(0.1);
  engine->isActive = false;
  d.advance(1.0);
  EXPECT_FALSE(engine->isPolling());
  EXPECT_FALSE(only().onScreen);
}

TEST_F(Engine, ShowingAgainWhileActiveDropsToZeroAndFadesBackIn) {
  showAndSettle();
  d.advance(1.0);
  engine->isActive = true;
  EXPECT_EQ(only().alpha, 0.0);
  d.advance(0.3);
  EXPECT_NEAR(only().alpha, 0.808, 1e-12);
  EXPECT_TRUE(engine->isPolling());
}

TEST_F(Engine, WindowSwitchInsideTheApplicationReordersOnTheNextTick) {
  showAndSettle();
  const WindowNumber overlay = only().windowNumber;
  const WindowNumber second = d.openWindow(editor, Rect(300, 200, 500, 400));
  EXPECT_EQ(d.directlyBelow(overlay), window);  // untouched until the loop runs
  tick();
  EXPECT_EQ(d.directlyBelow(overlay), second);
  d.focusWindow(window);
  tick();
  EXPECT_EQ(d.directlyBelow(overlay), window);
  EXPECT_EQ(d.callCount(overlay, SurfaceCall::orderOut), 0);
  EXPECT_EQ(engine->lastFocusedWindowNumber(), window);
}

TEST_F(Engine, ApplicationSwitchHidesBrieflyThenReshowsWithoutAFade) {
  showAndSettle();
  const WindowNumber overlay = only().windowNumber;
  const ProcessID browser = d.launchApp("org.example.Browser");
  const WindowNumber page = d.openWindow(browser, Rect(50, 50, 1000, 700));
  d.activate(browser);
  tick();
  EXPECT_TRUE(engine->isResettingOrder());
  EXPECT_FALSE(only().onScreen);

  // Ticks are skipped meanwhile, whatever happens.
  d.openWindow(browser, Rect(60, 60, 900, 600), {.focus = false});
  d.advance(kReshowDelay - 0.001);
  EXPECT_FALSE(only().onScreen);

  d.advance(0.002);
  EXPECT_FALSE(engine->isResettingOrder());
  const auto o = only();
  EXPECT_TRUE(o.onScreen);
  EXPECT_EQ(d.directlyBelow(overlay), page);
  EXPECT_NEAR(o.alpha, 0.808, 1e-12);
  EXPECT_EQ(o.alphaAnimation, Animation::none());
  EXPECT_EQ(engine->lastFocusedPID(), browser);
}

TEST_F(Engine, SwitchedOffDuringTheReshowDelayStaysHidden) {
  showAndSettle();
  const ProcessID browser = d.launchApp("org.example.Browser");
  d.openWindow(browser, Rect(50, 50, 1000, 700));
  d.activate(browser);
  tick();
  ASSERT_TRUE(engine->isResettingOrder());
  engine->isActive = false;
  d.advance(1.0);
  EXPECT_FALSE(engine->isResettingOrder());
  EXPECT_FALSE(only().onScreen);
}

TEST_F(Engine, OverlaysStayPutWhileNoFocusedWindowIsFound) {
  showAndSettle();
  d.clearFocusedWindow(editor);
  const auto before = d.stackingOrder();
  tick(10);
  EXPECT_EQ(d.stackingOrder(), before);
  // Nor does a frontmost application without windows count as a switch.
  const ProcessID empty = d.launchApp("org.example.Empty");
  d.activate(empty);
  tick(10);
  EXPECT_FALSE(engine->isResettingOrder());
  EXPECT_EQ(engine->lastFocusedPID(), editor);
}

TEST_F(Engine, DisplaysComeAndGoWithTheirOverlays) {
  showAndSettle();
  const WindowNumber mainOverlay = only().windowNumber;

  // Connected while active: ordered front at the default alpha, no alpha of its own yet.
  d.addScreen(kSide);
  d.runUntilIdle();
  ASSERT_EQ(d.overlayCount(), 2u);
  const WindowNumber sideOverlay = d.overlays().back();
  auto side = *d.overlay(sideOverlay);
  EXPECT_TRUE(side.onScreen);
  EXPECT_EQ(side.alpha, 1.0);
  EXPECT_EQ(d.callCount(sideOverlay, SurfaceCall::setAlpha), 0);
  EXPECT_EQ(side.frame, kSide.frame);
  tick();
  EXPECT_EQ(d.directlyBelow(sideOverlay), window);
  EXPECT_EQ(d.directlyBelow(mainOverlay), window);

  // A new frame for a known display: only the frame follows, the grain stays.
  const auto grain = d.overlay(mainOverlay)->grainImage;
  const ScreenInfo bigger{Rect(0, 0, 1680, 1050), 2.0, 1};
  d.reconfigureScreen(0, bigger);
  d.runUntilIdle();
  EXPECT_EQ(d.overlay(mainOverlay)->frame, bigger.frame);
  EXPECT_EQ(d.overlay(mainOverlay)->grainImage, grain);
  EXPECT_EQ(d.overlaysCreated(), 2);

  // Disconnected: ordered out and dropped.
  d.removeScreen(0);
  d.runUntilIdle();
  EXPECT_EQ(d.overlay(mainOverlay), std::nullopt);
  EXPECT_EQ(engine->overlayCount(), 1u);
  EXPECT_NE(engine->overlay(2), nullptr);
  EXPECT_EQ(d.callCount(sideOverlay, SurfaceCall::orderOut), 0);
}

TEST_F(Engine, ScreensWithoutANumberShareOneOverlay) {
  const ScreenInfo left{Rect(0, 0, 1440, 900), 1.0, std::nullopt};
  const ScreenInfo right{Rect(1440, 0, 1280, 1024), 1.0, std::nullopt};
  d.setScreens({left, right});
  d.runUntilIdle();  // a change while inactive rebuilds too, without showing anything
  const auto o = only();
  EXPECT_FALSE(o.onScreen);
  EXPECT_EQ(o.frame, right.frame);
  EXPECT_NE(engine->overlay(0), nullptr);
  EXPECT_THAT(logLines(),
              ElementsAre("[BlurEngine] rebuildOverlayWindows: 2 screen(s), 1 overlay(s)",
                          "[BlurEngine]   screen 0: frame=(0.0, 0.0, 1440.0, 900.0)",
                          "[BlurEngine]   screen 0: frame=(1440.0, 0.0, 1280.0, 1024.0)"));
}

TEST_F(Engine, AppearanceSetWithoutOverlaysReachesOverlaysMadeLater) {
  const Color teal = Color::srgb(0.0, 0.5, 0.5);
  engine->setTint(teal, 0.3);
  engine->setGrainIntensity(0.4);
  engine->setGrayscale(true);
  engine->setBlurMode(BlurMode::ambient);
  engine->setBlurRadius(50);
  EXPECT_EQ(d.overlayCount(), 0u);

  d.addScreen(kSide);
  engine->isActive = true;
  d.advance(0.3);
  ASSERT_EQ(d.overlayCount(), 2u);
  for (const auto& o : overlays()) {
    EXPECT_EQ(o.material, BlurMaterial::ambient);
    const Color c = Color::deviceRGB(0.0, 0.5, 0.5);
    EXPECT_THAT(o.tintColors, ElementsAre(c, c.withAlpha(0.4), c.withAlpha(0.0)));
    EXPECT_FLOAT_EQ(static_cast<float>(o.tintOpacity), 0.3f);
    EXPECT_EQ(o.grainOpacity, 0.4f);
    EXPECT_EQ(o.grayscaleOpacity, 1.0f);
    EXPECT_EQ(o.alpha, 0.36 + 0.5 * 0.19000000000000006);
  }
}

TEST_F(Engine, TheInitialTintIsTheAccentColourAtNoStrength) {
  engine->isActive = true;
  const auto o = only();
  ASSERT_EQ(o.targetTintColors.size(), 3u);
  EXPECT_EQ(o.targetTintColors[0], engine->currentTintColor().toDeviceRGB());
  EXPECT_EQ(o.targetTintOpacity, 0.0);
}

TEST_F(Engine, AppearanceChangesOnLiveOverlays) {
  showAndSettle();
  const WindowNumber n = only().windowNumber;

  // Grain and grayscale change at once; the tint fades.
  engine->setGrainIntensity(0.25);
  engine->setGrayscale(true);
  engine->setTint(Color::srgb(1, 0, 0), 0.5);
  EXPECT_EQ(only().grainOpacity, 0.25f);
  EXPECT_EQ(only().grayscaleOpacity, 1.0f);
  EXPECT_EQ(only().tintAnimation, Animation::fade());
  EXPECT_LT(only().tintOpacity, 0.5);
  engine->setGrayscale(false);
  EXPECT_EQ(only().grayscaleOpacity, 0.0f);

  // Intensity while active: the alpha jumps.
  engine->setBlurRadius(20);
  EXPECT_NEAR(only().alpha, 0.36 + 0.2 * 0.64, 1e-12);
  EXPECT_EQ(only().alphaAnimation, Animation::none());

  // Mode while active: new material, and a fade to the mode's alpha.
  engine->setBlurMode(BlurMode::ambient);
  EXPECT_EQ(only().material, BlurMaterial::ambient);
  EXPECT_EQ(only().alphaAnimation, Animation::fade());
  d.advance(0.3);
  EXPECT_NEAR(only().alpha, 0.36 + 0.2 * 0.19000000000000006, 1e-12);

  // While inactive both are only stored (and the material set); the next show uses them.
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

TEST_F(Engine, SetOverlayAlphaFadesOrJumps) {
  engine->isActive = true;
  d.advance(1.0);
  engine->setOverlayAlpha(0.5, true);
  EXPECT_EQ(only().alphaAnimation, Animation::fade());
  EXPECT_GT(only().alpha, 0.5);
  engine->setOverlayAlpha(0.2, false);
  EXPECT_EQ(only().alpha, 0.2);
}

// Whatever is pending when the engine goes away finds no engine: no surface is touched, nothing
// crashes, and the desktop holds no registration of it.
TEST_F(Engine, ReleasedWhilePendingWorkRemains) {
  const std::pair<const char*, std::function<void(Engine&)>> cases[] = {
      {"polling start pending", [](Engine& t) { t.engine->isActive = true; }},
      {"order-out pending",
       [](Engine& t) {
         t.showAndSettle();
         t.engine->isActive = false;
       }},
      {"ordering loop running", [](Engine& t) { t.showAndSettle(); }},
      {"re-show pending",
       [](Engine& t) {
         t.showAndSettle();
         const ProcessID other = t.d.launchApp("org.example.Other");
         t.d.openWindow(other, Rect(0, 0, 300, 300));
         t.d.activate(other);
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
    d.addScreen(kSide);
    d.advance(2.0);
    d.removeScreen(1);
    d.runUntilIdle();
    double next = 0;
    EXPECT_FALSE(d.scheduler().nextDue(&next)) << "due at " << next;
  }
}

// One minute at 60 Hz with windows opening, moving, resizing, closing and taking focus, and
// applications coming to the front. After every tick each overlay sits directly below the
// frontmost application's focused window; while an application switch is being handled the
// overlays are off screen; when no focused window is found the tick leaves the stack alone.
TEST(BlurEngineMinute, OverlaysFollowTheFocusedWindowAtEveryTick) {
  SimDesktop d;
  d.addScreen(kMain);
  d.addScreen(kSide);
  std::mt19937 rng(20261206);
  auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; };
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };

  // Sizes never repeat, so no two windows of an application match the same frame.
  int sizeSerial = 0;
  auto freshFrame = [&] {
    ++sizeSerial;
    return Rect(double(pick(2400)), double(pick(700)), 200.0 + 3 * sizeSerial,
                150.0 + 2 * sizeSerial);
  };

  std::vector<ProcessID> apps;
  std::map<WindowNumber, ProcessID> owner;  // the applications' open windows
  for (int i = 0; i < 4; ++i) {
    apps.push_back(d.launchApp("org.example.App" + std::to_string(i)));
    for (int w = 0; w <= i % 3; ++w) owner[d.openWindow(apps.back(), freshFrame())] = apps.back();
  }
  d.activate(apps[0]);
  d.runUntilIdle();

  BlurEngine engine(d.displays(), d.overlaySurfaces(), d.workspace(), d.accessibility(),
                    d.windowList(), d.scheduler());
  engine.isActive = true;
  d.advance(kPollingStartDelay);
  ASSERT_TRUE(engine.isPolling());

  int resets = 0, reorders = 0, unfound = 0;
  for (int t = 0; t < 60 * 60; ++t) {
    // The user and the applications.
    const ProcessID front = *d.frontmostPID();
    if (chance(0.08)) {
      const ProcessID pid = chance(0.7) ? front : apps[pick(apps.size())];
      owner[d.openWindow(pid, freshFrame(), {.focus = chance(0.9)})] = pid;
    }
    if (chance(0.06) && !owner.empty()) {
      auto it = std::next(owner.begin(), static_cast<long>(pick(owner.size())));
      d.closeWindow(it->first);
      owner.erase(it);
    }
    if (chance(0.2) && !owner.empty()) {
      const WindowNumber n = std::next(owner.begin(), static_cast<long>(pick(owner.size())))->first;
      if (chance(0.5)) {
        d.moveWindow(n, {double(pick(2400)), double(pick(700))});
      } else {
        d.resizeWindow(n, freshFrame().size);
      }
    }
    if (chance(0.05)) {
      std::vector<WindowNumber> mine;
      for (const auto& [n, pid] : owner) {
        if (pid == front) mine.push_back(n);
      }
      if (!mine.empty()) d.focusWindow(mine[pick(mine.size())]);
    }
    if (chance(0.03)) d.activate(apps[pick(apps.size())]);
    if (chance(0.01)) d.clearFocusedWindow(front);

    const auto stackBefore = d.stackingOrder();
    const bool resettingBefore = engine.isResettingOrder();
    d.advance(kOrderingInterval);

    SCOPED_TRACE(::testing::Message() << "tick " << t);
    const auto overlays = d.overlays();
    ASSERT_EQ(overlays.size(), 2u);
    if (engine.isResettingOrder()) {
      if (!resettingBefore) ++resets;
      for (WindowNumber o : overlays) ASSERT_FALSE(d.overlay(o)->onScreen);
      continue;
    }
    const auto focused = d.frontmostPID() ? d.focusedWindowOf(*d.frontmostPID()) : std::nullopt;
    if (focused) {
      ++reorders;
      for (WindowNumber o : overlays) {
        ASSERT_TRUE(d.overlay(o)->onScreen);
        ASSERT_EQ(d.directlyBelow(o), focused);
        ASSERT_NEAR(d.overlay(o)->alpha, engine.targetAlpha(), 1e-12);
      }
    } else if (!resettingBefore) {
      ++unfound;
      ASSERT_EQ(d.stackingOrder(), stackBefore);
    }
  }
  // The run exercised every branch.
  EXPECT_GT(resets, 20);
  EXPECT_GT(reorders, 2000);
  EXPECT_GT(unfound, 5);
}

}  // namespace
}  // namespace dunelo
