// The X server's top-level windows as Dunelo needs them, kept current by events.
//
// The ordering loop runs sixty times a second and asks for the window list, the focused window
// and the stacking order on every tick; answering with round trips would cost the X server and
// this process far more than the answers are worth. WindowTree reads everything once, then
// follows the connection's RootStack, the root's _NET_ACTIVE_WINDOW and _NET_CLIENT_LIST, and the
// properties of each managed client, so every read is a lookup in memory. Per-client facts that
// need a round trip (the frame a client lives in, its pid through X-Resource) are fetched once when
// the client appears and refreshed when it is reparented or the property changes.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/cancellable.h"
#include "core/subject.h"
#include "platform/x11/root_stack.h"
#include "platform/x11/x11_connection.h"

namespace dunelo::x11 {

// A window listed in _NET_CLIENT_LIST, with the properties Dunelo reads.
struct ClientInfo {
  xcb_window_t id = XCB_NONE;
  xcb_window_t frame = XCB_NONE;  // its ancestor whose parent is the root (itself if none)
  std::optional<int32_t> pid;     // _NET_WM_PID, else X-Resource; none when neither answers
  std::string wmInstance;         // WM_CLASS
  std::string wmClass;
  std::optional<std::string> gtkApplicationID;
  std::string title;  // _NET_WM_NAME, else WM_NAME
  std::vector<xcb_atom_t> windowTypes;
  std::vector<xcb_atom_t> states;
};

// What changed, for observers.
struct TreeChange {
  enum class Kind {
    activeWindow,    // _NET_ACTIVE_WINDOW changed (also to none)
    clientList,      // clients came or went
    clientProperty,  // a property of `window` (a client) changed and was re-read
    geometry,        // `window` (a top-level) moved or was resized; `moved`/`resized` say which
    stacking,        // the stacking order or the mapped state of a top-level changed
    rootResized,     // the root window's size changed
    rootProperty,    // a property of the root changed (`atom`)
  };
  Kind kind;
  xcb_window_t window = XCB_NONE;
  xcb_atom_t atom = XCB_NONE;
  bool moved = false;
  bool resized = false;
};

class WindowTree {
 public:
  explicit WindowTree(X11Connection& connection);
  ~WindowTree();
  WindowTree(const WindowTree&) = delete;
  WindowTree& operator=(const WindowTree&) = delete;

  // Children of the root, bottom to top.
  const std::vector<TopLevel>& stack() const { return stack_.windows(); }
  const TopLevel* topLevel(xcb_window_t id) const { return stack_.find(id); }
  // Index in `stack()`, or -1.
  int stackIndex(xcb_window_t id) const { return stack_.indexOf(id); }

  // The client that _NET_ACTIVE_WINDOW names, if the window manager publishes one.
  xcb_window_t activeWindow() const { return activeWindow_; }
  // Managed clients in _NET_CLIENT_LIST order (mapping order).
  const std::vector<xcb_window_t>& clients() const { return clientOrder_; }
  const ClientInfo* client(xcb_window_t id) const;
  // The client framed by (or equal to) a top-level, if any.
  const ClientInfo* clientOfTopLevel(xcb_window_t topLevelId) const;

  // The pid of a top-level window's owner: its client's pid, else X-Resource on the window
  // itself (cached per window).
  std::optional<int32_t> pidOfTopLevel(xcb_window_t topLevelId);

  // Whether an EWMH window manager is running and says it publishes _NET_ACTIVE_WINDOW.
  bool windowManagerPublishesActiveWindow() const { return wmPublishesActive_; }
  int rootWidth() const { return stack_.rootWidth(); }
  int rootHeight() const { return stack_.rootHeight(); }

  // Whether `id` was created by this connection (our own overlays).
  bool isOwnWindow(xcb_window_t id) const { return (id & ~idMask_) == idBase_; }
  // Whether a top-level is one of ours, or the window manager's frame around one of ours.
  bool isOwnTopLevel(xcb_window_t id) const;
  // Whether the window manager says it takes _NET_RESTACK_WINDOW requests.
  bool windowManagerRestacksOnRequest() const { return wmRestacks_; }
  // The window manager's _NET_SUPPORTING_WM_CHECK window (none without an EWMH manager).
  xcb_window_t windowManagerCheck() const { return wmCheck_; }
  // Whether two windows were made by the same client. (X servers give every client the same
  // resource id mask, so the bits above it name the client.)
  bool sameClient(xcb_window_t a, xcb_window_t b) const { return (a & ~idMask_) == (b & ~idMask_); }

  [[nodiscard]] Cancellable observe(std::function<void(const TreeChange&)> handler) {
    return changes_.subscribe(std::move(handler));
  }

 private:
  void readActiveWindow();
  void readClientList();
  void readWmCheck();
  void addClients(const std::vector<xcb_window_t>& ids);
  void readClientProperty(ClientInfo& info, xcb_atom_t atom);
  void locateFrame(ClientInfo& info);
  std::optional<int32_t> queryResPid(xcb_window_t window);
  void relinkClient(xcb_window_t clientId);

  void onStackChange(const StackChange& change);
  void onReparent(const xcb_reparent_notify_event_t& e);
  void onProperty(const xcb_property_notify_event_t& e);

  void emit(TreeChange change) { changes_.send(change); }

  X11Connection& conn_;
  RootStack stack_;
  xcb_window_t activeWindow_ = XCB_NONE;
  std::vector<xcb_window_t> clientOrder_;
  std::unordered_map<xcb_window_t, std::unique_ptr<ClientInfo>> clients_;
  std::unordered_map<xcb_window_t, xcb_window_t> clientOfFrame_;
  std::unordered_map<xcb_window_t, std::optional<int32_t>> topLevelPid_;
  bool wmPublishesActive_ = false;
  xcb_window_t wmCheck_ = XCB_NONE;
  bool wmRestacks_ = false;
  uint32_t idBase_ = 0;
  uint32_t idMask_ = 0;
  Subject<TreeChange> changes_;
  CancellableBag handlers_;
};

}  // namespace dunelo::x11
