#include "platform/sim/animated_value.h"

#include <algorithm>
#include <cmath>

namespace dunelo::sim {
namespace {

// One coordinate of a cubic Bezier from (0, 0) to (1, 1) with inner control values p1 and p2.
double bezier(double p1, double p2, double s) {
  const double u = 1 - s;
  return 3 * u * u * s * p1 + 3 * u * s * s * p2 + s * s * s;
}

double bezierSlope(double p1, double p2, double s) {
  const double u = 1 - s;
  return 3 * u * u * p1 + 6 * u * s * (p2 - p1) + 3 * s * s * (1 - p2);
}

double easeInEaseOut(double t) {
  constexpr double x1 = 0.42, y1 = 0.0, x2 = 0.58, y2 = 1.0;
  // Solve x(s) = t for the curve parameter s: Newton steps, then bisection if they stall.
  double s = t;
  for (int i = 0; i < 8; ++i) {
    const double err = bezier(x1, x2, s) - t;
    if (std::abs(err) < 1e-12) return bezier(y1, y2, s);
    const double slope = bezierSlope(x1, x2, s);
    if (std::abs(slope) < 1e-9) break;
    s = std::clamp(s - err / slope, 0.0, 1.0);
  }
  double lo = 0, hi = 1;
  s = t;
  for (int i = 0; i < 60; ++i) {
    const double x = bezier(x1, x2, s);
    if (std::abs(x - t) < 1e-12) break;
    (x < t ? lo : hi) = s;
    s = (lo + hi) / 2;
  }
  return bezier(y1, y2, s);
}

double lerp(double a, double b, double f) {
  return a + (b - a) * f;
}

}  // namespace

double timingCurveValue(TimingCurve curve, double t) {
  t = std::clamp(t, 0.0, 1.0);
  switch (curve) {
    case TimingCurve::linear:
      return t;
    case TimingCurve::easeInEaseOut:
      return easeInEaseOut(t);
  }
  return t;
}

double Transition::progress(double now) const {
  if (animation.duration <= 0) return 1.0;
  return timingCurveValue(animation.curve, (now - startTime) / animation.duration);
}

bool Transition::isRunning(double now) const {
  return animation.duration > 0 && now < startTime + animation.duration;
}

void AnimatedScalar::set(double target, Animation animation, double now) {
  from_ = value(now);
  to_ = target;
  transition_ = Transition{now, animation};
}

double AnimatedScalar::value(double now) const {
  if (!transition_.isRunning(now)) return to_;
  return lerp(from_, to_, transition_.progress(now));
}

void AnimatedColors::set(std::vector<Color> target, Animation animation, double now) {
  from_ = value(now);
  to_ = std::move(target);
  transition_ = Transition{now, from_.size() == to_.size() ? animation : Animation::none()};
}

std::vector<Color> AnimatedColors::value(double now) const {
  if (!transition_.isRunning(now)) return to_;
  const double f = transition_.progress(now);
  std::vector<Color> out;
  out.reserve(to_.size());
  for (size_t i = 0; i < to_.size(); ++i) {
    const Color& a = from_[i];
    const Color& b = to_[i];
    out.push_back(Color{lerp(a.red, b.red, f), lerp(a.green, b.green, f), lerp(a.blue, b.blue, f),
                        lerp(a.alpha, b.alpha, f), b.space});
  }
  return out;
}

}  // namespace dunelo::sim
