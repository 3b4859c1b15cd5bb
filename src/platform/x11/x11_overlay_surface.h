// The overlay windows on an X display.
//
// Each overlay is an override-redirect, borderless window covering one screen: the window manager
// never sees it, so it is stacked by Dunelo alone, with a direct ConfigureWindow placing it
// directly below the focused window's frame (asking the window manager to restack a window it
// does not manage does not work). Between two such orders the surface holds its place: when the
// stacking changes under it (a window mapped or raised in between by another client), it restacks
// itself at once rather than waiting for the next ordering pass, at most once per order so that
// it never fights another client at event rate. It takes no input (an empty input shape) and
// carries the window type and state hints that keep it off taskbars, pagers and window lists. The
// surface keeps the overlay's visual state, runs its fades (window alpha and tint, up to sixty
// frames a second along the animation's curve) and hands the state of each frame to its painter.
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
  bool isMapped() const { return mapped_; }
  // The state as on screen now (animations applied).
  OverlayVisualState visualState() const;
  // The state the running animations end in.
  double targetAlpha() const { return alpha_.to; }
  // Stacking requests actually sent (those found unnecessary are skipped).
  uint64_t restackCount() const { return restacks_; }

 private:
  bool isDirectlyBelow(int targetIndex) const;
  void restackBelow(xcb_window_t target);
  void holdPlace();
  void changed();
  void startFrames();
  void paintNow();

  X11OverlaySurfaceFactory& factory_;
  X11Connection& conn_;
  xcb_window_t window_ = XCB_NONE;
  std::unique_ptr<OverlayPainter> painter_;
  bool mapped_ = false;
  OverlayVisualState state_;  // non-animated fields; animated ones are below
  Animated<double> alpha_;
  Animated<double> tintOpacity_;
  Animated<std::vector<Color>> tintColors_;
  bool paintPosted_ = false;
  Cancellable frameTimer_;
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
  std::vector<X11OverlaySurface*> surfaces_;
};

}  // namespace dunelo::x11
