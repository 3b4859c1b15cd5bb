#include "core/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/scratch_dir.h"

namespace dunelo {
namespace {

using testing::readFile;
using testing::ScratchDir;
using testing::writeFile;

TEST(FileIo, ReplaceFileSwapsInACompleteFileAndReplacesALinkRatherThanItsTarget) {
  ScratchDir dir;
  const std::string path = dir.file("a/b/settings.json");
  std::string error;
  ASSERT_TRUE(makeDirectories(parentDirectory(path), 0700, &error)) << error;
  ASSERT_TRUE(replaceFile(path, "one", 0600, &error)) << error;
  ASSERT_TRUE(replaceFile(path, "two", 0644, &error)) << error;
  EXPECT_EQ(readFile(path), "two");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);

  const std::string target = dir.file("target");
  writeFile(target, "kept");
  const std::string link = dir.file("link");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  ASSERT_TRUE(replaceFile(link, "new", 0600, &error)) << error;
  EXPECT_EQ(readFile(target), "kept");
  EXPECT_EQ(readFile(link), "new");
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST(FileIo, FailuresSayWhyAndLeaveNothingBehind) {
  ScratchDir dir;
  writeFile(dir.file("file"), "x");
  std::string error;
  EXPECT_FALSE(makeDirectories(dir.file("file"), 0700, &error));
  EXPECT_EQ(error, dir.file("file") + " is not a directory");
  EXPECT_FALSE(makeDirectories(dir.file("file/sub"), 0700, &error));
  EXPECT_EQ(error, dir.file("file") + " is not a directory");

  // A directory in the way of the rename: the temporary file is removed again.
  ASSERT_EQ(::mkdir(dir.file("taken").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(dir.file("taken/inside").c_str(), 0700), 0);
  EXPECT_FALSE(replaceFile(dir.file("taken"), "data", 0600, &error));
  EXPECT_EQ(error.rfind("cannot replace " + dir.file("taken") + ": ", 0), 0u) << error;
  EXPECT_FALSE(replaceFile(dir.file("missing/file"), "data", 0600, &error));
  EXPECT_EQ(error.rfind("cannot create a file in " + dir.file("missing") + ": ", 0), 0u) << error;
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 2u) << "only 'file' and 'taken'";
}

TEST(FileIo, SmallHelpers) {
  EXPECT_EQ(parentDirectory("/a/b"), "/a");
  EXPECT_EQ(parentDirectory("/a"), "/");
  EXPECT_EQ(parentDirectory("a"), ".");
  EXPECT_EQ(formatUtc(0, "%Y-%m-%d %H:%M:%S +0000"), "1970-01-01 00:00:00 +0000");
  EXPECT_EQ(formatUtc(1764980000, "%Y%m%dT%H%M%SZ"), "20251206T001320Z");

  const char* savedHome = std::getenv("HOME");
  const std::string home = savedHome ? savedHome : "";
  ::setenv("HOME", "/home/u", 1);
  ::setenv("XDG_TEST_DIR", "/x", 1);
  EXPECT_EQ(xdgBaseDirectory("XDG_TEST_DIR", ".test"), "/x");
  ::setenv("XDG_TEST_DIR", "relative", 1);
  EXPECT_EQ(xdgBaseDirectory("XDG_TEST_DIR", ".test"), "/home/u/.test");
  ::unsetenv("XDG_TEST_DIR");
  savedHome ? ::setenv("HOME", home.c_str(), 1) : ::unsetenv("HOME");
}

}  // namespace
}  // namespace dunelo
