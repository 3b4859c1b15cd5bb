// The one connection to the X server that every X11 component shares.
//
// It exists so that the components agree on one set of interned atoms and extension versions,
// one policy for X errors and one stream of events. X errors never end the program: a request
// whose failure matters is sent checked and its error is a value for the caller; a request that
// may legitimately fail because a window of another client vanished has its error discarded; any
// other error gets one "[X11] ..." line in the debug log. Events are read by
// `dispatchPendingEvents()` (driven by whatever loop owns the thread, through `fd()`) and fanned
// out to the handlers the components registered for them.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "core/cancellable.h"
#include "core/scheduler.h"
#include "core/subject.h"

namespace dunelo::x11 {

// An xcb reply (or any malloc'ed xcb result), freed with free().
template <class T>
using Reply = std::unique_ptr<T, decltype(&free)>;

template <class T>
Reply<T> makeReply(T* raw) {
  return Reply<T>(raw, &free);
}

// Waits for the reply of `cookie` with `fn` (an xcb_*_reply function). Any error is dropped
// silently: callers ask for replies about windows that may have vanished, and treat a missing
// reply as "the window is gone".
template <class Fn, class Cookie>
auto replyOf(xcb_connection_t* c, Fn fn, Cookie cookie) {
  xcb_generic_error_t* error = nullptr;
  auto reply = makeReply(fn(c, cookie, &error));
  free(error);
  return reply;
}

// The atoms the backend uses, interned once at connection time.
struct Atoms {
  xcb_atom_t NET_SUPPORTED = XCB_NONE;
  xcb_atom_t NET_SUPPORTING_WM_CHECK = XCB_NONE;
  xcb_atom_t NET_ACTIVE_WINDOW = XCB_NONE;
  xcb_atom_t NET_CLIENT_LIST = XCB_NONE;
  xcb_atom_t NET_CLIENT_LIST_STACKING = XCB_NONE;
  xcb_atom_t NET_WM_PID = XCB_NONE;
  xcb_atom_t NET_WM_NAME = XCB_NONE;
  xcb_atom_t NET_WM_STATE = XCB_NONE;
  xcb_atom_t NET_WM_STATE_SKIP_TASKBAR = XCB_NONE;
  xcb_atom_t NET_WM_STATE_SKIP_PAGER = XCB_NONE;
  xcb_atom_t NET_WM_STATE_HIDDEN = XCB_NONE;
  xcb_atom_t NET_WM_WINDOW_TYPE = XCB_NONE;
  xcb_atom_t NET_WM_WINDOW_TYPE_NORMAL = XCB_NONE;
  xcb_atom_t NET_WM_WINDOW_TYPE_DIALOG = XCB_NONE;
  xcb_atom_t NET_WM_WINDOW_TYPE_DESKTOP = XCB_NONE;
  xcb_atom_t NET_WM_WINDOW_TYPE_DOCK = XCB_NONE;
  xcb_atom_t NET_WM_WINDOW_TYPE_UTILITY = XCB_NONE;
  xcb_atom_t NET_WM_WINDOW_TYPE_NOTIFICATION = XCB_NONE;
  xcb_atom_t NET_WM_BYPASS_COMPOSITOR = XCB_NONE;
  xcb_atom_t NET_WM_STATE_ABOVE = XCB_NONE;
  xcb_atom_t NET_WM_STATE_STICKY = XCB_NONE;
  xcb_atom_t NET_WM_DESKTOP = XCB_NONE;
  xcb_atom_t NET_WM_USER_TIME = XCB_NONE;
  xcb_atom_t NET_RESTACK_WINDOW = XCB_NONE;
  xcb_atom_t MOTIF_WM_HINTS = XCB_NONE;
  xcb_atom_t WM_STATE = XCB_NONE;
  xcb_atom_t UTF8_STRING = XCB_NONE;
  xcb_atom_t GTK_APPLICATION_ID = XCB_NONE;
  xcb_atom_t DUNELO_OVERLAY = XCB_NONE;  // marks our own overlay windows
  xcb_atom_t NET_WM_CM_S = XCB_NONE;     // _NET_WM_CM_S<screen>: owned by a compositing manager
};

// Extension presence and versions, queried once at connection time.
struct Extensions {
  struct Info {
    bool present = false;
    uint8_t majorOpcode = 0;
    uint8_t firstEvent = 0;
    uint8_t firstError = 0;
    uint32_t major = 0;  // negotiated version; 0.0 when not queried or absent
    uint32_t minor = 0;
    bool atLeast(uint32_t maj, uint32_t min) const {
      return present && (major > maj || (major == maj && minor >= min));
    }
  };
  Info randr, render, composite, xfixes, damage, res, shape, xinput, xtest;
};

// The xcb struct of each core event type the backend handles.
template <uint8_t Type>
struct CoreEvent;
template <>
struct CoreEvent<XCB_KEY_PRESS> {
  using type = xcb_key_press_event_t;
};
template <>
struct CoreEvent<XCB_KEY_RELEASE> {
  using type = xcb_key_release_event_t;
};
template <>
struct CoreEvent<XCB_EXPOSE> {
  using type = xcb_expose_event_t;
};
template <>
struct CoreEvent<XCB_CREATE_NOTIFY> {
  using type = xcb_create_notify_event_t;
};
template <>
struct CoreEvent<XCB_DESTROY_NOTIFY> {
  using type = xcb_destroy_notify_event_t;
};
template <>
struct CoreEvent<XCB_UNMAP_NOTIFY> {
  using type = xcb_unmap_notify_event_t;
};
template <>
struct CoreEvent<XCB_MAP_NOTIFY> {
  using type = xcb_map_notify_event_t;
};
template <>
struct CoreEvent<XCB_REPARENT_NOTIFY> {
  using type = xcb_reparent_notify_event_t;
};
template <>
struct CoreEvent<XCB_CONFIGURE_NOTIFY> {
  using type = xcb_configure_notify_event_t;
};
template <>
struct CoreEvent<XCB_GRAVITY_NOTIFY> {
  using type = xcb_gravity_notify_event_t;
};
template <>
struct CoreEvent<XCB_CIRCULATE_NOTIFY> {
  using type = xcb_circulate_notify_event_t;
};
template <>
struct CoreEvent<XCB_PROPERTY_NOTIFY> {
  using type = xcb_property_notify_event_t;
};
template <>
struct CoreEvent<XCB_CLIENT_MESSAGE> {
  using type = xcb_client_message_event_t;
};
template <>
struct CoreEvent<XCB_MAPPING_NOTIFY> {
  using type = xcb_mapping_notify_event_t;
};

class X11Connection {
 public:
  // Connects to `displayName` (null: $DISPLAY). None when there is no reachable display; the
  // reason is in `*failure` when given.
  static std::unique_ptr<X11Connection> open(const char* displayName = nullptr,
                                             std::string* failure = nullptr);
  ~X11Connection();
  X11Connection(const X11Connection&) = delete;
  X11Connection& operator=(const X11Connection&) = delete;

