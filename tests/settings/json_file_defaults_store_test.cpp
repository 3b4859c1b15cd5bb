#include "settings/json_file_defaults_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <thread>

#include "core/debug_log_file.h"
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

bool waitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 1000 && !done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

class JsonStoreTest : public ::testing::Test {
 protected:
  LogCapture log;
  ScratchDir dir;
  std::string path = dir.file("defaults.json");
};

// Every value type survives a restart. The file and the directories made for it are private, and
// a write replaces the file by rename: a reader that has the old file open keeps seeing all of it.
TEST_F(JsonStoreTest, EveryValueTypeSurvivesARestartInAPrivateAtomicallyReplacedFile) {
  const std::string sub = dir.file("sub/dir"), file = sub + "/defaults.json";
  DefaultsData allBytes;
  for (int i = 0; i < 256; ++i) allBytes.push_back(static_cast<uint8_t>(i));
  const std::vector<std::pair<std::string, DefaultsValue>> values = {
      {"bool", true},
      {"int", int64_t{-9007199254740993}},
      {"double", 70.0},  // stays a double although whole (values compare type and value)
      {"negZero", -0.0},
      {"inf", std::numeric_limits<double>::infinity()},
      {"string", "70"},
      {"unicode", "caf\xC3\xA9 \xE2\x86\x92"},
      {"data", allBytes},
      {"data2", DefaultsData{0xFF, 0x00}},
      {"array", DefaultsArray{1, 2.5, "x", false, DefaultsArray{}, DefaultsData{1, 2, 3}}},
  };
  {
    JsonFileDefaultsStore store(file);
    for (const auto& [k, v] : values) store.setObject(k, v);
    store.setDouble("nan", std::numeric_limits<double>::quiet_NaN());
    store.setBool("removed", true);
    store.flush();
    const std::string before = readFile(file);
    std::ifstream reader(file, std::ios::binary);
    store.removeObject("removed");
    store.flush();
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(reader), {}), before);
  }
  EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(sub).permissions(), fs::perms::owner_all);
  EXPECT_EQ(filesIn(sub), std::vector<std::string>{"defaults.json"});
  JsonFileDefaultsStore store(file);
  for (const auto& [k, v] : values) EXPECT_EQ(store.objectForKey(k), v) << k;
  EXPECT_TRUE(std::signbit(store.doubleForKey("negZero")));
  EXPECT_TRUE(std::isnan(store.doubleForKey("nan")));
  EXPECT_EQ(store.objectForKey("removed"), std::nullopt);
  EXPECT_TRUE(log.messages().empty());
}

// Anything that is not a usable settings file is moved aside intact, the domain starts empty, a
// log line says so, and the next write makes a fresh file.
TEST_F(JsonStoreTest, UnusableFilesAreSetAsideNotDestroyed) {
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 7919) & 0xFF);
  const uintmax_t kHuge = 100u << 20;  // (sparse) too big to read at all
  const std::vector<std::pair<const char*, std::string>> files = {
      {"garbage", "this is not json"},
      {"truncated", R"({"isActive": true, "blurIntensity": 4)"},
      {"empty", ""},
      {"binary", binary},
      {"array at top", "[1, 2, 3]"},
      {"invalid utf-8", "{\"k\": \"\xC3\x28\"}"},
      {"deeply nested", "{\"k\": " + std::string(100000, '[') + std::string(100000, ']') + "}"},
      {"huge", "{}"},
  };
  for (const auto& [what, content] : files) {
    SCOPED_TRACE(what);
    const bool huge = std::string_view(what) == "huge";
    ScratchDir d;
    const std::string p = d.file("defaults.json");
    writeFile(p, content);
    if (huge) fs::resize_file(p, kHuge);
    const size_t logged = log.messages().size();
    JsonFileDefaultsStore store(p);
    EXPECT_EQ(store.objectForKey("isActive"), std::nullopt);
    const auto names = filesIn(d.path());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind("defaults.json.corrupt-", 0), 0u) << names[0];
    if (huge)
      EXPECT_EQ(fs::file_size(d.file(names[0])), kHuge);
    else
      EXPECT_EQ(readFile(d.file(names[0])), content);
    ASSERT_EQ(log.messages().size(), logged + 1);
    EXPECT_EQ(log.messages().back().rfind("[Settings] ", 0), 0u);
    EXPECT_NE(log.messages().back().find("moved it to"), std::string::npos);

    store.setBool("isActive", true);
    store.flush();
    EXPECT_TRUE(JsonFileDefaultsStore(p).boolForKey("isActive"));
  }
}

