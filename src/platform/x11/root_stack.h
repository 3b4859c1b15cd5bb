// The children of the root window in stacking order, kept current by the root's substructure
// events.
//
// Both the backend (which window is where, what lies above the overlay) and the renderer (what to
// compose behind the overlay) need the root's stacking order. Each X connection keeps one
// RootStack, read once and then followed event by event; its users keep whatever they derive from
// it (client records, damage objects and pixmaps) and learn of every change through `observe`,
// called after the stack already shows it. Windows of other clients vanish at any moment: a window
// that is gone before it could be read is simply left out.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "core/cancellable.h"
#include "core/subject.h"
#include "platform/x11/x11_connection.h"

namespace dunelo::x11 {

// A child of the root.
struct TopLevel {
  xcb_window_t id = XCB_NONE;
  int16_t x = 0;
  int16_t y = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint16_t border = 0;
  bool overrideRedirect = false;
  bool mapped = false;  // viewable, as far as a child of the root can be
  // Outer size including the border, the window's extent on screen.
  uint32_t outerWidth() const { return width + 2u * border; }
  uint32_t outerHeight() const { return height + 2u * border; }
};

struct StackChange {
  enum class Kind {
    added,        // `window` became a child of the root (created or reparented to it)
    removed,      // `window` was destroyed or reparented away; `window` is as it was
    mapped,       // `window.mapped` flipped
    configured,   // moved, resized or restacked (`moved`, `resized`, `restacked`); `before`
    rootResized,  // the root's own size changed (only with StructureNotify on the root)
  };
  Kind kind;
  TopLevel window = {};
  TopLevel before = {};  // configured: the window before the change
  bool moved = false;
  bool resized = false;  // the size or the border changed
  bool restacked = false;
};

class RootStack {
 public:
  // Adds SubstructureNotify and `moreRootEvents` to this connection's event mask on the root
  // (keeping what other components selected), then reads the root's children.
  RootStack(X11Connection& connection, uint32_t moreRootEvents = 0);
  RootStack(const RootStack&) = delete;
  RootStack& operator=(const RootStack&) = delete;

  // Bottom to top.
  const std::vector<TopLevel>& windows() const { return stack_; }
  const TopLevel* find(xcb_window_t id) const;
  // Index in `windows()`, or -1.
  int indexOf(xcb_window_t id) const;
  int rootWidth() const { return rootWidth_; }
  int rootHeight() const { return rootHeight_; }

  [[nodiscard]] Cancellable observe(std::function<void(const StackChange&)> handler) {
    return changes_.subscribe(std::move(handler));
  }

 private:
  void load();
  void add(const TopLevel& window);  // on top
  void remove(xcb_window_t id);
  void moveAbove(size_t index, xcb_window_t sibling);  // sibling none: to the bottom
  void onConfigure(const xcb_configure_notify_event_t& e);
  void onReparent(const xcb_reparent_notify_event_t& e);
  void setMapped(xcb_window_t id, bool mapped);
  void emit(const StackChange& change) { changes_.send(change); }

  X11Connection& conn_;
  xcb_window_t root_;
  std::vector<TopLevel> stack_;
  int rootWidth_ = 0;
  int rootHeight_ = 0;
  CancellableBag handlers_;
  Subject<StackChange> changes_;
};

}  // namespace dunelo::x11