  xcb_connection_t* xcb() const { return conn_; }
  xcb_screen_t* screen() const { return screen_; }
  xcb_window_t root() const { return screen_->root; }
  int screenNumber() const { return screenNumber_; }
  const Atoms& atoms() const { return atoms_; }
  const Extensions& extensions() const { return extensions_; }

  // Interns (and caches) any other atom; XCB_NONE on failure.
  xcb_atom_t atom(std::string_view name);

  // --- errors ---

  // Waits for the outcome of a checked request; the X error code, or none when it succeeded.
  // Errors are not logged: the caller decides what they mean.
  std::optional<uint8_t> errorOf(xcb_void_cookie_t checkedCookie);
  // Waits for the outcome of a checked request; false on error, after one "[X11] <what>: ..." log
  // line.
  bool check(xcb_void_cookie_t checkedCookie, std::string_view what);
  // Drops whatever error a checked request produces, without waiting (for requests about
  // windows of other clients that may have vanished).
  void ignoreErrors(xcb_void_cookie_t checkedCookie);
  // Errors that reached the event queue and were logged (unchecked requests that failed).
  uint64_t unexpectedErrorCount() const { return unexpectedErrors_; }

  // --- events ---
  //
  // Handlers receive the event as the xcb struct of its type: `on<XCB_MAP_NOTIFY>(...)` for core
  // events, `onExtension<xcb_damage_notify_event_t>(extensions().damage, XCB_DAMAGE_NOTIFY, ...)`
  // for an extension's events, `onGeneric<...>(opcode, type, ...)` for XGE (GenericEvent) events.

