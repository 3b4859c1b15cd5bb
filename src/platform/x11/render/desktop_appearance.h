// Whether the desktop prefers a light or a dark look, as far as X11 tells.
//
// The settings daemons of GNOME, Xfce, MATE and Cinnamon publish the GTK theme through XSETTINGS
// (the _XSETTINGS_SETTINGS property of the owner of the _XSETTINGS_S<n> selection); a theme whose
// name contains "dark" (such as "Adwaita-dark"), or the "Gtk/ApplicationPreferDarkTheme" switch,
// means dark. Anything else, or no settings daemon, is unknown.
#pragma once

#include <cstdint>
#include <span>

#include "platform/x11/render/blur_material.h"

namespace dunelo::x11 {

class X11Connection;

// Reads the appearance from an XSETTINGS blob; unknown when the blob is malformed or says
// nothing about the theme.
Appearance appearanceFromXSettings(std::span<const uint8_t> blob);

// Asks the running settings daemon, if any (two round trips).
Appearance readDesktopAppearance(X11Connection& connection);

}  // namespace dunelo::x11
