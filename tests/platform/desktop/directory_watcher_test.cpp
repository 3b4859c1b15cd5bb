#include "platform/desktop/directory_watcher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "support/scratch_dir.h"

namespace dunelo {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;
using testing::writeFile;

// Each step changes the trees and says whether the watcher must report it; every report is taken,
// so each step starts from "nothing changed".
TEST(DirectoryWatcher, ReportsEntriesInstalledRemovedOrRenamedAnywhereBelowItsRoots) {
  ScratchDir data;
  const std::string sys = data.file("sys/applications"), home = data.file("home/applications");
  fs::create_directories(sys);
  fs::create_directories(data.file("home"));  // the user's directory does not exist yet
  DirectoryWatcher watcher({home, sys, data.file("nowhere/applications")});
  ASSERT_TRUE(watcher.isWatching());
  EXPECT_FALSE(watcher.takeChanged());
  const struct {
    const char* what;
    std::function<void()> change;
    bool reported;
  } steps[] = {
      {"install", [&] { writeFile(sys + "/a.desktop", "[Desktop Entry]\n"); }, true},
      {"rewrite", [&] { writeFile(sys + "/a.desktop", "[Desktop Entry]\nName=A\n"); }, true},
      {"rename", [&] { fs::rename(sys + "/a.desktop", sys + "/b.desktop"); }, true},
      {"remove", [&] { fs::remove(sys + "/b.desktop"); }, true},
      {"an editor's swap file", [&] { writeFile(sys + "/.b.desktop.swp", "x"); }, false},
      {"a new subdirectory", [&] { fs::create_directory(sys + "/kde"); }, true},
      {"an entry in it", [&] { writeFile(sys + "/kde/k.desktop", "[Desktop Entry]\n"); }, true},
      {"the parent of a missing root is busy", [&] { writeFile(data.file("home/recent"), ""); },
       false},
      {"the missing root appears", [&] { fs::create_directory(home); }, true},
      {"an entry in it", [&] { writeFile(home + "/h.desktop", "[Desktop Entry]\n"); }, true},
      {"the root goes", [&] { fs::remove_all(home); }, true},
      {"and comes back", [&] { fs::create_directory(home); }, true},
      {"with an entry", [&] { writeFile(home + "/h.desktop", "[Desktop Entry]\n"); }, true},
  };
  for (const auto& step : steps) {
    step.change();
    EXPECT_EQ(watcher.takeChanged(), step.reported) << step.what;
  }
  // Served from a main loop instead: the flag survives until it is taken.
  writeFile(sys + "/c.desktop", "[Desktop Entry]\n");
  watcher.readEvents();
  EXPECT_TRUE(watcher.takeChanged());
  EXPECT_FALSE(DirectoryWatcher({data.file("nowhere/applications")}).isWatching());
}

}  // namespace
}  // namespace dunelo
