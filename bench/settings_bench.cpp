// One settings assignment, including its write-through to the JSON file (temp file, fsync,
// rename), and one debugLog call.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "core/debug_log_file.h"
#include "settings/json_file_defaults_store.h"
#include "settings/settings_manager.h"

namespace dunelo {
namespace {

struct NoLoginItems : LoginItems {
  bool registerApp() override { return true; }
  bool unregisterApp() override { return true; }
};

std::string makeScratchDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "dunelo-bench-XXXXXX").string();
  if (!::mkdtemp(templ.data())) return {};
  return templ;
}

void BM_SettingsAssignmentWithDiskWrite(benchmark::State& state) {
  const std::string dir = makeScratchDir();
  DebugLogFile logFile({.paths = {dir + "/debug.log"}});
  const Cancellable logInstalled = installLogSink(logFile);
  {
    JsonFileDefaultsStore store(dir + "/dunelo/defaults.json");
    NoLoginItems login;
    SettingsManager settings(store, login);
    settings.excludedAppBundleIDs = {"com.apple.finder", "org.mozilla.firefox", "code"};
    double v = 0;
    for (auto _ : state) settings.blurRadius = (v += 1.0);
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SettingsAssignmentWithDiskWrite)->Unit(benchmark::kMicrosecond)->Iterations(200);

void BM_DebugLog(benchmark::State& state) {
  const std::string dir = makeScratchDir();
  DebugLogFile logFile({.paths = {dir + "/debug.log"}});
  const Cancellable logInstalled = installLogSink(logFile);
  for (auto _ : state) debugLog("[ShakeDetector] mouseMoved deltaX=12.0");
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_DebugLog)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace dunelo
