// One ordering pass of the blur engine on the simulated desktop with 200 windows: the core's
// share of every 60 Hz tick while the overlay is shown (locating the focused window through
// Accessibility and the window list, then stacking each overlay below it). The simulated
// desktop's own bookkeeping (copying the window list, moving overlays in its stack) is included.
#include <benchmark/benchmark.h>

#include <string>

#include "overlay/blur_engine.h"
#include "platform/sim/sim_desktop.h"

namespace {

using dunelo::BlurEngine;
using dunelo::ProcessID;
using dunelo::Rect;
using dunelo::ScreenInfo;

void BM_OrderingPass(benchmark::State& state) {
  const int windowCount = static_cast<int>(state.range(0));
  dunelo::sim::SimDesktop d;
  d.addScreen(ScreenInfo{Rect(0, 0, 1440, 900), 2.0, 1});
  d.addScreen(ScreenInfo{Rect(1440, 0, 1920, 1080), 1.0, 2});
  // 20 applications with 10 windows each; the frontmost one's focused window is its oldest, so
  // the locator walks past its nine other windows and every window in front of them.
  ProcessID front = 0;
  for (int a = 0; a < 20; ++a) {
    front = d.launchApp("org.example.App" + std::to_string(a));
    for (int w = 0; w < windowCount / 20; ++w) {
      d.openWindow(front, Rect(10.0 * w + a, 5.0 * w + a, 400.0 + w, 300.0 + a), {.focus = w == 0});
    }
  }
  d.activate(front);
  d.runUntilIdle();

  BlurEngine engine(d.displays(), d.overlaySurfaces(), d.workspace(), d.accessibility(),
                    d.windowList(), d.scheduler());
  engine.isActive = true;
  d.advance(1.0);
  if (!engine.lastFocusedWindowNumber()) state.SkipWithError("the focused window was not found");

  for (auto _ : state) engine.updateWindowOrdering();
}
BENCHMARK(BM_OrderingPass)->Arg(200)->Unit(benchmark::kMicrosecond);

}  // namespace