  // Calls `handler` for every core event of this type (sent by the server or another client).
  template <uint8_t Type>
  [[nodiscard]] Cancellable on(std::function<void(const typename CoreEvent<Type>::type&)> handler) {
    return subscribe(Type, std::move(handler));
  }
  // Calls `handler` for event number `number` of `extension` (its first event + `number`).
  template <class Event>
  [[nodiscard]] Cancellable onExtension(const Extensions::Info& extension, uint8_t number,
                                        std::function<void(const Event&)> handler) {
    return subscribe(static_cast<uint8_t>(extension.firstEvent + number), std::move(handler));
  }
  // Calls `handler` for every XGE event of the extension with `majorOpcode` and this event type
  // (e.g. XInput2's XI_RawMotion). The event may be longer than `Event`: xcb's accessors read on.
  template <class Event>
  [[nodiscard]] Cancellable onGeneric(uint8_t majorOpcode, uint16_t eventType,
                                      std::function<void(const Event&)> handler) {
    return subscribe(genericKey(majorOpcode, eventType), std::move(handler));
  }
  // Called once when the connection to the server is lost.
  [[nodiscard]] Cancellable addConnectionLostHandler(std::function<void()> handler);

  // The socket to watch for readability.
  int fd() const;
  // Sends buffered requests.
  void flush();
  // Reads and dispatches every event available now without blocking (also those xcb queued while
  // waiting for a reply). Returns the number of events dispatched. Detects a lost connection.
  int dispatchPendingEvents();
  // Dispatches only the events xcb already read into its queue (while waiting for a reply, say),
  // without touching the socket. Those leave the socket quiet, so a loop must ask for them
  // before it sleeps.
  int dispatchQueuedEvents();
  bool isConnectionLost() const { return lost_; }

  // Waits for a round trip: every event the server sent before it is queued afterwards.
  void sync();

 private:
  X11Connection(xcb_connection_t* conn, int screenNumber);
  static uint32_t genericKey(uint8_t majorOpcode, uint16_t eventType) {
    return 0x80000000u | uint32_t{majorOpcode} << 16 | eventType;
  }
  // Every xcb event struct is laid out as the event on the wire, which is where the dispatched
  // event points: the one place the generic event is read as its type.
  template <class Event>
  Cancellable subscribe(uint32_t key, std::function<void(const Event&)> handler) {
    return handlers_[key].subscribe([handler = std::move(handler)](const xcb_generic_event_t& e) {
      handler(reinterpret_cast<const Event&>(e));
    });
  }
  void internAtoms();
  void queryExtensions();
  int drain(xcb_generic_event_t* (*next)(xcb_connection_t*));
  void dispatch(const xcb_generic_event_t& event);
  void logError(const xcb_generic_error_t& error, std::string_view what);
  void markLost();

  xcb_connection_t* conn_;
  xcb_screen_t* screen_ = nullptr;
  int screenNumber_ = 0;
  Atoms atoms_;
  Extensions extensions_;
  std::map<std::string, xcb_atom_t, std::less<>> atomCache_;
  // Keyed by the response type, or by a flag | opcode << 16 | event type for generic events.
  std::map<uint32_t, Subject<xcb_generic_event_t>> handlers_;
  Subject<std::monostate> lostHandlers_;
  bool lost_ = false;
  uint64_t unexpectedErrors_ = 0;
};

// Makes `loop` read and dispatch the connection's events when its socket is readable, and before
// every sleep dispatch what xcb queued meanwhile and send the buffered requests. A lost
// connection's socket stops being watched. The tokens undo it.
[[nodiscard]] CancellableBag attachToEventLoop(X11Connection& connection, Scheduler& loop);

// A readable name for an X error code (core and the extensions this backend uses).
std::string describeXError(const Extensions& extensions, uint8_t errorCode);

}  // namespace dunelo::x11
