// Global hot keys on X11: passive key grabs on the root window.
//
// A combination is grabbed four times, bare and with Num Lock, Caps Lock and both, because the
// server matches grabs against the exact modifier state and a lit lock key would otherwise
// swallow the hot key. A combination another client already holds (BadAccess) yields an empty
// token and one log line. Auto-repeat is folded away: a press is reported once, when the key
// goes down, however long it is held.
#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "core/cancellable.h"
#include "core/weak_ptr.h"
#include "platform/hot_keys.h"
#include "platform/x11/hot_key_table.h"
#include "platform/x11/x11_connection.h"

namespace dunelo::x11 {

class X11HotKeys final : public HotKeys {
 public:
  // `connection` must outlive this object.
  explicit X11HotKeys(X11Connection& connection);
  ~X11HotKeys() override;
  X11HotKeys(const X11HotKeys&) = delete;
  X11HotKeys& operator=(const X11HotKeys&) = delete;

  Cancellable installPressHandler(std::function<int32_t(const HotKeyID&)> handler) override;
  Cancellable registerHotKey(uint32_t keyCode, uint32_t modifiers, HotKeyID id) override;

  // Number of live registrations (for diagnostics and tests).
  size_t registrationCount() const { return registrations_.size(); }

 private:
  struct Registration {
    KeySym keysym = 0;
    uint32_t carbonModifiers = 0;
    HotKeyID id;
    uint16_t mask = 0;
    std::vector<xcb_keycode_t> keycodes;  // grabbed now
    bool isDown = false;
    xcb_timestamp_t lastRelease = 0;
  };

  void readModifierLayout();
  void enableDetectableAutoRepeat();
  // After a keyboard mapping change: `mapping` is the core notification, null for XKB's.
  void regrabAll(const xcb_mapping_notify_event_t* mapping);
  // Grabs every keycode of the registration's keysym in all lock variants; false (and nothing
  // held) when the server refuses any of them.
  bool grab(Registration& registration);
  void ungrab(Registration& registration);
  uint16_t lockVariantsMask() const;
  void unregister(uint64_t token);
  // A hot-key press or release, or a keyboard mapping change (after which every registration is
  // grabbed again).
  void handleKey(const xcb_key_press_event_t& key);

  X11Connection& x11_;
  xcb_connection_t* connection_;
  xcb_window_t root_;
  xcb_key_symbols_t* symbols_;
  ModifierLayout layout_;
  bool hasDetectableAutoRepeat_ = false;
  std::map<uint64_t, Registration> registrations_;
  uint64_t nextToken_ = 1;
  std::function<int32_t(const HotKeyID&)> handler_;
  uint64_t handlerGeneration_ = 0;
  CancellableBag eventHandlers_;
  WeakPtrFactory<X11HotKeys> weakFactory_{this};
};

}  // namespace dunelo::x11
