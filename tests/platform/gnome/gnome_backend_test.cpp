// The GNOME backend's own logic, without GNOME Shell: what it makes of the extension's reports,
// and what it tells the user and the shell.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <map>

#include "app/gnome_composition.h"
#include "platform/gnome/gnome_desktop.h"
#include "platform/gnome/shell_protocol.h"
#include "support/scratch_dir.h"

namespace dunelo::gnome {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

WindowRecord window(uint64_t id, ProcessID pid, std::string appID, int x, int y, int w, int h,
                    uint32_t flags = kWindowNormal) {
  WindowRecord r;
  r.id = id;
  r.pid = pid;
  r.appID = std::move(appID);
  r.appName = r.appID.empty() ? "" : "Name of " + r.appID;
  r.wmClass = "Class" + std::to_string(pid);
  r.x = x, r.y = y, r.width = w, r.height = h;
  r.flags = flags;
  return r;
}

TEST(ShellProtocol, ApplicationsAreKnownByDesktopEntryElseByWindowClass) {
  struct Case {
    std::string appID, wmClass;
    std::optional<std::string> bundleID;
    std::string name;
  };
  for (const Case& c : std::vector<Case>{
           {"foot.desktop", "foot", "foot", "Foot"},
           {"org.gnome.TextEditor.desktop", "gnome-text-editor", "org.gnome.TextEditor", "Foot"},
           {"window:12", "XTerm", "XTerm", "XTerm"},  // the shell found no desktop entry
           {"", "XTerm", "XTerm", "XTerm"},
           {"", "", std::nullopt, ""},
       }) {
    WindowRecord w;
    w.pid = 7;
    w.appID = c.appID;
    w.appName = "Foot";
    w.wmClass = c.wmClass;
    const RunningApplication app = applicationOf(w, ActivationPolicy::regular);
    EXPECT_EQ(app.bundleID, c.bundleID) << c.appID;
    EXPECT_EQ(app.localizedName, c.name) << c.appID;
  }
}

TEST(ShellProtocol, HotKeysBecomeShellAccelerators) {
  constexpr uint32_t command = kHotKeyModifierCommand, option = kHotKeyModifierOption,
                     control = kHotKeyModifierControl, shift = kHotKeyModifierShift;
  EXPECT_EQ(acceleratorFor(0x02, control | option), "<Alt><Control>d");
  EXPECT_EQ(acceleratorFor(0x7A, command), "<Super>F1");
  EXPECT_EQ(acceleratorFor(0x31, command | option | control | shift),
            "<Super><Alt><Control><Shift>space");
  EXPECT_EQ(acceleratorFor(0x52, 0), "KP_0");
  EXPECT_EQ(acceleratorFor(0x3F, control), std::nullopt);  // the fn key: nothing to grab
}

TEST(ShellProtocol, StagePixelsMapToScreenFramesAndBack) {
  // The primary monitor sits right of a second one and lower: both spaces start at its corner.
  const std::vector<MonitorRecord> monitors = {{1920, 200, 1280, 800, 1.0},
                                               {0, 0, 1920, 1080, 1.0}};
  const auto screens = screensOf(monitors);
  ASSERT_EQ(screens.size(), 2u);
  EXPECT_EQ(screens[0].frame, Rect(0, 0, 1280, 800));
  EXPECT_EQ(screens[1].frame, Rect(-1920, -80, 1920, 1080));
  EXPECT_EQ(screens[0].displayID, 1u);
  const StageSpace space = StageSpace::of(monitors);
  EXPECT_THAT(space.stageRect(screens[1].frame), ElementsAre(0, 0, 1920, 1080));
  EXPECT_EQ(space.topLeftRect(window(1, 1, "", 1930, 210, 100, 50)), Rect(10, 10, 100, 50));
}

TEST(ShellProtocol, DeepBlursHarderThanAmbientUnderALighterVeil) {
  for (bool dark : {false, true}) {
    const auto deep = materialLook(BlurMaterial::deep, dark);
    const auto ambient = materialLook(BlurMaterial::ambient, dark);
    EXPECT_GT(deep.sigma, ambient.sigma);
    EXPECT_GT(deep.veil.red, ambient.veil.red);
  }
  EXPECT_GT(materialLook(BlurMaterial::deep, false).veil.red,
            materialLook(BlurMaterial::deep, true).veil.red);
}

TEST(GnomeComposition, PicksTheBackendFromTheSessionsEnvironment) {
  using Env = std::map<std::string, std::string>;
  struct Case {
    Env env;
    std::optional<SessionKind> session;
  };
  for (const Case& c : std::vector<Case>{
           {{{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "GNOME"}},
            SessionKind::gnomeWayland},
           {{{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "ubuntu:GNOME"}},
            SessionKind::gnomeWayland},
           {{{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_CURRENT_DESKTOP", "KDE"}},
            SessionKind::otherWayland},
           {{{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "GNOME-Flashback"}},
            SessionKind::otherWayland},
           // An X11 session that also names a Wayland display stays on X11.
           {{{"XDG_SESSION_TYPE", "x11"}, {"WAYLAND_DISPLAY", "wayland-0"}}, std::nullopt},
           {{{"DISPLAY", ":0"}}, std::nullopt},
       }) {
    const auto session = waylandSession([&](const char* name) -> const char* {
      auto it = c.env.find(name);
      return it == c.env.end() ? nullptr : it->second.c_str();
    });
    EXPECT_EQ(session, c.session);
  }
}

TEST(ExtensionHelp, SaysWhatToDoInEachCase) {
  const std::string enable = "gnome-extensions enable dunelo@dunelo.io";
  EXPECT_EQ(extensionHelp(SessionKind::gnomeWayland, ExtensionStatus::disabled, true, "").command,
            enable);
  // Installed after the login: the shell has not loaded it yet.
  const auto notLoaded =
      extensionHelp(SessionKind::gnomeWayland, ExtensionStatus::unknown, true, "");
  EXPECT_THAT(notLoaded.text, HasSubstr("Log out and back in"));
  EXPECT_EQ(notLoaded.command, enable);
  EXPECT_THAT(extensionHelp(SessionKind::gnomeWayland, ExtensionStatus::unknown, false, "").text,
              HasSubstr("not installed"));
  EXPECT_THAT(extensionHelp(SessionKind::gnomeWayland, ExtensionStatus::failed, true,
                            "TypeError: x is undefined")
                  .text,
              HasSubstr("TypeError: x is undefined"));
  for (auto session : {SessionKind::otherWayland, SessionKind::gnomeWayland}) {
    const auto other = extensionHelp(session, ExtensionStatus::noShell, false, "");
    EXPECT_THAT(other.text, HasSubstr("GNOME session"));
    EXPECT_EQ(other.command, "");
  }
}

TEST(ExtensionHelp, FindsTheExtensionWhereTheShellLooks) {
  dunelo::testing::ScratchDir dir;
  const std::string user = dir.file("user"), system = dir.file("system");
  std::filesystem::create_directories(system + "/dunelo@dunelo.io");
  EXPECT_FALSE(isExtensionInstalled({user, system}, kExtensionUUID));
  dunelo::testing::writeFile(system + "/dunelo@dunelo.io/metadata.json", "{}");
  EXPECT_TRUE(isExtensionInstalled({user, system}, kExtensionUUID));
}

// The desktop as the backend reports it from the extension's state, with no bus at all.
class GnomeDesktopTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "gnome-backend-test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
  }

  void report(std::vector<WindowRecord> windows, uint64_t focus, bool monitorsChanged = false) {
    state_.windows = std::move(windows);
    state_.focus = focus;
    shell_.adoptStateForTesting(state_, monitorsChanged);
  }

  ShellConnection shell_{QDBusConnection(QStringLiteral("no bus"))};
  ShellState state_{{}, 0, {{100, 0, 1280, 800, 1.0}}, false};
};

TEST_F(GnomeDesktopTest, WithoutTheExtensionNothingCanBeRead) {
  GnomeAccessibility accessibility(shell_, SessionKind::otherWayland, {});
  GnomeWindowList list(shell_);
  EXPECT_FALSE(accessibility.isProcessTrusted(false));
  EXPECT_FALSE(list.screenCapturePreflight());
  EXPECT_EQ(list.onScreenWindows(), std::nullopt);
  EXPECT_THAT(accessibility.trustHelp().text, HasSubstr("Wayland"));
}

TEST_F(GnomeDesktopTest, ApplicationsActivateWhenTheFocusedProcessChanges) {
  GnomeWorkspace workspace(shell_, nullptr);
  std::vector<std::optional<std::string>> activated;
  Cancellable token = workspace.observeActivations(
      [&](const RunningApplication& app) { activated.push_back(app.bundleID); });
  const auto editor = window(1, 10, "editor.desktop", 100, 0, 400, 300);
  const auto editor2 = window(2, 10, "editor.desktop", 200, 50, 400, 300);
  const auto term = window(3, 20, "", 300, 100, 400, 300);
  report({editor, editor2, term}, 1);
  report({editor2, editor, term}, 2);  // another window of the same application
  report({term, editor2, editor}, 3);
  report({term, editor2, editor}, 0);  // nothing focused: the last application stays
  EXPECT_THAT(activated, ElementsAre("editor", "Class20"));
  EXPECT_EQ(workspace.frontmostApplication(), std::nullopt);
  EXPECT_EQ(workspace.runningApplications().size(), 2u);
  // Windows that are all dialogs or kept off the taskbar make an accessory application.
  report({window(4, 30, "", 0, 0, 10, 10, kWindowSkipTaskbar | kWindowNormal)}, 4);
  EXPECT_EQ(workspace.frontmostApplication()->activationPolicy, ActivationPolicy::accessory);
}

TEST_F(GnomeDesktopTest, FocusedWindowsAndTheirNotifications) {
  GnomeAccessibility accessibility(shell_, SessionKind::gnomeWayland, {});
  const auto a = window(1, 10, "editor.desktop", 100, 0, 400, 300);
  const auto b = window(2, 10, "editor.desktop", 200, 50, 400, 300);
  const auto other = window(3, 20, "", 300, 100, 400, 300);
  report({a, b, other}, 1);
  std::vector<std::string> heard;
  auto observer =
      accessibility.createObserver(10, [&](std::string_view n) { heard.emplace_back(n); });
  ASSERT_TRUE(observer);
  for (auto n : {kFocusedWindowChanged, kWindowMoved, kWindowResized, kMainWindowChanged})
    EXPECT_TRUE(observer->addNotification(n));
  EXPECT_FALSE(observer->addNotification("AXTitleChanged"));

  report({b, a, other}, 2);  // focus moves within the application
  auto moved = b;
  moved.x += 5;
  report({moved, a, other}, 2);
  auto resized = moved;
  resized.height += 5;
  report({resized, a, other}, 2);
  report({other, resized, a}, 3);  // another application: its window is not ours to announce
  EXPECT_THAT(heard,
              ElementsAre(kFocusedWindowChanged, kMainWindowChanged, kWindowMoved, kWindowResized));
  // The application's last window closes: announced, so no frame of a gone window is kept.
  report({other}, 3);
  EXPECT_EQ(accessibility.focusedWindow(10), std::nullopt);
  EXPECT_EQ(heard.size(), 6u);
  report({other, resized, a}, 3);
  // In the background, the application's focused window is the one it focused last, in the
  // top-left space of the primary monitor (which starts at x = 100).
  EXPECT_EQ(accessibility.focusedWindow(10), 2u);
  EXPECT_EQ(accessibility.windowPosition(2), (Point{105, 50}));
  EXPECT_EQ(accessibility.windowSize(2), (Size{400, 305}));
  EXPECT_EQ(accessibility.focusedWindow(99), std::nullopt);
  EXPECT_TRUE(accessibility.isProcessTrusted(false));
  EXPECT_EQ(accessibility.trustHelp(), PermissionHelp{});
}

TEST_F(GnomeDesktopTest, TheWindowListLeavesTheDesktopOutAndDisplaysChangeOnlyWhenTheyDo) {
  GnomeWindowList list(shell_);
  int listChanges = 0;
  Cancellable listening = list.observeChanges([&] { ++listChanges; });
  report({window(1, 10, "", 100, 0, 50, 50), window(2, 11, "", 0, 0, 1380, 800, kWindowDesktop)},
         1);
  EXPECT_EQ(listChanges, 1);  // every report of windows or monitors
  GnomeDisplays displays(shell_);
  int changes = 0;
  Cancellable token = displays.observeChanges([&] { ++changes; });
  report(state_.windows, 1, /*monitorsChanged=*/true);
  const auto entries = list.onScreenWindows();
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 1u);
  EXPECT_EQ((*entries)[0].ownerPID, 10);
  EXPECT_EQ((*entries)[0].bounds, (WindowBounds{0, 0, 50, 50}));
  EXPECT_EQ((*entries)[0].windowNumber, 1);
  EXPECT_EQ(changes, 0);  // the same monitors as before
  state_.monitors.push_back({1380, 0, 800, 600, 1.0});
  report(state_.windows, 1, true);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(displays.screens().size(), 2u);
  EXPECT_EQ(listChanges, 3);
}

}  // namespace
}  // namespace dunelo::gnome
