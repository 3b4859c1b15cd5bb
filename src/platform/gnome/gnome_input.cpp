#include "platform/gnome/gnome_input.h"

#include "core/debug_log.h"

namespace dunelo::gnome {

GnomeHotKeys::GnomeHotKeys(ShellConnection& shell) : shell_(shell) {
  tokens_.push_back(shell_.acceleratorActivated.subscribe([this](const uint32_t& action) {
    for (const auto& [token, r] : registrations_) {
      if (r.action != action || action == 0) continue;
      if (auto handler = handler_) handler(r.id);  // a copy: the handler may replace itself
      return;
    }
  }));
  tokens_.push_back(shell_.presence.subscribe([this](const bool& present) {
    // A new extension instance holds no grabs; an old one took its grabs along.
    for (auto& [token, r] : registrations_) {
      r.action = 0;
      if (present) grab(r);
    }
  }));
}

GnomeHotKeys::~GnomeHotKeys() {
  for (auto& [token, r] : registrations_) {
    if (r.action) shell_.send("UngrabAccelerator", {r.action});
  }
}

Cancellable GnomeHotKeys::installPressHandler(std::function<int32_t(const HotKeyID&)> handler) {
  handler_ = std::move(handler);
  const uint64_t generation = ++handlerGeneration_;
  return Cancellable([weak = weakFactory_.getWeakPtr(), generation] {
    GnomeHotKeys* self = weak.get();
    if (self && self->handlerGeneration_ == generation) self->handler_ = nullptr;
  });
}

bool GnomeHotKeys::grab(Registration& r) {
  const auto reply = shell_.call("GrabAccelerator", {QString::fromStdString(r.accelerator)});
  r.action = reply && !reply->arguments().isEmpty() ? reply->arguments().first().toUInt() : 0;
  if (!r.action && reply) {
    debugLog("[HotKeys] cannot grab " + r.accelerator + ": another program holds it");
  }
  return r.action != 0;
}

Cancellable GnomeHotKeys::registerHotKey(uint32_t keyCode, uint32_t modifiers, HotKeyID id) {
  const auto accelerator = acceleratorFor(keyCode, modifiers);
  if (!accelerator) {
    debugLog("[HotKeys] key code " + std::to_string(keyCode) + " has no key on this desktop");
    return {};
  }
  Registration r{*accelerator, id, 0};
  // Without the extension the grab is made once it appears.
  if (shell_.isReady() && !grab(r)) return {};
  const uint64_t token = nextToken_++;
  registrations_[token] = r;
  return Cancellable([weak = weakFactory_.getWeakPtr(), token] {
    if (GnomeHotKeys* self = weak.get()) self->unregister(token);
  });
}

void GnomeHotKeys::unregister(uint64_t token) {
  auto it = registrations_.find(token);
  if (it == registrations_.end()) return;
  if (it->second.action) shell_.send("UngrabAccelerator", {it->second.action});
  registrations_.erase(it);
}

GnomeMouseMonitors::GnomeMouseMonitors(ShellConnection& shell) : shell_(shell) {
  tokens_.push_back(shell_.pointerMoved.subscribe([this](const PointerMotion& motion) {
    const MouseMovedEvent event{motion.dx};
    const auto snapshot = handlers_;  // a handler may remove monitors
    for (const auto& [token, handler] : snapshot) {
      if (handlers_.count(token)) handler(event);
    }
  }));
  tokens_.push_back(shell_.presence.subscribe([this](const bool& present) {
    if (!present) return;
    watching_ = false;  // a new extension instance reports nothing until asked
    updateWatch();
  }));
}

GnomeMouseMonitors::~GnomeMouseMonitors() {
  handlers_.clear();
  updateWatch();
}

Cancellable GnomeMouseMonitors::addGlobalMonitor(Handler handler) {
  if (!handler) return {};
  const uint64_t token = nextToken_++;
  handlers_[token] = std::move(handler);
  updateWatch();
  return Cancellable([weak = weakFactory_.getWeakPtr(), token] {
    if (GnomeMouseMonitors* self = weak.get()) {
      self->handlers_.erase(token);
      self->updateWatch();
    }
  });
}

Cancellable GnomeMouseMonitors::addLocalMonitor(Handler handler) {
  if (!handler) return {};
  return Cancellable([] {});
}

void GnomeMouseMonitors::updateWatch() {
  const bool wanted = !handlers_.empty();
  if (wanted == watching_) return;
  watching_ = wanted;
  shell_.send("WatchPointer", {wanted});
}

}  // namespace dunelo::gnome
