#include "platform/x11/x11_connection.h"

#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/render.h>
#include <xcb/res.h>
#include <xcb/shape.h>
#include <xcb/xfixes.h>
#include <xcb/xinput.h>
#include <xcb/xtest.h>

#include <array>
#include <cassert>
#include <cstdio>
#include <cstring>

#include "core/debug_log.h"

namespace dunelo::x11 {
namespace {

constexpr uint32_t kGenericKeyFlag = 0x1000000;

uint32_t genericKey(uint8_t opcode, uint16_t eventType) {
  return kGenericKeyFlag | (static_cast<uint32_t>(opcode) << 16) | eventType;
}

const char* connectionErrorText(int code) {
  switch (code) {
    case XCB_CONN_ERROR:
      return "socket, pipe or stream error";
    case XCB_CONN_CLOSED_EXT_NOTSUPPORTED:
      return "extension not supported";
    case XCB_CONN_CLOSED_MEM_INSUFFICIENT:
      return "out of memory";
    case XCB_CONN_CLOSED_REQ_LEN_EXCEED:
      return "request too long";
    case XCB_CONN_CLOSED_PARSE_ERR:
      return "cannot parse the display name";
    case XCB_CONN_CLOSED_INVALID_SCREEN:
      return "no such screen";
    default:
      return "connection refused";
  }
}

}  // namespace

std::unique_ptr<X11Connection> X11Connection::open(const char* displayName, std::string* failure) {
  const char* shown = displayName ? displayName : std::getenv("DISPLAY");
  if (!shown || !*shown) {
    if (failure) *failure = "no X display (DISPLAY is not set)";
    return nullptr;
  }
  int screenNumber = 0;
  xcb_connection_t* conn = xcb_connect(displayName, &screenNumber);
  if (int code = xcb_connection_has_error(conn)) {
    if (failure) {
      *failure =
          std::string("cannot open X display \"") + shown + "\": " + connectionErrorText(code);
    }
    xcb_disconnect(conn);
    return nullptr;
  }
  auto connection = std::unique_ptr<X11Connection>(new X11Connection(conn, screenNumber));
  if (!connection->screen_) {
    if (failure)
      *failure =
          std::string("X display \"") + shown + "\" has no screen " + std::to_string(screenNumber);
    return nullptr;
  }
  return connection;
}

X11Connection::X11Connection(xcb_connection_t* conn, int screenNumber)
    : conn_(conn), screenNumber_(screenNumber) {
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn_));
  for (int i = 0; it.rem; ++i, xcb_screen_next(&it)) {
    if (i == screenNumber) {
      screen_ = it.data;
      break;
    }
  }
  if (!screen_) return;
  internAtoms();
  queryExtensions();
}

X11Connection::~X11Connection() {
  handlers_->clear();
  xcb_disconnect(conn_);
}

void X11Connection::internAtoms() {
  struct Entry {
    const char* name;
    xcb_atom_t* slot;
  };
  const std::array entries = {
      Entry{"_NET_SUPPORTED", &atoms_.NET_SUPPORTED},
      Entry{"_NET_SUPPORTING_WM_CHECK", &atoms_.NET_SUPPORTING_WM_CHECK},
      Entry{"_NET_ACTIVE_WINDOW", &atoms_.NET_ACTIVE_WINDOW},
      Entry{"_NET_CLIENT_LIST", &atoms_.NET_CLIENT_LIST},
      Entry{"_NET_CLIENT_LIST_STACKING", &atoms_.NET_CLIENT_LIST_STACKING},
      Entry{"_NET_WM_PID", &atoms_.NET_WM_PID},
      Entry{"_NET_WM_NAME", &atoms_.NET_WM_NAME},
      Entry{"_NET_WM_STATE", &atoms_.NET_WM_STATE},
      Entry{"_NET_WM_STATE_SKIP_TASKBAR", &atoms_.NET_WM_STATE_SKIP_TASKBAR},
      Entry{"_NET_WM_STATE_SKIP_PAGER", &atoms_.NET_WM_STATE_SKIP_PAGER},
      Entry{"_NET_WM_STATE_HIDDEN", &atoms_.NET_WM_STATE_HIDDEN},
      Entry{"_NET_WM_WINDOW_TYPE", &atoms_.NET_WM_WINDOW_TYPE},
      Entry{"_NET_WM_WINDOW_TYPE_NORMAL", &atoms_.NET_WM_WINDOW_TYPE_NORMAL},
      Entry{"_NET_WM_WINDOW_TYPE_DIALOG", &atoms_.NET_WM_WINDOW_TYPE_DIALOG},
      Entry{"_NET_WM_WINDOW_TYPE_DESKTOP", &atoms_.NET_WM_WINDOW_TYPE_DESKTOP},
      Entry{"_NET_WM_WINDOW_TYPE_DOCK", &atoms_.NET_WM_WINDOW_TYPE_DOCK},
      Entry{"_NET_WM_WINDOW_TYPE_UTILITY", &atoms_.NET_WM_WINDOW_TYPE_UTILITY},
      Entry{"_NET_WM_WINDOW_TYPE_NOTIFICATION", &atoms_.NET_WM_WINDOW_TYPE_NOTIFICATION},
      Entry{"_NET_WM_BYPASS_COMPOSITOR", &atoms_.NET_WM_BYPASS_COMPOSITOR},
      Entry{"WM_STATE", &atoms_.WM_STATE},
      Entry{"UTF8_STRING", &atoms_.UTF8_STRING},
      Entry{"_GTK_APPLICATION_ID", &atoms_.GTK_APPLICATION_ID},
      Entry{"_DUNELO_OVERLAY", &atoms_.DUNELO_OVERLAY},
  };
  std::array<xcb_intern_atom_cookie_t, entries.size()> cookies{};
  for (size_t i = 0; i < entries.size(); ++i) {
    cookies[i] = xcb_intern_atom(conn_, 0, static_cast<uint16_t>(std::strlen(entries[i].name)),
                                 entries[i].name);
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    if (auto reply = replyOf(conn_, xcb_intern_atom_reply, cookies[i])) {
      *entries[i].slot = reply->atom;
      atomCache_.emplace(entries[i].name, reply->atom);
    }
  }
}

