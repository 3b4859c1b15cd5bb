// Dunelo on a real, headless GNOME Shell under Wayland: the installed extension, a Wayland
// terminal (foot) full of fine detail behind an X terminal (xterm, through Xwayland), and the
// dunelo program with its GNOME backend, judged by screenshots as a user would see them.
#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QDBusVariant>
#include <QRect>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <thread>

#include "platform/gnome/gnome_shell_session.h"
#include "settings/color_archive.h"
#include "settings/json_file_defaults_store.h"
#include "settings/settings_manager.h"

namespace dunelo::gnome::testing {
namespace {

using namespace std::chrono_literals;
namespace keys = settings_keys;

constexpr uint32_t kControlL = 0xffe3, kAltL = 0xffe9, kLetterD = 0x64;

QRect rectOf(const WindowRecord& w) {
  return QRect(w.x, w.y, w.width, w.height);
}

// What one material or effect looks like in a screenshot.
struct Look {
  double detail, luminance, saturation, bottomRedness, desktopDetail;
  friend std::ostream& operator<<(std::ostream& out, const Look& l) {
    return out << "detail " << l.detail << ", luminance " << l.luminance << ", saturation "
               << l.saturation << ", bottom redness " << l.bottomRedness << ", desktop detail "
               << l.desktopDetail;
  }
};

// Two windows: foot filled with a fine pattern, and a smaller xterm over its lower left part,
// focused. `detailRegion` lies inside foot and well away from xterm.
class DuneloOnGnome : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(session_.failure(), "");
    const std::string pattern = std::string(100, '#') + "|" + std::string(100, '.');
    foot_ = session_.start({"foot", "--window-size-pixels=900x600", "sh", "-c",
                            "while :; do printf '%s\\n' '" + pattern +
                                "'; done | head -200; "
                                "sleep 600"});
    const auto foot = session_.waitForWindowOf(foot_);
    ASSERT_TRUE(foot) << "foot did not map";
    xterm_ = session_.start({"xterm", "-geometry", "60x15+40+420"});
    const auto xterm = session_.waitForWindowOf(xterm_);
    ASSERT_TRUE(xterm) << "xterm did not map";
    ASSERT_TRUE(session_.waitForState([&](const ShellState& s) { return s.focus == xterm->id; }));
    xtermID_ = xterm->id;
    footID_ = foot->id;
    // Once both windows are placed (the shell lists a window before it places it), drawn, and
    // their opening animations are over: two screenshots in a row agree, and so do the frames.
    QImage last;
    QRect lastFoot, lastXterm;
    before_ = session_.waitForScreenshot([&](const QImage& s) {
      const auto state = session_.state();
      const WindowRecord* f = state ? state->window(footID_) : nullptr;
      const WindowRecord* x = state ? state->window(xtermID_) : nullptr;
      if (!f || !x) return false;
      const bool settled = !last.isNull() && rectOf(*f) == lastFoot && rectOf(*x) == lastXterm &&
                           samePixels(last, s, lastFoot.united(lastXterm)) &&
                           meanColor(s, lastXterm.adjusted(4, 40, -4, -4)).luminance() > 200;
      last = s;
      lastFoot = rectOf(*f);
      lastXterm = rectOf(*x);
      return settled;
    });
    ASSERT_FALSE(before_.isNull());
    footRect_ = lastFoot;
    xtermRect_ = lastXterm;
    // The shell's start-up banners (a root session, no display manager) stay over the top of the
    // screen while the session sees no input: the region keeps clear of them too.
    detailRegion_ =
        QRect(footRect_.center().x(), footRect_.top() + 60, footRect_.width() / 2 - 20, 160);
    ASSERT_FALSE(detailRegion_.intersects(xtermRect_.adjusted(-60, -60, 60, 60)));
    ASSERT_GT(detailRegion_.top(), 120);
    baseDetail_ = detail(before_, detailRegion_);
    ASSERT_GT(baseDetail_, 10) << "the pattern shows no detail";
  }

  // Writes the settings Dunelo starts with (nothing else) and starts it.
  pid_t startDunelo(const std::function<void(DefaultsStore&)>& settings) {
    {
      const std::string path = session_.configDir() + "/dunelo/defaults.json";
      std::filesystem::remove(path);
      JsonFileDefaultsStore store(path);
      store.setDouble(keys::kBlurRadius, 100);
      store.setBool(keys::kCachedScreenRecording, true);
      store.setBool(keys::kCachedAccessibility, true);
      settings(store);
    }
    return session_.start({DUNELO_PROGRAM}, {"XDG_CONFIG_HOME=" + session_.configDir()});
  }

