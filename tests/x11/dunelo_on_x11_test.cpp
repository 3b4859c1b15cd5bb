// Dunelo as the program runs it (the X11 composition and the coordinator), driven through real X
// input on a private server with a window manager.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <memory>
#include <string>

#include "app/composition.h"
#include "app/x11_composition.h"
#include "support/log_capture.h"
#include "support/scratch_dir.h"
#include "x11/fake_input.h"
#include "x11/x_server.h"

namespace dunelo {
namespace {

using testing::FakeInput;
using testing::LogCapture;
using testing::ScratchDir;

class DuneloOnX11Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.ok());
    ASSERT_TRUE(user.isConnected());
    openWindow();
    // The hot key Control+Option+D as the settings store it: key code 2, modifier bits
    // 0x40000 | 0x80000.
    testing::writeFile(dir.file("defaults.json"),
                       R"({"globalShortcutKeyCode": 2, "globalShortcutModifiers": 786432})");
    std::string failure;
    composition = X11Composition::open({.displayName = server.display().c_str(),
                                        .defaultsPath = dir.file("defaults.json"),
                                        .autostartDir = dir.file("autostart")},
                                       &failure);
    ASSERT_TRUE(composition) << failure;
    coordinator = makeAppCoordinator(composition->platform());
    loop().runFor(0.3);
  }
  void TearDown() override {
    coordinator.reset();
    composition.reset();
  }

  // An ordinary application window for the window manager to activate.
  void openWindow() {
    xcb_connection_t* c = user.connection();
    const xcb_window_t window = xcb_generate_id(c);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 100, 100, 400, 300, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    const char wmClass[] = "editor\0Editor";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        sizeof wmClass, wmClass);
    xcb_map_window(c, window);
    user.sync();
  }

  x11::EventLoop& loop() { return composition->loop(); }
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

  LogCapture log;
  x11::testing::XServer server{true};
  FakeInput user{server.display()};
  ScratchDir dir;
  std::unique_ptr<X11Composition> composition;
  std::unique_ptr<AppCoordinator> coordinator;
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
  // The state was persisted where the program keeps it.
  EXPECT_NE(testing::readFile(dir.file("defaults.json")).find("\"isActive\""), std::string::npos);
}

TEST_F(DuneloOnX11Test, MouseShakeTogglesDunelo) {
  shake();
  ASSERT_TRUE(waitForActive(true));
  EXPECT_EQ(log.messagesStartingWith("[ShakeDetector] SHAKE DETECTED!").size(), 1u);
  // Past the cooldown, the next shake switches it off again.
  loop().runFor(1.1);
  shake();
  EXPECT_TRUE(waitForActive(false));
}

}  // namespace
}  // namespace dunelo