void X11Connection::queryExtensions() {
  struct Ext {
    xcb_extension_t* id;
    Extensions::Info* info;
  };
  const std::array exts = {
      Ext{&xcb_randr_id, &extensions_.randr},         Ext{&xcb_render_id, &extensions_.render},
      Ext{&xcb_composite_id, &extensions_.composite}, Ext{&xcb_xfixes_id, &extensions_.xfixes},
      Ext{&xcb_damage_id, &extensions_.damage},       Ext{&xcb_res_id, &extensions_.res},
      Ext{&xcb_shape_id, &extensions_.shape},         Ext{&xcb_input_id, &extensions_.xinput},
      Ext{&xcb_test_id, &extensions_.xtest},
  };
  for (const Ext& e : exts) xcb_prefetch_extension_data(conn_, e.id);
  for (const Ext& e : exts) {
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(conn_, e.id);
    if (!data || !data->present) continue;
    e.info->present = true;
    e.info->majorOpcode = data->major_opcode;
    e.info->firstEvent = data->first_event;
    e.info->firstError = data->first_error;
  }
  // Version negotiation; XFixes and Damage refuse requests from clients that skip it.
  auto& x = extensions_;
  auto randrC =
      x.randr.present ? xcb_randr_query_version(conn_, 1, 5) : xcb_randr_query_version_cookie_t{};
  auto renderC = x.render.present ? xcb_render_query_version(conn_, 0, 11)
                                  : xcb_render_query_version_cookie_t{};
  auto compositeC = x.composite.present ? xcb_composite_query_version(conn_, 0, 4)
                                        : xcb_composite_query_version_cookie_t{};
  auto xfixesC = x.xfixes.present ? xcb_xfixes_query_version(conn_, 5, 0)
                                  : xcb_xfixes_query_version_cookie_t{};
  auto damageC = x.damage.present ? xcb_damage_query_version(conn_, 1, 1)
                                  : xcb_damage_query_version_cookie_t{};
  auto resC = x.res.present ? xcb_res_query_version(conn_, 1, 2) : xcb_res_query_version_cookie_t{};
  auto shapeC =
      x.shape.present ? xcb_shape_query_version(conn_) : xcb_shape_query_version_cookie_t{};
  auto inputC = x.xinput.present ? xcb_input_xi_query_version(conn_, 2, 2)
                                 : xcb_input_xi_query_version_cookie_t{};
  auto xtestC =
      x.xtest.present ? xcb_test_get_version(conn_, 2, 2) : xcb_test_get_version_cookie_t{};

  auto take = [](Extensions::Info& info, auto&& reply, auto major, auto minor) {
    if (!reply) {
      info.present = false;
      return;
    }
    info.major = static_cast<uint32_t>(major(*reply));
    info.minor = static_cast<uint32_t>(minor(*reply));
  };
  if (x.randr.present)
    take(
        x.randr, replyOf(conn_, xcb_randr_query_version_reply, randrC),
        [](auto& r) { return r.major_version; }, [](auto& r) { return r.minor_version; });
  if (x.render.present)
    take(
        x.render, replyOf(conn_, xcb_render_query_version_reply, renderC),
        [](auto& r) { return r.major_version; }, [](auto& r) { return r.minor_version; });
  if (x.composite.present)
    take(
        x.composite, replyOf(conn_, xcb_composite_query_version_reply, compositeC),
        [](auto& r) { return r.major_version; }, [](auto& r) { return r.minor_version; });
  if (x.xfixes.present)
    take(
        x.xfixes, replyOf(conn_, xcb_xfixes_query_version_reply, xfixesC),
        [](auto& r) { return r.major_version; }, [](auto& r) { return r.minor_version; });
  if (x.damage.present)
    take(
        x.damage, replyOf(conn_, xcb_damage_query_version_reply, damageC),
        [](auto& r) { return r.major_version; }, [](auto& r) { return r.minor_version; });
  if (x.res.present)
    take(
        x.res, replyOf(conn_, xcb_res_query_version_reply, resC),
        [](auto& r) { return r.server_major; }, [](auto& r) { return r.server_minor; });
  if (x.shape.present)
    take(
        x.shape, replyOf(conn_, xcb_shape_query_version_reply, shapeC),
        [](auto& r) { return r.major_version; }, [](auto& r) { return r.minor_version; });
  if (x.xinput.present)
    take(
        x.xinput, replyOf(conn_, xcb_input_xi_query_version_reply, inputC),
        [](auto& r) { return r.major_version; }, [](auto& r) { return r.minor_version; });
  if (x.xtest.present)
    take(
        x.xtest, replyOf(conn_, xcb_test_get_version_reply, xtestC),
        [](auto& r) { return r.major_version; }, [](auto& r) { return r.minor_version; });
}

