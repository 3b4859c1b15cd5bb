// The dunelo program's life cycle: no display, a clean quit on SIGTERM and SIGINT, a server that
// goes away, the dock it hid put back however it ends, and a start while switched on.
#include <gtest/gtest.h>
#include <xcb/res.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "platform/x11/dunelo_process.h"
#include "platform/x11/render/render_harness.h"
#include "platform/x11/x_server.h"
#include "support/fake_desktop.h"

namespace dunelo {
namespace {

using testing::DuneloHome;
using testing::FakeDesktop;
using testing::waitFor;
using testing::waitForExit;
using x11::Box;
using x11::testing::TestClient;
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

// Gives `window` a background of fine detail (a two-pixel checkerboard of red and blue), which
// the server keeps painted.
void setCheckerBackground(TestClient& client, xcb_window_t window) {
  xcb_connection_t* c = client.xcb();
  const xcb_pixmap_t tile = xcb_generate_id(c);
  xcb_create_pixmap(c, 24, tile, client.root(), 4, 4);
  const xcb_gcontext_t gc = xcb_generate_id(c);
  uint32_t colour = 0xe03030;
  xcb_create_gc(c, gc, tile, XCB_GC_FOREGROUND, &colour);
  const xcb_rectangle_t all{0, 0, 4, 4};
  xcb_poly_fill_rectangle(c, tile, gc, 1, &all);
  colour = 0x2040e0;
  xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &colour);
  const xcb_rectangle_t blue[] = {{2, 0, 2, 2}, {0, 2, 2, 2}};
  xcb_poly_fill_rectangle(c, tile, gc, 2, blue);
  xcb_change_window_attributes(c, window, XCB_CW_BACK_PIXMAP, &tile);
  xcb_clear_area(c, 0, window, 0, 0, 0, 0);
  xcb_free_gc(c, gc);
  xcb_free_pixmap(c, tile);
  client.sync();
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
    EXPECT_NE(text.find(display ? "\":987\"" : "DISPLAY is not set"), std::string::npos) << text;
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

// Xfce with three panels of different settings (the third has none of its own): Dunelo, on with
// auto-hide, hides them; SIGTERM puts each one's own setting back; after kill -9 the next start
// does; a tool that hangs does not hold up SIGTERM, and what it kept from being put back is still
// in the settings file for the next start.
TEST(DuneloProgramTest, TheDockIsPutBackAfterAQuitAndAfterACrash) {
  XServer server(true);
  ASSERT_TRUE(server.ok());
  DuneloHome home(server.display());
  FakeDesktop desktop;
  const FakeDesktop::Files panels{
      {"xfce-panels", "1\n2\n3\n"}, {"xfce-1", "0\n"}, {"xfce-2", "1\n"}};
  desktop.set(panels);
  const std::string settingsPath = home.file("config/dunelo/defaults.json");
  std::filesystem::create_directories(home.file("config/dunelo"));
  const auto writeSettings = [&](bool active) {
    auto settings = nlohmann::json::parse(testing::readFile(settingsPath), nullptr, false);
    if (!settings.is_object()) settings = nlohmann::json::object();
    settings["isActive"] = active;
    settings["autoHideDockAndMenuBar"] = true;
    testing::writeFile(settingsPath, settings.dump());
  };
  const auto remembered = [&] {
    return testing::readFile(settingsPath).find("dockRestoreState") != std::string::npos;
  };
  const auto hidden = [&] {
    auto files = desktop.files();
    return files["xfce-1"] == "2\n" && files["xfce-2"] == "2\n" && files["xfce-3"] == "2\n";
  };
  home.env["PATH"] = desktop.path();
  home.env["XDG_CURRENT_DESKTOP"] = "XFCE";

  writeSettings(true);
  pid_t pid = startDunelo(home);
  ASSERT_TRUE(waitFor(hidden, 30));
  EXPECT_TRUE(remembered());
  kill(pid, SIGTERM);
  EXPECT_EQ(waitForExit(pid, 10), 0);
  EXPECT_EQ(desktop.files(), panels);
  EXPECT_FALSE(remembered());

  pid = startDunelo(home);
  ASSERT_TRUE(waitFor(hidden, 30));
  ASSERT_TRUE(waitFor(remembered, 5));
  kill(pid, SIGKILL);
  waitForExit(pid, 10);
  EXPECT_TRUE(hidden());
  writeSettings(false);
  pid = startDunelo(home);
  EXPECT_TRUE(waitFor([&] { return desktop.files() == panels && !remembered(); }, 30));

  // Switched on again, the panels hide; then every tool hangs.
  kill(pid, SIGTERM);
  EXPECT_EQ(waitForExit(pid, 10), 0);
  writeSettings(true);
  pid = startDunelo(home);
  ASSERT_TRUE(waitFor(hidden, 30));
  desktop.add("xfconf-query", "exec sleep 1000");
  // The tools' own deadline ends the restore: the program still quits, far before they would.
  kill(pid, SIGTERM);
  EXPECT_EQ(waitForExit(pid, 10), 0);
  EXPECT_TRUE(remembered());

  // The end of the session: the X server goes away while the dock is hidden.
  desktop.set({{"xfce-1", "0\n"}, {"xfce-2", "1\n"}});
  std::filesystem::remove(desktop.state() + "/xfce-3");
  desktop.restore("xfconf-query");
  {
    XServer session(true);
    ASSERT_TRUE(session.ok());
    home.env["DISPLAY"] = session.display();
    pid = startDunelo(home);
    ASSERT_TRUE(waitFor(hidden, 30));
  }
  EXPECT_EQ(waitForExit(pid, 10), 1);
  EXPECT_EQ(desktop.files(), panels);
}

// Dunelo was on when the session ended: it blurs as soon as it is up, with no focus change or
// toggle to wake its renderer.
TEST(DuneloProgramTest, StartingSwitchedOnBlursAtOnce) {
  XServer server(true);
  ASSERT_TRUE(server.ok());
  DuneloHome home(server.display());
  std::filesystem::create_directories(home.file("config/dunelo"));
  testing::writeFile(home.file("config/dunelo/defaults.json"),
                     R"({"isActive": true, "blurIntensity": 100})");
  TestClient client(server.display());
  const xcb_window_t desk = client.createWindow(0, 0, 1200, 760, 4002, "desk", "Desk");
  const xcb_window_t editor = client.createWindow(700, 400, 320, 220, 4001, "editor", "Editor");
  ASSERT_TRUE(waitFor([&] {
    return client.frameOf(desk) != desk && client.frameOf(editor) != editor &&
           client.isViewable(desk) && client.isViewable(editor);
  }));
  client.activate(editor);
  setCheckerBackground(client, desk);
  // Part of the desk beyond the blur's reach of the editor.
  const Box far{40, 120, 340, 320};
  auto detail = [&] {
    return x11::testing::highFrequencyEnergy(
        x11::testing::captureRoot(client.xcb(), client.root(), far),
        {0, 0, far.width(), far.height()});
  };
  ASSERT_TRUE(waitFor([&] { return detail() > 20; })) << "the desk must have fine detail to lose";
  const double before = detail();

  const pid_t pid = startDunelo(home);
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(waitFor([&] { return detail() < before * 0.05; }, 15))
      << "fine detail " << before << " -> " << detail();
  kill(pid, SIGTERM);
  EXPECT_EQ(waitForExit(pid, 10), 0);
}

}  // namespace
}  // namespace dunelo
