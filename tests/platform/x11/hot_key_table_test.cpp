#include "platform/x11/hot_key_table.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <xcb/xproto.h>

#include <map>

#include "platform/hot_keys.h"

namespace dunelo::x11 {
namespace {

TEST(HotKeyTableTest, MacKeyCodesNameTheSamePhysicalKey) {
  struct Case {
    uint32_t mac;
    KeySym keysym;
  };
  const Case cases[] = {
      {0x00, XK_a},      {0x0B, XK_b},        {0x06, XK_z},         {0x1D, XK_0},
      {0x12, XK_1},      {0x19, XK_9},        {0x31, XK_space},     {0x24, XK_Return},
      {0x35, XK_Escape}, {0x30, XK_Tab},      {0x33, XK_BackSpace}, {0x75, XK_Delete},
      {0x7A, XK_F1},     {0x78, XK_F2},       {0x6F, XK_F12},       {0x5A, XK_F20},
      {0x7B, XK_Left},   {0x7C, XK_Right},    {0x7D, XK_Down},      {0x7E, XK_Up},
      {0x52, XK_KP_0},   {0x4C, XK_KP_Enter}, {0x32, XK_grave},     {0x2A, XK_backslash},
  };
  for (const auto& c : cases)
    EXPECT_EQ(keysymForMacKeyCode(c.mac), c.keysym) << "mac key code " << c.mac;
  // Modifier keys, caps lock, the keypad's Clear, codes past the keyboard.
  for (uint32_t mac : {0x37u, 0x38u, 0x39u, 0x47u, 0x80u, 0xFFFFFFFFu})
    EXPECT_EQ(keysymForMacKeyCode(mac), std::nullopt) << "mac key code " << mac;
}

TEST(HotKeyTableTest, NoTwoKeyCodesShareAKeysym) {
  std::map<KeySym, uint32_t> seen;
  int known = 0;
  for (uint32_t code = 0; code < 0x80; ++code) {
    const auto keysym = keysymForMacKeyCode(code);
    if (!keysym) continue;
    ++known;
    auto [it, inserted] = seen.emplace(*keysym, code);
    EXPECT_TRUE(inserted) << "codes " << it->second << " and " << code << " share a keysym";
  }
  EXPECT_GE(known, 95);
}

TEST(HotKeyTableTest, CarbonModifiersBecomeTheServersModifierBits) {
  const ModifierLayout usual;  // Super on Mod4, Alt on Mod1
  const ModifierLayout moved{.super = XCB_MOD_MASK_3, .alt = XCB_MOD_MASK_5, .numLock = 0};
  struct Case {
    uint32_t carbon;
    uint16_t usualMask;
    uint16_t movedMask;
  };
  const Case cases[] = {
      {0, 0, 0},
      {kHotKeyModifierCommand, XCB_MOD_MASK_4, XCB_MOD_MASK_3},
      {kHotKeyModifierShift, XCB_MOD_MASK_SHIFT, XCB_MOD_MASK_SHIFT},
      {kHotKeyModifierOption, XCB_MOD_MASK_1, XCB_MOD_MASK_5},
      {kHotKeyModifierControl, XCB_MOD_MASK_CONTROL, XCB_MOD_MASK_CONTROL},
      {0x1B00, XCB_MOD_MASK_4 | XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_1 | XCB_MOD_MASK_CONTROL,
       XCB_MOD_MASK_3 | XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_5 | XCB_MOD_MASK_CONTROL},
      // caps lock (0x0400), the right-hand variants and stray bits are dropped
      {0x0400 | 0x2000 | 0x4000 | 0x8000 | 0x0001, 0, 0},
      {kHotKeyModifierCommand | 0x0400, XCB_MOD_MASK_4, XCB_MOD_MASK_3},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(modifierMaskForCarbon(c.carbon, usual), c.usualMask) << std::hex << c.carbon;
    EXPECT_EQ(modifierMaskForCarbon(c.carbon, moved), c.movedMask) << std::hex << c.carbon;
  }
}

}  // namespace
}  // namespace dunelo::x11