  bool isBlurred(const QImage& shot) { return detail(shot, detailRegion_) <= baseDetail_ / 10; }
  // The focused window below its title bar's rounded corners, which show what lies behind.
  QRect xtermInside() const { return xtermRect_.adjusted(0, 10, 0, 0); }

  GnomeShellSession session_;
  pid_t foot_ = -1, xterm_ = -1;
  uint64_t footID_ = 0, xtermID_ = 0;
  QRect footRect_, xtermRect_, detailRegion_;
  QImage before_;
  double baseDetail_ = 0;
};

TEST_F(DuneloOnGnome, BlursAllButTheFocusedWindowFollowsFocusAndLeavesWithDunelo) {
  const pid_t dunelo = startDunelo([](DefaultsStore& s) { s.setBool(keys::kIsActive, true); });
  // Dunelo shows a new overlay on top before it orders it below the focused window: on a loaded
  // machine a frame may show that step.
  const QImage on = session_.waitForScreenshot(
      [&](const QImage& s) { return isBlurred(s) && samePixels(before_, s, xtermInside()); });
  ASSERT_FALSE(on.isNull()) << "the background was not blurred below the focused window: detail "
                            << detail(session_.screenshot(), detailRegion_) << " of "
                            << baseDetail_;
  // What shows just above the focused window is blurred too: a halo of unblurred pixels would
  // appear there when the shell skips painting what the window covers.
  const QRect band(xtermRect_.left() + 160, xtermRect_.top() - 40, xtermRect_.width() - 170, 28);
  ASSERT_TRUE(band.intersects(footRect_));
  EXPECT_LE(detail(on, band), detail(before_, band) / 10);

  // A click brings foot to the front: it is sharp now, and the part of xterm it does not cover
  // is blurred.
  session_.click(detailRegion_.center().x(), detailRegion_.center().y());
  ASSERT_TRUE(session_.waitForState([&](const ShellState& s) { return s.focus == footID_; }));
  const QRect xtermVisible(xtermRect_.left() + 4, xtermRect_.top() + 4,
                           footRect_.left() - xtermRect_.left() - 8, 80);
  const double xtermDetail = detail(before_, xtermVisible);
  const QImage clicked = session_.waitForScreenshot([&](const QImage& s) {
    return detail(s, detailRegion_) >= baseDetail_ * 0.8 &&
           detail(s, xtermVisible) <= xtermDetail / 3;
  });
  EXPECT_FALSE(clicked.isNull()) << "the overlay did not follow the click";

  // Activating xterm through the window manager brings the overlay back below it.
  const pid_t activate =
      session_.start({"xdotool", "search", "--class", "XTerm", "windowactivate"});
  ASSERT_TRUE(session_.waitForState([&](const ShellState& s) { return s.focus == xtermID_; }));
  session_.stop(activate);
  const QImage activated = session_.waitForScreenshot(
      [&](const QImage& s) { return isBlurred(s) && samePixels(before_, s, xtermInside()); });
  EXPECT_FALSE(activated.isNull()) << "the overlay did not follow the activation";

  // Killed, Dunelo leaves nothing behind: the extension drops its overlays.
  session_.stop(dunelo, /*hard=*/true);
  const QImage gone = session_.waitForScreenshot(
      [&](const QImage& s) { return detail(s, detailRegion_) >= baseDetail_ * 0.9; });
  EXPECT_FALSE(gone.isNull()) << "the overlay outlived Dunelo";
}

