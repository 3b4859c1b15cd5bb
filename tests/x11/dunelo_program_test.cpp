// The dunelo program's life cycle: no display, a clean quit on SIGTERM and SIGINT, and a server
// that goes away.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <xcb/res.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch_dir.h"
#include "x11/x_server.h"

namespace dunelo {
namespace {

using testing::ScratchDir;
using x11::testing::XServer;

// Starts dunelo with `display` (none: no DISPLAY at all), a private home and its standard error
// in `stderrPath`.
pid_t startDunelo(const std::optional<std::string>& display, const ScratchDir& home,
                  const std::string& stderrPath) {
  // A runtime directory of its own: other instances on this machine must not answer for it.
  std::vector<std::string> env = {"HOME=" + home.path(), "XDG_CONFIG_HOME=" + home.file("config"),
                                  "XDG_RUNTIME_DIR=" + home.path(), "PATH=/usr/bin:/bin"};
  if (display) env.push_back("DISPLAY=" + *display);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::string program = DUNELO_PROGRAM;
  char* argv[] = {program.data(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// The exit status, or none when it did not end within `seconds` (it is killed then).
std::optional<int> waitForExit(pid_t pid, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return std::nullopt;
}

int clientCount(const std::string& display) {
  xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
  int count = -1;
  if (auto* reply = xcb_res_query_clients_reply(c, xcb_res_query_clients(c), nullptr)) {
    count = reply->num_clients;
    free(reply);
  }
  xcb_disconnect(c);
  return count;
}

// Waits until a new client has connected and settled into its main loop.
bool waitForNewClient(const std::string& display, int before) {
  for (int i = 0; i < 250; ++i) {
    if (clientCount(display) > before) {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

TEST(DuneloProgramTest, WithoutADisplayItSaysSoAndFails) {
  ScratchDir home;
  for (const std::optional<std::string>& display :
       {std::optional<std::string>(), std::optional<std::string>(":987")}) {
    const pid_t pid = startDunelo(display, home, home.file("stderr"));
    ASSERT_GT(pid, 0);
    EXPECT_EQ(waitForExit(pid, 10), 1);
    const std::string text = testing::readFile(home.file("stderr"));
    EXPECT_NE(text.find("dunelo: "), std::string::npos) << text;
    EXPECT_NE(text.find("X11 desktop session"), std::string::npos) << text;
  }
}

TEST(DuneloProgramTest, QuitSignalsEndItCleanly) {
  XServer server(true);
  ASSERT_TRUE(server.ok());
  ScratchDir home;
  for (int signal : {SIGTERM, SIGINT}) {
    const int before = clientCount(server.display());
    const pid_t pid = startDunelo(server.display(), home, home.file("stderr"));
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(waitForNewClient(server.display(), before));
    kill(pid, signal);
    EXPECT_EQ(waitForExit(pid, 10), 0) << "signal " << signal;
    EXPECT_EQ(testing::readFile(home.file("stderr")), "");
    // What the start stored (the permission cache) is on disk, and no save was left half done.
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(home.file("config/dunelo")))
      names.push_back(e.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"defaults.json"});
    EXPECT_NE(
        testing::readFile(home.file("config/dunelo/defaults.json")).find("cachedAccessibility"),
        std::string::npos);
  }
}

TEST(DuneloProgramTest, ServerGoingAwayEndsIt) {
  ScratchDir home;
  pid_t pid = -1;
  {
    XServer server(false);
    ASSERT_TRUE(server.ok());
    const int before = clientCount(server.display());
    pid = startDunelo(server.display(), home, home.file("stderr"));
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(waitForNewClient(server.display(), before));
  }
  EXPECT_EQ(waitForExit(pid, 10), 1);
  EXPECT_NE(testing::readFile(home.file("stderr")).find("the X server went away"),
            std::string::npos);
}

}  // namespace
}  // namespace dunelo
