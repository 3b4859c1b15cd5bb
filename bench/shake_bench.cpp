// Cost of one shake-logic sample, with allocations counted (expected: none once warmed up).
#include <benchmark/benchmark.h>

#include "shake/shake_detection_logic.h"
#include "support/allocation_counter.h"

namespace dunelo {
namespace {

// A 1 kHz mouse moving back and forth across small samples: no reversals, so the history stays
// full (about 500 samples at medium) and every call prunes one and appends one.
void BM_RecordMovementSteadyHistory(benchmark::State& state) {
  ShakeDetectionLogic logic(ShakeSensitivity::medium);
  const double pattern[] = {20, 20, 6, -20, -20, 6};
  double t = 1000.0;
  size_t i = 0;
  for (int w = 0; w < 5000; ++w) logic.recordMovement(pattern[i++ % 6], t += 0.001);
  const long long before = allocationCount();
  for (auto _ : state) {
    benchmark::DoNotOptimize(logic.recordMovement(pattern[i++ % 6], t += 0.001));
  }
  state.counters["allocs"] = benchmark::Counter(static_cast<double>(allocationCount() - before));
  state.counters["history"] = static_cast<double>(logic.movementCount());
}
BENCHMARK(BM_RecordMovementSteadyHistory);

// Continuous shaking at 125 Hz: reversals on every sample, a detection every few samples.
void BM_RecordMovementShaking(benchmark::State& state) {
  ShakeDetectionLogic logic(ShakeSensitivity::medium);
  double t = 1000.0;
  double dx = 30;
  for (int w = 0; w < 1000; ++w) logic.recordMovement(dx = -dx, t += 0.008);
  const long long before = allocationCount();
  for (auto _ : state) benchmark::DoNotOptimize(logic.recordMovement(dx = -dx, t += 0.008));
  state.counters["allocs"] = benchmark::Counter(static_cast<double>(allocationCount() - before));
}
BENCHMARK(BM_RecordMovementShaking);

// Samples below the minimum: the early exit.
void BM_RecordMovementIgnored(benchmark::State& state) {
  ShakeDetectionLogic logic(ShakeSensitivity::medium);
  double t = 1000.0;
  for (auto _ : state) benchmark::DoNotOptimize(logic.recordMovement(2.0, t += 0.001));
}
BENCHMARK(BM_RecordMovementIgnored);

}  // namespace
}  // namespace dunelo