TEST_F(DuneloOnGnome, HotKeyAndShakeToggleTheOverlay) {
  startDunelo([](DefaultsStore& s) {
    s.setBool(keys::kIsActive, false);
    s.setInteger(keys::kGlobalShortcutKeyCode, 2);         // D
    s.setInteger(keys::kGlobalShortcutModifiers, 786432);  // control + option
  });
  // Dunelo serves its bus name once its hot key is grabbed. Started and off: nothing changes on
  // screen.
  ASSERT_TRUE(session_.waitForBusName("io.dunelo.Dunelo")) << "dunelo did not come up";
  std::this_thread::sleep_for(1500ms);
  EXPECT_GE(detail(session_.screenshot(), detailRegion_), baseDetail_ * 0.9);

  session_.pressKeys({kControlL, kAltL, kLetterD});
  EXPECT_FALSE(session_.waitForScreenshot([&](const QImage& s) { return isBlurred(s); }).isNull())
      << "the hot key did not switch Dunelo on";

  // A quick left-right shake switches it off again. The shell reports the pointer at most once a
  // frame and Dunelo wants three reversals within half a second: on a loaded machine a late
  // frame merges strokes that then cancel out, and the user, like this test, shakes again.
  auto active = [&] {
    QDBusMessage get = QDBusMessage::createMethodCall("io.dunelo.Dunelo", "/io/dunelo/Dunelo",
                                                      "org.freedesktop.DBus.Properties", "Get");
    get << QString("io.dunelo.Dunelo") << QString("Active");
    const QDBusMessage reply = session_.bus().call(get, QDBus::Block, 5000);
    return reply.type() != QDBusMessage::ReplyMessage ||
           reply.arguments().value(0).value<QDBusVariant>().variant().toBool();
  };
  session_.movePointer(-5000, 0);
  session_.movePointer(600, 0);
  auto offWithin = [&](std::chrono::milliseconds timeout) {
    for (auto end = std::chrono::steady_clock::now() + timeout;
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(100ms))
      if (!active()) return true;
    return !active();
  };
  int shakes = 0;
  do {
    for (int i = 0; i < 8; ++i) {
      session_.movePointer(i % 2 ? 150 : -150, 0);
      std::this_thread::sleep_for(40ms);
    }
  } while (++shakes < 4 && !offWithin(2s));
  std::printf("shakes until Dunelo switched off: %d\n", shakes);
  EXPECT_FALSE(session_
                   .waitForScreenshot([&](const QImage& s) {
                     return detail(s, detailRegion_) >= baseDetail_ * 0.9;
                   })
                   .isNull())
      << "the shake did not switch Dunelo off";
}

TEST_F(DuneloOnGnome, EveryMaterialAndEffectShows) {
  // The desktop's own background, away from both windows: flat and coloured.
  const QRect desktop(footRect_.right() + 20, 60, 1280 - footRect_.right() - 40, 120);
  ASSERT_GT(desktop.width(), 40);
  const QRect bottom(footRect_.right() + 20, 740, desktop.width(), 50);
  // Starts Dunelo with `settings` and waits until the screen settles (two screenshots in a row
  // agree) on a look that is `expected`: Dunelo applies its settings in steps, and on a loaded
  // machine the screen may rest on one of them for a moment. Returns the last look seen.
  auto look = [&](const char* name, const std::function<void(DefaultsStore&)>& settings,
                  const std::function<bool(const Look&)>& expected) -> Look {
    const pid_t dunelo = startDunelo([&](DefaultsStore& s) {
      s.setBool(keys::kIsActive, true);
      settings(s);
    });
    QImage last;
    Look seen{};
    const QImage shot = session_.waitForScreenshot([&](const QImage& s) {
      const MeanColor b = meanColor(s, bottom);
      seen = {detail(s, detailRegion_), meanColor(s, detailRegion_).luminance(),
              meanColor(s, desktop).saturation(), b.red - b.blue, detail(s, desktop)};
      const bool settled = !last.isNull() && samePixels(last, s, detailRegion_) &&
                           samePixels(last, s, bottom) && samePixels(last, s, desktop);
      last = s;
      return settled && expected(seen);
    });
    EXPECT_FALSE(shot.isNull()) << name << " did not show: " << seen << " (base detail "
                                << baseDetail_ << ")";
    EXPECT_EQ(session_.stop(dunelo), 0) << "dunelo did not end cleanly on SIGTERM";
    session_.waitForScreenshot([&](const QImage& s) { return samePixels(before_, s, desktop); });
    return seen;
  };
  const MeanColor plain = meanColor(before_, bottom);
  ASSERT_GT(meanColor(before_, desktop).saturation(), 0.3);
  auto blurred = [&](const Look& l) { return l.detail <= baseDetail_ / 10; };
  // Deep at full intensity hides the detail; ambient, darker, keeps 45 % of the sharp scene, and
  // deep at intensity 0 (alpha 0.36) about two thirds of it.
  const Look deep = look(
      "deep", [](DefaultsStore&) {}, blurred);
  look(
      "ambient", [](DefaultsStore& s) { s.setObject(keys::kBlurMode, std::string("ambient")); },
      [&](const Look& l) {
        return l.luminance < deep.luminance - 20 && l.detail > baseDetail_ * 0.3 &&
               l.detail < baseDetail_ * 0.8;
      });
  look(
      "intensity 0", [](DefaultsStore& s) { s.setDouble(keys::kBlurRadius, 0); },
      [&](const Look& l) { return l.detail > baseDetail_ * 0.5 && l.detail < baseDetail_ * 0.8; });
  // The tint reddens the bottom of the screen and grayscale takes the desktop's colour, both
  // over the blur; grain roughens the desktop's flat background.
  look(
      "tint",
      [](DefaultsStore& s) {
        s.setObject(keys::kTintColor, *archiveColor(Color::srgb(1, 0, 0)));
        s.setDouble(keys::kTintOpacity, 1);
      },
      [&](const Look& l) { return blurred(l) && l.bottomRedness > plain.red - plain.blue + 60; });
  look(
      "grayscale", [](DefaultsStore& s) { s.setBool(keys::kIsGrayscale, true); },
      [&](const Look& l) { return blurred(l) && l.saturation < 0.05; });
  look(
      "grain", [](DefaultsStore& s) { s.setDouble(keys::kGrainIntensity, 1); },
      [&](const Look& l) { return l.desktopDetail > deep.desktopDetail + 2; });
}

