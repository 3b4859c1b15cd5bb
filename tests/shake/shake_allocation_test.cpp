// Once the history has reached its steady size, feeding samples allocates nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "shake/shake_detection_logic.h"

namespace {
long long gAllocations = 0;
}  // namespace

void* operator new(std::size_t size) {
  ++gAllocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

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
    const long long before = gAllocations;
    const int shakes = run(50000);
    EXPECT_EQ(gAllocations - before, 0) << rawValue(s);
    EXPECT_GT(shakes, 0) << "the stream should contain shakes too";
  }
}

}  // namespace
}  // namespace dunelo
