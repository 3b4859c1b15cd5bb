#include "platform/x11/x11_hot_keys.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <vector>

#include "platform/x11/fake_input.h"
#include "platform/x11/x11_harness.h"
#include "support/log_capture.h"

namespace dunelo::x11 {
namespace {

using dunelo::testing::FakeInput;
using dunelo::testing::LogCapture;
using dunelo::testing::X11Harness;

constexpr uint32_t kMacD = 0x02;
constexpr uint32_t kMacF5 = 0x60;
constexpr HotKeyID kID{0x444E4C4F, 1};

class X11HotKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(x.isReady()) << "no private X server";
    ASSERT_TRUE(user.isConnected());
    handlerToken = hotKeys.installPressHandler([this](const HotKeyID& id) {
      pressed.push_back(id);
      return HotKeys::kHandled;
    });
  }
  // Lets the loop deliver everything the server has sent by now.
  void settle() {
    user.sync();
    x.connection->sync();
    x.loop.runFor(0.05);
  }
  // Whether another client can grab the key with Control (it then holds it).
  bool otherClientGrabs(xcb_keycode_t code) {
    auto cookie = xcb_grab_key_checked(user.connection(), 1, user.root(), XCB_MOD_MASK_CONTROL,
                                       code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    xcb_generic_error_t* error = xcb_request_check(user.connection(), cookie);
    const bool granted = error == nullptr;
    free(error);
    return granted;
  }

  X11Harness x;
  FakeInput user{x.server.display()};
  X11HotKeys hotKeys{*x.connection};
  std::vector<HotKeyID> pressed;
  Cancellable handlerToken;
  LogCapture log;
};

TEST_F(X11HotKeysTest, PressWithItsModifiersReachesTheHandlerOnceOthersDoNot) {
  Cancellable token =
      hotKeys.registerHotKey(kMacD, kHotKeyModifierControl | kHotKeyModifierOption, kID);
  ASSERT_TRUE(token);

  user.tap(XK_d, {XK_Control_L, XK_Alt_L});
  settle();
  ASSERT_EQ(pressed.size(), 1u);
  EXPECT_EQ(pressed[0], kID);

  // The bare key, a missing modifier and an extra one are not the hot key.
  user.tap(XK_d);
  user.tap(XK_d, {XK_Control_L});
  user.tap(XK_d, {XK_Control_L, XK_Alt_L, XK_Shift_L});
  settle();
  EXPECT_EQ(pressed.size(), 1u);
}

TEST_F(X11HotKeysTest, LockKeysDoNotHideTheHotKey) {
  Cancellable token = hotKeys.registerHotKey(kMacD, kHotKeyModifierCommand, kID);
  ASSERT_TRUE(token);
  for (uint32_t lock : {XK_Num_Lock, XK_Caps_Lock, XK_Num_Lock}) {
    user.tap(lock);
    user.tap(XK_d, {XK_Super_L});
  }
  user.tap(XK_Caps_Lock);
  settle();
  EXPECT_EQ(pressed.size(), 3u);
}

TEST_F(X11HotKeysTest, HeldKeyIsOnePressAndTheNextPressCountsAgain) {
  Cancellable token = hotKeys.registerHotKey(kMacF5, 0, kID);
  ASSERT_TRUE(token);
  // A key pressed again while down is what auto-repeat delivers.
  user.keyDown(XK_F5);
  user.keyDown(XK_F5);
  user.keyDown(XK_F5);
  user.keyUp(XK_F5);
  settle();
  EXPECT_EQ(pressed.size(), 1u);

  // Modifiers let go before the key must not leave the key counted as held.
  Cancellable second = hotKeys.registerHotKey(kMacD, kHotKeyModifierShift, HotKeyID{1, 2});
  user.keyDown(XK_Shift_L);
  user.keyDown(XK_d);
  user.keyUp(XK_Shift_L);
  user.keyUp(XK_d);
  user.tap(XK_d, {XK_Shift_L});
  user.tap(XK_F5);
  settle();
  ASSERT_EQ(pressed.size(), 4u);
  EXPECT_EQ(pressed[1], (HotKeyID{1, 2}));
  EXPECT_EQ(pressed[3], kID);
}

TEST_F(X11HotKeysTest, CombinationHeldByAnotherClientGivesEmptyTokenAndOneLogLine) {
  ASSERT_TRUE(otherClientGrabs(user.keycode(XK_d)));

  Cancellable token = hotKeys.registerHotKey(kMacD, kHotKeyModifierControl, kID);
  EXPECT_FALSE(token);
  EXPECT_EQ(hotKeys.registrationCount(), 0u);
  const auto messages = log.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("another program holds it"), std::string::npos) << messages[0];

  // The partial grabs were given back: the other client's grab keeps working alone, and a
  // different combination can still be had.
  EXPECT_TRUE(hotKeys.registerHotKey(kMacD, kHotKeyModifierShift, kID));
}

TEST_F(X11HotKeysTest, CancelledRegistrationReleasesTheGrab) {
  Cancellable token = hotKeys.registerHotKey(kMacD, kHotKeyModifierControl, kID);
  ASSERT_TRUE(token);
  token.cancel();
  user.tap(XK_d, {XK_Control_L});
  settle();
  EXPECT_TRUE(pressed.empty());
  EXPECT_TRUE(otherClientGrabs(user.keycode(XK_d))) << "another client can now take it";
}

TEST_F(X11HotKeysTest, KeyboardMappingChangeMovesTheGrabWithTheKey) {
  Cancellable token = hotKeys.registerHotKey(kMacD, kHotKeyModifierControl, kID);
  ASSERT_TRUE(token);
  const xcb_keycode_t oldD = user.keycode(XK_d);
  const xcb_keycode_t oldF = user.keycode(XK_f);
  user.swapKeys(oldD, oldF);
  settle();

  user.tapKeycode(oldD, {XK_Control_L});  // produces f now
  settle();
  EXPECT_TRUE(pressed.empty());
  user.tapKeycode(oldF, {XK_Control_L});  // produces d now
  settle();
  EXPECT_EQ(pressed.size(), 1u);
  EXPECT_TRUE(otherClientGrabs(oldD)) << "the old keycode was given back";
}

}  // namespace
}  // namespace dunelo::x11