// The writer runs in a child process that drops to an unprivileged user (root ignores directory
// permissions); the child's exit code is the number of its failed checks.
TEST(JsonStoreReadOnly, AFailedWriteKeepsTheValueInMemoryAndIsLoggedOnce) {
  ScratchDir logDir, configDir;
  const std::string logPath = logDir.file("debug.log");
  const std::string path = configDir.file("dunelo/defaults.json");
  JsonFileDefaultsStore(path).setBool("isActive", false);
  ::chmod(logDir.path().c_str(), 0777);  // the child must be able to log
  ::chmod(configDir.path().c_str(), 0755);
  ::chmod(configDir.file("dunelo").c_str(), 0555);  // the child may read but not write
  ::chmod(path.c_str(), 0644);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(100);
    DebugLogFile logFile({.paths = {logPath}});
    const Cancellable logInstalled = installLogSink(logFile);
    JsonFileDefaultsStore store(path);
    SettingsManager s(store, noLogin);
    s.isActive = true;
    s.blurRadius = 10.0;
    store.flush();
    ::_exit(!s.isActive.get() + !store.boolForKey("isActive") + store.lastWriteSucceeded());
  }
  int status = -1;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(status, 0);  // exited normally, no failed checks
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
    writeFile(d.file("defaults.json"), text);
    JsonFileDefaultsStore store(d.file("defaults.json"));
    SettingsManager s(store, noLogin);  // reads every key
    s.grainIntensity = 0.5;
    store.flush();
    ASSERT_EQ(JsonFileDefaultsStore(d.file("defaults.json")).doubleForKey("grainIntensity"), 0.5);
    // Nothing the user had is lost: the damaged text is either still in place or set aside.
    const auto names = filesIn(d.path());
    ASSERT_LE(names.size(), 2u);
    if (names.size() == 2) {
      EXPECT_EQ(readFile(d.file(names[1])), text);
    }
  }
}

// A link is followed only to a usable settings file of this user, which is then replaced next to
// it (the link stays). Whatever else a link leads to is left exactly as it was: the settings
// start empty (or as read, for another user's file), nothing is saved, one line says so.
TEST_F(JsonStoreTest, LinksAreWrittenThroughOnlyToThisUsersSettings) {
  struct Case {
    const char* what;
    std::function<std::string(const ScratchDir&)> target;  // makes it, returns its path
    bool writesThrough;
    std::optional<DefaultsValue> loads;  // "blurIntensity" as loaded
  };
  const auto settingsFile = [](const ScratchDir& d) {
    writeFile(d.file("dunelo.json"), R"({"blurIntensity": 30})");
    return d.file("dunelo.json");
  };
  const std::vector<Case> cases = {
      {"this user's settings", settingsFile, true, 30},
      {"another user's settings",
       [&](const ScratchDir& d) {
         const std::string p = settingsFile(d);
         if (::chown(p.c_str(), 65534, 65534) != 0) return std::string();
         return p;
       },
       false, 30},
      {"a text file",
       [](const ScratchDir& d) {
         writeFile(d.file("notes.txt"), "my notes\n");
         return d.file("notes.txt");
       },
       false, std::nullopt},
      {"a FIFO",
       [](const ScratchDir& d) {
         ::mkfifo(d.file("fifo").c_str(), 0600);
         return d.file("fifo");
       },
       false, std::nullopt},
      {"/dev/zero", [](const ScratchDir&) { return std::string("/dev/zero"); }, false,
       std::nullopt},
      {"a directory", [](const ScratchDir& d) { return d.path(); }, false, std::nullopt},
      {"nothing", [](const ScratchDir& d) { return d.file("missing.json"); }, false, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir config, elsewhere;
    const std::string target = c.target(elsewhere);
    if (target.empty()) continue;  // chown needs root
    const std::string link = config.file("defaults.json");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    const std::string before = fs::is_regular_file(target) ? readFile(target) : "";
    const size_t logged = log.messages().size();
    {
      JsonFileDefaultsStore store(link);
      EXPECT_EQ(store.objectForKey("blurIntensity"), c.loads);
      store.setBool("isActive", true);
      store.setDouble("tintOpacity", 0.5);
      store.flush();
      EXPECT_EQ(store.lastWriteSucceeded(), c.writesThrough);
    }
    EXPECT_EQ(fs::read_symlink(link), target);
    EXPECT_EQ(filesIn(config.path()), std::vector<std::string>{"defaults.json"});
    EXPECT_EQ(log.messages().size(), logged + !c.writesThrough);
    if (c.writesThrough) {
      EXPECT_EQ(filesIn(elsewhere.path()), std::vector<std::string>{"dunelo.json"});
      JsonFileDefaultsStore reloaded(link);
      EXPECT_EQ(reloaded.doubleForKey("tintOpacity"), 0.5);
      EXPECT_EQ(reloaded.doubleForKey("blurIntensity"), 30.0);
    } else {
      EXPECT_NE(log.messages().back().find("left it alone"), std::string::npos);
      if (!before.empty()) {
        EXPECT_EQ(readFile(target), before);
      }
    }
  }
}

// Whatever is stored loads again. The excluded applications are stored up to their cap, also
// when every character of every identifier takes six bytes in JSON; a document that loading
// would reject is not written at all.
TEST_F(JsonStoreTest, WhatIsWrittenLoadsBackAtTheCap) {
  std::set<std::string> ids;
  for (size_t i = 0; ids.size() < kMaxExcludedApps + 50; ++i) {
    std::string id = std::to_string(i);
    id.resize(kMaxBundleIDBytes, '\x01');
    ids.insert(id);
  }
  ids.insert(std::string(kMaxBundleIDBytes + 1, 'a'));
  {
    JsonFileDefaultsStore store(path);
    SettingsManager s(store, noLogin);
    s.excludedAppBundleIDs = ids;
  }
  EXPECT_GT(fs::file_size(path), kMaxExcludedApps * kMaxBundleIDBytes * 5);  // escaped
  EXPECT_LE(fs::file_size(path), JsonFileDefaultsStore::kMaxWrittenSize);
  JsonFileDefaultsStore store(path);
  const auto stored = SettingsManager(store, noLogin).excludedAppBundleIDs.get();
  EXPECT_EQ(stored.size(), kMaxExcludedApps);
  EXPECT_EQ(stored, storableExclusions(ids));
  EXPECT_EQ(log.messages(), std::vector<std::string>{"[Settings] storing 1000 of 1051 excluded "
                                                     "applications (at most 1000, each at most "
                                                     "255 bytes)"});

  store.setObject("huge", std::string(JsonFileDefaultsStore::kMaxWrittenSize, 'x'));
  store.flush();
  EXPECT_FALSE(store.lastWriteSucceeded());
  EXPECT_EQ(log.messagesStartingWith("[Settings] could not save \"huge\"").size(), 1u);
  EXPECT_EQ(JsonFileDefaultsStore(path).arrayForKey(settings_keys::kExcludedAppBundleIDs)->size(),
            kMaxExcludedApps);
}

// Saves killed midway (kill -9) never leave a torn file, only their temporary files; the next
// start removes those once they are old enough to be abandoned, and nothing that merely looks
// like them.
TEST_F(JsonStoreTest, KilledSavesLeaveNoTornFileAndTheirLeftoversGo) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      JsonFileDefaultsStore store(path);
      for (int64_t i = 0;; ++i) {
        store.setInteger("counter", i);
        store.setObject("padding", std::string(4096 + i % 4096, 'p'));
        store.flush();
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2 + rng() % 30));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    JsonFileDefaultsStore reloaded(path);
    EXPECT_EQ(log.messagesStartingWith("[Settings] ").size(), 0u) << "round " << round;
  }
  // Only the first is an abandoned save of this store; the rest merely look like one.
  for (const char* name : {"defaults.json.tmp-Ab12Cd", "defaults.json.tmp-ab",
                           "other.json.tmp-ABCDEF", "defaults.json.corrupt-1"})
    writeFile(dir.file(name), "{");
  fs::create_directory(dir.file("defaults.json.tmp-dir123"));
  fs::create_symlink(dir.file("defaults.json.corrupt-1"), dir.file("defaults.json.tmp-lnk123"));
  const timespec old[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 3600, 0}};
  for (const auto& name : filesIn(dir.path()))
    ::utimensat(AT_FDCWD, dir.file(name).c_str(), old, AT_SYMLINK_NOFOLLOW);
  writeFile(dir.file("defaults.json.tmp-fresh1"), "{");  // a save under way elsewhere
  JsonFileDefaultsStore store(path);
  EXPECT_EQ(
      filesIn(dir.path()),
      (std::vector<std::string>{"defaults.json", "defaults.json.corrupt-1", "defaults.json.tmp-ab",
                                "defaults.json.tmp-dir123", "defaults.json.tmp-fresh1",
                                "defaults.json.tmp-lnk123", "other.json.tmp-ABCDEF"}));
  EXPECT_EQ(log.messagesStartingWith("[Settings] removed ").size(), 1u);
}

