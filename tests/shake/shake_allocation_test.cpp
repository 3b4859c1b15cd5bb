// Once the history has reached its steady size, feeding samples allocates nothing.
#include <gtest/gtest.h>

#include "shake/shake_detection_logic.h"
#include "support/allocation_counter.h"

namespace dunelo {
namespace {

TEST(ShakeDetectionLogicAllocation, SteadyStreamAllocatesNothing) {
  for (ShakeSensitivity s : kAllShakeSensitivities) {
    ShakeDetectionLogic logic(s);
    // A 1 kHz mouse: up to 600 samples in the window, well past the initial capacity. The
    // pattern changes direction only across small samples (no reversal); now and then a burst of
    // large alternating samples makes a real shake.
    const double pattern[] = {20, 20, 6, -20, -20, 6};
    double t = 1000.0;
    auto run = [&](int n) {
      int shakes = 0;
      for (int i = 0; i < n; ++i) {
        t += 0.001;
        const double dx = i % 5000 < 10 ? (i % 2 ? -30.0 : 30.0) : pattern[i % 6];
        shakes += logic.recordMovement(dx, t);
      }
      return shakes;
    };
    run(5000);  // warm-up: the history grows to its steady size
    const long long before = allocationCount();
    const int shakes = run(50000);
    EXPECT_EQ(allocationCount() - before, 0) << rawValue(s);
    EXPECT_GT(shakes, 0) << "the stream should contain shakes too";
  }
}

}  // namespace
}  // namespace dunelo
