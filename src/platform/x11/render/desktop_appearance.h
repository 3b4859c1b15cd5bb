// Whether the desktop prefers a light or a dark look, as far as X11 tells, followed as it
// changes.
//
// The settings daemons of GNOME, Xfce, MATE and Cinnamon publish the GTK theme through XSETTINGS
// (the _XSETTINGS_SETTINGS property of the owner of the _XSETTINGS_S<n> selection); a theme whose
// name contains "dark" (such as "Adwaita-dark"), or the "Gtk/ApplicationPreferDarkTheme" switch,
// means dark. Anything else, or no settings daemon, is unknown.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <functional>
#include <span>

#include "core/cancellable.h"
#include "core/subject.h"
#include "platform/x11/render/blur_material.h"

namespace dunelo::x11 {

class X11Connection;

// Reads the appearance from an XSETTINGS blob; unknown when the blob is malformed or says
// nothing about the theme.
Appearance appearanceFromXSettings(std::span<const uint8_t> blob);

// The appearance now and whenever it changes: when the user switches the theme (the daemon
// rewrites its property) and when a settings daemon starts, stops or replaces another (the
// selection changes hands, watched through XFixes). Events arrive on `connection`, which must
// outlive the watcher.
class DesktopAppearanceWatcher {
 public:
  explicit DesktopAppearanceWatcher(X11Connection& connection);
  ~DesktopAppearanceWatcher();
  DesktopAppearanceWatcher(const DesktopAppearanceWatcher&) = delete;
  DesktopAppearanceWatcher& operator=(const DesktopAppearanceWatcher&) = delete;

  Appearance appearance() const { return appearance_; }
  // `handler` runs after every change of the appearance.
  [[nodiscard]] Cancellable observe(std::function<void(const Appearance&)> handler) {
    return changed_.subscribe(std::move(handler));
  }

 private:
  // Finds the selection's owner, listens to its property and reads it.
  void followOwner();
  void readSettings();

  X11Connection& conn_;
  xcb_atom_t selection_ = XCB_NONE;
  xcb_atom_t property_ = XCB_NONE;
  xcb_window_t owner_ = XCB_NONE;
  Appearance appearance_ = Appearance::unknown;
  Subject<Appearance> changed_;
  CancellableBag handlers_;
};

}  // namespace dunelo::x11
