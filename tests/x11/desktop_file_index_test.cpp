#include "platform/x11/desktop_file_index.h"

#include <gtest/gtest.h>

#include <filesystem>

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
  write("sys", "org.gnome.TextEditor.desktop", "[Desktop Entry]\nName=Text Editor\n");
  write("sys", "org.example.Term.desktop", "[Desktop Entry]\nName=Term\nStartupWMClass=XTermish\n");
  write("sys", "firefox-esr.desktop", "[Desktop Entry]\nName=Firefox ESR\n");
  write("sys", "kde/konsole.desktop", "[Desktop Entry]\nName=Konsole\n");
  write("sys", "byinstance.desktop", "[Desktop Entry]\nName=I\nStartupWMClass=inst\n");
  write("sys", "byclass.desktop", "[Desktop Entry]\nName=C\nStartupWMClass=Cls\n");
  DesktopFileIndex index({dir("sys")});
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
}

TEST_F(DesktopFileIndexTest, EarlierDirectoriesShadowLaterOnesAndHiddenEntriesHide) {
  write("home", "editor.desktop", "[Desktop Entry]\nName=My Editor\n");
  write("sys", "editor.desktop", "[Desktop Entry]\nName=Editor\nStartupWMClass=Ed\n");
  write("home", "removed.desktop", "[Desktop Entry]\nHidden=true\n");
  write("sys", "removed.desktop", "[Desktop Entry]\nName=Removed\n");
  write("sys", "broken.desktop", "no group at all\nName=Broken\n");
  write("sys", "other-group.desktop", "[Desktop Action x]\nStartupWMClass=Og\n");
  DesktopFileIndex index({dir("home"), dir("missing"), dir("sys")});
  EXPECT_EQ(index.lookup(std::nullopt, "editor", "Editor")->name, "My Editor");
  EXPECT_FALSE(index.lookup(std::nullopt, "x", "Ed")) << "the shadowed file's keys must not count";
  EXPECT_FALSE(index.lookup(std::nullopt, "removed", "Removed"));
  EXPECT_FALSE(index.lookup(std::nullopt, "broken", "Broken"));
  EXPECT_FALSE(index.lookup(std::nullopt, "x", "Og"));
}

TEST_F(DesktopFileIndexTest, NamesAreInTheUsersLanguage) {
  write("sys", "org.gnome.Nautilus.desktop",
        "[Desktop Entry]\nName=Files\nName[de]=Dateien\nName[fr]=Fichiers\n");
  DesktopFileIndex index({dir("sys")}, DesktopEntryLocale([](const char* name) {
                           return std::string_view(name) == "LANGUAGE" ? "de_CH:fr" : nullptr;
                         }));
  EXPECT_EQ(index.lookup(std::nullopt, "org.gnome.Nautilus", "")->name, "Dateien");
}

TEST_F(DesktopFileIndexTest, FindsApplicationsInstalledAfterTheScanOnRescan) {
  DesktopFileIndex index({dir("sys")});
  EXPECT_FALSE(index.lookup(std::nullopt, "newapp", "NewApp"));
  write("sys", "newapp.desktop", "[Desktop Entry]\nName=New\n");
  index.rescan();
  EXPECT_EQ(index.lookup(std::nullopt, "newapp", "NewApp")->id, "newapp");
}

}  // namespace
}  // namespace dunelo::x11
