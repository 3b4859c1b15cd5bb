// Decides, from a stream of horizontal mouse deltas with timestamps, whether the user has just
// shaken the cursor left and right.
//
// Pure and platform-free: fed one sample at a time, it keeps the samples of the last `timeWindow`
// seconds and reports a shake when enough direction reversals fall inside that window. Cooldowns
// and callbacks belong to the caller. A new sensitivity means a new instance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "settings/settings_enums.h"

namespace dunelo {

class ShakeDetectionLogic {
 public:
  explicit ShakeDetectionLogic(ShakeSensitivity sensitivity);

  // Feeds one sample: `deltaX` in points (positive to the right), `timestamp` in seconds of a
  // monotonic clock. Returns true when this sample completes a shake; the history is then empty.
  // Samples smaller than `minimumDelta` in magnitude (and NaN) are ignored without pruning.
  bool recordMovement(double deltaX, double timestamp);

  int64_t reversalThreshold() const { return reversalThreshold_; }
  double timeWindow() const { return timeWindow_; }
  static constexpr double minimumDelta = 5.0;
  static constexpr double minimumReversalDelta = 8.0;

  // Number of samples in the history.
  size_t movementCount() const { return count_; }

 private:
  struct Movement {
    double timestamp;
    double deltaX;
  };

  // The history is a ring buffer that only grows (doubling) while more samples fit in one window
  // than ever before, so a steady stream of events allocates nothing. The number of reversal pairs
  // in it is kept up to date as samples enter and leave, which makes each call O(1) amortised.
  const Movement& at(size_t i) const { return ring_[(head_ + i) & (ring_.size() - 1)]; }
  void pushBack(const Movement& m);
  void popFront();
  void clear();
  // The exact rule for out-of-order timestamps: drop every sample older than the window, wherever
  // it sits, and count the reversals again.
  void pruneAnywhereAndRecount(double now);
  static bool isReversal(double prev, double cur);

  int64_t reversalThreshold_;
  double timeWindow_;
  std::vector<Movement> ring_;  // size is a power of two
  size_t head_ = 0;
  size_t count_ = 0;
  int64_t reversals_ = 0;
  bool inOrder_ = true;  // timestamps in the history never decrease (and none is NaN)
};

}  // namespace dunelo
