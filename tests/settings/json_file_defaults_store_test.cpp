#include "settings/json_file_defaults_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <random>

#include "settings/settings_manager.h"
#include "support/log_capture.h"
#include "support/scratch_dir.h"

namespace dunelo {
namespace {

namespace fs = std::filesystem;
using testing::LogCapture;
using testing::readFile;
using testing::ScratchDir;
using testing::writeFile;

std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

struct NoLoginItems : LoginItems {
  bool registerApp() override { return true; }
  bool unregisterApp() override { return true; }
} noLogin;

class JsonStoreTest : public ::testing::Test {
 protected:
  LogCapture log;
  ScratchDir dir;
  std::string path = dir.file("defaults.json");
};

TEST_F(JsonStoreTest, EveryValueTypeSurvivesARestart) {
  DefaultsData allBytes;
  for (int i = 0; i < 256; ++i) allBytes.push_back(static_cast<uint8_t>(i));
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<std::string, DefaultsValue>> values = {
      {"bool", true},
      {"int", int64_t{-9007199254740993}},
      {"double", 70.0},
      {"negZero", -0.0},
      {"inf", inf},
      {"string", "70"},
      {"unicode", "caf\xC3\xA9 \xE2\x86\x92"},
      {"data", allBytes},
      {"data2", DefaultsData{0xFF, 0x00}},
      {"array", DefaultsArray{1, 2.5, "x", false, DefaultsArray{}, DefaultsData{1, 2, 3}}},
  };
  {
    JsonFileDefaultsStore store(path);
    for (const auto& [k, v] : values) store.setObject(k, v);
    store.setDouble("nan", std::numeric_limits<double>::quiet_NaN());
    store.setBool("removed", true);
    store.removeObject("removed");
  }
  JsonFileDefaultsStore store(path);
  for (const auto& [k, v] : values) EXPECT_EQ(store.objectForKey(k), v) << k;
  EXPECT_TRUE(std::signbit(store.doubleForKey("negZero")));
  EXPECT_TRUE(std::isnan(store.doubleForKey("nan")));
  EXPECT_EQ(store.objectForKey("removed"), std::nullopt);
  // Integers and doubles stay apart even when the double is whole.
  EXPECT_TRUE(store.objectForKey("double")->is<double>());
  EXPECT_TRUE(store.objectForKey("int")->is<int64_t>());
  EXPECT_TRUE(log.messages().empty());
}

TEST_F(JsonStoreTest, WritesArePrivateAtomicReplacements) {
  JsonFileDefaultsStore store(dir.file("sub/dir/defaults.json"));
  store.setBool("a", true);
  struct stat st {};
  ASSERT_EQ(::stat(dir.file("sub/dir/defaults.json").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ASSERT_EQ(::stat(dir.file("sub/dir").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);

  // A reader that has the old file open keeps seeing the complete old file: the new content
  // arrives by rename, never by rewriting in place.
  const std::string before = readFile(dir.file("sub/dir/defaults.json"));
  const int fd = ::open(dir.file("sub/dir/defaults.json").c_str(), O_RDONLY);
  store.setObject("b", "a much longer value than before, so an in-place write would show");
  std::string seen(4096, '\0');
  seen.resize(static_cast<size_t>(::pread(fd, seen.data(), seen.size(), 0)));
  ::close(fd);
  EXPECT_EQ(seen, before);
  EXPECT_EQ(filesIn(dir.file("sub/dir")), std::vector<std::string>{"defaults.json"});
  EXPECT_EQ(JsonFileDefaultsStore(dir.file("sub/dir/defaults.json")).boolForKey("a"), true);
}

// Anything that is not a usable settings file is moved aside intact, the domain starts empty, a
// log line says so, and the next write makes a fresh file.
TEST_F(JsonStoreTest, UnusableFilesAreSetAsideNotDestroyed) {
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 7919) & 0xFF);
  const std::vector<std::pair<const char*, std::string>> files = {
      {"garbage", "this is not json"},
      {"truncated", R"({"isActive": true, "blurIntensity": 4)"},
      {"empty", ""},
      {"binary", binary},
      {"array at top", "[1, 2, 3]"},
      {"invalid utf-8", "{\"k\": \"\xC3\x28\"}"},
      {"deeply nested", "{\"k\": " + std::string(100000, '[') + std::string(100000, ']') + "}"},
  };
  for (const auto& [what, content] : files) {
    SCOPED_TRACE(what);
    ScratchDir d;
    const std::string p = d.file("defaults.json");
    writeFile(p, content);
    const size_t logged = log.messages().size();
    JsonFileDefaultsStore store(p);
    EXPECT_EQ(store.objectForKey("isActive"), std::nullopt);
    const auto names = filesIn(d.path());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind("defaults.json.corrupt-", 0), 0u) << names[0];
    EXPECT_EQ(readFile(d.file(names[0])), content);
    ASSERT_EQ(log.messages().size(), logged + 1);
    EXPECT_EQ(log.messages().back().rfind("[Settings] ", 0), 0u);
    EXPECT_NE(log.messages().back().find("moved it to"), std::string::npos);

    store.setBool("isActive", true);
    EXPECT_TRUE(JsonFileDefaultsStore(p).boolForKey("isActive"));
  }
}

TEST_F(JsonStoreTest, AHugeFileIsSetAsideUnread) {
  {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 100 * 1024 * 1024), 0);  // 100 MB (sparse)
    ::close(fd);
  }
  JsonFileDefaultsStore store(path);
  EXPECT_FALSE(store.boolForKey("isActive"));
  const auto names = filesIn(dir.path());
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(fs::file_size(dir.file(names[0])), 100u * 1024 * 1024);
}

