#include "platform/sim/animated_value.h"

#include <gtest/gtest.h>

namespace dunelo::sim {
namespace {

TEST(TimingCurve, EaseInEaseOutMatchesTheStandardCubicBezier) {
  // Reference values of cubic-bezier(0.42, 0, 0.58, 1), solved independently.
  const struct {
    double t, expected;
  } cases[] = {{0.0, 0.0},        {0.1, 0.0197225}, {0.25, 0.1291619}, {0.5, 0.5},
               {0.75, 0.8708381}, {0.9, 0.9802775}, {1.0, 1.0}};
  for (const auto& c : cases) {
    EXPECT_NEAR(timingCurveValue(TimingCurve::easeInEaseOut, c.t), c.expected, 1e-6) << c.t;
  }
  EXPECT_DOUBLE_EQ(timingCurveValue(TimingCurve::linear, 0.3), 0.3);
  EXPECT_DOUBLE_EQ(timingCurveValue(TimingCurve::easeInEaseOut, 1.5), 1.0);
}

TEST(AnimatedScalar, FadesFromTheOnScreenValueAndRetargetsMidFlight) {
  AnimatedScalar a(0.0);
  a.set(0.8, Animation::fade(), 10.0);
  EXPECT_DOUBLE_EQ(a.value(10.0), 0.0);
  EXPECT_NEAR(a.value(10.075), 0.8 * 0.1291619, 1e-6);
  EXPECT_NEAR(a.value(10.15), 0.4, 1e-9);
  EXPECT_DOUBLE_EQ(a.value(10.3), 0.8);
  EXPECT_DOUBLE_EQ(a.target(), 0.8);

  // Retargeting half way starts from 0.4, not from 0 or 0.8.
  a.set(0.8, Animation::none(), 20.0);
  a.set(0.0, Animation::fade(), 20.0);
  a.set(0.0, Animation{0.2, TimingCurve::linear}, 20.15);  // from the value at 20.15
  const double at = 0.8 * (1 - 0.5);
  EXPECT_NEAR(a.value(20.15), at, 1e-9);
  EXPECT_NEAR(a.value(20.25), at / 2, 1e-9);
  EXPECT_DOUBLE_EQ(a.value(20.35), 0.0);

  // An immediate change lands at once, also in the middle of a fade.
  a.set(1.0, Animation::fade(), 30.0);
  a.set(0.25, Animation::none(), 30.1);
  EXPECT_DOUBLE_EQ(a.value(30.1), 0.25);
}

TEST(AnimatedColors, InterpolatesEachComponentAndJumpsWhenTheCountChanges) {
  AnimatedColors c;
  const std::vector<Color> red{Color::deviceRGB(1, 0, 0, 1), Color::deviceRGB(1, 0, 0, 0.4)};
  c.set(red, Animation::fade(), 0.0);
  EXPECT_EQ(c.value(0.0), red);  // from no colours: nothing to interpolate

  const std::vector<Color> blue{Color::deviceRGB(0, 0, 1, 0), Color::deviceRGB(0, 0, 1, 0.4)};
  c.set(blue, Animation{1.0, TimingCurve::linear}, 1.0);
  const auto mid = c.value(1.25);
  ASSERT_EQ(mid.size(), 2u);
  EXPECT_DOUBLE_EQ(mid[0].red, 0.75);
  EXPECT_DOUBLE_EQ(mid[0].blue, 0.25);
  EXPECT_DOUBLE_EQ(mid[0].alpha, 0.75);
  EXPECT_DOUBLE_EQ(mid[1].alpha, 0.4);
  EXPECT_EQ(c.value(2.0), blue);
}

}  // namespace
}  // namespace dunelo::sim
