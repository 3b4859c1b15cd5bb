// The on-screen window list of the X display: viewable top-level frames, front to back.
//
// Each entry is a child of the root window (the frame the window manager put around a client, or
// an unmanaged window), so its bounds are the window's whole extent on screen and its number is
// the frame's window id: exactly what the overlay is restacked against. Desktop-type windows and
// Dunelo's own overlays are left out. Everything is answered from the event-kept window tree; an
// owner pid that is not yet known costs one X-Resource round trip, once per window.
#pragma once

#include "platform/window_list.h"
#include "platform/x11/coordinate_space.h"
#include "platform/x11/window_tree.h"
#include "platform/x11/x11_connection.h"

namespace dunelo::x11 {

// Whether the extensions that capturing and compositing the screen needs are all there:
// Composite, RENDER 0.11 or later, XFixes, Damage and X-Resource.
bool hasCaptureExtensions(const Extensions& extensions);
// What the user is told when some of them are missing; empty when none is.
PermissionHelp extensionHelp(const Extensions& extensions);

class X11WindowList final : public WindowList {
 public:
  X11WindowList(X11Connection& connection, WindowTree& tree, const CoordinateSpace& space);

  std::optional<std::vector<WindowListEntry>> onScreenWindows() override;
  // From the window tree's events: activation, the client list, stacking, geometry, root size.
  Cancellable observeChanges(std::function<void()> handler) override;
  bool screenCapturePreflight() override;
  PermissionHelp screenCaptureHelp() override;

 private:
  bool isDesktopWindow(const TopLevel& window) const;

  X11Connection& conn_;
  WindowTree& tree_;
  const CoordinateSpace& space_;
};

}  // namespace dunelo::x11