// Installed but switched off: Dunelo draws nothing, and once the user turns the extension on
// (what `gnome-extensions enable` does) it follows the desktop without a restart. The shell
// turns extensions off and on again around the lock screen: the overlays come back after that.
TEST(DuneloOnGnomeWithoutExtension, DrawsNothingUntilTheExtensionIsTurnedOn) {
  GnomeShellSession session({.enableExtension = false});
  ASSERT_EQ(session.failure(), "");
  {
    JsonFileDefaultsStore store(session.configDir() + "/dunelo/defaults.json");
    store.setBool(keys::kIsActive, true);
    store.setDouble(keys::kBlurRadius, 100);
  }
  session.start({"foot", "--window-size-pixels=900x600", "sh", "-c",
                 "ls -lR /usr/include | head -300; sleep 600"});
  // Foot is placed in the middle of the screen; its upper half is well away from xterm. xterm,
  // opened once foot shows (there is no extension to ask), takes the focus: foot must blur.
  const QRect text(300, 150, 600, 200);
  ASSERT_FALSE(
      session.waitForScreenshot([&](const QImage& s) { return detail(s, text) > 5; }).isNull())
      << "foot did not show";
  session.start({"xterm", "-geometry", "40x10+20+600"});
  session.start({DUNELO_PROGRAM}, {"XDG_CONFIG_HOME=" + session.configDir()});
  QImage last;
  const QImage off = session.waitForScreenshot([&](const QImage& s) {
    const bool settled = !last.isNull() && samePixels(last, s, QRect(0, 100, 1280, 700));
    last = s;
    return settled;
  });
  const double sharp = detail(off, text);
  ASSERT_GT(sharp, 5);

  session.gsettings({"set", "org.gnome.shell", "enabled-extensions", "['dunelo@dunelo.io']"});
  EXPECT_FALSE(
      session.waitForScreenshot([&](const QImage& s) { return detail(s, text) < sharp / 5; }, 20s)
          .isNull())
      << "Dunelo did not pick up the extension";

  auto blurred = [&](const QImage& s) { return detail(s, text) < sharp / 5; };
  session.gsettings({"set", "org.gnome.shell", "enabled-extensions", "[]"});
  EXPECT_FALSE(session.waitForScreenshot([&](const QImage& s) { return !blurred(s); }).isNull())
      << "the overlay outlived the extension";
  session.gsettings({"set", "org.gnome.shell", "enabled-extensions", "['dunelo@dunelo.io']"});
  EXPECT_FALSE(session.waitForScreenshot(blurred).isNull())
      << "the overlay did not come back with the extension";
}

}  // namespace
}  // namespace dunelo::gnome::testing
