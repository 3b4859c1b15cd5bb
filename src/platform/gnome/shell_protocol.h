// What Dunelo and its GNOME Shell extension say to each other on the session bus, as plain values,
// and the translations between them and Dunelo's own types. No D-Bus here: `ShellConnection`
// moves these values over the bus.
//
// The extension owns the bus name io.dunelo.Shell and serves io.dunelo.Shell1 at /io/dunelo/Shell
// (version 1). Coordinates are the compositor's stage pixels, which Dunelo takes as its points:
// the desktop state is reported in them and the overlays are placed in them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/color.h"
#include "core/geometry.h"
#include "platform/displays.h"
#include "platform/overlay_surface.h"
#include "platform/workspace.h"

namespace dunelo::gnome {

inline constexpr const char* kShellBusName = "io.dunelo.Shell";
inline constexpr const char* kShellObjectPath = "/io/dunelo/Shell";
inline constexpr const char* kShellInterface = "io.dunelo.Shell1";
inline constexpr uint32_t kShellInterfaceVersion = 1;
inline constexpr const char* kExtensionUUID = "dunelo@dunelo.io";

// Window flags of a window record.
inline constexpr uint32_t kWindowFullScreen = 1;
inline constexpr uint32_t kWindowNormal = 2;  // an ordinary top-level window
inline constexpr uint32_t kWindowSkipTaskbar = 4;
inline constexpr uint32_t kWindowDesktop = 8;  // the desktop itself

struct WindowRecord {
  uint64_t id = 0;
  ProcessID pid = 0;    // 0 when unknown
  std::string appID;    // the shell's application id ("foot.desktop", "window:3")
  std::string appName;  // the application's display name, may be empty
  std::string wmClass;
  int32_t x = 0, y = 0, width = 0, height = 0;  // the frame, in stage pixels
  uint32_t flags = 0;
  friend bool operator==(const WindowRecord&, const WindowRecord&) = default;
};

struct MonitorRecord {
  int32_t x = 0, y = 0, width = 0, height = 0;  // stage pixels
  double scale = 1.0;
  friend bool operator==(const MonitorRecord&, const MonitorRecord&) = default;
};

// Everything the extension reports about the desktop.
struct ShellState {
  std::vector<WindowRecord> windows;    // shown windows of the active workspace, front to back
  uint64_t focus = 0;                   // the focused window's id; 0 for none
  std::vector<MonitorRecord> monitors;  // the primary first
  bool prefersDark = false;
  friend bool operator==(const ShellState&, const ShellState&) = default;

  const WindowRecord* window(uint64_t id) const;
  const WindowRecord* focusedWindow() const { return window(focus); }
};

// The application a window belongs to, as the workspace reports it: the desktop-file id without
// ".desktop" where the shell matched one, else the window's class; named by the desktop entry,
// else by the class.
std::optional<std::string> bundleIDOf(const WindowRecord& window);
RunningApplication applicationOf(const WindowRecord& window, ActivationPolicy policy);

// Stage pixels against Dunelo's two spaces; the primary monitor's corner is the origin of both.
struct StageSpace {
  int32_t primaryX = 0;
  int32_t primaryY = 0;
  int32_t primaryHeight = 0;

  static StageSpace of(const std::vector<MonitorRecord>& monitors);
  Rect topLeftRect(const WindowRecord& w) const;
  Rect bottomLeftRect(const MonitorRecord& m) const;
  // A screen frame (bottom-left space) back to stage pixels: x, y, width, height (at least 1x1).
  std::vector<int32_t> stageRect(const Rect& frame) const;
};

std::vector<ScreenInfo> screensOf(const std::vector<MonitorRecord>& monitors);

// How each material looks inside GNOME Shell: the blur's strength (a Gaussian sigma in pixels)
// and the veil over it, as on X11: deep is the strongest blur under a light frosted veil (smoky
// when the desktop prefers dark), ambient a lighter blur under a darkening one.
struct MaterialLook {
  double sigma = 0;
  Color veil;
  friend bool operator==(const MaterialLook&, const MaterialLook&) = default;
};
MaterialLook materialLook(BlurMaterial material, bool prefersDark);

// The hot key as GNOME Shell's accelerator syntax ("<Control><Alt>d"), from the Mac key code
// and the Carbon modifier mask the shortcut passes in; none for a key Dunelo does not know.
std::optional<std::string> acceleratorFor(uint32_t macKeyCode, uint32_t carbonModifiers);

}  // namespace dunelo::gnome
