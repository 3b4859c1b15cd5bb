// The overlay windows on an X display.
//
// Each overlay is a borderless window covering one screen, kept directly below the focused
// window's frame. How it gets there depends on who paints the screen:
// - No compositor, or a separate one (picom) that paints windows in the server's stacking order:
//   the overlay is override-redirect, the window manager never sees it, and Dunelo stacks it
//   itself with a direct ConfigureWindow below the focused frame.
// - A window manager that composites itself and takes restack requests (KWin, Mutter, Metacity):
//   such managers keep their own order for override-redirect windows and paint them above every
//   managed window (KWin), or raise them back above every managed window in the server (Mutter),
//   so an override-redirect overlay covers the focused window. There the overlay is an ordinary
//   managed window (undecorated, never focused, on every workspace, off taskbars and pagers) that
//   the window manager stacks on Dunelo's request (_NET_RESTACK_WINDOW, as pagers ask). A
//   compositing manager without such requests (xfwm4) paints in the server's order and gets the
//   override-redirect overlay.
// Either way the overlay asks every compositor not to unredirect it (_NET_WM_BYPASS_COMPOSITOR 2):
// a full-screen opaque window is otherwise drawn by the server straight to the screen, over or
// instead of the compositor's picture. Brought to the front, it goes to the top of the ordinary
// windows, never above panels, docks or notifications.
//
// Between two orders the surface holds its place: when the stacking changes under it (a window
// mapped or raised in between by another client), it restacks itself at once rather than waiting
// for the next ordering pass, at most once per order so that it never fights another client at
// event rate. It takes no input (an empty input shape). The surface keeps the overlay's visual
// state, runs its fades (window alpha and tint, up to sixty frames a second along the animation's
// curve) and hands the state of each frame to its painter, which exists only while the window is
// shown: a hidden overlay holds nothing on the server but its window.
#pragma once

#include <memory>
#include <vector>

#include "core/scheduler.h"
#include "core/weak_ptr.h"
#include "platform/overlay_surface.h"
#include "platform/x11/animation_curve.h"
#include "platform/x11/coordinate_space.h"
#include "platform/x11/overlay_painter.h"
#include "platform/x11/window_tree.h"
#include "platform/x11/x11_connection.h"

namespace dunelo::x11 {

class X11OverlaySurfaceFactory;

// The top-level of the topmost mapped ordinary window (a managed client that is not a dock, a
// notification or kept above, and not an overlay), or none.
xcb_window_t topmostOrdinary(const WindowTree& tree, const Atoms& atoms);

class X11OverlaySurface final : public OverlaySurface {
 public:
  // Use X11OverlaySurfaceFactory::createSurface.
  X11OverlaySurface(X11OverlaySurfaceFactory& factory, const ScreenInfo& screen);
  ~X11OverlaySurface() override;

  void orderFront() override;
  void orderOut() override;
  void orderBelow(WindowNumber window) override;
  void setAlpha(double alpha, Animation animation) override;
  void setFrame(const Rect& frame) override;
  void setMaterial(BlurMaterial material) override;
  void setTintGeometry(const GradientGeometry& geometry) override;
  void setTint(const std::vector<Color>& colors, float opacity, Animation animation) override;
  void setGrayscaleLayer(const Color& color, BlendMode blend) override;
  void setGrayscaleOpacity(float opacity) override;
  void setGrainLayer(std::shared_ptr<const Bitmap> image, double contentsScale,
                     BlendMode blend) override;
  void setGrainOpacity(float opacity) override;

  xcb_window_t window() const { return window_; }
  // The window's top-level: itself, or the frame the window manager put it in.
  xcb_window_t topLevel() const;
  bool isMapped() const { return mapped_; }
  // Whether the window manager stacks this overlay (see above).
  bool isManaged() const { return managed_; }
  // The state as on screen now (animations applied).
  OverlayVisualState visualState() const;
  // The state the running animations end in.
  double targetAlpha() const { return alpha_.to; }
  // Stacking requests actually sent (those found unnecessary are skipped).
  uint64_t restackCount() const { return restacks_; }

 private:
  void createWindow();
  void destroyWindow();
  void setMappingHints();
  void map();
  bool isDirectlyBelow(int targetIndex) const;
  // Whether the focused frame `target` must first be raised above the other ordinary windows:
  // a tiling manager (i3) never raises the focused window, and the windows above it would stay
  // sharp. Only a frame that is override-redirect is raised: its manager stacks it with plain
  // requests to the server and holds no order of its own that this would contradict; any other
  // frame stays where its window manager keeps it.
  bool mustRaise(xcb_window_t target) const;
  void restackBelow(xcb_window_t target);
  void restackToFront();
  void holdPlace();
  void changed();
  bool needsFrames() const;
  void startFrames();
  void paintNow();

  X11OverlaySurfaceFactory& factory_;
  X11Connection& conn_;
  xcb_window_t window_ = XCB_NONE;
  std::unique_ptr<OverlayPainter> painter_;  // only while mapped
  bool mapped_ = false;
  bool managed_ = false;
  OverlayVisualState state_;  // non-animated fields; animated ones are below
  Animated<double> alpha_;
  Animated<double> tintOpacity_;
  Animated<std::vector<Color>> tintColors_;
  bool paintPosted_ = false;
  Cancellable frameTimer_;
  double settleUntil_ = -1;  // a managed window is drawn every frame until then
  Cancellable exposeToken_;
  uint64_t restacks_ = 0;
  // The frame the last order put this window below; none after orderFront / orderOut.
  xcb_window_t heldBelow_ = XCB_NONE;
  bool heldOnce_ = false;  // the place was restored once since that order
  bool holdPosted_ = false;
  Cancellable stackingToken_;
  WeakPtrFactory<X11OverlaySurface> weakFactory_{this};
};

class X11OverlaySurfaceFactory final : public OverlaySurfaceFactory {
 public:
  // `painters` must outlive the factory; every surface must be destroyed before the factory.
  X11OverlaySurfaceFactory(X11Connection& connection, Scheduler& scheduler, WindowTree& tree,
                           const CoordinateSpace& space, OverlayPainterFactory& painters);
  ~X11OverlaySurfaceFactory() override;

  std::unique_ptr<OverlaySurface> createSurface(const ScreenInfo& screen) override;

  // Whether the window manager composites the screen itself and stacks windows on request, so
  // that overlays are windows it manages (one round trip).
  bool windowManagerComposites();

  // The surfaces alive now, oldest first.
  const std::vector<X11OverlaySurface*>& surfaces() const { return surfaces_; }

 private:
  friend class X11OverlaySurface;
  X11Connection& conn_;
  Scheduler& scheduler_;
  WindowTree& tree_;
  const CoordinateSpace& space_;
  OverlayPainterFactory& painters_;
  OverlayWindowFormat format_;
  bool formatKnown_ = false;
  bool warnedInputShape_ = false;
  xcb_atom_t compositorSelection_ = XCB_NONE;
  bool lastManaged_ = false;  // for the log
  std::vector<X11OverlaySurface*> surfaces_;
};

}  // namespace dunelo::x11
