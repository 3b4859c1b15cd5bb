#include "app/app_coordinator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "app/composition.h"
#include "app/run_apple_script.h"
#include "app/sim_composition.h"
#include "platform/sim/sim_desktop.h"
#include "settings/in_memory_defaults_store.h"
#include "support/log_capture.h"

namespace dunelo {
namespace {

using testing::LogCapture;
using Strings = std::vector<std::string>;

constexpr uint32_t kCmdShift = 0x100000 | 0x20000;
const std::string kRead(kReadDockScript);
const std::string kHide(kHideDockScript);
const std::string kShow(kShowDockScript);

// One 1440x900 screen, an editor in front of Finder (which is excluded by default), permissions
// granted unless a test says otherwise.
class CoordinatorTest : public ::testing::Test {
 protected:
  CoordinatorTest() {
    d.addScreen(ScreenInfo{Rect(0, 0, 1440, 900), 2.0, 1});
    finder = d.launchApp(std::string("com.apple.finder"), "Finder");
    finderWindow = d.openWindow(finder, Rect(100, 100, 600, 400));
    editor = d.launchApp(std::string("com.example.editor"), "Editor");
    editorWindow = d.openWindow(editor, Rect(200, 150, 800, 600));
    d.activate(editor);
    d.runUntilIdle();
  }

  void start() { coordinator = makeAppCoordinator(platform); }
  // Four alternating large moves: one medium-sensitivity shake, completed by the last move.
  void shake() {
    for (int i = 0; i < 4; ++i) {
      if (i > 0) d.advance(0.0625);
      d.mouseMonitors().moveOverOtherApp(i % 2 ? -30.0 : 30.0);
    }
  }
  void switchTo(ProcessID app) {
    d.activate(app);
    d.runUntilIdle();
  }
  bool shown() const { return coordinator->blurEngine.isActive.get(); }
  // Messages since `mark`, without the detector's per-move lines.
  Strings messagesSince(size_t mark) const {
    auto all = log.messages();
    Strings out;
    for (size_t i = mark; i < all.size(); ++i)
      if (all[i].find("mouseMoved") == std::string::npos) out.push_back(all[i]);
    return out;
  }

