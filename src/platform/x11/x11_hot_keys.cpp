#include "platform/x11/x11_hot_keys.h"

#include <X11/keysym.h>
// xcb's XKB header names struct members `explicit`, a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "core/debug_log.h"

namespace dunelo::x11 {
namespace {

constexpr uint8_t kBadAccess = 10;
constexpr uint16_t kLockMask = XCB_MOD_MASK_LOCK;
// Pointer button bits of an event's state; they never take part in matching.
constexpr uint16_t kButtonMasks = 0xFF00;

std::string hex(uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%X", value);
  return buffer;
}

}  // namespace

X11HotKeys::X11HotKeys(X11Connection& connection)
    : x11_(connection),
      connection_(connection.xcb()),
      root_(connection.root()),
      symbols_(xcb_key_symbols_alloc(connection.xcb())) {
  readModifierLayout();
  enableDetectableAutoRepeat();
  auto onKey = [weak = weakFactory_.getWeakPtr()](const xcb_key_press_event_t& event) {
    if (X11HotKeys* self = weak.get()) self->handleKey(event);
  };
  eventHandlers_.push_back(x11_.on<XCB_KEY_PRESS>(onKey));
  eventHandlers_.push_back(x11_.on<XCB_KEY_RELEASE>(onKey));
  eventHandlers_.push_back(x11_.on<XCB_MAPPING_NOTIFY>(
      [weak = weakFactory_.getWeakPtr()](const xcb_mapping_notify_event_t& mapping) {
        X11HotKeys* self = weak.get();
        if (self && mapping.request != XCB_MAPPING_POINTER) self->regrabAll(&mapping);
      }));
}

X11HotKeys::~X11HotKeys() {
  for (auto& [token, registration] : registrations_) ungrab(registration);
  registrations_.clear();
  xcb_flush(connection_);
  if (symbols_) xcb_key_symbols_free(symbols_);
}

void X11HotKeys::readModifierLayout() {
  layout_ = ModifierLayout{};
  if (!symbols_) return;
  auto reply =
      replyOf(connection_, xcb_get_modifier_mapping_reply, xcb_get_modifier_mapping(connection_));
  if (!reply) return;
  const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply.get());
  const int perModifier = reply->keycodes_per_modifier;
  bool haveSuper = false, haveAlt = false, haveNumLock = false;
  // Shift, Lock and Control (indices 0-2) are fixed; Mod1..Mod5 are assigned by the mapping.
  for (int modifier = 3; modifier < 8; ++modifier) {
    const auto bit = static_cast<uint16_t>(1 << modifier);
    for (int i = 0; i < perModifier; ++i) {
      const xcb_keycode_t code = codes[modifier * perModifier + i];
      if (code == 0) continue;
      const xcb_keysym_t sym = xcb_key_symbols_get_keysym(symbols_, code, 0);
      if (!haveSuper && (sym == XK_Super_L || sym == XK_Super_R)) {
        layout_.super = bit;
        haveSuper = true;
      } else if (!haveAlt && (sym == XK_Alt_L || sym == XK_Alt_R)) {
        layout_.alt = bit;
        haveAlt = true;
      } else if (!haveNumLock && sym == XK_Num_Lock) {
        layout_.numLock = bit;
        haveNumLock = true;
      }
    }
  }
}

void X11HotKeys::enableDetectableAutoRepeat() {
  // With it, a held key repeats as presses without releases, and a quick second press (however
  // close in time) is told apart from a repeat.
  auto use =
      replyOf(connection_, xcb_xkb_use_extension_reply, xcb_xkb_use_extension(connection_, 1, 0));
  if (!use || !use->supported) return;
  const uint32_t flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
  auto flags =
      replyOf(connection_, xcb_xkb_per_client_flags_reply,
              xcb_xkb_per_client_flags(connection_, XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0));
  hasDetectableAutoRepeat_ = flags && (flags->value & flag);
  // A client that uses XKB hears of keyboard mapping changes (a layout switch) only through XKB's
  // own events, no longer through the core MappingNotify.
  const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(connection_, &xcb_xkb_id);
  if (!xkb || !xkb->present) return;
  const uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
  const uint16_t parts =
      XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP;
  xcb_xkb_select_events(connection_, XCB_XKB_ID_USE_CORE_KBD, events, 0, events, parts, parts,
                        nullptr);
  // Every XKB event comes under the extension's one event code; `xkbType` tells them apart.
  const Extensions::Info xkbEvents{.present = true, .firstEvent = xkb->first_event};
  eventHandlers_.push_back(x11_.onExtension<xcb_xkb_map_notify_event_t>(
      xkbEvents, 0, [weak = weakFactory_.getWeakPtr()](const xcb_xkb_map_notify_event_t& event) {
        const uint8_t xkbType = event.xkbType;
        if (xkbType != XCB_XKB_MAP_NOTIFY && xkbType != XCB_XKB_NEW_KEYBOARD_NOTIFY) return;
        if (X11HotKeys* self = weak.get()) self->regrabAll(nullptr);
      }));
}

void X11HotKeys::regrabAll(const xcb_mapping_notify_event_t* mapping) {
  if (!symbols_) return;
  // Keycodes and modifier bits may have moved: release the old grabs and grab again.
  for (auto& [token, registration] : registrations_) ungrab(registration);
  if (mapping) {
    xcb_refresh_keyboard_mapping(symbols_, const_cast<xcb_mapping_notify_event_t*>(mapping));
  } else {
    xcb_key_symbols_free(symbols_);
    symbols_ = xcb_key_symbols_alloc(connection_);
  }
  readModifierLayout();
  for (auto& [token, registration] : registrations_) grab(registration);
  xcb_flush(connection_);
}

