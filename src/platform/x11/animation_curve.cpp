#include "platform/x11/animation_curve.h"

#include <algorithm>
#include <cmath>

namespace dunelo::x11 {

double CubicBezier::operator()(double t) const {
  t = std::clamp(t, 0.0, 1.0);
  // B(s) = 3(1-s)^2 s p1 + 3(1-s) s^2 p2 + s^3, for x and y.
  auto bx = [&](double s) {
    return 3 * (1 - s) * (1 - s) * s * x1_ + 3 * (1 - s) * s * s * x2_ + s * s * s;
  };
  auto by = [&](double s) {
    return 3 * (1 - s) * (1 - s) * s * y1_ + 3 * (1 - s) * s * s * y2_ + s * s * s;
  };
  auto dx = [&](double s) {
    return 3 * (1 - s) * (1 - s) * x1_ + 6 * (1 - s) * s * (x2_ - x1_) + 3 * s * s * (1 - x2_);
  };
  double s = t;
  for (int i = 0; i < 8; ++i) {
    const double err = bx(s) - t;
    if (std::abs(err) < 1e-7) return by(s);
    const double d = dx(s);
    if (std::abs(d) < 1e-6) break;
    s = std::clamp(s - err / d, 0.0, 1.0);
  }
  double lo = 0, hi = 1;
  s = t;
  for (int i = 0; i < 60; ++i) {
    const double x = bx(s);
    if (std::abs(x - t) < 1e-9) break;
    (x < t ? lo : hi) = s;
    s = (lo + hi) / 2;
  }
  return by(s);
}

double curveProgress(TimingCurve curve, double t) {
  t = std::clamp(t, 0.0, 1.0);
  if (curve == TimingCurve::linear) return t;
  static constexpr CubicBezier ease = CubicBezier::easeInEaseOut();
  return ease(t);
}

Color lerpColor(const Color& a, const Color& b, double p) {
  return Color{a.red + (b.red - a.red) * p, a.green + (b.green - a.green) * p,
               a.blue + (b.blue - a.blue) * p, a.alpha + (b.alpha - a.alpha) * p, b.space};
}

std::vector<Color> lerpColors(const std::vector<Color>& a, const std::vector<Color>& b, double p) {
  std::vector<Color> out;
  out.reserve(b.size());
  for (size_t i = 0; i < b.size(); ++i) {
    const Color from = i < a.size() && a.size() == b.size() ? a[i] : b[i].withAlpha(0);
    out.push_back(lerpColor(from, b[i], p));
  }
  return out;
}

}  // namespace dunelo::x11