xcb_atom_t X11Connection::atom(std::string_view name) {
  if (auto it = atomCache_.find(name); it != atomCache_.end()) return it->second;
  auto reply = replyOf(conn_, xcb_intern_atom_reply,
                       xcb_intern_atom(conn_, 0, static_cast<uint16_t>(name.size()), name.data()));
  if (!reply) return XCB_NONE;
  atomCache_.emplace(std::string(name), reply->atom);
  return reply->atom;
}

std::optional<uint8_t> X11Connection::errorOf(xcb_void_cookie_t checkedCookie) {
  xcb_generic_error_t* error = xcb_request_check(conn_, checkedCookie);
  if (!error) return std::nullopt;
  uint8_t code = error->error_code;
  free(error);
  return code;
}

bool X11Connection::check(xcb_void_cookie_t checkedCookie, std::string_view what) {
  xcb_generic_error_t* error = xcb_request_check(conn_, checkedCookie);
  if (!error) return true;
  logError(*error, what);
  free(error);
  return false;
}

void X11Connection::ignoreErrors(xcb_void_cookie_t checkedCookie) {
  xcb_discard_reply(conn_, checkedCookie.sequence);
}

void X11Connection::logError(const xcb_generic_error_t& error, std::string_view what) {
  char line[256];
  std::snprintf(line, sizeof line, "%s: X error %u (%s), request %u.%u, resource 0x%x, sequence %u",
                std::string(what).c_str(), error.error_code,
                describeXError(extensions_, error.error_code).c_str(), error.major_code,
                error.minor_code, error.resource_id, error.full_sequence);
  debugLog(std::string("[X11] ") + line);
}

Cancellable X11Connection::addTo(uint32_t key, EventHandler handler) {
  auto entry = std::make_shared<HandlerEntry>(HandlerEntry{std::move(handler), true});
  (*handlers_)[key].push_back(entry);
  return Cancellable([weakMap = std::weak_ptr<std::map<uint32_t, HandlerList>>(handlers_), key,
                      weakEntry = std::weak_ptr<HandlerEntry>(entry)] {
    auto e = weakEntry.lock();
    if (!e) return;
    e->active = false;
    auto map = weakMap.lock();
    if (!map) return;
    auto it = map->find(key);
    if (it == map->end()) return;
    std::erase(it->second, e);
    if (it->second.empty()) map->erase(it);
  });
}

Cancellable X11Connection::addEventHandler(uint8_t responseType, EventHandler handler) {
  return addTo(responseType & 0x7f, std::move(handler));
}

Cancellable X11Connection::addGenericEventHandler(uint8_t majorOpcode, uint16_t eventType,
                                                  EventHandler handler) {
  return addTo(genericKey(majorOpcode, eventType), std::move(handler));
}

Cancellable X11Connection::addConnectionLostHandler(std::function<void()> handler) {
  auto entry = std::make_shared<std::function<void()>>(std::move(handler));
  lostHandlers_->push_back(entry);
  return Cancellable([list = std::weak_ptr<LostList>(lostHandlers_),
                      weak = std::weak_ptr<std::function<void()>>(entry)] {
    auto e = weak.lock();
    auto l = list.lock();
    if (e && l) std::erase(*l, e);
  });
}

