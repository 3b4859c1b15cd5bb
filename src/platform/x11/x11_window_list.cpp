#include "platform/x11/x11_window_list.h"

#include <algorithm>

namespace dunelo::x11 {

bool hasCaptureExtensions(const Extensions& x) {
  return x.composite.present && x.render.atLeast(0, 11) && x.xfixes.present && x.damage.present &&
         x.res.present;
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

bool X11WindowList::screenCapturePreflight() {
  return hasCaptureExtensions(conn_.extensions());
}

}  // namespace dunelo::x11
