// Every X11 capability, built over one connection and one scheduler.
//
// The composition code (and the tests) make one X11Desktop and hand its members to the
// components as the platform interfaces. The window tree is built first: every other capability
// reads it. `attachToEventLoop` (x11_connection.h) lets the program's loop read the connection.
#pragma once

#include <memory>

#include "core/scheduler.h"
#include "platform/x11/overlay_painter.h"
#include "platform/x11/window_tree.h"
#include "platform/x11/x11_accessibility.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_displays.h"
#include "platform/x11/x11_overlay_surface.h"
#include "platform/x11/x11_window_list.h"
#include "platform/x11/x11_workspace.h"

namespace dunelo::x11 {

class X11Desktop {
 public:
  // `painters` null: the flat placeholder veil. The connection and scheduler must outlive this.
  X11Desktop(X11Connection& connection, Scheduler& scheduler,
             std::unique_ptr<OverlayPainterFactory> painters = nullptr,
             std::unique_ptr<DesktopFileIndex> desktopFiles = nullptr);
  ~X11Desktop();

  X11Connection& connection() { return conn_; }
  WindowTree& tree() { return *tree_; }
  X11Displays& displays() { return *displays_; }
  X11Workspace& workspace() { return *workspace_; }
  X11Accessibility& accessibility() { return *accessibility_; }
  X11WindowList& windowList() { return *windowList_; }
  X11OverlaySurfaceFactory& overlaySurfaces() { return *overlaySurfaces_; }

 private:
  X11Connection& conn_;
  std::unique_ptr<OverlayPainterFactory> painters_;
  std::unique_ptr<WindowTree> tree_;
  std::unique_ptr<X11Displays> displays_;
  std::unique_ptr<X11Workspace> workspace_;
  std::unique_ptr<X11Accessibility> accessibility_;
  std::unique_ptr<X11WindowList> windowList_;
  std::unique_ptr<X11OverlaySurfaceFactory> overlaySurfaces_;
};

}  // namespace dunelo::x11