int X11Connection::fd() const {
  return xcb_get_file_descriptor(conn_);
}

void X11Connection::flush() {
  if (lost_) return;
  if (xcb_flush(conn_) <= 0) markLost();
}

void X11Connection::sync() {
  if (lost_) return;
  free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
}

int X11Connection::dispatchPendingEvents() {
  return drain(&xcb_poll_for_event);
}

int X11Connection::dispatchQueuedEvents() {
  return drain(&xcb_poll_for_queued_event);
}

int X11Connection::drain(xcb_generic_event_t* (*next)(xcb_connection_t*)) {
  if (lost_) return 0;
  int count = 0;
  while (xcb_generic_event_t* raw = next(conn_)) {
    auto event = makeReply(raw);
    ++count;
    dispatch(*event);
    if (lost_) break;
  }
  if (!lost_ && xcb_connection_has_error(conn_)) markLost();
  return count;
}

void X11Connection::dispatch(const xcb_generic_event_t& event) {
  const uint8_t type = event.response_type & 0x7f;
  if (type == 0) {
    ++unexpectedErrors_;
    logError(reinterpret_cast<const xcb_generic_error_t&>(event), "unexpected error");
    return;
  }
  uint32_t key = type;
  if (type == XCB_GE_GENERIC) {
    const auto& ge = reinterpret_cast<const xcb_ge_generic_event_t&>(event);
    key = genericKey(ge.extension, ge.event_type);
  }
  auto map = handlers_;  // the connection may lose handlers (or be torn down) while dispatching
  auto it = map->find(key);
  if (it == map->end()) return;
  const HandlerList snapshot = it->second;
  for (const auto& entry : snapshot) {
    if (entry->active) entry->handler(event);
  }
}

void X11Connection::markLost() {
  if (lost_) return;
  lost_ = true;
  debugLog("[X11] connection to the X server lost");
  const LostList snapshot = *lostHandlers_;
  for (const auto& h : snapshot) (*h)();
}

CancellableBag attachToEventLoop(X11Connection& connection, Scheduler& loop) {
  CancellableBag tokens;
  // A handler that spins a nested loop must not re-enter the dispatch it runs in.
  auto busy = std::make_shared<bool>(false);
  auto dispatch = [&connection, busy](int (X11Connection::*drain)()) {
    if (*busy) return 0;
    *busy = true;
    const int count = (connection.*drain)();
    *busy = false;
    return count;
  };
  auto watch = std::make_shared<Cancellable>(loop.watchFd(
      connection.fd(), [dispatch] { dispatch(&X11Connection::dispatchPendingEvents); }));
  // A closed socket stays readable forever: stop watching it once the connection is gone.
  tokens.push_back(connection.addConnectionLostHandler(
      [&loop, watch] { loop.post([watch] { watch->cancel(); }); }));
  tokens.push_back(Cancellable([watch] { watch->cancel(); }));
  // Sending may read too (xcb reads while a write would block), and handlers may send: repeat
  // until the queue stays empty after a flush.
  tokens.push_back(loop.beforeWait([dispatch, &connection] {
    do {
      connection.flush();
    } while (dispatch(&X11Connection::dispatchQueuedEvents) > 0);
  }));
  return tokens;
}

std::string describeXError(const Extensions& extensions, uint8_t errorCode) {
  static constexpr std::array<const char*, 18> core = {
      "Success",   "BadRequest", "BadValue",    "BadWindow",   "BadPixmap", "BadAtom",
      "BadCursor", "BadFont",    "BadMatch",    "BadDrawable", "BadAccess", "BadAlloc",
      "BadColor",  "BadGC",      "BadIDChoice", "BadName",     "BadLength", "BadImplementation"};
  if (errorCode < core.size()) return core[errorCode];
  struct Range {
    const Extensions::Info* info;
    const char* name;
    int count;
  };
  const std::array ranges = {
      Range{&extensions.render, "RENDER", 5},  Range{&extensions.randr, "RANDR", 4},
      Range{&extensions.xfixes, "XFIXES", 1},  Range{&extensions.damage, "DAMAGE", 1},
      Range{&extensions.xinput, "XInput", 5},  Range{&extensions.composite, "Composite", 1},
      Range{&extensions.res, "X-Resource", 1}, Range{&extensions.shape, "SHAPE", 1},
  };
  for (const Range& r : ranges) {
    if (r.info->present && r.info->firstError && errorCode >= r.info->firstError &&
        errorCode < r.info->firstError + r.count) {
      return std::string(r.name) + " error " + std::to_string(errorCode - r.info->firstError);
    }
  }
  return "unknown error";
}

}  // namespace dunelo::x11
