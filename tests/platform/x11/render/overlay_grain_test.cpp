// The overlay-blended grain on a real X server: what the screen shows with grain against the
// exact overlay blend of the grain image over what it shows without, computed here per pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "overlay/grain_image.h"
#include "platform/x11/render/private_display_test.h"

namespace dunelo::x11::testing {
namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// Fine coloured detail over the whole range of each channel, dark to light.
uint32_t ramps(int x, int y) {
  const auto r = static_cast<uint32_t>((x * 255) / 300);
  const auto g = static_cast<uint32_t>((y * 255) / 200);
  const uint32_t b = ((x / 3 + y / 3) % 2) ? 0xf0 : 0x10;
  return (r << 16) | (g << 8) | b;
}

double channel(uint32_t pixel, int shift) {
  return static_cast<double>((pixel >> shift) & 0xff) / 255.0;
}

class OverlayGrainTest : public PrivateDisplayTest<kWidth, kHeight> {
 protected:
  void SetUp() override {
    PrivateDisplayTest::SetUp();
    if (unusable()) return;
    background_ = h_->createPlainWindow(0, 0, kWidth, kHeight, ramps);
    focused_ = h_->createPlainWindow(101, 81, 60, 40, [](int, int) { return 0x808080u; });
    h_->settle();
    h_->showOverlay(focused_);
    grain_ = makeGrainImage(kWidth, kHeight);
    ASSERT_TRUE(grain_);
  }

  // The largest difference, in levels of 255, between `shown` and the exact overlay blend of the
  // grain at `opacity` over `plain`, mixed over `scene` by `alpha`, outside the focused window.
  int largestError(const Image& shown, const Image& plain, const Image& scene, double opacity,
                   double alpha) const {
    int worst = 0;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        if (x >= 101 && x < 161 && y >= 81 && y < 121) continue;
        const uint8_t* g = grain_->pixel(x, y);
        const double a = g[3] / 255.0 * opacity;
        for (int c = 0; c < 3; ++c) {
          const int shift = 16 - 8 * c;  // red, green, blue
          const double d = channel(plain.at(x, y), shift);
          const double k = 2 * (g[c] / 255.0) * a - a;
          const double blended = d + k * std::min(d, 1 - d);
          const double expected = alpha * blended + (1 - alpha) * channel(scene.at(x, y), shift);
          const int error = static_cast<int>(
              std::lround(std::abs(expected - channel(shown.at(x, y), shift)) * 255.0));
          worst = std::max(worst, error);
        }
      }
    }
    return worst;
  }

  std::shared_ptr<const Bitmap> grain_;
};

TEST_F(OverlayGrainTest, MatchesTheExactOverlayBlendWithinTwoLevels) {
  struct Case {
    const char* name;
    double opacity;
    double alpha;
    bool effects;
  };
  const Case cases[] = {
      {"grain 0.5", 0.5, 1.0, false},
      {"full grain", 1.0, 1.0, false},
      {"grain over tint and grayscale", 0.5, 1.0, true},
      {"grain 0.7 at alpha 0.6", 0.7, 0.6, false},
      {"grain 0.3 at alpha 0.25 with effects", 0.3, 0.25, true},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    OverlayVisualState state = h_->defaultState();
    if (tc.effects) {
      state.tintColors = {Color::deviceRGB(0.9, 0.2, 0.1, 1), Color::deviceRGB(0.2, 0.3, 0.9, 1),
                          Color::deviceRGB(0.1, 0.8, 0.3, 1)};
      state.tintOpacity = 0.4;
      state.grayscaleColor = Color::deviceRGB(0.5, 0.5, 0.5, 1);
      state.grayscaleOpacity = 0.6;
    }
    state.grainImage = grain_;
    state.alpha = 0;
    const Image scene = repaint(state, 0.02);
    state.alpha = 1;
    const Image plain = repaint(state, 0.02);
    state.alpha = tc.alpha;
    state.grainOpacity = tc.opacity;
    const Image shown = repaint(state, 0.02);
    const int error = largestError(shown, plain, scene, tc.opacity, tc.alpha);
    std::printf("%s: largest error %d of 255\n", tc.name, error);
    EXPECT_LE(error, 2);
  }
}

TEST_F(OverlayGrainTest, PartialRedrawsAndFadesKeepTheBlendExact) {
  OverlayVisualState state = h_->defaultState();
  state.grainImage = grain_;
  state.grainOpacity = 0.6;
  repaint(state, 0.02);
  // Changes at odd coordinates, away from the edges: only the pixels around them are blended
  // again, from half-size pixels they share with unchanged ones.
  auto changeBehind = [&](int x0, int y0, int x1, int y1, uint32_t colour) {
    h_->draw(background_, kWidth, kHeight, [=](int x, int y) {
      return (x >= x0 && x < x1 && y >= y0 && y < y1) ? colour : ramps(x, y);
    });
    EXPECT_TRUE(h_->waitForFrames(1));
    h_->settle(0.02);
    return h_->capture(screen());
  };
  const Image partial = changeBehind(33, 151, 71, 187, 0xf8e020u);
  // The middle of a fade, where the second step only mixes again, and its end, which gives the
  // same pixels as before it.
  state.alpha = 0.5;
  const Image half = repaint(state, 0.02);
  state.alpha = 0.7;
  const Image later = repaint(state, 0.02);
  state.alpha = 1;
  EXPECT_TRUE(identical(partial, repaint(state, 0.02), screen()));
  // A change behind at a steady alpha just after a fade step.
  state.alpha = 0.5;
  repaint(state, 0.02);
  state.alpha = 0.7;
  repaint(state, 0.02);
  const Image steady = changeBehind(201, 31, 247, 65, 0x2040d0u);

  OverlayVisualState sceneState = state;
  sceneState.alpha = 0;
  const Image scene = repaint(sceneState, 0.02);
  OverlayVisualState plainState = state;
  plainState.alpha = 1;
  plainState.grainOpacity = 0;
  const Image plain = repaint(plainState, 0.02);
  EXPECT_LE(largestError(steady, plain, scene, 0.6, 0.7), 2);
  // The first change alone, as the screen showed it through the fade.
  changeBehind(33, 151, 71, 187, 0xf8e020u);
  const Image firstPlain = h_->capture(screen());
  const Image firstScene = repaint(sceneState, 0.02);
  EXPECT_LE(largestError(partial, firstPlain, firstPlain, 0.6, 1.0), 2);
  EXPECT_LE(largestError(half, firstPlain, firstScene, 0.6, 0.5), 2);
  EXPECT_LE(largestError(later, firstPlain, firstScene, 0.6, 0.7), 2);
}

}  // namespace
}  // namespace dunelo::x11::testing
