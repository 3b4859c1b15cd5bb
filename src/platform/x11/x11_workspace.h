// Running applications on an X desktop, seen through the window manager.
//
// The frontmost application is the owner of the window the window manager names in
// _NET_ACTIVE_WINDOW; an activation is announced when that owner (its pid) changes, as a desktop
// announces application switches, not window switches. Applications are known by their managed
// windows: one per pid, identified by its desktop-file id (see DesktopFileIndex), regular when it
// has a normal, mapped top-level window that is not kept off the taskbar, accessory when it has
// only other windows. Opening a location hands it to xdg-open, started without a shell.
#pragma once

#include <map>
#include <memory>

#include "core/subject.h"
#include "platform/workspace.h"
#include "platform/x11/desktop_file_index.h"
#include "platform/x11/window_tree.h"
#include "platform/x11/x11_connection.h"

namespace dunelo::x11 {

class X11Workspace final : public Workspace {
 public:
  X11Workspace(X11Connection& connection, WindowTree& tree,
               std::unique_ptr<DesktopFileIndex> index);

  std::optional<RunningApplication> frontmostApplication() const override;
  std::vector<RunningApplication> runningApplications() const override;
  [[nodiscard]] Cancellable observeActivations(
      std::function<void(const RunningApplication&)> handler) override;
  bool openURL(const std::string& url) override;

  // The application a managed client belongs to; none when its pid is unknown.
  std::optional<RunningApplication> applicationOf(xcb_window_t client) const;

 private:
  struct Identity {
    std::optional<std::string> bundleID;
    std::string name;
  };
  const Identity& identityOf(const ClientInfo& info) const;
  ActivationPolicy policyOf(ProcessID pid) const;
  void onTreeChange(const TreeChange& change);

  X11Connection& conn_;
  WindowTree& tree_;
  std::unique_ptr<DesktopFileIndex> index_;
  mutable std::map<xcb_window_t, Identity> identities_;
  std::optional<ProcessID> lastActivePID_;
  Subject<RunningApplication> activations_;
  Cancellable treeToken_;
};

}  // namespace dunelo::x11
