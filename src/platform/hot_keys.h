// System-wide key combinations that reach this application whichever application is in front.
//
// Key codes are the keyboard's virtual key codes as the settings store them; modifiers are the
// mask the shortcut passes in (command 0x0100, shift 0x0200, option 0x0800, control 0x1000).
#pragma once

#include <cstdint>
#include <functional>

#include "core/cancellable.h"

namespace dunelo {

struct HotKeyID {
  uint32_t signature = 0;  // a four-character code
  uint32_t number = 0;
  friend bool operator==(const HotKeyID&, const HotKeyID&) = default;
};

inline constexpr uint32_t kHotKeyModifierCommand = 0x0100;
inline constexpr uint32_t kHotKeyModifierShift = 0x0200;
inline constexpr uint32_t kHotKeyModifierOption = 0x0800;
inline constexpr uint32_t kHotKeyModifierControl = 0x1000;

class HotKeys {
 public:
  // What a press handler answers: handled, or not handled.
  static constexpr int32_t kHandled = 0;
  static constexpr int32_t kNotHandled = -9874;

  virtual ~HotKeys() = default;

  // Installs the handler that receives every registered combination's presses, once per press.
  // An empty token when it cannot be installed.
  [[nodiscard]] virtual Cancellable installPressHandler(
      std::function<int32_t(const HotKeyID&)> handler) = 0;
  // Grabs one combination. An empty token when it cannot be had (for example another program
  // holds it).
  [[nodiscard]] virtual Cancellable registerHotKey(uint32_t keyCode, uint32_t modifiers,
                                                   HotKeyID id) = 0;
};

}  // namespace dunelo
