#include <gtest/gtest.h>

#include <cmath>

#include "platform/x11/animation_curve.h"
#include "platform/x11/coordinate_space.h"
#include "platform/x11/x11_displays.h"

namespace dunelo::x11 {
namespace {

// The curve by brute force: sample the parametric Bezier densely and interpolate y at x.
double sampledEaseInOut(double x) {
  auto b = [](double s, double p1, double p2) {
    return 3 * (1 - s) * (1 - s) * s * p1 + 3 * (1 - s) * s * s * p2 + s * s * s;
  };
  double prevX = 0, prevY = 0;
  for (int i = 1; i <= 200000; ++i) {
    const double s = i / 200000.0;
    const double bx = b(s, 0.42, 0.58), by = b(s, 0.0, 1.0);
    if (bx >= x) return prevY + (by - prevY) * (x - prevX) / std::max(bx - prevX, 1e-12);
    prevX = bx;
    prevY = by;
  }
  return 1;
}

TEST(EaseInEaseOutTest, MatchesTheBezierAndIsSymmetricAndMonotonic) {
  const CubicBezier ease = CubicBezier::easeInEaseOut();
  for (double t : {0.0, 0.05, 0.1, 0.25, 0.4, 0.5, 0.6, 0.75, 0.9, 0.97, 1.0}) {
    EXPECT_NEAR(ease(t), sampledEaseInOut(t), 1e-5) << "t=" << t;
    EXPECT_NEAR(ease(t) + ease(1 - t), 1.0, 1e-6) << "t=" << t;
  }
  double last = -1;
  for (int i = 0; i <= 1000; ++i) {
    const double v = ease(i / 1000.0);
    EXPECT_GE(v, last);
    last = v;
  }
  EXPECT_EQ(ease(-0.5), 0.0);
  EXPECT_EQ(ease(1.5), 1.0);
}

TEST(AnimatedTest, RetargetMidwayContinuesFromTheValueOnScreen) {
  Animated<double> a;
  a.retarget(1.0, Animation::fade(), 10.0, lerpDouble);  // from 0
  const double mid = a.value(10.15, lerpDouble);
  EXPECT_NEAR(mid, 0.5, 1e-9);
  a.retarget(0.0, Animation::fade(), 10.15, lerpDouble);
  EXPECT_NEAR(a.value(10.15, lerpDouble), mid, 1e-12) << "a retarget must not jump";
  EXPECT_EQ(a.value(10.45, lerpDouble), 0.0);
  a.retarget(0.7, Animation::none(), 11.0, lerpDouble);
  EXPECT_EQ(a.value(11.0, lerpDouble), 0.7);
}

TEST(AnimatedTest, ColourListsOfDifferentLengthFadeInFromTransparent) {
  const std::vector<Color> target = {Color::deviceRGB(1, 0, 0, 1), Color::deviceRGB(1, 0, 0, 0.4)};
  const auto half = lerpColors({}, target, 0.5);
  ASSERT_EQ(half.size(), 2u);
  EXPECT_DOUBLE_EQ(half[0].alpha, 0.5);
  EXPECT_DOUBLE_EQ(half[1].alpha, 0.2);
  EXPECT_DOUBLE_EQ(half[0].red, 1.0);
}

TEST(CoordinateSpaceTest, ConvertsBetweenRootPixelsAndBothPointSpaces) {
  // Primary monitor at (100, 50), 1000 px high, two device pixels per point.
  const CoordinateSpace s{100, 50, 1000, 2.0};
  EXPECT_EQ(s.topLeftRect(100, 50, 200, 100), Rect(0, 0, 100, 50));
  EXPECT_EQ(s.topLeftRect(300, 250, 20, 10), Rect(100, 100, 10, 5));
  // The primary's bottom-left corner is the origin of the screen-frame space.
  EXPECT_EQ(s.bottomLeftRect(100, 50, 2000, 1000), Rect(0, 0, 1000, 500));
  // A monitor above the primary has positive y in the bottom-left space.
  EXPECT_EQ(s.bottomLeftRect(100, -950, 2000, 1000), Rect(0, 500, 1000, 500));
  const xcb_rectangle_t back = s.rootRectFromBottomLeft(Rect(0, 500, 1000, 500));
  EXPECT_EQ(back.x, 100);
  EXPECT_EQ(back.y, -950);
  EXPECT_EQ(back.width, 2000);
  EXPECT_EQ(back.height, 1000);
  // Degenerate sizes still make a window.
  EXPECT_EQ(s.rootRectFromBottomLeft(Rect(0, 0, 0, 0)).width, 1);
}

TEST(XftDpiTest, ReadsTheValueFromAResourceDatabase) {
  struct Case {
    const char* resources;
    std::optional<double> dpi;
  };
  const Case cases[] = {
      {"Xft.dpi:\t96\n", 96.0},
      {"Xcursor.size:\t24\nXft.dpi:   192\nXft.antialias:\t1\n", 192.0},
      {"Xft.dpi: 120.5", 120.5},
      {"Xft.dpiX: 144\n", std::nullopt},
      {"Xft.dpi: abc\n", std::nullopt},
      {"Xft.dpi: -5\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(X11Displays::parseXftDpi(c.resources), c.dpi) << c.resources;
}

}  // namespace
}  // namespace dunelo::x11
