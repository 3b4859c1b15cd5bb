// One overlay ordering pass on a private Xvfb with openbox and 20 or 200 ordinary windows: find the
// frontmost application's focused window, find it in the window list (2-point match), and order
// the overlay directly below it. "InPlace" is the steady state of the 60 Hz loop (nothing to
// send); "Restack" alternates the target so that every pass sends a ConfigureWindow, and waits for
// the server to carry it out.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>

#include "platform/x11/event_loop.h"
#include "platform/x11/x11_desktop.h"
#include "platform/x11/x_server.h"

namespace dunelo::x11 {
namespace {

struct Fixture {
  std::unique_ptr<testing::XServer> server;
  std::unique_ptr<X11Connection> conn;
  EventLoop loop;
  std::unique_ptr<X11Desktop> desktop;
  CancellableBag attached;
  std::unique_ptr<testing::TestClient> client;
  std::unique_ptr<OverlaySurface> overlay;
  std::vector<xcb_window_t> windows;

  bool start(int count) {
    server = std::make_unique<testing::XServer>(true);
    if (!server->ok()) return false;
    conn = X11Connection::open(server->display().c_str());
    if (!conn) return false;
    desktop = std::make_unique<X11Desktop>(*conn, loop);
    attached = attachToEventLoop(*conn, loop);
    client = std::make_unique<testing::TestClient>(server->display());
    for (int i = 0; i < count; ++i) {
      windows.push_back(client->createWindow(20 + (i * 37) % 900, 20 + (i * 53) % 500, 300, 200,
                                             10000 + i % 10, "app",
                                             "App" + std::to_string(i % 10)));
    }
    client->flush();
    loop.runUntil([&] { return desktop->tree().clients().size() >= windows.size(); }, 30);
    overlay = desktop->overlaySurfaces().createSurface(desktop->displays().screens().front());
    overlay->orderFront();
    activate(windows.back());
    return desktop->tree().clients().size() >= windows.size();
  }
  void activate(xcb_window_t w) {
    client->activate(w);
    loop.runUntil([&] { return desktop->tree().activeWindow() == w; }, 5);
    loop.runFor(0.05);
  }
  ~Fixture() {
    overlay.reset();
    client.reset();
    attached.clear();
    desktop.reset();
    conn.reset();
  }

  // The pass as the engine runs it.
  std::optional<WindowNumber> locate() {
    auto app = desktop->workspace().frontmostApplication();
    if (!app) return std::nullopt;
    auto window = desktop->accessibility().focusedWindow(app->pid);
    if (!window) return std::nullopt;
    const Point p = desktop->accessibility().windowPosition(*window).value_or(Point{});
    const Size s = desktop->accessibility().windowSize(*window).value_or(Size{});
    auto list = desktop->windowList().onScreenWindows();
    if (!list) return std::nullopt;
    for (const auto& e : *list) {
      if (e.ownerPID != app->pid || !e.bounds || !e.bounds->x || !e.bounds->y || !e.bounds->width ||
          !e.bounds->height)
        continue;
      if (std::abs(*e.bounds->x - p.x) < 2 && std::abs(*e.bounds->y - p.y) < 2 &&
          std::abs(*e.bounds->width - s.width) < 2 && std::abs(*e.bounds->height - s.height) < 2)
        return e.windowNumber;
    }
    return std::nullopt;
  }
};

void BM_OrderingPassInPlace(benchmark::State& state) {
  Fixture f;
  if (!f.start(static_cast<int>(state.range(0)))) {
    state.SkipWithError("no Xvfb/openbox");
    return;
  }
  for (auto _ : state) {
    auto n = f.locate();
    if (n) f.overlay->orderBelow(*n);
    f.conn->dispatchPendingEvents();
    benchmark::DoNotOptimize(n);
  }
  state.counters["windows"] = static_cast<double>(f.desktop->tree().stack().size());
}

void BM_OrderingPassRestack(benchmark::State& state) {
  Fixture f;
  if (!f.start(static_cast<int>(state.range(0)))) {
    state.SkipWithError("no Xvfb/openbox");
    return;
  }
  auto n = f.locate();
  if (!n) {
    state.SkipWithError("focused window not found");
    return;
  }
  // Alternate between the focused frame and the bottom-most client frame.
  const WindowNumber other = f.desktop->tree().client(f.windows.front())->frame;
  bool flip = false;
  for (auto _ : state) {
    auto found = f.locate();
    f.overlay->orderBelow(flip ? other : *found);
    flip = !flip;
    f.conn->flush();
    f.conn->sync();  // the server has restacked; its ConfigureNotify is queued
    f.conn->dispatchPendingEvents();
  }
}

// CPU seconds (user + system) a process has used so far.
double processCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(stat.substr(close + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) fields >> skip;  // state .. cmajflt
  double utime = 0, stime = 0;
  fields >> utime >> stime;
  return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double selfCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The 60 Hz ordering loop with nothing changing, run on the real event loop for five seconds:
// the share of one core it costs this process and the X server.
void BM_SixtyHertzLoopIdleCpu(benchmark::State& state) {
  Fixture f;
  if (!f.start(static_cast<int>(state.range(0)))) {
    state.SkipWithError("no Xvfb/openbox");
    return;
  }
  for (auto _ : state) {
    const double selfStart = selfCpuSeconds();
    const double serverStart = processCpuSeconds(f.server->serverPid());
    const double wallStart = f.loop.uptime();
    int ticks = 0;
    Cancellable timer = f.loop.scheduleRepeating(0, 1.0 / 60, 0, [&] {
      if (auto n = f.locate()) f.overlay->orderBelow(*n);
      ++ticks;
    });
    f.loop.runFor(5.0);
    timer.cancel();
    const double wall = f.loop.uptime() - wallStart;
    state.counters["ticks_per_s"] = ticks / wall;
    state.counters["self_cpu_pct"] = 100 * (selfCpuSeconds() - selfStart) / wall;
    state.counters["xserver_cpu_pct"] =
        100 * (processCpuSeconds(f.server->serverPid()) - serverStart) / wall;
  }
}

BENCHMARK(BM_OrderingPassInPlace)->Arg(20)->Arg(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OrderingPassRestack)->Arg(20)->Arg(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SixtyHertzLoopIdleCpu)->Arg(20)->Arg(200)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace dunelo::x11
