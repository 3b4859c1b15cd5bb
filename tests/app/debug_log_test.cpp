#include "app/debug_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <future>
#include <regex>

#include "support/scratch_dir.h"

namespace dunelo {
namespace {

using testing::readFile;
using testing::ScratchDir;
using testing::writeFile;

class DebugLogTest : public ::testing::Test {
 protected:
  void SetUp() override { setDebugLogPathForTesting(path); }
  void TearDown() override { setDebugLogPathForTesting(""); }
  ScratchDir dir;
  std::string path = dir.file("debug.log");
};

TEST_F(DebugLogTest, FirstCallCreatesAPrivateFileWithOneUtcLine) {
  const std::time_t before = std::time(nullptr);
  debugLog("[Test] hello");
  const std::time_t after = std::time(nullptr);

  const std::string text = readFile(path);
  ASSERT_TRUE(std::regex_match(
      text, std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} \+0000: \[Test\] hello\n)")))
      << text;
  std::tm utc{};
  ASSERT_NE(strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &utc), nullptr);
  const std::time_t stamped = timegm(&utc);  // wrong if the line were in local time
  EXPECT_GE(stamped, before);
  EXPECT_LE(stamped, after);

  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(DebugLogTest, AppendsMessagesAsGivenInUtf8) {
  writeFile(path, "earlier content\n");
  ::chmod(path.c_str(), 0600);
  debugLog("");
  debugLog("[AppCoordinator] onShake fired! isActive=true \xE2\x86\x92 toggling");
  debugLog("two\nlines");
  const auto lines = testing::readLines(path);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "earlier content");
  auto message = [](const std::string& line) { return line.substr(line.find("+0000: ") + 7); };
  EXPECT_EQ(lines[1].substr(lines[1].size() - 7), "+0000: ");  // empty message: ": " then \n
  EXPECT_EQ(message(lines[2]), "[AppCoordinator] onShake fired! isActive=true → toggling");
  EXPECT_EQ(message(lines[3]), "two");
  EXPECT_EQ(lines[4], "lines");
  EXPECT_EQ(readFile(path).back(), '\n');
}

// Another user may plant something at the fixed path in /tmp; none of it may be written through.
TEST_F(DebugLogTest, WritesNothingThroughLinksOrIntoFilesItDoesNotSolelyOwn) {
  const std::string victim = dir.file("victim");
  writeFile(victim, "precious\n");

  ASSERT_EQ(::symlink(victim.c_str(), path.c_str()), 0);
  debugLog("through a symlink");
  EXPECT_EQ(readFile(victim), "precious\n");
  ::unlink(path.c_str());

  ASSERT_EQ(::link(victim.c_str(), path.c_str()), 0);
  debugLog("through a hard link");
  EXPECT_EQ(readFile(victim), "precious\n");
  ::unlink(path.c_str());

  if (::geteuid() == 0) {
    writeFile(path, "theirs\n");
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    debugLog("into another user's file");
    EXPECT_EQ(readFile(path), "theirs\n");
    ::unlink(path.c_str());
  }

  ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
  debugLog("into a directory");  // must simply not crash
  ::rmdir(path.c_str());
}

TEST_F(DebugLogTest, AFifoAtThePathDoesNotBlockTheCaller) {
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  auto call = std::async(std::launch::async, [] { debugLog("into a fifo"); });
  const bool returned = call.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  if (!returned) {
    // Release the blocked writer so the test can end.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    call.wait();
    ::close(fd);
  }
  EXPECT_TRUE(returned);
}

}  // namespace
}  // namespace dunelo
