#include "platform/x11/x11_window_list.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace dunelo::x11 {

bool hasCaptureExtensions(const Extensions& x) {
  return extensionHelp(x).text.empty();
}

PermissionHelp extensionHelp(const Extensions& x) {
  // Each missing piece by its usual name, and the name xorg.conf enables it by (none for an old
  // RENDER: only a newer server has a newer one).
  std::vector<std::pair<std::string, std::string>> missing;
  if (!x.composite.present) missing.emplace_back("Composite", "Composite");
  if (!x.render.present) {
    missing.emplace_back("RENDER", "RENDER");
  } else if (!x.render.atLeast(0, 11)) {
    missing.emplace_back("RENDER 0.11 (it has " + std::to_string(x.render.major) + "." +
                             std::to_string(x.render.minor) + ")",
                         "");
  }
  if (!x.damage.present) missing.emplace_back("Damage", "DAMAGE");
  if (!x.xfixes.present) missing.emplace_back("XFixes", "XFIXES");
  if (!x.res.present) missing.emplace_back("X-Resource", "X-Resource");
  if (missing.empty()) return {};

  std::string names, options;
  for (size_t i = 0; i < missing.size(); ++i) {
    if (i > 0) names += i + 1 == missing.size() ? " and " : ", ";
    names += missing[i].first;
    if (!missing[i].second.empty())
      options += "  Option \"" + missing[i].second + "\" \"Enable\"\n";
  }
  if (options.empty())
    return {"The X server lacks " + names + ", which the overlay draws with: update the X server.",
            "", ""};
  return {"The X server lacks " + names +
              ", which the overlay draws with: enable them in its configuration (xorg.conf) and "
              "restart it.",
          "Section \"Extensions\"\n" + options + "EndSection", ""};
}

X11WindowList::X11WindowList(X11Connection& connection, WindowTree& tree,
                             const CoordinateSpace& space)
    : conn_(connection), tree_(tree), space_(space) {}

bool X11WindowList::isDesktopWindow(const TopLevel& window) const {
  const ClientInfo* info = tree_.clientOfTopLevel(window.id);
  if (!info) return false;
  const auto& types = info->windowTypes;
  return std::find(types.begin(), types.end(), conn_.atoms().NET_WM_WINDOW_TYPE_DESKTOP) !=
         types.end();
}

std::optional<std::vector<WindowListEntry>> X11WindowList::onScreenWindows() {
  if (conn_.isConnectionLost()) return std::nullopt;
  std::vector<WindowListEntry> entries;
  const auto& stack = tree_.stack();
  entries.reserve(stack.size());
  for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
    const TopLevel& w = *it;
    if (!w.mapped || tree_.isOwnTopLevel(w.id) || isDesktopWindow(w)) continue;
    const Rect r = space_.topLeftRect(w.x, w.y, w.outerWidth(), w.outerHeight());
    WindowListEntry e;
    e.ownerPID = tree_.pidOfTopLevel(w.id);
    e.bounds = WindowBounds{r.origin.x, r.origin.y, r.size.width, r.size.height};
    e.windowNumber = static_cast<WindowNumber>(w.id);
    entries.push_back(e);
  }
  return entries;
}

Cancellable X11WindowList::observeChanges(std::function<void()> handler) {
  return tree_.observe([this, handler = std::move(handler)](const TreeChange& change) {
    // Root properties other than the active window, and titles (which some clients change many
    // times a second), move nothing. Other client properties may: a pid or a window type that
    // arrives after the window was mapped changes what the list says about it.
    using Kind = TreeChange::Kind;
    if (change.kind == Kind::rootProperty) return;
    if (change.kind == Kind::clientProperty &&
        (change.atom == XCB_ATOM_WM_NAME || change.atom == conn_.atoms().NET_WM_NAME))
      return;
    handler();
  });
}

bool X11WindowList::screenCapturePreflight() {
  return hasCaptureExtensions(conn_.extensions());
}

PermissionHelp X11WindowList::screenCaptureHelp() {
  return extensionHelp(conn_.extensions());
}

}  // namespace dunelo::x11