  LogCapture log;
  sim::SimDesktop d;
  InMemoryDefaultsStore defaults;
  Platform platform = simPlatform(d, defaults);
  ProcessID finder = 0, editor = 0;
  WindowNumber finderWindow = 0, editorWindow = 0;
  std::unique_ptr<AppCoordinator> coordinator;
};

TEST_F(CoordinatorTest, OneShakeFromMouseToHiddenDockThenTheOverlayFollowsAMovingWindow) {
  defaults.setBool("autoHideDockAndMenuBar", true);
  start();
  d.advance(1.0);  // past the first permission poll
  const size_t mark = log.messages().size();

  shake();
  const double changedAt = d.now();

  EXPECT_EQ(messagesSince(mark),
            (Strings{"[ShakeDetector] SHAKE DETECTED! calling onShake",
                     "[AppCoordinator] onShake fired! isActive=false \u2192 toggling",
                     "[BlurEngine] rebuildOverlayWindows: 1 screen(s), 1 overlay(s)",
                     "[BlurEngine]   screen 1: frame=(0.0, 0.0, 1440.0, 900.0)"}));
  const WindowNumber overlay = d.overlays().at(0);
  EXPECT_EQ(d.directlyBelow(overlay), editorWindow);

  // The dock follows one second after the change.
  d.advance(changedAt + 0.99 - d.now());
  EXPECT_TRUE(coordinator->blurEngine.isFollowingChanges());
  EXPECT_TRUE(d.scriptsRun().empty());
  d.advance(0.02);
  EXPECT_EQ(d.scriptsRun(), (Strings{kRead, kHide}));
  EXPECT_EQ(log.messages().back(), "[Dock] Taking control, hiding dock");
  EXPECT_EQ(d.directlyBelow(overlay), editorWindow);

  // Moving the focused window keeps the overlay below it without a new fade or rebuild.
  const int alphaCalls = d.callCount(overlay, sim::SurfaceCall::setAlpha);
  for (int i = 0; i < 5; ++i) {
    d.moveWindow(editorWindow, Point{210.0 + i, 150});
    d.advance(0.05);
  }
  EXPECT_TRUE(shown());
  EXPECT_EQ(d.callCount(overlay, sim::SurfaceCall::setAlpha), alphaCalls);
  EXPECT_NEAR(d.overlay(overlay)->alpha, 0.808, 1e-9);
  EXPECT_EQ(log.messagesStartingWith("[BlurEngine] rebuildOverlayWindows").size(), 1u);
  EXPECT_EQ(d.directlyBelow(overlay), editorWindow);
}

TEST_F(CoordinatorTest, StartUpThenTheHotKeyTogglesSilentlyAndFollowsTheShortcutSettings) {
  defaults.setInteger("globalShortcutKeyCode", 49);
  defaults.setInteger("globalShortcutModifiers", kCmdShift);
  start();

  const auto messages = log.messages();
  const auto started = std::ranges::find(messages, "[ShakeDetector] started, monitor=true");
  const auto done =
      std::ranges::find(messages, "[AppCoordinator] init complete, shakeDetector started");
  ASSERT_NE(done, messages.end());
  EXPECT_LT(started, done);
  EXPECT_EQ(d.registeredHotKeys(),
            (std::vector<sim::RegisteredHotKey>{{49, 0x0300, HotKeyID{0x444E4C4F, 1}}}));
  EXPECT_EQ(d.pressHandlerCount(), 1u);
  EXPECT_EQ(d.updaterStartCount(), 1);
  coordinator->updater.checkForUpdates();
  EXPECT_EQ(d.updateCheckCount(), 1);

  const size_t mark = log.messages().size();

  EXPECT_EQ(d.pressHotKey(49, 0x0300), HotKeys::kHandled);
  EXPECT_TRUE(coordinator->settings.isActive.get());
  EXPECT_TRUE(shown());
  EXPECT_TRUE(log.messagesStartingWith("[AppCoordinator]").size() == 1);  // the init line only
  EXPECT_EQ(messagesSince(mark).size(), 2u);                              // the engine's lines
  d.pressHotKey(49, 0x0300);
  EXPECT_FALSE(coordinator->settings.isActive.get());

  // No key code, or key code 0, removes the hot key; a real one takes effect at once.
  for (std::optional<uint32_t> none : {std::optional<uint32_t>(0), std::optional<uint32_t>()}) {
    coordinator->settings.globalShortcutKeyCode = 12;
    EXPECT_EQ(d.registeredHotKeys().at(0).keyCode, 12u);
    coordinator->settings.globalShortcutKeyCode = none;
    EXPECT_TRUE(d.registeredHotKeys().empty());
    EXPECT_EQ(d.pressHandlerCount(), 0u);
    EXPECT_EQ(d.pressHotKey(12, 0x0300), std::nullopt);
  }
  coordinator->settings.globalShortcutKeyCode = 3;
  coordinator->settings.globalShortcutModifiers = 0x40000;
  EXPECT_EQ(d.registeredHotKeys().at(0).keyCode, 3u);
  EXPECT_EQ(d.registeredHotKeys().at(0).modifiers, 0x1000u);
  d.pressHotKey(3, 0x1000);
  EXPECT_TRUE(coordinator->settings.isActive.get());
}

TEST_F(CoordinatorTest, PermissionGateHoldsSwitchingOnUntilThePollSeesBothGranted) {
  defaults.setBool("autoHideDockAndMenuBar", true);
  d.setAccessibilityTrusted(false);
  start();
  EXPECT_FALSE(coordinator->permissions.hasAccessibility.get());

  shake();
  EXPECT_TRUE(defaults.boolForKey("isActive"));
  EXPECT_FALSE(shown());
  EXPECT_EQ(d.overlaysCreated(), 0);
  d.advance(1.5);
  EXPECT_TRUE(d.scriptsRun().empty());
  EXPECT_TRUE(coordinator->isPollingPermissions());

  const size_t installs = d.mouseMonitors().totalInstalls();
  d.setAccessibilityTrusted(true);
  d.advance(1.0);
  // The poll re-tracked the frontmost application, which brought the overlays up, and installed
  // the mouse monitors afresh.
  EXPECT_TRUE(shown());
  EXPECT_EQ(d.directlyBelow(d.overlays().at(0)), editorWindow);
  EXPECT_EQ(d.mouseMonitors().totalInstalls(), installs + 2);
  EXPECT_EQ(log.messagesStartingWith("[ShakeDetector] started, monitor=true").size(), 2u);
  EXPECT_FALSE(coordinator->isPollingPermissions());

  // Polling is over for good: a revoked permission goes unnoticed.
  d.setAccessibilityTrusted(false);
  d.advance(3.0);
  EXPECT_TRUE(coordinator->permissions.hasAccessibility.get());
}

TEST_F(CoordinatorTest, PermissionPollRunsHalfASecondAfterStartThenEverySecond) {
  const std::pair<double, double> grantAndPollTimes[] = {{0.3, 0.5}, {0.6, 1.5}, {1.7, 2.5}};
  for (const auto& [grantAt, pollAt] : grantAndPollTimes) {
    SCOPED_TRACE(grantAt);
    d.setAccessibilityTrusted(false);
    start();
    const double t0 = d.now();
    d.advance(grantAt);
    d.setAccessibilityTrusted(true);
    d.advance(t0 + pollAt - 0.01 - d.now());
    EXPECT_TRUE(coordinator->isPollingPermissions());
    d.advance(0.02);
    EXPECT_FALSE(coordinator->isPollingPermissions());
    coordinator.reset();
  }
}

TEST_F(CoordinatorTest, FocusHandlersShowWithoutPermissionsAndSwitchingOffAlwaysHides) {
  defaults.setBool("isActive", true);
  d.setAccessibilityTrusted(false);
  start();
  ASSERT_FALSE(coordinator->permissions.hasAccessibility.get());
  // The persisted on state follows the frontmost application, permissions or not.
  EXPECT_TRUE(shown());

  // Switching off must not leave the overlays up just because a permission is missing.
  shake();
  EXPECT_FALSE(coordinator->settings.isActive.get());
  EXPECT_FALSE(shown());
  d.advance(0.4);
  EXPECT_FALSE(d.overlay(d.overlays().at(0))->onScreen);
}

TEST_F(CoordinatorTest,
       ExcludedOrFullScreenFrontmostKeepsOverlaysAwayButOnlyExclusionSkipsTheDock) {
  defaults.setBool("autoHideDockAndMenuBar", true);
  defaults.setInteger("globalShortcutKeyCode", 49);
  switchTo(finder);
  start();
  shake();
  EXPECT_FALSE(shown());
  d.advance(1.5);
  EXPECT_TRUE(d.scriptsRun().empty());

  switchTo(editor);
  EXPECT_TRUE(shown());
  switchTo(finder);
  EXPECT_FALSE(shown());
  d.moveWindow(finderWindow, Point{150, 120});  // republishes the full-screen state
  d.runUntilIdle();
  EXPECT_FALSE(shown());
  switchTo(editor);
  EXPECT_TRUE(shown());

  // A full-screen window hides the overlays and keeps a new switch-on from showing them, but the
  // dock still follows the toggle.
  d.setWindowFrame(editorWindow, Rect(0, 0, 1440, 900));
  d.runUntilIdle();
  EXPECT_FALSE(shown());
  d.pressHotKey(49, 0);  // off
  d.pressHotKey(49, 0);  // on
  EXPECT_FALSE(shown());
  d.advance(1.01);
  EXPECT_EQ(d.scriptsRun(), (Strings{kRead, kHide}));
  d.resizeWindow(editorWindow, Size{800, 600});
  d.runUntilIdle();
  EXPECT_TRUE(shown());

  // The stored "com.apple.finder" stands for the desktop's file manager, as long as it is stored.
  const ProcessID files = d.launchApp(std::string("org.gnome.Nautilus"), "Files");
  d.openWindow(files, Rect(300, 300, 500, 400));
  d.setApplicationAlias("com.apple.finder", "org.gnome.Nautilus");
  switchTo(files);
  EXPECT_FALSE(shown());
  switchTo(editor);
  coordinator->settings.excludedAppBundleIDs = {"org.other"};
  switchTo(files);
  EXPECT_TRUE(shown());

  switchTo(editor);
  // A full-screen window that closes with nothing after it keeps nothing away.
  d.setWindowFrame(editorWindow, Rect(0, 0, 1440, 900));
  d.runUntilIdle();
  EXPECT_FALSE(shown());
  d.closeWindow(editorWindow);
  d.runUntilIdle();
  EXPECT_TRUE(shown());
}

TEST_F(CoordinatorTest, TintHandlersReadBothStoredValuesAfterTheHop) {
  start();
  d.runUntilIdle();
  const Color red = Color::srgb(1, 0, 0);

  coordinator->settings.tintOpacity = 0.4;
  coordinator->settings.tintColor = red;
  EXPECT_NE(coordinator->blurEngine.currentTintColor(), red);  // not before a turn of the queue
  d.runUntilIdle();
  EXPECT_EQ(coordinator->blurEngine.currentTintColor(), red);
  EXPECT_EQ(coordinator->blurEngine.currentTintOpacity(), 0.4);

  const Color blue = Color::srgb(0, 0, 1);
  coordinator->settings.tintColor = blue;  // the colour alone still sends the stored opacity
  d.runUntilIdle();
  EXPECT_EQ(coordinator->blurEngine.currentTintColor(), blue);
  EXPECT_EQ(coordinator->blurEngine.currentTintOpacity(), 0.4);
}

TEST_F(CoordinatorTest, DockFollowsTheAutoHideSettingAndTheLastToggle) {
  defaults.setBool("isActive", true);
  defaults.setBool("autoHideDockAndMenuBar", true);
  defaults.setInteger("globalShortcutKeyCode", 49);
  start();
  d.runUntilIdle();
  EXPECT_TRUE(d.scriptsRun().empty());  // the loaded value is not a change
  d.advance(1.01);                      // but the on state found at start is
  EXPECT_EQ(d.scriptsRun(), (Strings{kRead, kHide}));

  auto& settings = coordinator->settings;
  settings.autoHideDockAndMenuBar = false;  // while on: released at once
  settings.autoHideDockAndMenuBar = true;   // while on: hidden at once, nothing read again
  d.runUntilIdle();
  EXPECT_EQ(d.scriptsRun(), (Strings{kRead, kHide, kShow, kHide}));
  EXPECT_EQ(log.messagesStartingWith("[Dock]"),
            (Strings{"[Dock] Taking control, hiding dock", "[Dock] Released control, showing dock",
                     "[Dock] Taking control, hiding dock"}));

  // Only the last toggle within the dock delay touches the dock.
  shake();  // off
  d.advance(0.5);
  d.pressHotKey(49, 0);  // on again
  d.advance(0.75);       // the shake's check has run and found the state changed back
  EXPECT_EQ(d.scriptsRun().size(), 4u);
  d.advance(0.5);
  EXPECT_EQ(d.scriptsRun(), (Strings{kRead, kHide, kShow, kHide, kHide}));
  EXPECT_TRUE(coordinator->isDockManagedByDunelo());

  d.pressHotKey(49, 0);  // off: released a second later
  d.advance(1.01);
  settings.autoHideDockAndMenuBar = false;  // off and not managing: nothing
  d.runUntilIdle();
  EXPECT_EQ(d.scriptsRun(), (Strings{kRead, kHide, kShow, kHide, kHide, kShow}));
}

TEST_F(CoordinatorTest,
       DockControlChangesHandsWhateverTheScriptSaysButNeverHidesWhatItCannotRestore) {
  start();
  coordinator->settings.autoHideDockAndMenuBar = true;
  d.failScripts("System Events got an error: Not authorised.");
  coordinator->updateDockAutoHide(true);  // the read fails: nothing is hidden or remembered
  d.runUntilIdle();
  EXPECT_EQ(d.scriptsRun(), Strings{kRead});
  EXPECT_TRUE(coordinator->isDockManagedByDunelo());
  coordinator->updateDockAutoHide(false);
  EXPECT_FALSE(coordinator->isDockManagedByDunelo());
  d.succeedScripts();

  coordinator->updateDockAutoHide(true);
  coordinator->updateDockAutoHide(true);  // hidden on every call, read once
  d.runUntilIdle();
  EXPECT_EQ(d.scriptsRun(), (Strings{kRead, kRead, kHide}));
  coordinator->updateDockAutoHide(true);
  d.runUntilIdle();
  d.failScripts(std::nullopt);
  coordinator->updateDockAutoHide(false);  // the restore fails: the settings stay remembered
  d.runUntilIdle();
  EXPECT_FALSE(coordinator->isDockManagedByDunelo());
  EXPECT_TRUE(defaults.objectForKey("dockRestoreState").has_value());
  EXPECT_EQ(d.scriptsRun(), (Strings{kRead, kRead, kHide, kHide, kShow}));
  const auto tail = log.messages();
  EXPECT_EQ(Strings(tail.end() - 3, tail.end()),
            (Strings{"[Dock] Taking control, hiding dock", "[Dock] Released control, showing dock",
                     "[AppleScript] ERROR: {}"}));
}

// What the dock was like before Dunelo hid it is in the settings before the hide runs, and put
// back when Dunelo shows the dock, quits, or starts again after a crash.
TEST_F(CoordinatorTest, DockSettingsAreStoredBeforeHidingAndPutBackOnEveryWayOut) {
  const Strings panels{"xfce", "1=0", "2=2", "3="};
  const DefaultsValue stored(DefaultsArray{"xfce", "1=0", "2=2", "3="});
  d.setDockSnapshot(panels);
  defaults.setBool("isActive", true);
  defaults.setBool("autoHideDockAndMenuBar", true);
  defaults.setDouble("tintOpacity", 0.25);
  Strings runWhenStored;
  defaults.onWrite = [&](std::string_view key) {
    if (key == "dockRestoreState") runWhenStored = d.scriptsRun();
  };
  start();
  d.advance(1.01);
  EXPECT_EQ(runWhenStored, Strings{kRead});  // stored after the read, before the hide
  EXPECT_EQ(defaults.objectForKey("dockRestoreState"), stored);
  EXPECT_EQ(d.scriptsRun().back(), kHide);
  EXPECT_EQ(d.scriptSnapshots().back(), panels);  // the hide names the panels it read

  // Off: the panels get their own settings back, and the key goes.
  coordinator->settings.isActive = false;
  d.advance(1.01);
  EXPECT_EQ(d.scriptsRun().back(), kShow);
  EXPECT_EQ(d.scriptSnapshots().back(), panels);
  EXPECT_FALSE(defaults.objectForKey("dockRestoreState"));

  // Quitting while hidden puts them back on the way out.
  coordinator->settings.isActive = true;
  d.advance(1.01);
  coordinator.reset();
  EXPECT_EQ(d.scriptsRun().back(), sim::SimDesktop::kRestoredBeforeExit);
  EXPECT_EQ(d.scriptSnapshots().back(), panels);
  EXPECT_FALSE(defaults.objectForKey("dockRestoreState"));

  // A crash while hidden leaves the key; the next start puts the dock back at once when Dunelo
  // is off, and keeps it hidden (without reading the hidden state as the user's) when it is on.
  defaults.setObject("dockRestoreState", stored);
  defaults.setBool("isActive", false);
  const size_t before = d.scriptsRun().size();
  start();
  EXPECT_EQ(log.messagesStartingWith("[Dock]").back(), "[Dock] Released control, showing dock");
  d.runUntilIdle();
  EXPECT_EQ(Strings(d.scriptsRun().begin() + before, d.scriptsRun().end()), Strings{kShow});
  EXPECT_FALSE(defaults.objectForKey("dockRestoreState"));
  EXPECT_FALSE(coordinator->isDockManagedByDunelo());
  coordinator.reset();

  defaults.setObject("dockRestoreState", stored);
  defaults.setBool("isActive", true);
  start();
  d.advance(1.01);
  EXPECT_EQ(d.scriptsRun().back(), kHide);
  EXPECT_EQ(d.scriptSnapshots().back(), panels);
  EXPECT_EQ(defaults.objectForKey("dockRestoreState"), stored);
  EXPECT_EQ(defaults.doubleForKey("tintOpacity"), 0.25);  // other keys are left alone

  // A show issued while the read still runs means nothing is hidden or remembered.
  coordinator->settings.isActive = false;
  d.advance(1.01);
  coordinator->settings.autoHideDockAndMenuBar = true;
  const size_t mark = d.scriptsRun().size();
  coordinator->updateDockAutoHide(true);
  coordinator->updateDockAutoHide(false);
  d.runUntilIdle();
  EXPECT_EQ(Strings(d.scriptsRun().begin() + mark, d.scriptsRun().end()), Strings{kRead});
  EXPECT_FALSE(defaults.objectForKey("dockRestoreState"));
}

TEST_F(CoordinatorTest, NothingRunsOrStaysRegisteredOnceTheCoordinatorIsGone) {
  defaults.setBool("autoHideDockAndMenuBar", true);
  defaults.setInteger("globalShortcutKeyCode", 49);
  d.setAccessibilityTrusted(false);
  start();
  coordinator->settings.tintColor = Color::srgb(0, 1, 0);  // a tint hop in flight
  coordinator->permissions.hasAccessibility = true;
  shake();  // a dock check in flight, the permission poll still running
  coordinator.reset();

  d.advance(3.0);
  EXPECT_TRUE(d.scriptsRun().empty());
  EXPECT_TRUE(d.registeredHotKeys().empty());
  EXPECT_EQ(d.pressHandlerCount(), 0u);
  EXPECT_EQ(d.mouseMonitors().globalMonitorCount(), 0u);
}

}  // namespace
}  // namespace dunelo
