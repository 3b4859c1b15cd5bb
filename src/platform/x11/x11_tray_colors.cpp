#include "platform/x11/x11_tray_colors.h"

#include <algorithm>
#include <string>

namespace dunelo::x11 {

X11TrayColors::X11TrayColors(X11Connection& connection) : conn_(connection) {
  selection_ = conn_.atom("_NET_SYSTEM_TRAY_S" + std::to_string(conn_.screenNumber()));
  colors_ = conn_.atom("_NET_SYSTEM_TRAY_COLORS");
  managerMessage_ = conn_.atom("MANAGER");
  // A new tray announces itself to the root's StructureNotify listeners. This connection's mask
  // on the root is shared with other components: add to it, never replace it.
  xcb_connection_t* c = conn_.xcb();
  if (auto attributes =
          replyOf(c, xcb_get_window_attributes_reply, xcb_get_window_attributes(c, conn_.root()))) {
    const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, conn_.root(), XCB_CW_EVENT_MASK, &mask);
  }
  handlers_.push_back(conn_.on<XCB_PROPERTY_NOTIFY>([this](const auto& e) {
    if (e.window == watched_ && e.atom == colors_) changes_.send(true);
  }));
  handlers_.push_back(conn_.on<XCB_DESTROY_NOTIFY>([this](const auto& e) {
    if (e.window != watched_ || watched_ == XCB_NONE) return;
    watched_ = XCB_NONE;
    changes_.send(true);
  }));
  handlers_.push_back(conn_.on<XCB_CLIENT_MESSAGE>([this](const auto& e) {
    if (e.type != managerMessage_ || e.format != 32 || e.data.data32[1] != selection_) return;
    watchManager();
    changes_.send(true);
  }));
  watchManager();
}

xcb_window_t X11TrayColors::watchManager() {
  if (conn_.isConnectionLost()) return XCB_NONE;
  xcb_connection_t* c = conn_.xcb();
  auto owner = replyOf(c, xcb_get_selection_owner_reply, xcb_get_selection_owner(c, selection_));
  const xcb_window_t manager = owner ? owner->owner : XCB_NONE;
  if (manager != watched_ && manager != XCB_NONE) {
    // Another client's window: it may be gone already, which only means there is no tray.
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    conn_.ignoreErrors(xcb_change_window_attributes_checked(c, manager, XCB_CW_EVENT_MASK, &mask));
  }
  watched_ = manager;
  return manager;
}

std::optional<Color> X11TrayColors::foreground() {
  const xcb_window_t manager = watchManager();
  if (manager == XCB_NONE) return std::nullopt;
  xcb_connection_t* c = conn_.xcb();
  auto reply = replyOf(c, xcb_get_property_reply,
                       xcb_get_property(c, 0, manager, colors_, XCB_ATOM_CARDINAL, 0, 12));
  // The foreground alone is enough; anything shorter or of another format says nothing.
  if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 12)
    return std::nullopt;
  const auto* rgb = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
  auto unit = [](uint32_t v) { return std::min<uint32_t>(v, 65535) / 65535.0; };
  return Color::srgb(unit(rgb[0]), unit(rgb[1]), unit(rgb[2]));
}

Cancellable X11TrayColors::observe(std::function<void()> handler) {
  return changes_.subscribe([handler = std::move(handler)](bool) { handler(); });
}

}  // namespace dunelo::x11
