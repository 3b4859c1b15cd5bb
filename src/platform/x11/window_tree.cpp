#include "platform/x11/window_tree.h"

#include <xcb/res.h>

#include <algorithm>
#include <cstring>

namespace dunelo::x11 {
namespace {

constexpr uint32_t kClientEvents = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;

std::vector<xcb_window_t> windowsOf(const xcb_get_property_reply_t* reply) {
  if (!reply || reply->format != 32) return {};
  const auto* data = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
  const int count = xcb_get_property_value_length(reply) / 4;
  return std::vector<xcb_window_t>(data, data + count);
}

std::string stringOf(const xcb_get_property_reply_t* reply) {
  if (!reply || reply->format != 8) return {};
  const auto* data = static_cast<const char*>(xcb_get_property_value(reply));
  std::string s(data, static_cast<size_t>(xcb_get_property_value_length(reply)));
  while (!s.empty() && s.back() == '\0') s.pop_back();
  return s;
}

xcb_get_property_cookie_t getProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t atom) {
  return xcb_get_property(c, 0, w, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096);
}

}  // namespace

WindowTree::WindowTree(X11Connection& connection)
    : conn_(connection),
      stack_(connection, XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE) {
  const xcb_setup_t* setup = xcb_get_setup(conn_.xcb());
  idBase_ = setup->resource_id_base;
  idMask_ = setup->resource_id_mask;
  handlers_.push_back(stack_.observe([this](const StackChange& c) { onStackChange(c); }));
  handlers_.push_back(conn_.on<XCB_REPARENT_NOTIFY>([this](const auto& e) { onReparent(e); }));
  handlers_.push_back(conn_.on<XCB_PROPERTY_NOTIFY>([this](const auto& e) { onProperty(e); }));
  readWmCheck();
  readClientList();
  readActiveWindow();
}

WindowTree::~WindowTree() = default;

bool WindowTree::isOwnTopLevel(xcb_window_t id) const {
  if (isOwnWindow(id)) return true;
  auto it = clientOfFrame_.find(id);
  return it != clientOfFrame_.end() && isOwnWindow(it->second);
}

const ClientInfo* WindowTree::client(xcb_window_t id) const {
  auto it = clients_.find(id);
  return it == clients_.end() ? nullptr : it->second.get();
}

const ClientInfo* WindowTree::clientOfTopLevel(xcb_window_t topLevelId) const {
  auto it = clientOfFrame_.find(topLevelId);
  return it == clientOfFrame_.end() ? nullptr : client(it->second);
}

std::optional<int32_t> WindowTree::pidOfTopLevel(xcb_window_t topLevelId) {
  if (const ClientInfo* info = clientOfTopLevel(topLevelId); info && info->pid) return info->pid;
  auto it = topLevelPid_.find(topLevelId);
  if (it != topLevelPid_.end()) return it->second;
  auto pid = queryResPid(topLevelId);
  topLevelPid_[topLevelId] = pid;
  return pid;
}

std::optional<int32_t> WindowTree::queryResPid(xcb_window_t window) {
  if (!conn_.extensions().res.atLeast(1, 2)) return std::nullopt;
  const xcb_res_client_id_spec_t query{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
  auto reply = replyOf(conn_.xcb(), xcb_res_query_client_ids_reply,
                       xcb_res_query_client_ids(conn_.xcb(), 1, &query));
  if (!reply) return std::nullopt;
  for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem;
       xcb_res_client_id_value_next(&it)) {
    // Only the local client pid was asked for; an entry without a value carries none.
    if (xcb_res_client_id_value_value_length(it.data) < 1) continue;
    return static_cast<int32_t>(*xcb_res_client_id_value_value(it.data));
  }
  return std::nullopt;
}

void WindowTree::readWmCheck() {
  xcb_connection_t* c = conn_.xcb();
  const Atoms& a = conn_.atoms();
  wmPublishesActive_ = false;
  wmCheck_ = XCB_NONE;
  wmRestacks_ = false;
  auto check =
      replyOf(c, xcb_get_property_reply, getProperty(c, conn_.root(), a.NET_SUPPORTING_WM_CHECK));
  auto windows = windowsOf(check.get());
  if (windows.empty() || windows.front() == XCB_NONE) return;
  // A stale check window (the manager died) no longer exists or no longer points at itself.
  auto self = replyOf(c, xcb_get_property_reply,
                      getProperty(c, windows.front(), a.NET_SUPPORTING_WM_CHECK));
  auto selfWindows = windowsOf(self.get());
  if (selfWindows.empty() || selfWindows.front() != windows.front()) return;
  wmCheck_ = windows.front();
  auto supported =
      replyOf(c, xcb_get_property_reply,
              xcb_get_property(c, 0, conn_.root(), a.NET_SUPPORTED, XCB_ATOM_ATOM, 0, 65536));
  for (xcb_atom_t atom : windowsOf(supported.get())) {
    if (atom == a.NET_ACTIVE_WINDOW) wmPublishesActive_ = true;
    if (atom == a.NET_RESTACK_WINDOW) wmRestacks_ = true;
  }
}

