#include "shake/shake_detection_logic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace dunelo {
namespace {

using Sample = std::pair<double, double>;  // deltaX, timestamp

std::vector<bool> feed(ShakeDetectionLogic& logic, const std::vector<Sample>& samples) {
  std::vector<bool> results;
  for (const auto& [dx, t] : samples) results.push_back(logic.recordMovement(dx, t));
  return results;
}

// Alternating ±30 samples, `spacing` seconds apart.
std::vector<Sample> alternating(int count, double spacing, double start = 1000.0) {
  std::vector<Sample> out;
  for (int i = 0; i < count; ++i) out.push_back({i % 2 ? -30.0 : 30.0, start + i * spacing});
  return out;
}

TEST(ShakeDetectionLogic, SensitivityTableDecidesHowManyReversalsInWhichWindow) {
  // Sensitivity, reversals needed, window.
  for (const auto& [sensitivity, threshold, window] :
       {std::tuple{ShakeSensitivity::low, 5, 0.4}, std::tuple{ShakeSensitivity::medium, 3, 0.5},
        std::tuple{ShakeSensitivity::high, 2, 0.6}}) {
    SCOPED_TRACE(std::string(rawValue(sensitivity)));
    // Quick alternation: the shake completes on exactly the (threshold + 1)th sample.
    ShakeDetectionLogic fast(sensitivity);
    const auto results = feed(fast, alternating(threshold + 1, 0.01));
    for (size_t i = 0; i + 1 < results.size(); ++i) EXPECT_FALSE(results[i]) << i;
    EXPECT_TRUE(results.back());
    EXPECT_EQ(fast.movementCount(), 0u);

    // Spread so that the needed samples span just more than the window: never a shake.
    ShakeDetectionLogic slow(sensitivity);
    const double spacing = window / threshold * 1.01;
    for (bool r : feed(slow, alternating(40, spacing))) EXPECT_FALSE(r);
    // And just inside the window: a shake.
    ShakeDetectionLogic inside(sensitivity);
    const double tight = window / threshold * 0.99;
    EXPECT_TRUE(feed(inside, alternating(threshold + 1, tight)).back());
  }
}

TEST(ShakeDetectionLogic, SmallSamplesAreIgnoredOrBreakTheChain) {
  // Below 5.0 (and 0, NaN): not recorded, and the history is not pruned either.
  ShakeDetectionLogic logic(ShakeSensitivity::high);
  EXPECT_FALSE(logic.recordMovement(20, 1000.0));
  for (double dx : {4.9, -4.9, 0.0, -0.0, std::numeric_limits<double>::quiet_NaN()})
    EXPECT_FALSE(logic.recordMovement(dx, 1100.0));
  EXPECT_EQ(logic.movementCount(), 1u);
  // Exactly 5.0 is recorded; between 5 and 8 it is kept but separates the large ones.
  EXPECT_FALSE(logic.recordMovement(5.0, 1000.01));
  EXPECT_EQ(logic.movementCount(), 2u);

  ShakeDetectionLogic high(ShakeSensitivity::high);
  EXPECT_EQ(feed(high, {{10, 0.0}, {6, 0.01}, {-10, 0.02}, {10, 0.03}}),
            (std::vector<bool>{false, false, false, false}));
  ShakeDetectionLogic exactEight(ShakeSensitivity::high);
  EXPECT_EQ(feed(exactEight, {{8, 0.0}, {-8, 0.01}, {8, 0.02}}),
            (std::vector<bool>{false, false, true}));
  ShakeDetectionLogic sameSign(ShakeSensitivity::high);
  for (bool r : feed(sameSign, {{30, 0}, {30, 0.01}, {30, 0.02}, {30, 0.03}})) EXPECT_FALSE(r);
}

TEST(ShakeDetectionLogic, SampleExactlyTheWindowOldStaysAndOlderIsDropped) {
  // Medium: window 0.5, threshold 3. All times are exact binary fractions.
  const double t0 = 1000.0;
  ShakeDetectionLogic atEdge(ShakeSensitivity::medium);
  EXPECT_EQ(feed(atEdge, {{20, t0}, {-20, t0 + 0.25}, {20, t0 + 0.375}, {-20, t0 + 0.5}}),
            (std::vector<bool>{false, false, false, true}));
  ShakeDetectionLogic past(ShakeSensitivity::medium);
  const double late = std::nextafter(t0 + 0.5, 2000.0);
  EXPECT_EQ(feed(past, {{20, t0}, {-20, t0 + 0.25}, {20, t0 + 0.375}, {-20, late}}),
            (std::vector<bool>{false, false, false, false}));
  EXPECT_EQ(past.movementCount(), 3u);
}

// The rules written out plainly, to check the incremental implementation against.
class ReferenceLogic {
 public:
  ReferenceLogic(int64_t threshold, double window) : threshold_(threshold), window_(window) {}
  bool record(double dx, double now) {
    if (!(std::fabs(dx) >= 5.0)) return false;
    history_.push_back({now, dx});
    std::erase_if(history_, [&](const Sample& s) { return now - s.first > window_; });
    int64_t reversals = 0;
    for (size_t i = 1; i < history_.size(); ++i) {
      const double p = history_[i - 1].second, c = history_[i].second;
      if (std::fabs(c) >= 8 && std::fabs(p) >= 8 && p * c < 0) ++reversals;
    }
    if (reversals >= threshold_) {
      history_.clear();
      return true;
    }
    return false;
  }
  size_t size() const { return history_.size(); }

 private:
  int64_t threshold_;
  double window_;
  std::vector<Sample> history_;  // timestamp, deltaX
};

TEST(ShakeDetectionLogic, AgreesWithThePlainRulesOnRandomStreams) {
  std::mt19937 rng(12345);
  for (ShakeSensitivity s : kAllShakeSensitivities) {
    for (int run = 0; run < 40; ++run) {
      ShakeDetectionLogic logic(s);
      ReferenceLogic reference(logic.reversalThreshold(), logic.timeWindow());
      // Dense runs grow the history past its initial capacity; sparse ones wrap the ring.
      const double meanGap = std::uniform_real_distribution<double>(0.0005, 0.2)(rng);
      std::exponential_distribution<double> gap(1.0 / meanGap);
      std::uniform_real_distribution<double> delta(-25, 25);
      std::bernoulli_distribution backwards(run % 4 == 0 ? 0.05 : 0.0);
      double t = 1000.0;
      for (int i = 0; i < 3000; ++i) {
        t += backwards(rng) ? -gap(rng) : gap(rng);
        const double dx = delta(rng);
        ASSERT_EQ(logic.recordMovement(dx, t), reference.record(dx, t))
            << "sensitivity " << rawValue(s) << " run " << run << " sample " << i;
        ASSERT_EQ(logic.movementCount(), reference.size());
      }
    }
  }
}

}  // namespace
}  // namespace dunelo
