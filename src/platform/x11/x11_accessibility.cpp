#include "platform/x11/x11_accessibility.h"

#include <algorithm>

#include "core/debug_log.h"
#include "platform/window_change_notifier.h"
#include "platform/x11/x11_window_list.h"

namespace dunelo::x11 {

class X11Accessibility::Observer final : public WindowChangeNotifier {
 public:
  Observer(X11Accessibility& owner, ProcessID pid, std::function<void(std::string_view)> callback)
      : WindowChangeNotifier(std::move(callback)), owner_(owner), pid_(pid) {
    focused_ = owner_.focusedWindow(pid_);
    // The owner's subject: it outlives no owner, so `owner_` is valid whenever this runs.
    token_ = owner_.changes_.subscribe([this](const TreeChange& change) { onTreeChange(change); });
  }

 private:
  void onTreeChange(const TreeChange& change) {
    if (change.kind == TreeChange::Kind::activeWindow ||
        change.kind == TreeChange::Kind::clientList) {
      auto now = owner_.focusedWindow(pid_);
      if (now == focused_) return;
      focused_ = now;
      // Also when the focused window closed and the application has no other: the tracker must
      // not keep the frame of a window that is gone.
      focusChanged();
      return;
    }
    if (change.kind == TreeChange::Kind::geometry && focused_) {
      const ClientInfo* info = owner_.tree_.client(static_cast<xcb_window_t>(*focused_));
      if (info && info->frame == change.window) frameChanged(change.moved, change.resized);
    }
  }

  X11Accessibility& owner_;
  ProcessID pid_;
  std::optional<WindowRef> focused_;
  Cancellable token_;
};

X11Accessibility::X11Accessibility(X11Connection& connection, WindowTree& tree,
                                   const CoordinateSpace& space)
    : conn_(connection), tree_(tree), space_(space) {
  if (const ClientInfo* info = tree_.client(tree_.activeWindow()); info && info->pid)
    lastActiveByPID_[*info->pid] = info->id;
  treeToken_ = tree_.observe([this](const TreeChange& change) { onTreeChange(change); });
}

X11Accessibility::~X11Accessibility() = default;

void X11Accessibility::onTreeChange(const TreeChange& change) {
  if (change.kind == TreeChange::Kind::activeWindow ||
      change.kind == TreeChange::Kind::clientList) {
    if (const ClientInfo* info = tree_.client(tree_.activeWindow()); info && info->pid)
      lastActiveByPID_[*info->pid] = info->id;
  }
  if (change.kind == TreeChange::Kind::clientList) {
    std::erase_if(lastActiveByPID_, [&](const auto& kv) { return !tree_.client(kv.second); });
  }
  changes_.send(change);
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

bool X11Accessibility::isProcessTrusted(bool prompt) {
  if (!conn_.isConnectionLost() && tree_.windowManagerPublishesActiveWindow()) return true;
  if (prompt) debugLog("[X11] cannot follow the active window: " + trustHelp().text);
  return false;
}

PermissionHelp X11Accessibility::trustHelp() {
  if (conn_.isConnectionLost()) return windowManagerHelp(true, std::nullopt);
  if (tree_.windowManagerPublishesActiveWindow()) return {};
  return windowManagerHelp(false, runningWindowManager());
}

std::optional<std::string> X11Accessibility::runningWindowManager() const {
  xcb_connection_t* c = conn_.xcb();
  const xcb_window_t root = conn_.root();
  // A window manager is whoever redirects the root's substructure, EWMH or not.
  auto attributes = replyOf(c, xcb_get_window_attributes_reply, xcb_get_window_attributes(c, root));
  if (!attributes || !(attributes->all_event_masks & XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT))
    return std::nullopt;
  auto check = replyOf(
      c, xcb_get_property_reply,
      xcb_get_property(c, 0, root, conn_.atoms().NET_SUPPORTING_WM_CHECK, XCB_ATOM_WINDOW, 0, 1));
  if (!check || check->format != 32 || xcb_get_property_value_length(check.get()) < 4) return "";
  const xcb_window_t window =
      *static_cast<const xcb_window_t*>(xcb_get_property_value(check.get()));
  auto name = replyOf(
      c, xcb_get_property_reply,
      xcb_get_property(c, 0, window, conn_.atoms().NET_WM_NAME, conn_.atoms().UTF8_STRING, 0, 16));
  if (!name || name->format != 8) return "";
  // Another client's text: printable characters only, and short.
  std::string out;
  const auto* text = static_cast<const char*>(xcb_get_property_value(name.get()));
  for (int i = 0; i < xcb_get_property_value_length(name.get()) && out.size() < 40; ++i)
    if (static_cast<unsigned char>(text[i]) >= 0x20 && text[i] != 0x7f) out += text[i];
  return out;
}

PermissionHelp windowManagerHelp(bool connectionLost,
                                 const std::optional<std::string>& windowManager) {
  if (connectionLost)
    return {"The connection to the X server is lost: start Dunelo again.", "", ""};
  if (!windowManager) {
    return {
        "No window manager is running: start one that publishes the active window, such as "
        "openbox.",
        "openbox &", ""};
  }
  const std::string who =
      windowManager->empty() ? "The window manager" : "The window manager " + *windowManager;
  return {who +
              " does not publish the active window: switch to one that does (EWMH), such as "
              "openbox, xfwm4, KWin or Mutter.",
          "openbox --replace &", ""};
}

}  // namespace dunelo::x11
