#include "core/debug_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <future>
#include <regex>

#include "core/debug_log_file.h"
#include "core/file_io.h"
#include "support/log_capture.h"
#include "support/scratch_dir.h"

namespace dunelo {
namespace {

using testing::readFile;
using testing::readLines;
using testing::ScratchDir;
using testing::writeFile;

std::string messageOf(const std::string& line) {
  return line.substr(line.find("+0000: ") + 7);
}

// The file at one path, installed as the log for the test's lifetime.
class DebugLogFileTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string path = dir.file("debug.log");
  DebugLogFile file{{.paths = {path}}};
  Cancellable installed = installLogSink(file);
};

TEST_F(DebugLogFileTest, FirstCallCreatesAPrivateFileWithOneUtcLine) {
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

TEST_F(DebugLogFileTest, AppendsMessagesAsGivenInUtf8) {
  writeFile(path, "earlier content\n");
  ::chmod(path.c_str(), 0600);
  debugLog("");
  debugLog("[AppCoordinator] onShake fired! isActive=true \xE2\x86\x92 toggling");
  debugLog("two\nlines");
  const auto lines = readLines(path);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "earlier content");
  EXPECT_EQ(lines[1].substr(lines[1].size() - 7), "+0000: ");  // empty message: ": " then \n
  EXPECT_EQ(messageOf(lines[2]), "[AppCoordinator] onShake fired! isActive=true → toggling");
  EXPECT_EQ(messageOf(lines[3]), "two");
  EXPECT_EQ(lines[4], "lines");
  EXPECT_EQ(readFile(path).back(), '\n');
}

TEST_F(DebugLogFileTest, RotatesOnceAtTheCapAndStartsAfreshWhereItCannotKeepTheOldFile) {
  const std::string line = std::string(40, 'x');  // 68 bytes with its timestamp
  DebugLogFile capped({.paths = {path}, .maxBytes = 200});
  const Cancellable cappedInstalled = installLogSink(capped);
  for (int i = 0; i < 3; ++i) debugLog(line);
  EXPECT_EQ(readLines(path).size(), 1u);  // 3 * 68 > 200: the third line rotates
  EXPECT_EQ(readLines(path + ".1").size(), 2u);
  for (int i = 0; i < 2; ++i) debugLog(line);  // the next rotation replaces the old file
  EXPECT_EQ(readLines(path + ".1").size(), 2u);
  EXPECT_EQ(readLines(path).size(), 1u);

  // A directory holds the old file's name: the log starts afresh instead of growing.
  ASSERT_EQ(::unlink((path + ".1").c_str()), 0);
  ASSERT_EQ(::mkdir((path + ".1").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((path + ".1/keep").c_str(), 0700), 0);
  for (int i = 0; i < 2; ++i) debugLog(line);
  EXPECT_EQ(readLines(path).size(), 1u);
}

// Another user may plant anything at the shared path in /tmp. None of it is written through, the
// caller never blocks, and the log moves to the next place and says why, once.
TEST(DebugLogFallback, LeavesWhatOthersPlantedAloneAndMovesToThePrivatePlace) {
  struct Case {
    const char* what;
    std::function<void(const std::string& shared, const std::string& victim)> plant;
    const char* why;
  };
  const std::vector<Case> cases = {
      {"a symbolic link",
       [](auto& shared, auto& victim) { ASSERT_EQ(::symlink(victim.c_str(), shared.c_str()), 0); },
       "it is a symbolic link"},
      {"a hard link",
       [](auto& shared, auto& victim) { ASSERT_EQ(::link(victim.c_str(), shared.c_str()), 0); },
       "it has other names"},
      {"a FIFO", [](auto& shared, auto&) { ASSERT_EQ(::mkfifo(shared.c_str(), 0666), 0); },
       "not a regular file"},
      {"a directory", [](auto& shared, auto&) { ASSERT_EQ(::mkdir(shared.c_str(), 0700), 0); },
       "Is a directory"},
      {"another user's file",
       [](auto& shared, auto&) {
         writeFile(shared, "theirs\n");
         // Root may open anything, so the file's owner must be checked; others cannot open it.
         if (::geteuid() == 0)
           ASSERT_EQ(::chown(shared.c_str(), 65534, 65534), 0);
         else
           ASSERT_EQ(::chmod(shared.c_str(), 0444), 0);
       },
       ::geteuid() == 0 ? "another user owns it" : "Permission denied"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const std::string shared = dir.file("dunelo_debug.log");
    const std::string victim = dir.file("victim");
    const std::string fallback = dir.file("state/dunelo/debug.log");
    writeFile(victim, "precious\n");
    c.plant(shared, victim);
    struct stat plantedBefore {};
    ASSERT_EQ(::lstat(shared.c_str(), &plantedBefore), 0);

    DebugLogFile file({.paths = {shared, fallback}});
    const Cancellable installed = installLogSink(file);
    auto call = std::async(std::launch::async, [] {
      debugLog("first");
      debugLog("second");
    });
    const bool returned = call.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!returned) {  // release a writer blocked on the FIFO so the test can end
      const int fd = ::open(shared.c_str(), O_RDONLY | O_NONBLOCK);
      call.wait();
      ::close(fd);
    }
    ASSERT_TRUE(returned);

    EXPECT_EQ(readFile(victim), "precious\n");
    struct stat plantedAfter {};
    ASSERT_EQ(::lstat(shared.c_str(), &plantedAfter), 0);
    EXPECT_EQ(plantedAfter.st_size, plantedBefore.st_size);
    EXPECT_EQ(file.currentPath(), fallback);
    const auto lines = readLines(fallback);
    ASSERT_EQ(lines.size(), 3u) << readFile(fallback);
    EXPECT_EQ(messageOf(lines[0]).rfind("[Log] " + shared + " cannot be used safely (", 0), 0u)
        << lines[0];
    EXPECT_NE(lines[0].find(c.why), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("this run logs to " + fallback), std::string::npos) << lines[0];
    EXPECT_EQ(messageOf(lines[1]), "first");
    EXPECT_EQ(messageOf(lines[2]), "second");
    struct stat st {};
    ASSERT_EQ(::stat(parentDirectory(fallback).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "the private place is made private";
  }
}

TEST(DebugLogFallback, DropsLinesWhenNoPlaceCanBeUsed) {
  ScratchDir dir;
  ASSERT_EQ(::mkdir(dir.file("a").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(dir.file("b").c_str(), 0700), 0);
  DebugLogFile file({.paths = {dir.file("a"), dir.file("b")}});
  file.write("lost");
  file.write("lost too");
  EXPECT_EQ(file.currentPath(), "");
}

TEST(DebugLogFallback, DefaultPlacesFollowTheXdgVariables) {
  struct Env {
    const char* state;
    const char* home;
    const char* runtime;
    std::vector<std::string> expected;
  };
  const std::vector<Env> cases = {
      {"/s", "/h", "/r", {kDebugLogPath, "/s/dunelo/debug.log", "/r/dunelo/debug.log"}},
      {nullptr, "/h", nullptr, {kDebugLogPath, "/h/.local/state/dunelo/debug.log"}},
      {"relative", "/h", "also-relative", {kDebugLogPath, "/h/.local/state/dunelo/debug.log"}},
  };
  auto set = [](const char* name, const char* value) {
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  };
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  for (const Env& e : cases) {
    set("XDG_STATE_HOME", e.state);
    set("HOME", e.home);
    set("XDG_RUNTIME_DIR", e.runtime);
    EXPECT_EQ(DebugLogFile::defaultPaths(), e.expected);
  }
  ::unsetenv("XDG_STATE_HOME");
  ::unsetenv("XDG_RUNTIME_DIR");
  set("HOME", home.empty() ? nullptr : home.c_str());
}

TEST(DebugLogSink, GoesToTheLatestSinkUntilItsTokenEndsAndDropsLinesWithoutOne) {
  testing::LogCapture outer;
  {
    testing::LogCapture inner;
    debugLog("[Test] inner");
    EXPECT_EQ(inner.messages(), std::vector<std::string>{"[Test] inner"});
  }
  debugLog("[Test] outer");
  EXPECT_EQ(outer.messages(), std::vector<std::string>{"[Test] outer"});
}

}  // namespace
}  // namespace dunelo
