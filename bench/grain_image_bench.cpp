// Cost of one grain texture at full device resolution. The texture is made once per overlay
// window, on the main thread, when the overlay is built, so the realistic case is an image in
// fresh memory (every page faulted in once). "ReusedMemory" shows the generator alone, when the
// allocator hands back the pages of the previous iteration's image.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include "overlay/grain_image.h"

namespace {

void runGrain(benchmark::State& state) {
  const double width = static_cast<double>(state.range(0));
  const double height = static_cast<double>(state.range(1));
  for (auto _ : state) {
    auto image = dunelo::makeGrainImage(width, height);
    benchmark::DoNotOptimize(image);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

void BM_MakeGrainImage_ReusedMemory(benchmark::State& state) {
  runGrain(state);
}

void BM_MakeGrainImage_FreshMemory(benchmark::State& state) {
  // A fixed mmap threshold stops glibc from keeping freed large blocks around, so every image
  // gets new pages, as the one image of a new overlay window does.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  runGrain(state);
}

BENCHMARK(BM_MakeGrainImage_ReusedMemory)
    ->Args({2880, 1800})
    ->Args({5120, 2880})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// Registered last: the mallopt setting stays for the rest of the process.
BENCHMARK(BM_MakeGrainImage_FreshMemory)
    ->Args({2880, 1800})
    ->Args({5120, 2880})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
