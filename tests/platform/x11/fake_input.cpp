#include "platform/x11/fake_input.h"

#include <xcb/xtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace dunelo::testing {

FakeInput::FakeInput(const std::string& display) {
  xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
  if (xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    return;
  }
  connection_ = c;
  root_ = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  symbols_ = xcb_key_symbols_alloc(c);
}

FakeInput::~FakeInput() {
  if (symbols_) xcb_key_symbols_free(symbols_);
  if (connection_) xcb_disconnect(connection_);
}

xcb_keycode_t FakeInput::keycode(uint32_t keysym) const {
  xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols_, keysym);
  const xcb_keycode_t code = codes ? codes[0] : 0;
  free(codes);
  return code;
}

void FakeInput::keyDown(uint32_t keysym) {
  xcb_test_fake_input(connection_, XCB_KEY_PRESS, keycode(keysym), XCB_CURRENT_TIME, XCB_NONE, 0, 0,
                      0);
  sync();
}

void FakeInput::keyUp(uint32_t keysym) {
  xcb_test_fake_input(connection_, XCB_KEY_RELEASE, keycode(keysym), XCB_CURRENT_TIME, XCB_NONE, 0,
                      0, 0);
  sync();
}

void FakeInput::tap(uint32_t keysym, std::initializer_list<uint32_t> modifiers) {
  for (uint32_t m : modifiers) keyDown(m);
  keyDown(keysym);
  keyUp(keysym);
  for (auto it = std::rbegin(modifiers); it != std::rend(modifiers); ++it) keyUp(*it);
}

void FakeInput::tapKeycode(xcb_keycode_t keycode, std::initializer_list<uint32_t> modifiers) {
  for (uint32_t m : modifiers) keyDown(m);
  xcb_test_fake_input(connection_, XCB_KEY_PRESS, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  xcb_test_fake_input(connection_, XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  sync();
  for (auto it = std::rbegin(modifiers); it != std::rend(modifiers); ++it) keyUp(*it);
}

void FakeInput::swapKeys(xcb_keycode_t a, xcb_keycode_t b) {
  const xcb_keycode_t first = std::min(a, b);
  const uint8_t count = static_cast<uint8_t>(std::max(a, b) - first + 1);
  auto* reply = xcb_get_keyboard_mapping_reply(
      connection_, xcb_get_keyboard_mapping(connection_, first, count), nullptr);
  if (!reply) return;
  const int perKey = reply->keysyms_per_keycode;
  std::vector<xcb_keysym_t> syms(xcb_get_keyboard_mapping_keysyms(reply),
                                 xcb_get_keyboard_mapping_keysyms(reply) + perKey * count);
  free(reply);
  std::swap_ranges(syms.begin() + (a - first) * perKey, syms.begin() + (a - first + 1) * perKey,
                   syms.begin() + (b - first) * perKey);
  xcb_change_keyboard_mapping(connection_, count, first, static_cast<uint8_t>(perKey), syms.data());
  sync();
  // Our own lookups follow the new mapping too.
  xcb_key_symbols_free(symbols_);
  symbols_ = xcb_key_symbols_alloc(connection_);
}

void FakeInput::button(uint8_t type, uint8_t number) {
  xcb_test_fake_input(connection_, type, number, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  sync();
}

void FakeInput::moveBy(int dx, int dy) {
  // detail 1: the coordinates are relative.
  xcb_test_fake_input(connection_, XCB_MOTION_NOTIFY, 1, XCB_CURRENT_TIME, XCB_NONE,
                      static_cast<int16_t>(dx), static_cast<int16_t>(dy), 0);
  sync();
}

void FakeInput::warpTo(int x, int y) {
  xcb_warp_pointer(connection_, XCB_NONE, root_, 0, 0, 0, 0, static_cast<int16_t>(x),
                   static_cast<int16_t>(y));
  sync();
}

int16_t FakeInput::pointerX() const {
  auto* reply =
      xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root_), nullptr);
  const int16_t x = reply ? reply->root_x : 0;
  free(reply);
  return x;
}

void FakeInput::sync() const {
  free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

}  // namespace dunelo::testing
