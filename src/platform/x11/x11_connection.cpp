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
#include <functional>
#include <optional>
#include <type_traits>
#include <vector>

#include "core/debug_log.h"

namespace dunelo::x11 {
namespace {

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
  handlers_.clear();
  xcb_disconnect(conn_);
}

void X11Connection::internAtoms() {
  struct Entry {
    std::string name;
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
      Entry{"_NET_WM_STATE_ABOVE", &atoms_.NET_WM_STATE_ABOVE},
      Entry{"_NET_WM_STATE_STICKY", &atoms_.NET_WM_STATE_STICKY},
      Entry{"_NET_WM_DESKTOP", &atoms_.NET_WM_DESKTOP},
      Entry{"_NET_WM_USER_TIME", &atoms_.NET_WM_USER_TIME},
      Entry{"_NET_RESTACK_WINDOW", &atoms_.NET_RESTACK_WINDOW},
      Entry{"_MOTIF_WM_HINTS", &atoms_.MOTIF_WM_HINTS},
      Entry{"WM_STATE", &atoms_.WM_STATE},
      Entry{"UTF8_STRING", &atoms_.UTF8_STRING},
      Entry{"_GTK_APPLICATION_ID", &atoms_.GTK_APPLICATION_ID},
      Entry{"_DUNELO_OVERLAY", &atoms_.DUNELO_OVERLAY},
      Entry{"_NET_WM_CM_S" + std::to_string(screenNumber_), &atoms_.NET_WM_CM_S},
  };
  std::array<xcb_intern_atom_cookie_t, entries.size()> cookies{};
  for (size_t i = 0; i < entries.size(); ++i) {
    cookies[i] = xcb_intern_atom(conn_, 0, static_cast<uint16_t>(entries[i].name.size()),
                                 entries[i].name.c_str());
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    if (auto reply = replyOf(conn_, xcb_intern_atom_reply, cookies[i])) {
      *entries[i].slot = reply->atom;
      atomCache_.emplace(entries[i].name, reply->atom);
    }
  }
}

namespace {

struct Version {
  uint32_t major;
  uint32_t minor;
};
// Sends an extension's version request and returns what waits for its reply (none on error).
using VersionQuery =
    std::function<std::function<std::optional<Version>()>(xcb_connection_t* connection)>;

// The handshake of one extension: its `request` with the version this backend speaks, and the
// reply's fields that hold the version the server agreed to.
template <class Cookie, class Reply, class MajorField, class MinorField, class... Args>
VersionQuery versionQuery(Cookie (*request)(xcb_connection_t*, Args...),
                          Reply* (*reply)(xcb_connection_t*, Cookie, xcb_generic_error_t**),
                          MajorField Reply::*major, MinorField Reply::*minor,
                          std::type_identity_t<Args>... wanted) {
  return [=](xcb_connection_t* c) {
    const Cookie cookie = request(c, wanted...);
    return std::function<std::optional<Version>()>([=]() -> std::optional<Version> {
      auto r = replyOf(c, reply, cookie);
      if (!r) return std::nullopt;
      return Version{static_cast<uint32_t>((*r).*major), static_cast<uint32_t>((*r).*minor)};
    });
  };
}

// The same, for the usual reply fields `major_version` and `minor_version`.
template <class Cookie, class Reply, class... Args>
VersionQuery versionQuery(Cookie (*request)(xcb_connection_t*, Args...),
                          Reply* (*reply)(xcb_connection_t*, Cookie, xcb_generic_error_t**),
                          std::type_identity_t<Args>... wanted) {
  return versionQuery(request, reply, &Reply::major_version, &Reply::minor_version, wanted...);
}

}  // namespace

void X11Connection::queryExtensions() {
  struct Row {
    xcb_extension_t* id;
    Extensions::Info* info;
    VersionQuery query;  // XFixes and Damage refuse requests from clients that skip it
  };
  auto& x = extensions_;
  const std::array rows = {
      Row{&xcb_randr_id, &x.randr,
          versionQuery(xcb_randr_query_version, xcb_randr_query_version_reply, 1, 5)},
      Row{&xcb_render_id, &x.render,
          versionQuery(xcb_render_query_version, xcb_render_query_version_reply, 0, 11)},
      Row{&xcb_composite_id, &x.composite,
          versionQuery(xcb_composite_query_version, xcb_composite_query_version_reply, 0, 4)},
      Row{&xcb_xfixes_id, &x.xfixes,
          versionQuery(xcb_xfixes_query_version, xcb_xfixes_query_version_reply, 5, 0)},
      Row{&xcb_damage_id, &x.damage,
          versionQuery(xcb_damage_query_version, xcb_damage_query_version_reply, 1, 1)},
      Row{&xcb_res_id, &x.res,
          versionQuery(xcb_res_query_version, xcb_res_query_version_reply,
                       &xcb_res_query_version_reply_t::server_major,
                       &xcb_res_query_version_reply_t::server_minor, 1, 2)},
      Row{&xcb_shape_id, &x.shape,
          versionQuery(xcb_shape_query_version, xcb_shape_query_version_reply)},
      Row{&xcb_input_id, &x.xinput,
          versionQuery(xcb_input_xi_query_version, xcb_input_xi_query_version_reply, 2, 2)},
      Row{&xcb_test_id, &x.xtest,
          versionQuery(xcb_test_get_version, xcb_test_get_version_reply, 2, 2)},
  };
  for (const Row& row : rows) xcb_prefetch_extension_data(conn_, row.id);
  std::vector<std::function<std::optional<Version>()>> replies(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(conn_, rows[i].id);
    if (!data || !data->present) continue;
    Extensions::Info& info = *rows[i].info;
    info.present = true;
    info.majorOpcode = data->major_opcode;
    info.firstEvent = data->first_event;
    info.firstError = data->first_error;
    replies[i] = rows[i].query(conn_);  // all sent before the first reply is awaited
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    if (!replies[i]) continue;
    const std::optional<Version> version = replies[i]();
    rows[i].info->present = version.has_value();
    if (version) {
      rows[i].info->major = version->major;
      rows[i].info->minor = version->minor;
    }
  }
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

Cancellable X11Connection::addConnectionLostHandler(std::function<void()> handler) {
  return lostHandlers_.subscribe([handler = std::move(handler)](std::monostate) { handler(); });
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
  // The subject's pass survives handlers that cancel others or tear the connection down.
  if (auto it = handlers_.find(key); it != handlers_.end()) it->second.send(event);
}

void X11Connection::markLost() {
  if (lost_) return;
  lost_ = true;
  debugLog("[X11] connection to the X server lost");
  lostHandlers_.send({});
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
