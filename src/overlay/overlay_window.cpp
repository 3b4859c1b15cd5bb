#include "overlay/overlay_window.h"

#include <string>
#include <vector>

#include "core/debug_log.h"
#include "core/format.h"
#include "overlay/grain_image.h"

namespace dunelo {
namespace {

// Stands in for a window the desktop refused to create: the overlay then simply shows nothing
// on that screen, and the engine's bookkeeping stays the same as for any other display.
class InertSurface final : public OverlaySurface {
 public:
  void orderFront() override {}
  void orderOut() override {}
  void orderBelow(WindowNumber) override {}
  void setAlpha(double, Animation) override {}
  void setFrame(const Rect&) override {}
  void setMaterial(BlurMaterial) override {}
  void setTintGeometry(const GradientGeometry&) override {}
  void setTint(const std::vector<Color>&, float, Animation) override {}
  void setGrayscaleLayer(const Color&, BlendMode) override {}
  void setGrayscaleOpacity(float) override {}
  void setGrainLayer(std::shared_ptr<const Bitmap>, double, BlendMode) override {}
  void setGrainOpacity(float) override {}
};

std::unique_ptr<OverlaySurface> createOrInert(OverlaySurfaceFactory& factory,
                                              const ScreenInfo& screen) {
  if (auto surface = factory.createSurface(screen)) return surface;
  const Rect& f = screen.frame;
  debugLog("[OverlayWindow] no window could be created for the screen at (" +
           formatDecimal(f.origin.x) + ", " + formatDecimal(f.origin.y) + ", " +
           formatDecimal(f.size.width) + ", " + formatDecimal(f.size.height) +
           "); it gets no overlay");
  return std::make_unique<InertSurface>();
}

}  // namespace

OverlayWindow::OverlayWindow(OverlaySurfaceFactory& factory, const ScreenInfo& screen)
    : surface_(createOrInert(factory, screen)) {
  const double width = screen.frame.size.width;
  const double height = screen.frame.size.height;

  surface_->setMaterial(BlurMaterial::deep);

  // The gradient runs from the middle of the bottom edge to the middle of the top edge.
  surface_->setTintGeometry(GradientGeometry{{0.5, 0.0}, {0.5, 1.0}, {0.0, 0.4, 1.0}});

  surface_->setGrayscaleLayer(Color::grayscale(0.5), BlendMode::saturation);
  surface_->setGrayscaleOpacity(0);

  // One texture sample per device pixel; the layer maps `scale` image pixels onto each point.
  const double scale = screen.backingScaleFactor;
  auto grain = makeGrainImage(width * scale, height * scale);
  hasGrainImage_ = grain != nullptr;
  if (!hasGrainImage_) {
    debugLog("[OverlayWindow] no grain texture for a screen of " + formatDecimal(width) + " x " +
             formatDecimal(height) + " points at scale " + formatDecimal(scale) +
             "; grain shows nothing there");
  }
  surface_->setGrainLayer(std::move(grain), scale, BlendMode::overlay);
  surface_->setGrainOpacity(0);
}

void OverlayWindow::applyTint(const Color& color, float opacity) {
  const Color c = color.toDeviceRGB().value_or(color);
  const std::vector<Color> colors{c, c.withAlpha(kTintMiddleAlpha), c.withAlpha(0.0)};
  surface_->setTint(colors, opacity, Animation::fade());
}

}  // namespace dunelo
