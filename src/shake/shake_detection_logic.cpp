#include "shake/shake_detection_logic.h"

#include <cmath>

namespace dunelo {
namespace {

struct Parameters {
  int64_t reversalThreshold;
  double timeWindow;
};

// Higher sensitivity needs fewer reversals and allows more time.
Parameters parametersFor(ShakeSensitivity sensitivity) {
  switch (sensitivity) {
    case ShakeSensitivity::low:
      return {5, 0.4};
    case ShakeSensitivity::medium:
      return {3, 0.5};
    case ShakeSensitivity::high:
      return {2, 0.6};
  }
  return {3, 0.5};
}

constexpr size_t kInitialCapacity = 64;

}  // namespace

ShakeDetectionLogic::ShakeDetectionLogic(ShakeSensitivity sensitivity)
    : reversalThreshold_(parametersFor(sensitivity).reversalThreshold),
      timeWindow_(parametersFor(sensitivity).timeWindow),
      ring_(kInitialCapacity) {}

bool ShakeDetectionLogic::isReversal(double prev, double cur) {
  return std::fabs(cur) >= minimumReversalDelta && std::fabs(prev) >= minimumReversalDelta &&
         prev * cur < 0;
}

void ShakeDetectionLogic::pushBack(const Movement& m) {
  if (count_ == ring_.size()) {
    std::vector<Movement> bigger(ring_.size() * 2);
    for (size_t i = 0; i < count_; ++i) bigger[i] = at(i);
    ring_.swap(bigger);
    head_ = 0;
  }
  if (count_ > 0 && isReversal(at(count_ - 1).deltaX, m.deltaX)) ++reversals_;
  ring_[(head_ + count_) & (ring_.size() - 1)] = m;
  ++count_;
}

void ShakeDetectionLogic::popFront() {
  if (count_ > 1 && isReversal(at(0).deltaX, at(1).deltaX)) --reversals_;
  head_ = (head_ + 1) & (ring_.size() - 1);
  --count_;
}

void ShakeDetectionLogic::clear() {
  head_ = 0;
  count_ = 0;
  reversals_ = 0;
  inOrder_ = true;
}

void ShakeDetectionLogic::pruneAnywhereAndRecount(double now) {
  std::vector<Movement> kept;
  kept.reserve(count_);
  for (size_t i = 0; i < count_; ++i) {
    if (!(now - at(i).timestamp > timeWindow_)) kept.push_back(at(i));
  }
  clear();
  for (const auto& m : kept) {
    if (std::isnan(m.timestamp) || (count_ > 0 && m.timestamp < at(count_ - 1).timestamp))
      inOrder_ = false;
    pushBack(m);
  }
}

bool ShakeDetectionLogic::recordMovement(double deltaX, double timestamp) {
  // Written so that NaN fails the test too.
  if (!(std::fabs(deltaX) >= minimumDelta)) return false;
  const double now = timestamp;
  if (std::isnan(now) || (count_ > 0 && now < at(count_ - 1).timestamp)) inOrder_ = false;
  pushBack({now, deltaX});
  if (inOrder_) {
    // With timestamps in order, the samples that are too old form a prefix of the history.
    while (count_ > 0 && now - at(0).timestamp > timeWindow_) popFront();
  } else {
    pruneAnywhereAndRecount(now);
  }
  if (reversals_ >= reversalThreshold_) {
    clear();
    return true;
  }
  return false;
}

}  // namespace dunelo