// Runs `body` in a child process that cannot write to `dir` (as root, after dropping to an
// unprivileged user, because root ignores directory permissions). The child's exit code is the
// number of failed checks.
int runWithReadOnlyDirectory(const std::string& dir, const std::function<int()>& body) {
  ::chmod(dir.c_str(), 0555);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(100);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::chmod(dir.c_str(), 0700);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
}

TEST(JsonStoreReadOnly, AFailedWriteKeepsTheValueInMemoryAndIsLoggedOnce) {
  ScratchDir logDir;
  ::chmod(logDir.path().c_str(), 0777);  // the unprivileged child must be able to log
  const std::string logPath = logDir.file("debug.log");
  ScratchDir configDir;
  const std::string path = configDir.file("dunelo/defaults.json");
  {
    JsonFileDefaultsStore store(path);
    store.setBool("isActive", false);
  }
  ::chmod(configDir.path().c_str(), 0755);
  ::chmod(configDir.file("dunelo").c_str(), 0755);
  ::chmod(path.c_str(), 0644);  // readable by the child
  const int failures = runWithReadOnlyDirectory(configDir.file("dunelo"), [&] {
    setDebugLogPathForTesting(logPath);
    JsonFileDefaultsStore store(path);
    SettingsManager s(store, noLogin);
    s.isActive = true;
    s.blurRadius = 10.0;
    int bad = 0;
    bad += !s.isActive.get();
    bad += !store.boolForKey("isActive");
    bad += store.lastWriteSucceeded();
    return bad;
  });
  EXPECT_EQ(failures, 0);
  const auto lines = testing::readLines(logPath);
  ASSERT_EQ(lines.size(), 1u) << testing::readFile(logPath);
  EXPECT_NE(lines[0].find("[Settings] could not save \"isActive\""), std::string::npos) << lines[0];
  EXPECT_FALSE(JsonFileDefaultsStore(path).boolForKey("isActive"));  // the old file is intact
}

// Random damage to a real settings file never crashes the store: it either loads what it can or
// sets the file aside, and a write afterwards always leaves a loadable file holding that write.
TEST_F(JsonStoreTest, SurvivesRandomlyMutatedFiles) {
  {
    JsonFileDefaultsStore store(path);
    SettingsManager s(store, noLogin);
    s.excludedAppBundleIDs = {"com.example.a", "org.example.b"};
    s.tintColor = Color::srgb(0.1, 0.2, 0.3, 0.4);
    s.blurRadius = 33.0;
    s.globalShortcutKeyCode = 49u;
  }
  const std::string original = readFile(path);
  std::mt19937 rng(4242);
  const std::string structural = "{}[]\",:0123456789.eE+-tfnul\\$ \n";
  for (int round = 0; round < 300; ++round) {
    std::string text = original;
    for (int e = 1 + static_cast<int>(rng() % 6); e > 0 && !text.empty(); --e) {
      const size_t at = rng() % text.size();
      const char c = rng() % 2 ? structural[rng() % structural.size()] : char(rng() & 0xFF);
      const auto op = rng() % 4;
      if (op == 0) text[at] = c;
      if (op == 1) text.insert(at, 1, c);
      if (op == 2) text.erase(at, 1 + rng() % 8);
      if (op == 3) text.resize(at);
    }
    SCOPED_TRACE("round " + std::to_string(round));
    ScratchDir d;
    const std::string p = d.file("defaults.json");
    writeFile(p, text);
    JsonFileDefaultsStore store(p);
    SettingsManager s(store, noLogin);  // reads every key
    s.grainIntensity = 0.5;
    JsonFileDefaultsStore reloaded(p);
    ASSERT_EQ(reloaded.doubleForKey("grainIntensity"), 0.5);
    // Nothing the user had is lost: the damaged text is either still in place or set aside.
    const auto names = filesIn(d.path());
    ASSERT_LE(names.size(), 2u);
    if (names.size() == 2) {
      EXPECT_EQ(readFile(d.file(names[1])), text);
    }
  }
}

}  // namespace
}  // namespace dunelo
