#include "system/permission_checker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "platform/sim/sim_desktop.h"
#include "settings/in_memory_defaults_store.h"

namespace dunelo {
namespace {

using sim::SimDesktop;
using sim::WindowListFault;
using testing::ElementsAre;

constexpr const char* kScreenKey = "cachedScreenRecording";
constexpr const char* kAccessibilityKey = "cachedAccessibility";

// A desktop where neither permission is granted: no preflight, no trust, and a window list that
// holds only Dunelo's own window until a test adds others.
struct Scene {
  Scene() {
    d.setScreenCapturePreflight(false);
    d.setAccessibilityTrusted(false);
    d.openWindow(d.selfPID(), Rect(0, 0, 300, 200));
  }
  PermissionChecker make() {
    return PermissionChecker(defaults, d.windowList(), d.accessibility(), d.workspace(),
                             d.selfPID());
  }
  SimDesktop d;
  InMemoryDefaultsStore defaults;
};

class Permissions : public testing::Test, public Scene {};

TEST_F(Permissions, StartsFromTheCacheAndProbesNothing) {
  using Cached = std::pair<std::optional<bool>, std::optional<bool>>;  // screen, accessibility
  for (const auto& [screen, accessibility] :
       {Cached{std::nullopt, std::nullopt}, Cached{true, false}, Cached{false, true},
        Cached{true, true}}) {
    Scene s;
    if (screen) s.defaults.setBool(kScreenKey, *screen);
    if (accessibility) s.defaults.setBool(kAccessibilityKey, *accessibility);
    s.d.setScreenCapturePreflight(true);  // a probe would answer yes
    s.d.setAccessibilityTrusted(true);
    const size_t writes = s.defaults.writeCount();
    PermissionChecker checker = s.make();
    EXPECT_EQ(*checker.hasScreenRecording, screen.value_or(false));
    EXPECT_EQ(*checker.hasAccessibility, accessibility.value_or(false));
    EXPECT_EQ(s.defaults.writeCount(), writes);
  }
}

TEST_F(Permissions, RefreshAssignsBothFlagsAndRewritesBothKeysEveryTime) {
  PermissionChecker checker = make();
  std::vector<bool> screen, accessibility;
  auto a = checker.hasScreenRecording.subscribe([&](bool v) { screen.push_back(v); });
  auto b = checker.hasAccessibility.subscribe([&](bool v) { accessibility.push_back(v); });

  for (bool granted : {false, true}) {  // nothing changed, then both granted
    d.setScreenCapturePreflight(granted);
    d.setAccessibilityTrusted(granted);
    checker.refresh();
    EXPECT_EQ(defaults.objectForKey(kScreenKey), DefaultsValue(granted));
    EXPECT_EQ(defaults.objectForKey(kAccessibilityKey), DefaultsValue(granted));
  }
  EXPECT_THAT(screen, ElementsAre(false, false, true));
  EXPECT_THAT(accessibility, ElementsAre(false, false, true));
  EXPECT_EQ(defaults.writeCount(), 4u);

  // A revocation shows at the next refresh, and the next launch starts from it.
  d.setAccessibilityTrusted(false);
  checker.refresh();
  EXPECT_FALSE(*checker.hasAccessibility);
  EXPECT_FALSE(*make().hasAccessibility);
}

// Without the preflight, the window list decides: another process's window with a readable
// width. The walk skips what does not qualify and goes on.
TEST_F(Permissions, ScreenRecordingProbeWalksTheWindowList) {
  using Setup = std::function<void(SimDesktop&)>;
  auto otherWindow = [](std::set<WindowListFault> faults) {
    return [faults](SimDesktop& d) {
      const ProcessID other = d.launchApp("org.example.Other");
      d.setWindowListFaults(d.openWindow(other, Rect(10, 10, 400, 300)), faults);
    };
  };
  const std::pair<const char*, std::pair<Setup, bool>> cases[] = {
      {"only our own windows", {[](SimDesktop&) {}, false}},
      {"preflight says yes", {[](SimDesktop& d) { d.setScreenCapturePreflight(true); }, true}},
      {"another process's window", {otherWindow({}), true}},
      {"its width unreadable", {otherWindow({WindowListFault::width}), false}},
      {"its bounds unreadable", {otherWindow({WindowListFault::bounds}), false}},
      {"its owner unreadable", {otherWindow({WindowListFault::ownerPID}), false}},
      {"only its height unreadable", {otherWindow({WindowListFault::height}), true}},
      {"no window list", {[](SimDesktop& d) { d.setWindowListAvailable(false); }, false}},
      {"an unreadable window in front of a readable one",
       {[otherWindow](SimDesktop& d) {
          otherWindow({})(d);
          otherWindow({WindowListFault::width})(d);
        },
        true}},
  };
  for (const auto& [name, c] : cases) {
    SCOPED_TRACE(name);
    Scene s;
    c.first(s.d);
    EXPECT_EQ(s.make().probeScreenRecording(), c.second);
  }
}

TEST_F(Permissions, AccessibilityProbeFallsBackToTheTrustQuery) {
  PermissionChecker checker = make();
  EXPECT_FALSE(checker.probeAccessibility());
  d.setAccessibilityTrusted(true);
  EXPECT_TRUE(checker.probeAccessibility());  // no frontmost application: trust answers
  d.failSystemWideFocusRead();
  EXPECT_TRUE(checker.probeAccessibility());
  EXPECT_EQ(d.trustPromptCount(), 0);  // probing never prompts
}

TEST_F(Permissions, ActionsPromptAndOpenTheSettings) {
  PermissionChecker checker = make();
  d.setGrantOnTrustPrompt(true);
  checker.requestAccessibility();
  EXPECT_EQ(d.trustPromptCount(), 1);
  EXPECT_FALSE(*checker.hasAccessibility);  // seen only by the next refresh
  checker.refresh();
  EXPECT_TRUE(*checker.hasAccessibility);

  checker.openScreenRecordingSettings();
  d.failOpenURL();
  checker.openScreenRecordingSettings();  // a failure is ignored
  EXPECT_THAT(d.openedURLs(), ElementsAre("x-apple.systempreferences:com.apple.preference.security?"
                                          "Privacy_ScreenCapture"));
}

}  // namespace
}  // namespace dunelo
