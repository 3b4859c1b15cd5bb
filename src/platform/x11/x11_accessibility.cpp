#include "platform/x11/x11_accessibility.h"

#include <algorithm>

#include "core/debug_log.h"
#include "platform/x11/x11_window_list.h"

namespace dunelo::x11 {

class X11Accessibility::Observer final : public WindowChangeObserver {
 public:
  Observer(X11Accessibility& owner, ProcessID pid, std::function<void(std::string_view)> callback)
      : owner_(&owner), pid_(pid), callback_(std::move(callback)) {
    owner_->observers_.push_back(this);
    focused_ = owner_->focusedWindow(pid_);
  }
  ~Observer() override {
    *alive_ = false;
    if (owner_) std::erase(owner_->observers_, this);
  }

  bool addNotification(std::string_view name) override {
    for (std::string_view known :
         {kFocusedWindowChanged, kWindowMoved, kWindowResized, kMainWindowChanged}) {
      if (name == known) {
        names_.push_back(known);
        return true;
      }
    }
    return false;
  }

  void detach() { owner_ = nullptr; }

  void onTreeChange(const TreeChange& change) {
    if (!owner_) return;
    if (change.kind == TreeChange::Kind::activeWindow ||
        change.kind == TreeChange::Kind::clientList) {
      auto now = owner_->focusedWindow(pid_);
      if (now == focused_) return;
      focused_ = now;
      // Also when the focused window closed and the application has no other: the tracker must
      // not keep the frame of a window that is gone.
      auto alive = alive_;  // a callback may destroy this observer
      deliver(kFocusedWindowChanged);
      if (*alive) deliver(kMainWindowChanged);
      return;
    }
    if (change.kind == TreeChange::Kind::geometry && focused_) {
      const ClientInfo* info = owner_->tree_.client(static_cast<xcb_window_t>(*focused_));
      if (!info || info->frame != change.window) return;
      auto alive = alive_;
      if (change.moved) deliver(kWindowMoved);
      if (*alive && change.resized) deliver(kWindowResized);
    }
  }

 private:
  void deliver(std::string_view name) {
    if (std::find(names_.begin(), names_.end(), name) == names_.end()) return;
    auto callback = callback_;  // the callback may destroy this observer
    callback(name);
  }

  X11Accessibility* owner_;
  ProcessID pid_;
  std::function<void(std::string_view)> callback_;
  std::vector<std::string_view> names_;
  std::optional<WindowRef> focused_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

X11Accessibility::X11Accessibility(X11Connection& connection, WindowTree& tree,
                                   const CoordinateSpace& space)
    : conn_(connection), tree_(tree), space_(space) {
  if (const ClientInfo* info = tree_.client(tree_.activeWindow()); info && info->pid)
    lastActiveByPID_[*info->pid] = info->id;
  treeToken_ = tree_.observe([this](const TreeChange& change) { onTreeChange(change); });
}

X11Accessibility::~X11Accessibility() {
  for (Observer* o : observers_) o->detach();
}

void X11Accessibility::onTreeChange(const TreeChange& change) {
  if (change.kind == TreeChange::Kind::activeWindow ||
      change.kind == TreeChange::Kind::clientList) {
    if (const ClientInfo* info = tree_.client(tree_.activeWindow()); info && info->pid)
      lastActiveByPID_[*info->pid] = info->id;
  }
  if (change.kind == TreeChange::Kind::clientList) {
    std::erase_if(lastActiveByPID_, [&](const auto& kv) { return !tree_.client(kv.second); });
  }
  // Observers may be destroyed (and created) by the callbacks they deliver to.
  const std::vector<Observer*> snapshot = observers_;
  for (Observer* o : snapshot) {
    if (std::find(observers_.begin(), observers_.end(), o) != observers_.end())
      o->onTreeChange(change);
  }
}

std::optional<WindowRef> X11Accessibility::focusedWindow(ProcessID pid) {
  if (const ClientInfo* active = tree_.client(tree_.activeWindow()); active && active->pid == pid)
    return active->id;
  if (auto it = lastActiveByPID_.find(pid);
      it != lastActiveByPID_.end() && tree_.client(it->second))
    return it->second;
  // The topmost mapped client of that pid.
  const auto& stack = tree_.stack();
  for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
    if (!it->mapped) continue;
    const ClientInfo* info = tree_.clientOfTopLevel(it->id);
    if (info && info->pid == pid) return info->id;
  }
  return std::nullopt;
}

std::optional<Rect> X11Accessibility::frameRect(WindowRef window) const {
  const ClientInfo* info = tree_.client(static_cast<xcb_window_t>(window));
  if (!info) return std::nullopt;
  const TopLevel* frame = tree_.topLevel(info->frame);
  if (!frame) return std::nullopt;
  return space_.topLeftRect(frame->x, frame->y, frame->outerWidth(), frame->outerHeight());
}

std::optional<Point> X11Accessibility::windowPosition(WindowRef window) {
  auto r = frameRect(window);
  if (!r) return std::nullopt;
  return r->origin;
}

std::optional<Size> X11Accessibility::windowSize(WindowRef window) {
  auto r = frameRect(window);
  if (!r) return std::nullopt;
  return r->size;
}

std::unique_ptr<WindowChangeObserver> X11Accessibility::createObserver(
    ProcessID pid, std::function<void(std::string_view)> callback) {
  if (pid <= 0 || !callback || conn_.isConnectionLost()) return nullptr;
  return std::make_unique<Observer>(*this, pid, std::move(callback));
}

bool X11Accessibility::canReadFocusedApplication() {
  if (conn_.isConnectionLost() || !tree_.windowManagerPublishesActiveWindow()) return false;
  const ClientInfo* info = tree_.client(tree_.activeWindow());
  return info && info->pid;
}

std::string X11Accessibility::missingRequirements() const {
  std::string missing;
  auto add = [&](const char* what) {
    if (!missing.empty()) missing += ", ";
    missing += what;
  };
  if (!tree_.windowManagerPublishesActiveWindow())
    add("a window manager that publishes _NET_ACTIVE_WINDOW");
  const Extensions& x = conn_.extensions();
  if (!x.composite.present) add("the Composite extension");
  if (!x.render.atLeast(0, 11)) add("RENDER 0.11 or later");
  if (!x.xfixes.present) add("the XFixes extension");
  if (!x.damage.present) add("the Damage extension");
  if (!x.res.present) add("the X-Resource extension");
  return missing;
}

bool X11Accessibility::isProcessTrusted(bool prompt) {
  if (conn_.isConnectionLost()) return false;
  const std::string missing = missingRequirements();
  if (missing.empty()) return true;
  if (prompt) {
    debugLog("[X11] this desktop cannot be followed: it lacks " + missing +
             ". Run Dunelo under an EWMH window manager on an X server with these extensions.");
  }
  return false;
}

}  // namespace dunelo::x11
