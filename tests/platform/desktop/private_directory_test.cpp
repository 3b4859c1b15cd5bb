#include "platform/desktop/private_directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>

#include "support/scratch_dir.h"

namespace dunelo {
namespace {

using testing::ScratchDir;

mode_t modeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Sets environment variables for one test and puts the old values back.
class ScopedEnv {
 public:
  explicit ScopedEnv(const std::map<std::string, std::optional<std::string>>& values) {
    for (const auto& [name, value] : values) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
      set(name, value);
    }
  }
  ~ScopedEnv() {
    for (const auto& [name, value] : saved_) set(name, value);
  }

 private:
  static void set(const std::string& name, const std::optional<std::string>& value) {
    if (value)
      ::setenv(name.c_str(), value->c_str(), 1);
    else
      ::unsetenv(name.c_str());
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST(PrivateDirectory, TrustsOnlyADirectoryOfThisUserThatNobodyElseCanEnter) {
  ScratchDir dir;
  const uid_t me = ::getuid();
  ::mkdir(dir.file("mine").c_str(), 0700);
  ::mkdir(dir.file("open").c_str(), 0700);
  ::chmod(dir.file("open").c_str(), 0755);
  ::mkdir(dir.file("shared").c_str(), 0700);
  ::chmod(dir.file("shared").c_str(), 01777);
  testing::writeFile(dir.file("planted"), "not a directory");
  ::symlink(dir.file("mine").c_str(), dir.file("link").c_str());

  const std::tuple<std::string, uid_t, bool, std::string> cases[] = {
      {"new", me, true, ""},
      {"absent", me, false, "No such file or directory"},
      {"mine", me, false, ""},
      {"mine", me + 1, false, "belongs to uid " + std::to_string(me)},
      {"open", me, true, "is open to others (mode 0755)"},
      {"shared", me, true, "is open to others (mode 1777)"},
      {"planted", me, true, "is not a directory"},
      {"link", me, true, "is not a directory"},  // a link, even to a good directory
  };
  for (const auto& [name, uid, create, reason] : cases) {
    std::string why;
    EXPECT_EQ(ensurePrivateDirectory(dir.file(name), uid, create, &why), reason.empty()) << name;
    EXPECT_EQ(why, reason) << name;
  }
  EXPECT_EQ(modeOf(dir.file("new")), 0700u);
  // Nothing refused was changed.
  EXPECT_EQ(modeOf(dir.file("open")), 0755u);
  EXPECT_EQ(modeOf(dir.file("shared")), 01777u);
  EXPECT_EQ(testing::readFile(dir.file("planted")), "not a directory");

  if (me == 0) {  // a directory really made by another user
    ::mkdir(dir.file("theirs").c_str(), 0700);
    ASSERT_EQ(::chown(dir.file("theirs").c_str(), 65534, 65534), 0);
    std::string why;
    EXPECT_FALSE(ensurePrivateDirectory(dir.file("theirs"), me, true, &why));
    EXPECT_EQ(why, "belongs to uid 65534");
  }
}

TEST(PrivateDirectory, TheRuntimeDirectoryFallsBackPastWhatOthersPlanted) {
  ScratchDir dir;
  const uid_t me = ::getuid();
  const std::string runtime = dir.file("runtime"), tmp = dir.file("tmp"), cache = dir.file("cache"),
                    ours = tmp + "/dunelo-" + std::to_string(me);
  ::mkdir(runtime.c_str(), 0700);
  ::mkdir(tmp.c_str(), 01777);
  ::chmod(tmp.c_str(), 01777);
  ScopedEnv env({{"XDG_RUNTIME_DIR", runtime},
                 {"TMPDIR", tmp},
                 {"XDG_CACHE_HOME", cache},
                 {"HOME", std::nullopt}});
  EXPECT_EQ(findRuntimeDirectory(me).path, runtime);

  ::chmod(runtime.c_str(), 0755);  // a runtime directory others can read is passed over
  RuntimeDirectory found = findRuntimeDirectory(me);
  EXPECT_EQ(found.path, ours);
  EXPECT_EQ(found.notes, std::vector<std::string>{runtime + " is open to others (mode 0755)"});
  EXPECT_EQ(modeOf(ours), 0700u);

  ::rmdir(ours.c_str());
  testing::writeFile(ours, "");  // planted before this user's first start
  ::unsetenv("XDG_RUNTIME_DIR");
  found = findRuntimeDirectory(me);
  EXPECT_EQ(found.path, cache + "/dunelo-runtime");
  EXPECT_EQ(found.notes, std::vector<std::string>{ours + " is not a directory"});
  EXPECT_EQ(findRuntimeDirectory(me).path, found.path) << "every process finds the same one";

  ::unsetenv("XDG_CACHE_HOME");  // and no home to fall back to
  EXPECT_EQ(findRuntimeDirectory(me).path, "");
}

}  // namespace
}  // namespace dunelo
