// The overlay that covers one screen while the effect is on.
//
// A borderless, click-through window in the normal window stack that renders, over whatever lies
// behind it, a live blur and three effect layers, bottom to top: a vertical tint gradient
// (strongest along the bottom edge, gone at the top), a grey layer with a saturation blend
// (desaturates at opacity 1) and a grain texture with an overlay blend. The blur engine owns one
// per display, stacks it below the focused window, fades its window alpha and sets each effect's
// strength. The window holds no state of its own beyond its surface and never takes input.
#pragma once

#include <memory>

#include "core/color.h"
#include "platform/displays.h"
#include "platform/overlay_surface.h"

namespace dunelo {

// Gradient stops of the tint: full colour at the bottom, 40 % alpha at 40 % of the height,
// transparent at the top.
inline constexpr double kTintMiddleAlpha = 0.4;

class OverlayWindow {
 public:
  // Builds the window over `screen.frame` with a deep blur, the tint geometry, the grey layer and
  // a grain texture of one sample per device pixel, every effect at opacity 0. Not on screen yet;
  // the window alpha stays at the default.
  OverlayWindow(OverlaySurfaceFactory& factory, const ScreenInfo& screen);
  OverlayWindow(const OverlayWindow&) = delete;
  OverlayWindow& operator=(const OverlayWindow&) = delete;

  // Tint colours from `color` (converted to device RGB when it can be, used as given otherwise)
  // and the tint layer's opacity, both animated over the fade. The first stop keeps the colour's
  // own alpha; the others replace it with 0.4 and 0.
  void applyTint(const Color& color, float opacity);

  // What the engine drives directly.
  void setMaterial(BlurMaterial material) { surface_->setMaterial(material); }
  void setGrainOpacity(float opacity) { surface_->setGrainOpacity(opacity); }
  void setGrayscaleOpacity(float opacity) { surface_->setGrayscaleOpacity(opacity); }
  void setAlpha(double alpha, Animation animation) { surface_->setAlpha(alpha, animation); }
  void setFrame(const Rect& frame) { surface_->setFrame(frame); }
  void orderFront() { surface_->orderFront(); }
  void orderOut() { surface_->orderOut(); }
  void orderBelow(WindowNumber window) { surface_->orderBelow(window); }

  // Whether a grain texture could be made; without one the grain strength shows nothing.
  bool hasGrainImage() const { return hasGrainImage_; }

 private:
  std::unique_ptr<OverlaySurface> surface_;
  bool hasGrainImage_ = false;
};

}  // namespace dunelo
