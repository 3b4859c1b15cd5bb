// The desktop side of one overlay window: a borderless, click-through window that covers one
// screen, sits in the normal window stack and renders, over what lies behind it, a blur and three
// effect layers stacked bottom to top: a vertical tint gradient, a grayscale layer and a grain
// layer. The window alpha scales all of it.
//
// Changes marked "animated" move from the value on screen to the new one over the animation's
// duration with its curve; everything else takes effect at once.
#pragma once

#include <memory>
#include <vector>

#include "core/bitmap.h"
#include "core/color.h"
#include "core/geometry.h"
#include "platform/displays.h"
#include "platform/window_list.h"

namespace dunelo {

// How the blur looks. The numbers are the material identifiers persisted nowhere but kept stable
// for logs and tests.
enum class BlurMaterial {
  ambient = 13,  // a lighter, darker-toned veil
  deep = 15,     // a frosted full-screen veil
};

enum class TimingCurve { linear, easeInEaseOut };

struct Animation {
  double duration = 0;  // seconds; 0 means at once
  TimingCurve curve = TimingCurve::easeInEaseOut;

  static constexpr Animation none() { return Animation{0, TimingCurve::linear}; }
  // Every visible fade of the overlay.
  static constexpr Animation fade() { return Animation{0.3, TimingCurve::easeInEaseOut}; }
  friend bool operator==(const Animation&, const Animation&) = default;
};

// How a layer combines with what lies beneath it.
enum class BlendMode {
  normal,      // source over
  saturation,  // takes the saturation of the layer, hue and luminosity of what lies beneath
  overlay,     // mid-grey is neutral; lighter brightens, darker darkens
};

// Geometry of the tint gradient, in the layer's unit space: (0, 0) is the bottom-left corner,
// (1, 1) the top-right.
struct GradientGeometry {
  Point startPoint;
  Point endPoint;
  std::vector<double> locations;  // one per colour, 0 at the start point, 1 at the end point
  friend bool operator==(const GradientGeometry&, const GradientGeometry&) = default;
};

class OverlaySurface {
 public:
  // Destroying the surface removes its window.
  virtual ~OverlaySurface() = default;

  // Shows the window above every other window (until `orderBelow` places it), or hides it; the
  // window keeps its look and frame while hidden.
  virtual void orderFront() = 0;
  virtual void orderOut() = 0;
  // Places the window directly below `window`, another process's window. A window that no
  // longer exists leaves the stacking as it was.
  virtual void orderBelow(WindowNumber window) = 0;

  virtual void setAlpha(double alpha, Animation animation) = 0;
  // The screen frame, bottom-left-origin space, in points; the content is redrawn to fit.
  virtual void setFrame(const Rect& frame) = 0;
  virtual void setMaterial(BlurMaterial material) = 0;

  virtual void setTintGeometry(const GradientGeometry& geometry) = 0;
  // Colours of the gradient (one per location) and the layer's opacity, animated together.
  virtual void setTint(const std::vector<Color>& colors, float opacity, Animation animation) = 0;

  // A flat colour with the given blend mode over the tint.
  virtual void setGrayscaleLayer(const Color& color, BlendMode blend) = 0;
  virtual void setGrayscaleOpacity(float opacity) = 0;

  // An image shown with `contentsScale` image pixels per point, filling the window while keeping
  // its aspect ratio; none leaves the layer empty.
  virtual void setGrainLayer(std::shared_ptr<const Bitmap> image, double contentsScale,
                             BlendMode blend) = 0;
  virtual void setGrainOpacity(float opacity) = 0;
};

class OverlaySurfaceFactory {
 public:
  virtual ~OverlaySurfaceFactory() = default;
  // A new window covering `screen.frame`, not yet on screen, at the default alpha of 1.0, with
  // every layer at opacity 0.
  virtual std::unique_ptr<OverlaySurface> createSurface(const ScreenInfo& screen) = 0;
};

}  // namespace dunelo
