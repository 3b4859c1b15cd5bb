// The dunelo program's life cycle: no display, a clean quit on SIGTERM and SIGINT, and a server
// that goes away.
#include <gtest/gtest.h>
#include <xcb/res.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <string>

#include "x11/dunelo_process.h"
#include "x11/x_server.h"

namespace dunelo {
namespace {

using testing::DuneloHome;
using testing::waitForExit;
using x11::testing::XServer;

pid_t startDunelo(const DuneloHome& home) {
  return testing::spawnProgram({DUNELO_PROGRAM}, home.env, -1, home.file("stderr"));
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
  for (const std::optional<std::string>& display :
       {std::optional<std::string>(), std::optional<std::string>(":987")}) {
    DuneloHome home(display);
    const pid_t pid = startDunelo(home);
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
  DuneloHome home(server.display());
  for (int signal : {SIGTERM, SIGINT}) {
    const int before = clientCount(server.display());
    const pid_t pid = startDunelo(home);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(waitForNewClient(server.display(), before));
    kill(pid, signal);
    EXPECT_EQ(waitForExit(pid, 10), 0) << "signal " << signal;
    EXPECT_EQ(testing::readFile(home.file("stderr")), "");
  }
}

TEST(DuneloProgramTest, ServerGoingAwayEndsIt) {
  pid_t pid = -1;
  std::optional<DuneloHome> home;
  {
    XServer server(false);
    ASSERT_TRUE(server.ok());
    home.emplace(server.display());
    const int before = clientCount(server.display());
    pid = startDunelo(*home);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(waitForNewClient(server.display(), before));
  }
  EXPECT_EQ(waitForExit(pid, 10), 1);
  EXPECT_NE(testing::readFile(home->file("stderr")).find("the X server went away"),
            std::string::npos);
}

}  // namespace
}  // namespace dunelo
