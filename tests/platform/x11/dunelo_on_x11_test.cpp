// Dunelo as the program runs it (the X11 composition and the coordinator), driven through real X
// input on a private server with a window manager.
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/x11/dunelo_session.h"
#include "platform/x11/fake_input.h"

namespace dunelo {
namespace {

using testing::DuneloSession;
using testing::FakeInput;

class DuneloOnX11Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(session.start());
    ASSERT_TRUE(user.isConnected());
    editor = session.openWindow(100, 100, 4001, "Editor");
    coordinator = session.coordinator.get();
    loop().runFor(0.3);
  }

  x11::EventLoop& loop() { return session.loop(); }
  bool waitForActive(bool wanted) {
    return loop().runUntil([&] { return *coordinator->settings.isActive == wanted; }, 3.0);
  }
  void shake() {
    for (int i = 0; i < 5; ++i) {
      user.moveBy(60, 0);
      loop().runFor(0.04);
      user.moveBy(-60, 0);
      loop().runFor(0.04);
    }
  }

  // The hot key Control+Option+D as the settings store it: key code 2, modifier bits
  // 0x40000 | 0x80000.
  DuneloSession session{R"({"globalShortcutKeyCode": 2, "globalShortcutModifiers": 786432})"};
  FakeInput user{session.server().display()};
  AppCoordinator* coordinator = nullptr;
  xcb_window_t editor = XCB_NONE;
};

TEST_F(DuneloOnX11Test, HotKeyTogglesDunelo) {
  ASSERT_FALSE(*coordinator->settings.isActive);
  user.tap(XK_d, {XK_Control_L, XK_Alt_L});
  ASSERT_TRUE(waitForActive(true));
  // The overlays follow once the desktop qualifies (EWMH window manager, the extensions).
  EXPECT_TRUE(loop().runUntil([&] { return *coordinator->blurEngine.isActive; }, 3.0));

  user.tap(XK_d, {XK_Control_L, XK_Alt_L});
  ASSERT_TRUE(waitForActive(false));
  EXPECT_TRUE(loop().runUntil([&] { return !*coordinator->blurEngine.isActive; }, 3.0));
  // The state reaches the file where the program keeps it, without waiting for the quit.
  EXPECT_TRUE(loop().runUntil(
      [&] {
        return testing::readFile(session.settingsPath()).find("\"isActive\": false") !=
               std::string::npos;
      },
      3.0));
}

TEST_F(DuneloOnX11Test, MouseShakeTogglesDuneloButADragDoesNot) {
  // The editor dragged back and forth by its title bar, like a shake with the button held.
  const xcb_rectangle_t frame = session.client().geometry(session.client().frameOf(editor));
  user.warpTo(frame.x + frame.width / 2, frame.y + 6);
  user.button(XCB_BUTTON_PRESS, 1);
  // Past the window manager's drag threshold, then on until it moves the window (it may read
  // several motions at once and start the drag only from where they ended).
  auto moved = [&] {
    return session.client().geometry(session.client().frameOf(editor)).x != frame.x;
  };
  for (int i = 0; i < 30 && !moved(); ++i) {
    user.moveBy(10, 0);
    loop().runUntil(moved, 0.1);
  }
  EXPECT_TRUE(moved()) << "the window manager did not take the drag";
  shake();
  user.moveBy(-60, 0);
  user.button(XCB_BUTTON_RELEASE, 1);
  loop().runFor(0.3);
  EXPECT_FALSE(*coordinator->settings.isActive);
  EXPECT_TRUE(session.log.messagesStartingWith("[ShakeDetector] SHAKE DETECTED!").empty());

  shake();
  ASSERT_TRUE(waitForActive(true));
  EXPECT_EQ(session.log.messagesStartingWith("[ShakeDetector] SHAKE DETECTED!").size(), 1u);
  // Past the cooldown, the next shake switches it off again.
  loop().runFor(1.1);
  shake();
  EXPECT_TRUE(waitForActive(false));
}

}  // namespace
}  // namespace dunelo
