#include "overlay/grain_image.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

namespace dunelo {
namespace {

TEST(GrainImage, SizeIsTruncatedAndAtLeastOnePixel) {
  const std::array<double, 4> cases[] = {
      {2880, 1800, 2880, 1800}, {1439.5, 900.99, 1439, 900}, {0.4, 10, 1, 10}, {-5, 0, 1, 1}};
  for (const auto& [w, h, expectedW, expectedH] : cases) {
    auto image = makeGrainImage(w, h);
    ASSERT_NE(image, nullptr) << w << " x " << h;
    EXPECT_EQ(image->width, expectedW);
    EXPECT_EQ(image->height, expectedH);
    EXPECT_EQ(image->rgba.size(), size_t(expectedW * expectedH * 4));
  }
}

TEST(GrainImage, NoImageForSizesThatAreNotFiniteOrTooLarge) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // The last two: far more pixels than memory, and wider than a row can be.
  for (const auto& [w, h] : {std::array<double, 2>{nan, 100},
                             {100, nan},
                             {inf, 100},
                             {100, -inf},
                             {1e12, 1e12},
                             {3e9, 1}}) {
    EXPECT_EQ(makeGrainImage(w, h), nullptr) << w << " x " << h;
  }
}

// The four channels are the colour matrix over four independent uniform samples u:
// r, g, b = 0.25 u + 0.375 (64 levels from 96 to 159 of 255) and a = u (all 256 levels). Every
// pixel is checked, so one left unwritten (all zero), the odd last one included, shows up. The
// statistical bounds are many standard deviations wide.
TEST(GrainImage, ChannelsAreIndependentUniformNoiseAroundMidGrey) {
  for (const int side : {1, 3, 512}) {
    auto image = makeGrainImage(side, side);
    ASSERT_NE(image, nullptr);
    const size_t n = size_t(side) * side;
    std::array<std::array<double, 256>, 4> histogram{};
    std::array<double, 4> sum{}, squares{};
    std::array<std::array<double, 4>, 4> products{};
    for (size_t i = 0; i < n; ++i) {
      const uint8_t* p = image->rgba.data() + i * 4;
      for (int c = 0; c < 3; ++c) {
        ASSERT_GE(p[c], 96) << "pixel " << i;
        ASSERT_LE(p[c], 159) << "pixel " << i;
      }
      for (int a = 0; a < 4; ++a) {
        histogram[a][p[a]] += 1;
        sum[a] += p[a];
        squares[a] += double(p[a]) * p[a];
        for (int b = a + 1; b < 4; ++b) products[a][b] += double(p[a]) * p[b];
      }
    }
    if (side < 512) continue;
    for (int c = 0; c < 4; ++c) {
      const int first = c < 3 ? 96 : 0, levels = c < 3 ? 64 : 256;
      for (int level = first; level < first + levels; ++level) {
        EXPECT_NEAR(histogram[c][level], double(n) / levels, 0.25 * double(n) / levels)
            << "channel " << c << " level " << level;
      }
      EXPECT_NEAR(sum[c] / double(n) / 255.0, 0.5, 0.005) << "channel " << c;
    }
    for (int a = 0; a < 4; ++a) {
      for (int b = a + 1; b < 4; ++b) {
        const double ma = sum[a] / n, mb = sum[b] / n;
        const double corr = (products[a][b] / n - ma * mb) /
                            std::sqrt((squares[a] / n - ma * ma) * (squares[b] / n - mb * mb));
        EXPECT_LT(std::fabs(corr), 0.02) << "channels " << a << ", " << b;
      }
    }
  }
}

TEST(GrainImage, EachCallDrawsFreshNoise) {
  EXPECT_NE(makeGrainImage(64, 64)->rgba, makeGrainImage(64, 64)->rgba);
}

}  // namespace
}  // namespace dunelo
