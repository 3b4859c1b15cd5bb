// The one system-wide key combination that toggles Dunelo whichever application is in front.
//
// The coordinator decides from the settings whether a combination is wanted, sets `onTrigger` and
// calls `registerHotKey`; this class only translates the settings' modifier bits into the hot-key
// service's mask and keeps at most one registration (and one press handler) alive. Registration
// failures are silent by design: a combination that another program holds simply does nothing.
#pragma once

#include <cstdint>
#include <functional>

#include "core/cancellable.h"
#include "core/weak_ptr.h"
#include "platform/hot_keys.h"

namespace dunelo {

// Identifier of Dunelo's hot key: signature 'DNLO', number 1.
inline constexpr HotKeyID kDuneloHotKeyID{0x444E4C4F, 1};

// Modifier bits as the settings store them (the desktop's event modifier flags).
inline constexpr uint64_t kSettingsModifierShift = 0x20000;
inline constexpr uint64_t kSettingsModifierControl = 0x40000;
inline constexpr uint64_t kSettingsModifierOption = 0x80000;
inline constexpr uint64_t kSettingsModifierCommand = 0x100000;

// The hot-key mask for the settings' modifier bits; bits other than command, shift, option and
// control are dropped.
uint32_t hotKeyModifiers(uint64_t settingsModifiers);

class GlobalShortcut {
 public:
  explicit GlobalShortcut(HotKeys& hotKeys);
  ~GlobalShortcut();
  GlobalShortcut(const GlobalShortcut&) = delete;
  GlobalShortcut& operator=(const GlobalShortcut&) = delete;

  // Replaces any earlier registration with `keyCode` plus `modifiers` (settings bits).
  void registerHotKey(uint32_t keyCode, uint64_t modifiers);
  // Removes the hot key and the press handler, if present.
  void unregister();

  // Called once per press, on the main thread.
  std::function<void()> onTrigger;

 private:
  int32_t handlePress();

  HotKeys& hotKeys_;
  Cancellable hotKeyRef_;
  Cancellable eventHandler_;
  WeakPtrFactory<GlobalShortcut> weakFactory_{this};
};

}  // namespace dunelo
