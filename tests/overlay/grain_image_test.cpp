#include "overlay/grain_image.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace dunelo {
namespace {

struct SizeCase {
  double width, height;
  int expectedWidth, expectedHeight;
};

TEST(GrainImage, SizeIsTruncatedAndAtLeastOnePixel) {
  const SizeCase cases[] = {
      {2880, 1800, 2880, 1800}, {1439.5, 900.99, 1439, 900},
      {0.4, 10, 1, 10},         {7, 0, 7, 1},
      {-5, -0.5, 1, 1},         {1, 1, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
    auto image = makeGrainImage(c.width, c.height);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, c.expectedWidth);
    EXPECT_EQ(image->height, c.expectedHeight);
    EXPECT_EQ(image->rgba.size(), static_cast<size_t>(c.expectedWidth) * c.expectedHeight * 4);
  }
}

TEST(GrainImage, NoImageForSizesThatAreNotFiniteOrTooLarge) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::array<std::array<double, 2>, 6> cases{{
      {nan, 100},
      {100, nan},
      {inf, 100},
      {100, -inf},
      {1e12, 1e12},  // far more pixels than memory
      {3e9, 1},      // wider than an image row can be
  }};
  for (const auto& [w, h] : cases) {
    SCOPED_TRACE(testing::Message() << w << " x " << h);
    EXPECT_EQ(makeGrainImage(w, h), nullptr);
  }
}

// Every pixel's colour channels lie in [0.375, 0.625] of full scale, so a pixel that was never
// written (all zero) shows up too, also the odd last pixel of an image.
TEST(GrainImage, EveryPixelIsFaintNoiseAroundMidGrey) {
  for (auto [w, h] : {std::array<int, 2>{1, 1}, {3, 3}, {301, 7}}) {
    auto image = makeGrainImage(w, h);
    ASSERT_NE(image, nullptr);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const uint8_t* p = image->pixel(x, y);
        for (int c = 0; c < 3; ++c) {
          ASSERT_GE(p[c], 96) << x << "," << y << " channel " << c;   // 0.375 * 255 = 95.6
          ASSERT_LE(p[c], 159) << x << "," << y << " channel " << c;  // 0.625 * 255 = 159.4
        }
      }
    }
  }
}

// The channels are the colour matrix applied to four independent uniform samples: each colour
// channel is uniform over its 64 levels, alpha uniform over all 256, and no two channels are
// correlated. The bounds are many standard deviations wide, so the test does not flake.
TEST(GrainImage, ChannelsAreIndependentAndUniform) {
  constexpr int kSide = 512;
  auto image = makeGrainImage(kSide, kSide);
  ASSERT_NE(image, nullptr);
  constexpr size_t n = kSide * kSide;

  std::array<std::array<size_t, 256>, 4> histogram{};
  std::array<double, 4> sum{}, sumSquares{};
  std::array<std::array<double, 4>, 4> sumProducts{};
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* p = image->rgba.data() + i * 4;
    for (int a = 0; a < 4; ++a) {
      ++histogram[a][p[a]];
      sum[a] += p[a];
      sumSquares[a] += double(p[a]) * p[a];
      for (int b = a + 1; b < 4; ++b) sumProducts[a][b] += double(p[a]) * p[b];
    }
  }

  for (int c = 0; c < 3; ++c) {
    for (int level = 96; level <= 159; ++level) {
      EXPECT_NEAR(double(histogram[c][level]), n / 64.0, n / 64.0 * 0.15)
          << "channel " << c << " level " << level;
    }
    EXPECT_NEAR(sum[c] / n / 255.0, 0.5, 0.005) << "channel " << c;
  }
  for (int level = 0; level < 256; ++level) {
    EXPECT_NEAR(double(histogram[3][level]), n / 256.0, n / 256.0 * 0.25) << "alpha " << level;
  }
  EXPECT_NEAR(sum[3] / n / 255.0, 0.5, 0.005);

  for (int a = 0; a < 4; ++a) {
    for (int b = a + 1; b < 4; ++b) {
      const double cov = sumProducts[a][b] / n - (sum[a] / n) * (sum[b] / n);
      const double varA = sumSquares[a] / n - (sum[a] / n) * (sum[a] / n);
      const double varB = sumSquares[b] / n - (sum[b] / n) * (sum[b] / n);
      EXPECT_LT(std::fabs(cov / std::sqrt(varA * varB)), 0.02) << "channels " << a << ", " << b;
    }
  }
}

TEST(GrainImage, EachCallDrawsFreshNoise) {
  auto first = makeGrainImage(64, 64);
  auto second = makeGrainImage(64, 64);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first->rgba, second->rgba);
}

}  // namespace
}  // namespace dunelo
