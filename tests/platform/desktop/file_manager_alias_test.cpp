#include "platform/desktop/file_manager_alias.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/scratch_dir.h"

namespace dunelo {
namespace {

using testing::ScratchDir;
using testing::writeFile;

// A desktop with a search path for xdg-mime, two data directories and a configuration home.
struct Desktop {
  ScratchDir root;
  std::string bin = root.file("bin"), user = root.file("user"), system = root.file("system"),
              config = root.file("config");
  Desktop() {
    for (const auto& d : {bin, user + "/applications", system + "/applications", config})
      std::filesystem::create_directories(d);
  }
  // xdg-mime answers with `output` and `status`.
  void xdgMime(const std::string& output, int status = 0) {
    const std::string path = bin + "/xdg-mime";
    writeFile(path, "#!/bin/sh\n[ \"$*\" = 'query default inode/directory' ] || exit 5\nprintf '" +
                        output + "'\nexit " + std::to_string(status) + "\n");
    chmod(path.c_str(), 0755);
  }
  void install(const std::string& dir, const std::string& id) {
    writeFile(dir + "/applications/" + id + ".desktop", "[Desktop Entry]\nType=Application\n");
  }
  FileManagerAlias alias() { return FileManagerAlias(CommandRunner(bin), {user, system}, config); }
};

TEST(FileManagerAlias, TheDefaultForFoldersElseTheFirstInstalledOfTheUsualOnes) {
  struct Case {
    const char* what;
    std::optional<std::string> xdgMime;  // its output; none: not installed
    int status;
    std::vector<std::pair<bool, std::string>> installed;  // (in the user's dir, id)
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"xdg-mime names the default", "org.kde.dolphin.desktop\\n", 0, {}, "org.kde.dolphin"},
      {"xdg-mime fails: the usual ones in order",
       "",
       1,
       {{true, "nemo"}, {false, "thunar"}, {false, "caja"}},
       "thunar"},
      {"no xdg-mime", std::nullopt, 0, {{false, "caja"}}, "caja"},
      {"an answer that is no desktop id",
       "/usr/bin/evil\\n",
       0,
       {{true, "org.gnome.Nautilus"}},
       "org.gnome.Nautilus"},
      {"nothing installed", "\\n", 0, {}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Desktop d;
    if (c.xdgMime) d.xdgMime(*c.xdgMime, c.status);
    for (const auto& [inUser, id] : c.installed) d.install(inUser ? d.user : d.system, id);
    FileManagerAlias alias = d.alias();
    EXPECT_EQ(alias.resolve(kFileManagerAlias), c.expected);
    EXPECT_EQ(alias.resolve("org.gnome.Nautilus"), std::nullopt) << "other ids mean themselves";
  }
}

TEST(FileManagerAlias, LooksUpAgainOnlyWhenTheApplicationsOrTheConfigurationChange) {
  Desktop d;
  d.xdgMime("nemo.desktop\\n");
  FileManagerAlias alias = d.alias();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(alias.resolve(kFileManagerAlias), "nemo");
  EXPECT_EQ(alias.lookups(), 1) << "a focus change must not start a process";

  // Directory times have the kernel's tick as their resolution.
  auto tick = [] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); };
  tick();
  d.xdgMime("thunar.desktop\\n");  // the bin directory is not watched
  EXPECT_EQ(alias.resolve(kFileManagerAlias), "nemo");
  writeFile(d.config + "/mimeapps.list", "[Default Applications]\n");  // `xdg-mime default`
  EXPECT_EQ(alias.resolve(kFileManagerAlias), "thunar");
  tick();
  std::filesystem::remove(d.bin + "/xdg-mime");
  d.install(d.system, "pcmanfm");  // a package installed
  EXPECT_EQ(alias.resolve(kFileManagerAlias), "pcmanfm");
  EXPECT_EQ(alias.lookups(), 3);
}

}  // namespace
}  // namespace dunelo
