#include "platform/desktop/desktop_entry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/hostile_files.h"
#include "support/log_capture.h"
#include "support/scratch_dir.h"

namespace dunelo {
namespace {

using testing::ScratchDir;

// One walk over a user's and a system directory gives every id its one entry: the first
// directory wins, also over a Hidden copy of the id, and files that are not entries (no
// [Desktop Entry] group, a FIFO, /dev/zero, 200 MB) are skipped, each logged once per `reported`.
TEST(DesktopEntryScan, GivesEachIdTheEntryOfItsFirstDirectoryAndSkipsWhatIsNoEntry) {
  ScratchDir root;
  auto write = [&](const std::string& dir, const std::string& rel, const std::string& body) {
    const std::string path = root.file(dir + "/" + rel);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    testing::writeFile(path, body);
  };
  write("home", "editor.desktop", "[Desktop Entry]\nName=My Editor\n");
  write("sys", "editor.desktop", "[Desktop Entry]\nName=Editor\nStartupWMClass=Ed\n");
  write("home", "removed.desktop", "[Desktop Entry]\nHidden=true\n");
  write("sys", "removed.desktop", "[Desktop Entry]\nType=Application\nName=Removed\n");
  write("sys", "broken.desktop", "no group at all\nName=Broken\n");
  write("sys", "other-group.desktop", "[Desktop Action x]\nStartupWMClass=Og\n");
  write("sys", "kde/konsole.desktop",
        "# comment\n[Desktop Entry]\n Type = Application \nName=Konsole\nName[de]=Terminal\n"
        "Icon=utilities-terminal\nStartupWMClass=konsole-wm\n[Desktop Action new]\nName=New\n");
  write("sys", "link.desktop", "[Desktop Entry]\nType=Link\nName=L\n");
  testing::LogCapture log;
  testing::plantHostileFiles(root.file("sys"), ".desktop");

  const DesktopEntryLocale german(
      [](const char* name) { return std::string_view(name) == "LANG" ? "de_DE.UTF-8" : nullptr; });
  std::set<std::string> reported;
  for (int pass = 0; pass < 2; ++pass) {
    DesktopEntryScan scan{{root.file("home"), root.file("missing"), root.file("sys")},
                          german,
                          "[Test] entry",
                          &reported};
    std::map<std::string, DesktopEntryKeys> seen;
    scan.run([&](const std::string& id, DesktopEntryKeys&& keys) { seen[id] = keys; });
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen["editor"].name, "My Editor");
    EXPECT_EQ(seen["editor"].startupWMClass, "") << "the shadowed file's keys must not count";
    EXPECT_FALSE(seen["editor"].isApplication);
    const DesktopEntryKeys& konsole = seen["kde-konsole"];
    EXPECT_TRUE(konsole.isApplication);
    EXPECT_EQ(konsole.name, "Terminal");
    EXPECT_EQ(konsole.icon, "utilities-terminal");
    EXPECT_EQ(konsole.startupWMClass, "konsole-wm");
    EXPECT_FALSE(seen["link"].isApplication);
    EXPECT_EQ(scan.filesRead, 9u) << "the shadowed copies are not even opened";
  }
  const auto lines = log.messagesStartingWith("[Test] entry ");
  ASSERT_EQ(lines.size(), 3u);
  for (const auto& line : lines) EXPECT_NE(line.find("; skipped"), std::string::npos) << line;
}

}  // namespace
}  // namespace dunelo