void WindowTree::readActiveWindow() {
  auto reply = replyOf(conn_.xcb(), xcb_get_property_reply,
                       getProperty(conn_.xcb(), conn_.root(), conn_.atoms().NET_ACTIVE_WINDOW));
  auto windows = windowsOf(reply.get());
  activeWindow_ = windows.empty() ? XCB_NONE : windows.front();
}

void WindowTree::readClientList() {
  auto reply = replyOf(conn_.xcb(), xcb_get_property_reply,
                       getProperty(conn_.xcb(), conn_.root(), conn_.atoms().NET_CLIENT_LIST));
  std::vector<xcb_window_t> ids = windowsOf(reply.get());
  std::vector<xcb_window_t> added;
  for (xcb_window_t id : ids)
    if (!clients_.count(id)) added.push_back(id);
  for (auto it = clients_.begin(); it != clients_.end();) {
    if (std::find(ids.begin(), ids.end(), it->first) == ids.end()) {
      if (auto f = clientOfFrame_.find(it->second->frame);
          f != clientOfFrame_.end() && f->second == it->first) {
        clientOfFrame_.erase(f);
      }
      it = clients_.erase(it);
    } else {
      ++it;
    }
  }
  clientOrder_ = std::move(ids);
  addClients(added);
}

void WindowTree::addClients(const std::vector<xcb_window_t>& ids) {
  xcb_connection_t* c = conn_.xcb();
  const Atoms& a = conn_.atoms();
  const xcb_atom_t props[] = {XCB_ATOM_WM_CLASS, a.GTK_APPLICATION_ID, a.NET_WM_PID,  a.NET_WM_NAME,
                              XCB_ATOM_WM_NAME,  a.NET_WM_WINDOW_TYPE, a.NET_WM_STATE};
  constexpr size_t kProps = std::size(props);
  // Pipelined: every request for every new client first, then the replies.
  std::vector<xcb_get_property_cookie_t> cookies;
  cookies.reserve(ids.size() * kProps);
  for (xcb_window_t id : ids) {
    conn_.ignoreErrors(
        xcb_change_window_attributes_checked(c, id, XCB_CW_EVENT_MASK, &kClientEvents));
    for (xcb_atom_t p : props) cookies.push_back(getProperty(c, id, p));
  }
  for (size_t i = 0; i < ids.size(); ++i) {
    auto info = std::make_unique<ClientInfo>();
    info->id = ids[i];
    for (size_t k = 0; k < kProps; ++k) {
      auto reply = replyOf(c, xcb_get_property_reply, cookies[i * kProps + k]);
      if (!reply || reply->type == XCB_NONE) continue;
      const xcb_atom_t p = props[k];
      if (p == XCB_ATOM_WM_CLASS) {
        std::string raw = stringOf(reply.get());
        const size_t nul = raw.find('\0');
        info->wmInstance = raw.substr(0, nul);
        info->wmClass = nul == std::string::npos ? std::string() : raw.substr(nul + 1);
      } else if (p == a.GTK_APPLICATION_ID) {
        info->gtkApplicationID = stringOf(reply.get());
      } else if (p == a.NET_WM_PID) {
        if (reply->format == 32 && xcb_get_property_value_length(reply.get()) >= 4)
          info->pid = *static_cast<const int32_t*>(xcb_get_property_value(reply.get()));
      } else if (p == a.NET_WM_NAME) {
        info->title = stringOf(reply.get());
      } else if (p == XCB_ATOM_WM_NAME) {
        if (info->title.empty()) info->title = stringOf(reply.get());
      } else if (p == a.NET_WM_WINDOW_TYPE) {
        info->windowTypes = windowsOf(reply.get());
      } else if (p == a.NET_WM_STATE) {
        info->states = windowsOf(reply.get());
      }
    }
    if (!info->pid) info->pid = queryResPid(info->id);
    locateFrame(*info);
    const xcb_window_t id = info->id;
    clients_[id] = std::move(info);
    relinkClient(id);
  }
}

