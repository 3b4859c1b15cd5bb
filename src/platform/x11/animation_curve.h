// Timing curves and a value animated along one, for the overlay's fades.
//
// The fade curve is CSS/Core Animation's ease-in-ease-out, cubic-bezier(0.42, 0, 0.58, 1): the
// curve maps elapsed time to progress through the Bezier with control points (0.42, 0) and
// (0.58, 1), solved for x by Newton steps with a bisection fallback.
#pragma once

#include <vector>

#include "core/color.h"
#include "platform/overlay_surface.h"

namespace dunelo::x11 {

class CubicBezier {
 public:
  constexpr CubicBezier(double x1, double y1, double x2, double y2)
      : x1_(x1), y1_(y1), x2_(x2), y2_(y2) {}
  static constexpr CubicBezier easeInEaseOut() { return CubicBezier(0.42, 0, 0.58, 1); }
  // Progress for elapsed fraction `t` in [0, 1] (clamped).
  double operator()(double t) const;

 private:
  double x1_, y1_, x2_, y2_;
};

// Progress of `curve` at elapsed fraction `t` (clamped to [0, 1]).
double curveProgress(TimingCurve curve, double t);

// A value moving from `from` to `to` between two instants.
template <class T>
struct Animated {
  T from{};
  T to{};
  double start = 0;
  double duration = 0;
  TimingCurve curve = TimingCurve::linear;

  bool isRunning(double now) const { return duration > 0 && now < start + duration; }
  // Sets a new target, starting from the value at `now` (so a retarget never jumps).
  template <class Lerp>
  void retarget(T target, Animation animation, double now, Lerp lerp) {
    from = value(now, lerp);
    to = std::move(target);
    start = now;
    duration = animation.duration;
    curve = animation.curve;
  }
  template <class Lerp>
  T value(double now, Lerp lerp) const {
    if (duration <= 0 || now >= start + duration) return to;
    return lerp(from, to, curveProgress(curve, (now - start) / duration));
  }
};

inline double lerpDouble(const double& a, const double& b, double p) {
  return a + (b - a) * p;
}
Color lerpColor(const Color& a, const Color& b, double p);
// Colour lists of different lengths cannot be paired: the target list fades in from its own
// colours at alpha 0.
std::vector<Color> lerpColors(const std::vector<Color>& a, const std::vector<Color>& b, double p);

}  // namespace dunelo::x11
