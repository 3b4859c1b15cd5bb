// Dunelo on GNOME Shell under Wayland: the desktop is read, and the overlays drawn, by Dunelo's
// GNOME Shell extension, reached over the session bus; the tray item and the panel are Qt (on
// Xwayland), and where the desktop has no tray the extension shows a top-bar button that opens
// the panel. Under another Wayland compositor the same composition runs with nothing to follow,
// so the permission screen can say what to do.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "app/composition_services.h"
#include "app/platform.h"
#include "core/cancellable.h"
#include "platform/gnome/gnome_desktop.h"
#include "platform/gnome/gnome_input.h"
#include "platform/gnome/gnome_overlay_surface.h"
#include "platform/gnome/shell_connection.h"
#include "settings/settings_manager.h"
#include "ui/tray_panel.h"

namespace dunelo {

// The Wayland session Dunelo runs in, from the session's environment; none for an X11 session
// (or none that says it is Wayland), where the X11 backend runs. A Wayland session is named by
// XDG_SESSION_TYPE, or, where that is unset, by WAYLAND_DISPLAY; it is GNOME's when
// XDG_CURRENT_DESKTOP lists GNOME.
std::optional<gnome::SessionKind> waylandSession(
    const std::function<const char*(const char*)>& getenv = [](const char* name) {
      return static_cast<const char*>(std::getenv(name));
    });

class GnomeComposition {
 public:
  struct Options {
    std::optional<std::string> defaultsPath;  // none: $XDG_CONFIG_HOME/dunelo/defaults.json
    std::optional<std::string> autostartDir;  // none: $XDG_CONFIG_HOME/autostart
  };

  // Connects to the session bus and asks the extension for the desktop's state before it
  // returns. `scheduler` must outlive the composition.
  GnomeComposition(gnome::SessionKind session, Scheduler& scheduler, const Options& options);
  ~GnomeComposition();
  GnomeComposition(const GnomeComposition&) = delete;
  GnomeComposition& operator=(const GnomeComposition&) = delete;

  Platform& platform() { return *platform_; }
  gnome::ShellConnection& shell() { return *shell_; }

 private:
  std::unique_ptr<gnome::ShellConnection> shell_;
  std::unique_ptr<gnome::GnomeWorkspace> workspace_;
  std::unique_ptr<gnome::GnomeAccessibility> accessibility_;
  std::unique_ptr<gnome::GnomeWindowList> windowList_;
  std::unique_ptr<gnome::GnomeDisplays> displays_;
  std::unique_ptr<gnome::GnomeOverlaySurfaceFactory> overlays_;
  std::unique_ptr<gnome::GnomeHotKeys> hotKeys_;
  std::unique_ptr<gnome::GnomeMouseMonitors> mouseMonitors_;
  DesktopServices services_;
  std::unique_ptr<Platform> platform_;
};

// Where the desktop has no tray: the extension's top-bar button, in the tray icon's two looks,
// opens and closes the panel under itself, for as long as this object lives.
class ShellIndicator {
 public:
  ShellIndicator(gnome::ShellConnection& shell, SettingsManager& settings, TrayPanel& tray);
  ~ShellIndicator();
  ShellIndicator(const ShellIndicator&) = delete;
  ShellIndicator& operator=(const ShellIndicator&) = delete;

 private:
  void update();

  gnome::ShellConnection& shell_;
  bool active_ = false;
  CancellableBag tokens_;
};

}  // namespace dunelo