void WindowTree::readClientProperty(ClientInfo& info, xcb_atom_t atom) {
  xcb_connection_t* c = conn_.xcb();
  const Atoms& a = conn_.atoms();
  auto reply = replyOf(c, xcb_get_property_reply, getProperty(c, info.id, atom));
  const bool present = reply && reply->type != XCB_NONE;
  if (atom == XCB_ATOM_WM_CLASS) {
    std::string raw = present ? stringOf(reply.get()) : std::string();
    const size_t nul = raw.find('\0');
    info.wmInstance = raw.substr(0, nul);
    info.wmClass = nul == std::string::npos ? std::string() : raw.substr(nul + 1);
  } else if (atom == a.GTK_APPLICATION_ID) {
    info.gtkApplicationID =
        present ? std::optional<std::string>(stringOf(reply.get())) : std::nullopt;
  } else if (atom == a.NET_WM_PID) {
    if (present && reply->format == 32 && xcb_get_property_value_length(reply.get()) >= 4)
      info.pid = *static_cast<const int32_t*>(xcb_get_property_value(reply.get()));
  } else if (atom == a.NET_WM_NAME) {
    info.title = present ? stringOf(reply.get()) : std::string();
  } else if (atom == a.NET_WM_WINDOW_TYPE) {
    info.windowTypes = present ? windowsOf(reply.get()) : std::vector<xcb_window_t>{};
  } else if (atom == a.NET_WM_STATE) {
    info.states = present ? windowsOf(reply.get()) : std::vector<xcb_window_t>{};
  }
}

void WindowTree::locateFrame(ClientInfo& info) {
  xcb_connection_t* c = conn_.xcb();
  xcb_window_t current = info.id;
  for (int depth = 0; depth < 16; ++depth) {
    auto tree = replyOf(c, xcb_query_tree_reply, xcb_query_tree(c, current));
    if (!tree) break;  // vanished
    if (tree->parent == conn_.root() || tree->parent == XCB_NONE) {
      info.frame = current;
      return;
    }
    current = tree->parent;
  }
  info.frame = info.id;
}

void WindowTree::relinkClient(xcb_window_t clientId) {
  auto it = clients_.find(clientId);
  if (it == clients_.end()) return;
  for (auto f = clientOfFrame_.begin(); f != clientOfFrame_.end();) {
    if (f->second == clientId) {
      f = clientOfFrame_.erase(f);
    } else {
      ++f;
    }
  }
  clientOfFrame_[it->second->frame] = clientId;
}

void WindowTree::onStackChange(const StackChange& change) {
  const xcb_window_t id = change.window.id;
  switch (change.kind) {
    case StackChange::Kind::removed:
      topLevelPid_.erase(id);
      clientOfFrame_.erase(id);
      emit({TreeChange::Kind::stacking, id});
      return;
    case StackChange::Kind::added:
    case StackChange::Kind::mapped:
      emit({TreeChange::Kind::stacking, id});
      return;
    case StackChange::Kind::configured:
      if (change.moved || change.resized)
        emit({TreeChange::Kind::geometry, id, XCB_NONE, change.moved, change.resized});
      if (change.restacked) emit({TreeChange::Kind::stacking, id});
      return;
    case StackChange::Kind::rootResized:
      emit({TreeChange::Kind::rootResized, conn_.root()});
      return;
  }
}

void WindowTree::onReparent(const xcb_reparent_notify_event_t& e) {
  // A managed client moved into (or out of) a frame: find its frame again.
  if (auto it = clients_.find(e.window); it != clients_.end()) {
    locateFrame(*it->second);
    relinkClient(e.window);
    emit({TreeChange::Kind::stacking, e.window});
  }
}

void WindowTree::onProperty(const xcb_property_notify_event_t& e) {
  const Atoms& a = conn_.atoms();
  if (e.window == conn_.root()) {
    if (e.atom == a.NET_ACTIVE_WINDOW) {
      readActiveWindow();
      emit({TreeChange::Kind::activeWindow, activeWindow_, e.atom});
    } else if (e.atom == a.NET_CLIENT_LIST) {
      readClientList();
      emit({TreeChange::Kind::clientList, XCB_NONE, e.atom});
    } else if (e.atom == a.NET_SUPPORTING_WM_CHECK || e.atom == a.NET_SUPPORTED) {
      readWmCheck();
      emit({TreeChange::Kind::rootProperty, XCB_NONE, e.atom});
    } else {
      emit({TreeChange::Kind::rootProperty, XCB_NONE, e.atom});
    }
    return;
  }
  auto it = clients_.find(e.window);
  if (it == clients_.end()) return;
  const bool relevant = e.atom == XCB_ATOM_WM_CLASS || e.atom == a.GTK_APPLICATION_ID ||
                        e.atom == a.NET_WM_PID || e.atom == a.NET_WM_NAME ||
                        e.atom == a.NET_WM_WINDOW_TYPE || e.atom == a.NET_WM_STATE;
  if (!relevant) return;  // user time, icons and the like change often and matter not
  readClientProperty(*it->second, e.atom);
  emit({TreeChange::Kind::clientProperty, e.window, e.atom});
}

}  // namespace dunelo::x11
