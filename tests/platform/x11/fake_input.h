// The user's hands in X11 tests: key presses and pointer motion sent through XTEST on a
// connection of its own, so they reach the server exactly like real input.
#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdint>
#include <string>

namespace dunelo::testing {

class FakeInput {
 public:
  explicit FakeInput(const std::string& display);
  ~FakeInput();
  FakeInput(const FakeInput&) = delete;
  FakeInput& operator=(const FakeInput&) = delete;

  bool isConnected() const { return connection_ != nullptr; }
  xcb_connection_t* connection() const { return connection_; }
  xcb_window_t root() const { return root_; }
  xcb_keycode_t keycode(uint32_t keysym) const;

  void keyDown(uint32_t keysym);
  // Presses and releases a key by its keycode, whatever it is mapped to.
  void tapKeycode(xcb_keycode_t keycode, std::initializer_list<uint32_t> modifiers = {});
  // Swaps what two keys produce, as a keyboard layout change does (every client is told).
  void swapKeys(xcb_keycode_t a, xcb_keycode_t b);
  void keyUp(uint32_t keysym);
  // Presses the modifiers, taps the key and lets go of everything, in reverse order.
  void tap(uint32_t keysym, std::initializer_list<uint32_t> modifiers = {});
  // Presses (XCB_BUTTON_PRESS) or releases (XCB_BUTTON_RELEASE) a pointer button.
  void button(uint8_t type, uint8_t number);
  // Moves the pointer by (dx, dy) as a relative pointing device would.
  void moveBy(int dx, int dy);
  // Puts the pointer at (x, y) without any device moving (a warp).
  void warpTo(int x, int y);
  int16_t pointerX() const;
  // Waits until the server has processed everything sent so far.
  void sync() const;

 private:
  xcb_connection_t* connection_ = nullptr;
  xcb_window_t root_ = 0;
  xcb_key_symbols_t* symbols_ = nullptr;
};

}  // namespace dunelo::testing
