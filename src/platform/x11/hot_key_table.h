// Translates the hot key as the settings store it (a Mac virtual key code and the Carbon modifier
// mask the shortcut passes in) into what the X server grabs: a keysym and a core modifier mask.
//
// The stored values come from the same defaults keys on every platform. A key code stands for
// the key that types its character on a US layout (0x00 is A, 0x7A is F1, 0x7E the up arrow);
// the keysym is then found wherever the current keyboard layout puts it.
// Keys the table does not know (the modifier keys themselves, media keys, keys whose meaning
// depends on the Mac keyboard layout such as the ISO section key) translate to nothing.
#pragma once

#include <cstdint>
#include <optional>

namespace dunelo::x11 {

using KeySym = uint32_t;

// The keysym of the key with this Mac virtual key code, on a US layout; none when unknown.
std::optional<KeySym> keysymForMacKeyCode(uint32_t macKeyCode);

// Which core modifier bits stand for Super and Alt on this server (they are usually Mod4 and
// Mod1, but the modifier mapping decides), and which for Num Lock.
struct ModifierLayout {
  uint16_t super = 1 << 6;    // Mod4
  uint16_t alt = 1 << 3;      // Mod1
  uint16_t numLock = 1 << 4;  // Mod2
};

// command → Super, option → Alt, control → Control, shift → Shift; every other bit is dropped.
uint16_t modifierMaskForCarbon(uint32_t carbonModifiers, const ModifierLayout& layout);

}  // namespace dunelo::x11
