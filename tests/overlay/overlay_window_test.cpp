#include "overlay/overlay_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "platform/sim/sim_desktop.h"
#include "support/log_capture.h"

namespace dunelo {
namespace {

using sim::SimDesktop;
using ::testing::ElementsAre;

const ScreenInfo kRetina{Rect(0, 0, 1440, 900), 2.0, 1};

TEST(OverlayWindow, StartsAsAPlainBlurWithEveryEffectPreparedButInvisible) {
  SimDesktop d;
  OverlayWindow window(d.overlaySurfaces(), kRetina);
  ASSERT_EQ(d.overlayCount(), 1u);
  const auto o = *d.overlay(d.overlays().front());

  EXPECT_FALSE(o.onScreen);
  EXPECT_EQ(o.alpha, 1.0);
  EXPECT_EQ(o.frame, kRetina.frame);
  EXPECT_EQ(o.material, BlurMaterial::deep);

  // Tint: bottom-middle to top-middle, stops at 0, 0.4 and 1, no colours, invisible.
  ASSERT_TRUE(o.tintGeometry);
  EXPECT_EQ(o.tintGeometry->startPoint, (Point{0.5, 0.0}));
  EXPECT_EQ(o.tintGeometry->endPoint, (Point{0.5, 1.0}));
  EXPECT_THAT(o.tintGeometry->locations, ElementsAre(0.0, 0.4, 1.0));
  EXPECT_TRUE(o.tintColors.empty());
  EXPECT_EQ(o.tintOpacity, 0.0);

  EXPECT_EQ(o.grayscaleColor, Color::grayscale(0.5));
  EXPECT_EQ(o.grayscaleBlend, BlendMode::saturation);
  EXPECT_EQ(o.grayscaleOpacity, 0.0f);

  // One grain sample per device pixel, shown at the screen's scale.
  ASSERT_NE(o.grainImage, nullptr);
  EXPECT_TRUE(window.hasGrainImage());
  EXPECT_EQ(o.grainImage->width, 2880);
  EXPECT_EQ(o.grainImage->height, 1800);
  EXPECT_EQ(o.grainContentsScale, 2.0);
  EXPECT_EQ(o.grainBlend, BlendMode::overlay);
  EXPECT_EQ(o.grainOpacity, 0.0f);
}

TEST(OverlayWindow, ScreenWithoutUsableSizeGetsNoGrain) {
  dunelo::testing::LogCapture log;
  SimDesktop d;
  const ScreenInfo broken{Rect(0, 0, std::numeric_limits<double>::quiet_NaN(), 900), 1.0, 3};
  OverlayWindow window(d.overlaySurfaces(), broken);
  const auto o = *d.overlay(d.overlays().front());
  EXPECT_FALSE(window.hasGrainImage());
  EXPECT_EQ(o.grainImage, nullptr);
  EXPECT_EQ(o.grainBlend, BlendMode::overlay);  // the layer itself is still there, empty
  EXPECT_THAT(log.messages(),
              ElementsAre("[OverlayWindow] no grain texture for a screen of nan "
                          "x 900.0 points at scale 1.0; grain shows nothing there"));
}

TEST(OverlayWindow, TintStopsComeFromTheColourInDeviceRGB) {
  // The colour given and the first stop; the others are that stop with alpha 0.4 and 0.
  const std::tuple<const char*, Color, Color> cases[] = {
      {"sRGB", Color::srgb(0.2, 0.4, 0.6), Color::deviceRGB(0.2, 0.4, 0.6)},
      {"grey", Color::grayscale(0.3, 0.9), Color::deviceRGB(0.3, 0.3, 0.3, 0.9)},
      // Its own alpha stays on the first stop only: a weaker bottom band.
      {"translucent", Color::srgb(1, 0, 0, 0.5), Color::deviceRGB(1, 0, 0, 0.5)},
      // A colour without components cannot be converted and is used as given.
      {"pattern", Color{0.1, 0.2, 0.3, 1, ColorSpace::pattern},
       Color{0.1, 0.2, 0.3, 1, ColorSpace::pattern}},
  };
  for (const auto& [name, given, base] : cases) {
    SCOPED_TRACE(name);
    SimDesktop d;
    OverlayWindow window(d.overlaySurfaces(), kRetina);
    const WindowNumber n = d.overlays().front();
    window.applyTint(given, 0.25f);
    const auto o = *d.overlay(n);
    EXPECT_THAT(o.targetTintColors, ElementsAre(base, base.withAlpha(0.4), base.withAlpha(0.0)));
    EXPECT_EQ(o.targetTintOpacity, 0.25f);
    EXPECT_EQ(o.tintAnimation, Animation::fade());
  }
}

// A desktop that refuses to create the window: the overlay still works as an object (the engine
// keeps its bookkeeping), it just shows nothing.
class RefusingFactory final : public OverlaySurfaceFactory {
 public:
  std::unique_ptr<OverlaySurface> createSurface(const ScreenInfo&) override { return nullptr; }
};

TEST(OverlayWindow, RefusedWindowBecomesAnInertOverlayAndIsLogged) {
  dunelo::testing::LogCapture log;
  RefusingFactory factory;
  OverlayWindow window(factory, kRetina);
  window.applyTint(Color::srgb(1, 0, 0), 1.0f);
  window.setAlpha(0.5, Animation::fade());
  window.orderFront();
  window.orderBelow(42);
  window.orderOut();
  EXPECT_THAT(log.messages(),
              ElementsAre("[OverlayWindow] no window could be created for the screen at (0.0, "
                          "0.0, 1440.0, 900.0); it gets no overlay"));
}

}  // namespace
}  // namespace dunelo
