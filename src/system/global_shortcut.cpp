#include "system/global_shortcut.h"

namespace dunelo {

uint32_t hotKeyModifiers(uint64_t settingsModifiers) {
  uint32_t mask = 0;
  if (settingsModifiers & kSettingsModifierCommand) mask |= kHotKeyModifierCommand;
  if (settingsModifiers & kSettingsModifierShift) mask |= kHotKeyModifierShift;
  if (settingsModifiers & kSettingsModifierOption) mask |= kHotKeyModifierOption;
  if (settingsModifiers & kSettingsModifierControl) mask |= kHotKeyModifierControl;
  return mask;
}

GlobalShortcut::GlobalShortcut(HotKeys& hotKeys) : hotKeys_(hotKeys) {}

GlobalShortcut::~GlobalShortcut() {
  unregister();
}

void GlobalShortcut::registerHotKey(uint32_t keyCode, uint64_t modifiers) {
  unregister();
  const uint32_t mask = hotKeyModifiers(modifiers);
  // The handler refers to this object only weakly, so a press that races with destruction is
  // answered as not handled instead of reaching freed memory.
  eventHandler_ = hotKeys_.installPressHandler([weak = weakFactory_.getWeakPtr()](const HotKeyID&) {
    GlobalShortcut* self = weak.get();
    if (!self) return HotKeys::kNotHandled;
    return self->handlePress();
  });
  hotKeyRef_ = hotKeys_.registerHotKey(keyCode, mask, kDuneloHotKeyID);
}

void GlobalShortcut::unregister() {
  hotKeyRef_.cancel();
  eventHandler_.cancel();
}

int32_t GlobalShortcut::handlePress() {
  // Only Dunelo's one hot key is ever registered, so the press's identifier is not examined.
  // A copy keeps the closure alive even if it replaces `onTrigger` or re-registers while running.
  if (auto trigger = onTrigger) trigger();
  return HotKeys::kHandled;
}

}  // namespace dunelo