// Changes reach the disk without a flush; a burst of them (a slider drag) costs a few writes
// instead of one each; storing what is already stored writes nothing; and the last change is on
// disk once the store is gone.
TEST_F(JsonStoreTest, WritesArePromptCoalescedAndOnlyForChanges) {
  {
    JsonFileDefaultsStore store(path);
    store.setBool("isActive", true);
    EXPECT_TRUE(waitFor([&] { return store.writeCount() == 1; }));  // no flush asked for
    EXPECT_NE(readFile(path).find("\"isActive\": true"), std::string::npos);
    for (int i = 0; i < 120; ++i) store.setDouble("blurIntensity", i);
    store.flush();
    EXPECT_LT(store.writeCount(), 10u);
    EXPECT_EQ(JsonFileDefaultsStore(path).doubleForKey("blurIntensity"), 119.0);

    const uint64_t writes = store.writeCount();
    for (int i = 0; i < 10; ++i) {
      store.setBool("isActive", true);
      store.setDouble("blurIntensity", 119.0);
      store.removeObject("absent");
    }
    store.flush();
    EXPECT_EQ(store.writeCount(), writes);
    store.setInteger("blurIntensity", 119);  // the same number as another type is a change
    store.setDouble("grainIntensity", 0.25);
  }
  JsonFileDefaultsStore reloaded(path);
  EXPECT_EQ(reloaded.objectForKey("blurIntensity"), DefaultsValue(119));
  EXPECT_EQ(reloaded.doubleForKey("grainIntensity"), 0.25);
  EXPECT_TRUE(log.messages().empty());
}

}  // namespace
}  // namespace dunelo
