#include "platform/x11/x11_workspace.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "core/debug_log.h"
#include "platform/desktop/detached_process.h"

namespace dunelo::x11 {
namespace {

bool contains(const std::vector<xcb_atom_t>& atoms, xcb_atom_t atom) {
  return std::find(atoms.begin(), atoms.end(), atom) != atoms.end();
}

}  // namespace

X11Workspace::X11Workspace(X11Connection& connection, WindowTree& tree,
                           std::unique_ptr<DesktopFileIndex> index)
    : conn_(connection), tree_(tree), index_(std::move(index)) {
  if (auto app = frontmostApplication()) lastActivePID_ = app->pid;
  treeToken_ = tree_.observe([this](const TreeChange& change) { onTreeChange(change); });
}

void X11Workspace::onTreeChange(const TreeChange& change) {
  if (change.kind == TreeChange::Kind::clientProperty) {
    if (change.atom == XCB_ATOM_WM_CLASS || change.atom == conn_.atoms().GTK_APPLICATION_ID)
      identities_.erase(change.window);
    return;
  }
  if (change.kind == TreeChange::Kind::clientList) {
    std::erase_if(identities_, [&](const auto& kv) { return !tree_.client(kv.first); });
    // Window managers may name a new window active before listing it: the switch is seen here.
  } else if (change.kind != TreeChange::Kind::activeWindow) {
    return;
  }
  auto app = frontmostApplication();
  if (!app) return;  // no active window (the desktop has focus): the last application stays
  if (lastActivePID_ && *lastActivePID_ == app->pid) return;
  lastActivePID_ = app->pid;
  activations_.send(*app);
}

const X11Workspace::Identity& X11Workspace::identityOf(const ClientInfo& info) const {
  if (auto it = identities_.find(info.id); it != identities_.end()) return it->second;
  Identity identity;
  if (auto entry = index_->lookup(info.gtkApplicationID, info.wmInstance, info.wmClass)) {
    identity.bundleID = entry->id;
    identity.name = entry->name.empty() ? entry->id : entry->name;
  } else if (!info.wmClass.empty()) {
    identity.bundleID = info.wmClass;
    identity.name = info.wmClass;
  } else {
    identity.name = info.title;
  }
  return identities_[info.id] = identity;
}

std::optional<RunningApplication> X11Workspace::applicationOf(xcb_window_t client) const {
  const ClientInfo* info = tree_.client(client);
  if (!info || !info->pid) return std::nullopt;
  const Identity& identity = identityOf(*info);
  RunningApplication app;
  app.pid = *info->pid;
  app.bundleID = identity.bundleID;
  app.localizedName = identity.name;
  app.activationPolicy = policyOf(app.pid);
  return app;
}

ActivationPolicy X11Workspace::policyOf(ProcessID pid) const {
  const Atoms& a = conn_.atoms();
  bool anyWindow = false;
  for (xcb_window_t id : tree_.clients()) {
    const ClientInfo* info = tree_.client(id);
    if (!info || info->pid != pid) continue;
    anyWindow = true;
    const TopLevel* frame = tree_.topLevel(info->frame);
    const bool normal =
        info->windowTypes.empty() || info->windowTypes.front() == a.NET_WM_WINDOW_TYPE_NORMAL;
    if (frame && frame->mapped && normal && !contains(info->states, a.NET_WM_STATE_SKIP_TASKBAR))
      return ActivationPolicy::regular;
  }
  return anyWindow ? ActivationPolicy::accessory : ActivationPolicy::prohibited;
}

std::optional<RunningApplication> X11Workspace::frontmostApplication() const {
  const xcb_window_t active = tree_.activeWindow();
  if (active == XCB_NONE) return std::nullopt;
  return applicationOf(active);
}

std::vector<RunningApplication> X11Workspace::runningApplications() const {
  std::vector<RunningApplication> apps;
  for (xcb_window_t id : tree_.clients()) {
    auto app = applicationOf(id);
    if (!app) continue;
    const bool known = std::any_of(apps.begin(), apps.end(),
                                   [&](const RunningApplication& a) { return a.pid == app->pid; });
    if (!known) apps.push_back(*app);
  }
  return apps;
}

Cancellable X11Workspace::observeActivations(
    std::function<void(const RunningApplication&)> handler) {
  return activations_.subscribe(std::move(handler));
}

bool X11Workspace::openURL(const std::string& url) {
  if (url.empty()) return false;
  // "--" is not understood by xdg-open; a location starting with '-' would be read as an option.
  if (url.front() == '-') return false;
  return spawnDetached({"xdg-open", url});
}

}  // namespace dunelo::x11
