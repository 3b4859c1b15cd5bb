// What a switch to a window that matches no desktop file costs the main thread with 5,000
// desktop files installed: a lookup while nothing changed (the index asks its directory watcher),
// and the lookup after an install (which reads the directories again). files_read is the number
// of files opened per lookup.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/desktop/directory_watcher.h"
#include "platform/x11/desktop_file_index.h"

namespace dunelo {
namespace {

struct DataDir {
  DataDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "dunelo-bench-XXXXXX").string();
    if (::mkdtemp(templ.data())) path = templ;
    std::filesystem::create_directories(path + "/applications");
    for (int i = 0; i < 5000; ++i) {
      std::ofstream(path + "/applications/org.example.App" + std::to_string(i) + ".desktop")
          << "[Desktop Entry]\nType=Application\nName=App " << i << "\nExec=app" << i
          << "\nIcon=app\nStartupWMClass=App" << i << "\nCategories=Utility;\n";
    }
  }
  ~DataDir() { std::filesystem::remove_all(path); }
  std::string path;
};

void BM_UnknownWindowLookup(benchmark::State& state) {
  DataDir data;
  x11::DesktopFileIndex index({data.path});
  DirectoryWatcher watcher(index.applicationDirs());
  index.setRescanTrigger([&] { return watcher.takeChanged(); });
  const uint64_t before = index.filesRead();
  for (auto _ : state) benchmark::DoNotOptimize(index.lookup(std::nullopt, "nothing", "Nothing"));
  state.counters["files_read"] =
      benchmark::Counter(double(index.filesRead() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_UnknownWindowLookup)->Unit(benchmark::kMicrosecond);

void BM_UnknownWindowLookupAfterAnInstall(benchmark::State& state) {
  DataDir data;
  x11::DesktopFileIndex index({data.path});
  DirectoryWatcher watcher(index.applicationDirs());
  index.setRescanTrigger([&] { return watcher.takeChanged(); });
  const uint64_t before = index.filesRead();
  int n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::ofstream(data.path + "/applications/new" + std::to_string(n++) + ".desktop")
        << "[Desktop Entry]\nName=New\n";
    state.ResumeTiming();
    benchmark::DoNotOptimize(index.lookup(std::nullopt, "nothing", "Nothing"));
  }
  state.counters["files_read"] =
      benchmark::Counter(double(index.filesRead() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_UnknownWindowLookupAfterAnInstall)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
}  // namespace dunelo
