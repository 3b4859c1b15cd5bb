#include "platform/x11/root_stack.h"

#include <algorithm>

namespace dunelo::x11 {

namespace {

TopLevel topLevelOf(xcb_window_t id, const xcb_get_geometry_reply_t& g,
                    const xcb_get_window_attributes_reply_t& a) {
  return TopLevel{id,
                  g.x,
                  g.y,
                  g.width,
                  g.height,
                  g.border_width,
                  a.override_redirect != 0,
                  a.map_state == XCB_MAP_STATE_VIEWABLE};
}

}  // namespace

RootStack::RootStack(X11Connection& connection, uint32_t moreRootEvents)
    : conn_(connection), root_(connection.root()) {
  const xcb_window_t root = root_;
  handlers_.push_back(conn_.on<XCB_CREATE_NOTIFY>([this, root](const auto& e) {
    if (e.parent != root || find(e.window)) return;  // known: in the snapshot already
    add(TopLevel{e.window, e.x, e.y, e.width, e.height, e.border_width, e.override_redirect != 0,
                 false});
  }));
  handlers_.push_back(conn_.on<XCB_DESTROY_NOTIFY>([this, root](const auto& e) {
    if (e.event == root) remove(e.window);
  }));
  handlers_.push_back(conn_.on<XCB_MAP_NOTIFY>([this, root](const auto& e) {
    if (e.event == root) setMapped(e.window, true);
  }));
  handlers_.push_back(conn_.on<XCB_UNMAP_NOTIFY>([this, root](const auto& e) {
    if (e.event == root) setMapped(e.window, false);
  }));
  handlers_.push_back(conn_.on<XCB_CONFIGURE_NOTIFY>([this](const auto& e) { onConfigure(e); }));
  handlers_.push_back(conn_.on<XCB_REPARENT_NOTIFY>([this](const auto& e) { onReparent(e); }));
  handlers_.push_back(conn_.on<XCB_CIRCULATE_NOTIFY>([this, root](const auto& e) {
    const int index = e.event == root ? indexOf(e.window) : -1;
    if (index < 0) return;
    const TopLevel window = stack_[static_cast<size_t>(index)];
    moveAbove(static_cast<size_t>(index),
              e.place == XCB_PLACE_ON_TOP ? stack_.back().id : XCB_NONE);
    emit({StackChange::Kind::configured, window, window, false, false, true});
  }));
  handlers_.push_back(conn_.on<XCB_GRAVITY_NOTIFY>([this, root](const auto& e) {
    const int index = e.event == root ? indexOf(e.window) : -1;
    if (index < 0) return;
    TopLevel& window = stack_[static_cast<size_t>(index)];
    const TopLevel before = window;
    window.x = e.x;
    window.y = e.y;
    emit({StackChange::Kind::configured, window, before, true, false, false});
  }));

  // Select first, then read: whatever changes in between arrives as an event afterwards, and
  // every handler above is idempotent against the snapshot.
  xcb_connection_t* c = conn_.xcb();
  uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | moreRootEvents;
  if (auto attributes =
          replyOf(c, xcb_get_window_attributes_reply, xcb_get_window_attributes(c, root_)))
    mask |= attributes->your_event_mask;
  conn_.check(xcb_change_window_attributes_checked(c, root_, XCB_CW_EVENT_MASK, &mask),
              "selecting root window events");
  load();
}

void RootStack::load() {
  xcb_connection_t* c = conn_.xcb();
  rootWidth_ = conn_.screen()->width_in_pixels;
  rootHeight_ = conn_.screen()->height_in_pixels;
  auto tree = replyOf(c, xcb_query_tree_reply, xcb_query_tree(c, root_));
  if (!tree) return;
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  const auto n = static_cast<size_t>(xcb_query_tree_children_length(tree.get()));
  // Pipelined: every request first, then the replies.
  std::vector<xcb_get_window_attributes_cookie_t> attrs(n);
  std::vector<xcb_get_geometry_cookie_t> geoms(n);
  for (size_t i = 0; i < n; ++i) {
    attrs[i] = xcb_get_window_attributes(c, children[i]);
    geoms[i] = xcb_get_geometry(c, children[i]);
  }
  for (size_t i = 0; i < n; ++i) {
    auto a = replyOf(c, xcb_get_window_attributes_reply, attrs[i]);
    auto g = replyOf(c, xcb_get_geometry_reply, geoms[i]);
    if (a && g) stack_.push_back(topLevelOf(children[i], *g, *a));  // else vanished meanwhile
  }
}

const TopLevel* RootStack::find(xcb_window_t id) const {
  const int index = indexOf(id);
  return index < 0 ? nullptr : &stack_[static_cast<size_t>(index)];
}

int RootStack::indexOf(xcb_window_t id) const {
  for (size_t i = 0; i < stack_.size(); ++i)
    if (stack_[i].id == id) return static_cast<int>(i);
  return -1;
}

void RootStack::add(const TopLevel& window) {
  stack_.push_back(window);  // new children start at the top of their siblings
  emit({StackChange::Kind::added, window, window});
}

void RootStack::remove(xcb_window_t id) {
  const int index = indexOf(id);
  if (index < 0) return;
  const TopLevel window = stack_[static_cast<size_t>(index)];
  stack_.erase(stack_.begin() + index);
  emit({StackChange::Kind::removed, window, window});
}

void RootStack::moveAbove(size_t index, xcb_window_t sibling) {
  const TopLevel window = stack_[index];
  stack_.erase(stack_.begin() + static_cast<std::ptrdiff_t>(index));
  if (sibling == XCB_NONE) {
    stack_.insert(stack_.begin(), window);
    return;
  }
  const int below = indexOf(sibling);
  // An unknown sibling raced with its destruction: on top.
  stack_.insert(below < 0 ? stack_.end() : stack_.begin() + below + 1, window);
}

void RootStack::setMapped(xcb_window_t id, bool mapped) {
  const int index = indexOf(id);
  if (index < 0 || stack_[static_cast<size_t>(index)].mapped == mapped) return;
  stack_[static_cast<size_t>(index)].mapped = mapped;
  emit({StackChange::Kind::mapped, stack_[static_cast<size_t>(index)]});
}

void RootStack::onConfigure(const xcb_configure_notify_event_t& e) {
  if (e.window == root_) {
    if (e.width == rootWidth_ && e.height == rootHeight_) return;
    rootWidth_ = e.width;
    rootHeight_ = e.height;
    emit({StackChange::Kind::rootResized});
    return;
  }
  if (e.event != root_) return;  // a window's own StructureNotify, selected by someone else
  const int index = indexOf(e.window);
  if (index < 0) return;
  TopLevel& window = stack_[static_cast<size_t>(index)];
  const TopLevel before = window;
  window.x = e.x;
  window.y = e.y;
  window.width = e.width;
  window.height = e.height;
  window.border = e.border_width;
  window.overrideRedirect = e.override_redirect != 0;
  const TopLevel now = window;
  const bool moved = before.x != now.x || before.y != now.y;
  const bool resized =
      before.width != now.width || before.height != now.height || before.border != now.border;
  const xcb_window_t below = index > 0 ? stack_[static_cast<size_t>(index - 1)].id : XCB_NONE;
  const bool restacked = below != e.above_sibling;
  if (restacked) moveAbove(static_cast<size_t>(index), e.above_sibling);
  if (moved || resized || restacked)
    emit({StackChange::Kind::configured, now, before, moved, resized, restacked});
}

void RootStack::onReparent(const xcb_reparent_notify_event_t& e) {
  if (e.event != root_) return;
  if (e.parent != root_) {
    remove(e.window);
    return;
  }
  if (find(e.window)) return;
  xcb_connection_t* c = conn_.xcb();
  auto attrs = replyOf(c, xcb_get_window_attributes_reply, xcb_get_window_attributes(c, e.window));
  auto geom = replyOf(c, xcb_get_geometry_reply, xcb_get_geometry(c, e.window));
  if (attrs && geom) add(topLevelOf(e.window, *geom, *attrs));
}

}  // namespace dunelo::x11