uint16_t X11HotKeys::lockVariantsMask() const {
  return kLockMask | layout_.numLock;
}

Cancellable X11HotKeys::installPressHandler(std::function<int32_t(const HotKeyID&)> handler) {
  handler_ = std::move(handler);
  const uint64_t generation = ++handlerGeneration_;
  return Cancellable([weak = weakFactory_.getWeakPtr(), generation] {
    X11HotKeys* self = weak.get();
    if (!self || self->handlerGeneration_ != generation) return;
    self->handler_ = nullptr;
  });
}

Cancellable X11HotKeys::registerHotKey(uint32_t keyCode, uint32_t modifiers, HotKeyID id) {
  const auto keysym = keysymForMacKeyCode(keyCode);
  if (!keysym) {
    debugLog("[HotKeys] key code " + hex(keyCode) + " has no X11 equivalent; no hot key");
    return {};
  }
  Registration registration;
  registration.keysym = *keysym;
  registration.carbonModifiers = modifiers;
  registration.id = id;
  if (!grab(registration)) return {};
  const uint64_t token = nextToken_++;
  registrations_.emplace(token, std::move(registration));
  return Cancellable([weak = weakFactory_.getWeakPtr(), token] {
    if (X11HotKeys* self = weak.get()) self->unregister(token);
  });
}

void X11HotKeys::unregister(uint64_t token) {
  auto it = registrations_.find(token);
  if (it == registrations_.end()) return;
  ungrab(it->second);
  registrations_.erase(it);
  xcb_flush(connection_);
}

bool X11HotKeys::grab(Registration& registration) {
  registration.mask = modifierMaskForCarbon(registration.carbonModifiers, layout_);
  registration.keycodes.clear();
  if (!symbols_) return false;
  auto codes = makeReply(xcb_key_symbols_get_keycode(symbols_, registration.keysym));
  if (!codes || codes.get()[0] == XCB_NO_SYMBOL) {
    debugLog("[HotKeys] keysym " + hex(registration.keysym) +
             " is not on this keyboard; no hot key");
    return false;
  }
  const std::array<uint16_t, 4> variants{0, kLockMask, layout_.numLock,
                                         static_cast<uint16_t>(kLockMask | layout_.numLock)};
  std::vector<xcb_void_cookie_t> cookies;
  for (const xcb_keycode_t* code = codes.get(); *code != XCB_NO_SYMBOL; ++code) {
    registration.keycodes.push_back(*code);
    for (uint16_t variant : variants) {
      cookies.push_back(xcb_grab_key_checked(connection_, 1, root_, registration.mask | variant,
                                             *code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
  }
  std::optional<uint8_t> errorCode;
  for (auto cookie : cookies) {
    if (auto error = x11_.errorOf(cookie)) errorCode = error;
  }
  const bool refused = errorCode.has_value();
  if (!refused) return true;
  ungrab(registration);
  xcb_flush(connection_);
  debugLog("[HotKeys] cannot grab keysym " + hex(registration.keysym) + " with modifiers " +
           hex(registration.carbonModifiers) + ": " +
           (*errorCode == kBadAccess ? std::string("another program holds it")
                                     : describeXError(x11_.extensions(), *errorCode)));
  return false;
}

void X11HotKeys::ungrab(Registration& registration) {
  const std::array<uint16_t, 4> variants{0, kLockMask, layout_.numLock,
                                         static_cast<uint16_t>(kLockMask | layout_.numLock)};
  for (xcb_keycode_t code : registration.keycodes) {
    for (uint16_t variant : variants) {
      xcb_ungrab_key(connection_, code, root_, registration.mask | variant);
    }
  }
  registration.keycodes.clear();
  registration.isDown = false;
}

void X11HotKeys::handleKey(const xcb_key_press_event_t& key) {
  const uint8_t type = key.response_type & 0x7F;
  auto holdsKey = [&](const Registration& registration) {
    for (xcb_keycode_t code : registration.keycodes) {
      if (code == key.detail) return true;
    }
    return false;
  };
  if (type == XCB_KEY_RELEASE) {
    // Matched by key alone: the modifiers may have been let go before the key.
    for (auto& [token, registration] : registrations_) {
      if (!registration.isDown || !holdsKey(registration)) continue;
      registration.isDown = false;
      registration.lastRelease = key.time;
    }
    return;
  }
  const uint16_t state = key.state & ~(lockVariantsMask() | kButtonMasks);
  for (auto& [token, registration] : registrations_) {
    if (state != registration.mask || !holdsKey(registration)) continue;
    // A held key repeats as bare presses (detectable auto-repeat) or, on a server without
    // it, as release/press pairs sharing one timestamp; neither is a new press.
    const bool isRepeat =
        registration.isDown || (!hasDetectableAutoRepeat_ && registration.lastRelease != 0 &&
                                key.time == registration.lastRelease);
    registration.isDown = true;
    if (isRepeat) return;
    if (handler_) {
      auto handler = handler_;  // the handler may replace itself or cancel this registration
      handler(registration.id);
    }
    return;
  }
}

}  // namespace dunelo::x11
