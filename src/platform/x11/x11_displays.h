// The screens of the X display: one per RandR monitor, the primary first.
//
// A monitor is what a desktop calls a screen (an output, or a region set with
// `xrandr --setmonitor`). Its display id is its first output's id; a monitor without outputs is
// numbered by its name atom, which is unique among the monitors, so two such monitors do not
// collapse into one overlay. Without RandR monitors the root window is the one screen. Frames are
// in the bottom-left-origin space of the primary screen; the backing scale comes from Xft.dpi
// (96 dpi is 1.0). The list is kept current from RandR screen-change events, the root window's
// ConfigureNotify (monitor changes are announced only there) and the root's RESOURCE_MANAGER
// property, and observers hear of real changes only.
#pragma once

#include <functional>
#include <vector>

#include "core/subject.h"
#include "platform/displays.h"
#include "platform/x11/coordinate_space.h"
#include "platform/x11/window_tree.h"
#include "platform/x11/x11_connection.h"

namespace dunelo::x11 {

class X11Displays final : public Displays {
 public:
  X11Displays(X11Connection& connection, WindowTree& tree);

  std::vector<ScreenInfo> screens() const override { return screens_; }
  [[nodiscard]] Cancellable observeChanges(std::function<void()> handler) override;

  // The conversion every other X11 component uses; current with `screens()`.
  const CoordinateSpace& coordinates() const { return space_; }

  // Reads the configuration again; notifies when it changed.
  void refresh();

  // Xft.dpi from a resource database string; none when absent or unreadable.
  static std::optional<double> parseXftDpi(const std::string& resources);

 private:
  double readScale();

  X11Connection& conn_;
  WindowTree& tree_;
  std::vector<ScreenInfo> screens_;
  CoordinateSpace space_;
  Subject<int> changed_;
  CancellableBag handlers_;
};

}  // namespace dunelo::x11
