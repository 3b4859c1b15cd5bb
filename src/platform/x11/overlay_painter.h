// How an overlay window's pixels are made, kept apart from how the window is stacked, shown and
// animated. `X11OverlaySurface` owns the window and the animated state and calls its painter with
// the state as it is at each frame; a painter only draws. Without a compositor nothing blends a
// window with what lies behind it, so the painter alone makes the window look translucent: the
// alpha it is given is the window alpha, to be applied as it draws.
#pragma once

#include <xcb/xcb.h>

#include <memory>
#include <vector>

#include "core/bitmap.h"
#include "core/color.h"
#include "core/geometry.h"
#include "platform/overlay_surface.h"

namespace dunelo::x11 {

class X11Connection;

// Everything an overlay shows, with animations already applied (values as on screen now).
struct OverlayVisualState {
  double alpha = 1.0;  // window alpha, 0..1
  BlurMaterial material = BlurMaterial::deep;

  GradientGeometry tintGeometry;  // unit space, (0, 0) bottom-left
  std::vector<Color> tintColors;  // device RGB, one per tint location
  double tintOpacity = 0;

  Color grayscaleColor = Color::deviceRGB(0.5, 0.5, 0.5);
  BlendMode grayscaleBlend = BlendMode::saturation;
  double grayscaleOpacity = 0;

  std::shared_ptr<const Bitmap> grainImage;  // none: no grain
  double grainScale = 1;                     // image pixels per point
  BlendMode grainBlend = BlendMode::overlay;
  double grainOpacity = 0;

  // The window's rectangle in root-window pixels, and the device pixels per point.
  xcb_rectangle_t frame{0, 0, 1, 1};
  double backingScale = 1;
};

// What an overlay window is created with: the painter decides the visual (an ARGB visual for a
// compositor, the screen's own otherwise).
struct OverlayWindowFormat {
  uint8_t depth = XCB_COPY_FROM_PARENT;
  xcb_visualid_t visual = XCB_COPY_FROM_PARENT;
  xcb_colormap_t colormap = XCB_NONE;  // XCB_NONE: inherit (only valid for the parent's visual)
};

// Draws one overlay window.
class OverlayPainter {
 public:
  virtual ~OverlayPainter() = default;
  // Draws the whole window for `state`. Called after every change, every animation frame and
  // every exposure, only while the window is mapped.
  virtual void paint(const OverlayVisualState& state) = 0;
};

// Makes the painter of each overlay window.
class OverlayPainterFactory {
 public:
  virtual ~OverlayPainterFactory() = default;
  virtual OverlayWindowFormat windowFormat(X11Connection& connection) = 0;
  // The painter for a window created with `windowFormat()`; lives no longer than the window.
  virtual std::unique_ptr<OverlayPainter> createPainter(X11Connection& connection,
                                                        xcb_window_t window,
                                                        const OverlayWindowFormat& format) = 0;
};

// The stand-in look: a flat grey veil whose strength follows the window alpha (and the material:
// the ambient material is lighter), with the tint's strongest colour mixed in by the tint
// opacity. It is drawn with core requests through an ordered-dither stipple, so it reads as
// translucent on a plain X server without a compositor.
class FlatVeilPainterFactory final : public OverlayPainterFactory {
 public:
  OverlayWindowFormat windowFormat(X11Connection& connection) override;
  std::unique_ptr<OverlayPainter> createPainter(X11Connection& connection, xcb_window_t window,
                                                const OverlayWindowFormat& format) override;
};

}  // namespace dunelo::x11
