// What a settings change costs the main thread, and how often the settings file is written while
// a slider is dragged or the permission poll stores flags that did not change. Writes are counted
// from outside, as the renames onto defaults.json that inotify reports. One debugLog call for
// comparison.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "core/debug_log_file.h"
#include "settings/json_file_defaults_store.h"
#include "settings/settings_manager.h"

namespace dunelo {
namespace {

struct NoLoginItems : LoginItems {
  bool registerApp() override { return true; }
  bool unregisterApp() override { return true; }
};

// A scratch directory that also receives the debug log while it exists.
struct ScratchDir {
  ScratchDir() : path(makeDir()), logFile({.paths = {path + "/debug.log"}}) {
    logInstalled = installLogSink(logFile);
  }
  ~ScratchDir() {
    logInstalled.cancel();
    std::filesystem::remove_all(path);
  }
  static std::string makeDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "dunelo-bench-XXXXXX").string();
    return ::mkdtemp(templ.data()) ? templ : std::string();
  }
  std::string path;
  DebugLogFile logFile;
  Cancellable logInstalled;
};

// Counts the files renamed onto defaults.json in `dir`.
class WriteCounter {
 public:
  explicit WriteCounter(const std::string& dir) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    // Watching both halves of a rename keeps the kernel from folding equal events together.
    ::inotify_add_watch(fd_, dir.c_str(), IN_MOVED_TO | IN_MOVED_FROM);
  }
  ~WriteCounter() { ::close(fd_); }
  int count() {
    alignas(inotify_event) char buffer[65536];
    for (ssize_t n; (n = ::read(fd_, buffer, sizeof buffer)) > 0;) {
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
        if ((e->mask & IN_MOVED_TO) && e->len && std::strcmp(e->name, "defaults.json") == 0)
          ++count_;
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      }
    }
    return count_;
  }

 private:
  int fd_;
  int count_ = 0;
};

// The main thread's share of one slider step: the assignment and everything it runs at once.
void BM_SettingsAssignment(benchmark::State& state) {
  ScratchDir dir;
  JsonFileDefaultsStore store(dir.path + "/dunelo/defaults.json");
  NoLoginItems login;
  SettingsManager settings(store, login);
  settings.excludedAppBundleIDs = {"com.apple.finder", "org.mozilla.firefox", "code"};
  double v = 0;
  for (auto _ : state) settings.blurRadius = (v += 1.0);
  store.flush();
}
BENCHMARK(BM_SettingsAssignment)->Unit(benchmark::kMicrosecond)->Iterations(200);

// A two-second drag at 60 Hz; disk_writes is how often the file was replaced meanwhile.
void BM_SliderDrag2sAt60Hz(benchmark::State& state) {
  ScratchDir dir;
  for (auto _ : state) {
    JsonFileDefaultsStore store(dir.path + "/dunelo/defaults.json");
    NoLoginItems login;
    SettingsManager settings(store, login);
    settings.isActive = true;
    store.flush();
    WriteCounter writes(dir.path + "/dunelo");
    auto next = std::chrono::steady_clock::now();
    for (int step = 0; step < 120; ++step) {
      settings.blurRadius = 20.0 + step * 0.5;
      next += std::chrono::microseconds(16667);
      std::this_thread::sleep_until(next);
    }
    store.flush();
    state.counters["disk_writes"] = writes.count();
  }
}
BENCHMARK(BM_SliderDrag2sAt60Hz)->Unit(benchmark::kMillisecond)->Iterations(1);

// One tick of the permission poll with nothing changed: both cached flags stored again.
void BM_PermissionPollTickUnchanged(benchmark::State& state) {
  ScratchDir dir;
  JsonFileDefaultsStore store(dir.path + "/dunelo/defaults.json");
  store.setBool(settings_keys::kCachedAccessibility, false);
  store.setBool(settings_keys::kCachedScreenRecording, false);
  store.flush();
  WriteCounter writes(dir.path + "/dunelo");
  for (auto _ : state) {
    store.setBool(settings_keys::kCachedScreenRecording, false);
    store.setBool(settings_keys::kCachedAccessibility, false);
  }
  store.flush();
  state.counters["disk_writes"] = writes.count();
}
BENCHMARK(BM_PermissionPollTickUnchanged)->Unit(benchmark::kMicrosecond)->Iterations(100);

void BM_DebugLog(benchmark::State& state) {
  ScratchDir dir;
  for (auto _ : state) debugLog("[ShakeDetector] mouseMoved deltaX=12.0");
}
BENCHMARK(BM_DebugLog)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace dunelo
