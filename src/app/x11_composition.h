// Dunelo on an X11 desktop: the X11 backend over one connection and one main loop, the
// settings file, the XDG autostart entry, the desktop's dock and the package-manager updater,
// assembled into the `Platform` the coordinator is built over.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/platform.h"
#include "core/cancellable.h"
#include "platform/desktop/directory_watcher.h"
#include "platform/desktop/dock_script_runner.h"
#include "platform/desktop/file_manager_alias.h"
#include "platform/desktop/package_manager_updater.h"
#include "platform/x11/event_loop.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_desktop.h"
#include "platform/x11/x11_hot_keys.h"
#include "platform/x11/x11_mouse_monitors.h"
#include "platform/x11/x11_tray_colors.h"

namespace dunelo {

class X11Composition {
 public:
  struct Options {
    const char* displayName = nullptr;        // null: $DISPLAY
    std::optional<std::string> defaultsPath;  // none: $XDG_CONFIG_HOME/dunelo/defaults.json
    std::optional<std::string> autostartDir;  // none: $XDG_CONFIG_HOME/autostart
    // The main loop when a toolkit runs the thread; null: the composition's own poll() loop.
    // Either way that one loop serves both X connections (the main one and the overlays' render
    // connection), the timers and everything else.
    Scheduler* scheduler = nullptr;
  };

  // Connects and builds every capability. None when there is no usable X display; the reason is
  // then in `*failure`.
  static std::unique_ptr<X11Composition> open(const Options& options, std::string* failure);
  ~X11Composition();
  X11Composition(const X11Composition&) = delete;
  X11Composition& operator=(const X11Composition&) = delete;

  // The composition's own poll() loop; only when no scheduler was given.
  x11::EventLoop& loop() { return *ownLoop_; }
  x11::X11Connection& connection() { return *connection_; }
  x11::X11Desktop& desktop() { return *desktop_; }
  Platform& platform() { return *platform_; }

 private:
  X11Composition() = default;
  // The index of installed applications, read again when a watched data directory changes; the
  // changes are read on `loop`.
  std::unique_ptr<x11::DesktopFileIndex> watchedDesktopFiles(Scheduler& loop);

  std::unique_ptr<x11::EventLoop> ownLoop_;
  std::unique_ptr<x11::X11Connection> connection_;
  CancellableBag loopAttachment_;
  std::unique_ptr<DirectoryWatcher> desktopFilesWatcher_;  // outlives the index in desktop_
  Cancellable desktopFilesWatch_;
  std::unique_ptr<x11::X11Desktop> desktop_;
  std::unique_ptr<x11::X11MouseMonitors> mouseMonitors_;
  std::unique_ptr<x11::X11HotKeys> hotKeys_;
  std::unique_ptr<DockScriptRunner> dock_;
  std::unique_ptr<PackageManagerUpdater> updater_;
  std::unique_ptr<DefaultsStore> defaults_;
  std::unique_ptr<LoginItems> loginItems_;
  std::unique_ptr<FileManagerAlias> aliases_;
  std::unique_ptr<x11::X11TrayColors> trayColors_;
  std::unique_ptr<Platform> platform_;
};

}  // namespace dunelo
