// Values that move over virtual time, the way the desktop's compositor animates window alpha and
// layer properties: a change starts from the value on screen at that instant and reaches its
// target after the animation's duration, following the animation's timing curve. A change made
// mid-flight starts from wherever the previous one had got to.
#pragma once

#include <vector>

#include "core/color.h"
#include "platform/overlay_surface.h"

namespace dunelo::sim {

// Fraction of the way from start to target at `t` (0..1) of the duration: linear, or the standard
// ease-in-ease-out cubic Bezier with control points (0.42, 0) and (0.58, 1).
double timingCurveValue(TimingCurve curve, double t);

// A change in progress: when it started, how long it takes and along which curve.
struct Transition {
  double startTime = 0;
  Animation animation = Animation::none();

  // Fraction done at `now`, after the curve: 0 before the start, 1 once the duration has passed.
  double progress(double now) const;
  bool isRunning(double now) const;
};

class AnimatedScalar {
 public:
  explicit AnimatedScalar(double initial = 0) : from_(initial), to_(initial) {}

  // Starts moving from the current value at `now` to `target`.
  void set(double target, Animation animation, double now);
  double value(double now) const;
  double target() const { return to_; }
  const Transition& transition() const { return transition_; }

 private:
  double from_;
  double to_;
  Transition transition_;
};

// A list of colours animated component by component. When the number of colours changes, the
// new list applies at once: there is no pairing to interpolate between.
class AnimatedColors {
 public:
  void set(std::vector<Color> target, Animation animation, double now);
  std::vector<Color> value(double now) const;
  const std::vector<Color>& target() const { return to_; }

 private:
  std::vector<Color> from_;
  std::vector<Color> to_;
  Transition transition_;
};

}  // namespace dunelo::sim
