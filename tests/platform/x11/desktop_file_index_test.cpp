#include "platform/x11/desktop_file_index.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

#include "support/scratch_dir.h"

namespace dunelo::x11 {
namespace {

class DesktopFileIndexTest : public ::testing::Test {
 protected:
  void write(const std::string& dir, const std::string& rel, const std::string& body) {
    const std::string path = root_.file(dir + "/applications/" + rel);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    dunelo::testing::writeFile(path, body);
  }
  std::string dir(const std::string& name) { return root_.file(name); }
  dunelo::testing::ScratchDir root_;
};

TEST_F(DesktopFileIndexTest, FindsTheDesktopFileTheWayShellsDo) {
  write("sys", "org.gnome.TextEditor.desktop",
        "[Desktop Entry]\nName=Text Editor\nName[de]=Texteditor\n");
  write("sys", "org.example.Term.desktop", "[Desktop Entry]\nName=Term\nStartupWMClass=XTermish\n");
  write("sys", "firefox-esr.desktop", "[Desktop Entry]\nName=Firefox ESR\n");
  write("sys", "kde/konsole.desktop", "[Desktop Entry]\nName=Konsole\n");
  write("sys", "byinstance.desktop", "[Desktop Entry]\nName=I\nStartupWMClass=inst\n");
  write("sys", "byclass.desktop", "[Desktop Entry]\nName=C\nStartupWMClass=Cls\n");
  DesktopFileIndex index({dir("sys")}, DesktopEntryLocale([](const char* name) {
                           return std::string_view(name) == "LANGUAGE" ? "de_CH:fr" : nullptr;
                         }));
  struct Case {
    std::optional<std::string> gtk;
    std::string instance, cls;
    std::optional<std::string> id;
  };
  const Case cases[] = {
      // _GTK_APPLICATION_ID names the file directly.
      {"org.gnome.TextEditor", "gnome-text-editor", "Gnome-text-editor", "org.gnome.TextEditor"},
      // An unknown GTK id falls through to WM_CLASS.
      {"org.unknown.App", "firefox-esr", "Firefox-esr", "firefox-esr"},
      // StartupWMClass, by class.
      {std::nullopt, "xtermish", "XTermish", "org.example.Term"},
      // The instance is tried before the class.
      {std::nullopt, "inst", "Cls", "byinstance"},
      // File names match case-insensitively; files in subdirectories have prefixed ids.
      {std::nullopt, "Navigator", "Firefox-ESR", "firefox-esr"},
      {std::nullopt, "kde-konsole", "Konsole", "kde-konsole"},
      {std::nullopt, "nothing", "Nothing", std::nullopt},
      {std::nullopt, "", "", std::nullopt},
  };
  for (const Case& c : cases) {
    auto found = index.lookup(c.gtk, c.instance, c.cls);
    EXPECT_EQ(found ? std::optional<std::string>(found->id) : std::nullopt, c.id)
        << c.instance << "/" << c.cls;
  }
  EXPECT_EQ(index.lookup(std::nullopt, "xtermish", "XTermish")->name, "Term");
  EXPECT_EQ(index.lookup("org.gnome.TextEditor", "", "")->name, "Texteditor")
      << "in the user's language";
}

// With a trigger, lookups (also missed ones, one per switch to an unknown window) read no file
// until the trigger reports a change; then the next lookup sees installs and removals. Without
// one, a rescan finds what was installed since.
TEST_F(DesktopFileIndexTest, ReadsTheDirectoriesAgainOnlyWhenTheTriggerSaysSo) {
  for (int i = 0; i < 50; ++i)
    write("sys", "app" + std::to_string(i) + ".desktop", "[Desktop Entry]\nName=App\n");
  DesktopFileIndex index({dir("sys")});
  bool changed = true;  // what happened before the trigger was set is already in the scan
  index.setRescanTrigger([&] { return std::exchange(changed, false); });
  const uint64_t read = index.filesRead();
  EXPECT_EQ(read, 50u);
  for (int i = 0; i < 100; ++i) EXPECT_FALSE(index.lookup(std::nullopt, "newapp", "NewApp"));
  EXPECT_EQ(index.filesRead(), read);

  write("sys", "newapp.desktop", "[Desktop Entry]\nName=New\n");
  std::filesystem::remove(dir("sys") + "/applications/app0.desktop");
  EXPECT_FALSE(index.lookup(std::nullopt, "newapp", "NewApp")) << "no change reported yet";
  changed = true;
  EXPECT_EQ(index.lookup(std::nullopt, "newapp", "NewApp")->id, "newapp");
  EXPECT_FALSE(index.lookup(std::nullopt, "app0", "App0"));
  EXPECT_EQ(index.filesRead(), read + 50);

  DesktopFileIndex untriggered({dir("sys")});
  EXPECT_FALSE(untriggered.lookup(std::nullopt, "later", "Later"));
  write("sys", "later.desktop", "[Desktop Entry]\nName=Later\n");
  untriggered.rescan();
  EXPECT_EQ(untriggered.lookup(std::nullopt, "later", "Later")->id, "later");
}

}  // namespace
}  // namespace dunelo::x11
