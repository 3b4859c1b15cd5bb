// The dunelo program's command line and session-bus interface against a running Dunelo on a
// private X server: every command, a status watch that sees a mouse shake, no Dunelo running,
// and a socket place another user got to first.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <string>

#include "platform/x11/dunelo_process.h"
#include "platform/x11/fake_input.h"
#include "platform/x11/x_server.h"

namespace dunelo {
namespace {

using testing::DuneloHome;
using testing::Finished;
using testing::LineReader;
using x11::testing::TestClient;
using x11::testing::XServer;

Finished dunelo(const DuneloHome& home, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {DUNELO_PROGRAM};
  argv.insert(argv.end(), args.begin(), args.end());
  return testing::runProgram(argv, home.env);
}

// A program started in the background whose standard output the test reads line by line.
struct Background {
  Background(const std::vector<std::string>& argv, const DuneloHome& home, const char* name) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    pid = testing::spawnProgram(argv, home.env, out[1], home.file(name));
    close(out[1]);
    lines.emplace(out[0]);
    fd = out[0];
  }
  ~Background() {
    if (pid > 0 && !ended) {
      kill(pid, SIGTERM);
      testing::waitForExit(pid, 10);
    }
    if (fd >= 0) close(fd);
  }
  std::optional<int> end(double seconds = 10) {
    ended = true;
    return testing::waitForExit(pid, seconds);
  }
  pid_t pid = -1;
  int fd = -1;
  bool ended = false;
  std::optional<LineReader> lines;
};

// Starts Dunelo and waits until it answers.
bool startDunelo(std::optional<Background>& instance, const DuneloHome& home) {
  instance.emplace(std::vector<std::string>{DUNELO_PROGRAM}, home, "dunelo.stderr");
  return testing::waitFor([&] { return dunelo(home, {"--status"}).status == 0; }, 10);
}

// Whether a window of the window manager's named "Dunelo" (the panel) is shown.
bool panelShown(TestClient& client) {
  xcb_connection_t* c = client.xcb();
  auto* list =
      xcb_get_property_reply(c,
                             xcb_get_property(c, 0, client.root(), client.atom("_NET_CLIENT_LIST"),
                                              XCB_ATOM_WINDOW, 0, 256),
                             nullptr);
  bool shown = false;
  const auto* windows = static_cast<xcb_window_t*>(xcb_get_property_value(list));
  for (int i = 0; list && i < xcb_get_property_value_length(list) / 4; ++i) {
    auto* name =
        xcb_get_property_reply(c,
                               xcb_get_property(c, 0, windows[i], client.atom("_NET_WM_NAME"),
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
                               nullptr);
    if (name && std::string(static_cast<char*>(xcb_get_property_value(name)),
                            xcb_get_property_value_length(name)) == "Dunelo")
      shown = shown || client.isViewable(windows[i]);
    free(name);
  }
  free(list);
  return shown;
}

TEST(DuneloCommands, HelpAndVersionNeedNoDisplayAndEveryCommandSaysWhenNoDuneloRuns) {
  DuneloHome home;  // no DISPLAY at all
  const Finished help = dunelo(home, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: dunelo", 0), 0u) << help.out;
  EXPECT_EQ(dunelo(home, {"--version"}).out, std::string("dunelo ") + DUNELO_VERSION + "\n");
  const Finished wrong = dunelo(home, {"--bogus"});
  EXPECT_EQ(wrong.status, 2);
  EXPECT_EQ(wrong.err,
            "dunelo: unknown option '--bogus'\nTry 'dunelo --help' for more information.\n");
  for (const char* command : {"--toggle", "--on", "--off", "--panel", "--quit", "--status"}) {
    const Finished result = dunelo(home, {command});
    EXPECT_EQ(result.status, 1) << command;
    EXPECT_EQ(result.err, "dunelo: Dunelo is not running\n") << command;
    EXPECT_EQ(result.out, "") << command;
  }
}

TEST(DuneloCommands, EachCommandAndTheBusReachTheRunningDuneloAndAWatchSeesEveryChange) {
  XServer server(true);
  ASSERT_TRUE(server.ok()) << "Xvfb and openbox must be installed";
  DuneloHome home(server.display());
  Background bus({"dbus-daemon", "--session", "--nofork", "--print-address"}, home, "bus.stderr");
  const auto address = bus.lines->next();
  ASSERT_TRUE(address) << "dbus-daemon must be installed";
  home.env["DBUS_SESSION_BUS_ADDRESS"] = *address;

  // The panel's textures stay in Qt Quick's caches at exit (see tests/ui/lsan_suppressions.cpp);
  // for sanitizer builds of the program.
  testing::writeFile(home.file("lsan.supp"),
                     "leak:libQt6Gui.so\nleak:libQt6Quick.so\nleak:libQt6Core.so\n");
  home.env["LSAN_OPTIONS"] = "suppressions=" + home.file("lsan.supp");
  std::optional<Background> instance;
  ASSERT_TRUE(startDunelo(instance, home));
  Background watch({DUNELO_PROGRAM, "--status", "--watch"}, home, "watch.stderr");
  EXPECT_EQ(watch.lines->next(), "off");

  testing::FakeInput user(server.display());
  for (int i = 0; i < 5; ++i) {  // left and right, as a hand shakes the mouse
    user.moveBy(60, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    user.moveBy(-60, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
  }
  EXPECT_EQ(watch.lines->next(), "on") << "the shake";

  for (const char* command : {"--off", "--on", "--on", "--toggle"})
    EXPECT_EQ(dunelo(home, {command}).status, 0) << command;
  const Finished toggled =
      testing::runProgram({"dbus-send", "--session", "--print-reply", "--dest=io.dunelo.Dunelo",
                           "/io/dunelo/Dunelo", "io.dunelo.Dunelo.Toggle"},
                          home.env);
  EXPECT_EQ(toggled.status, 0) << toggled.err;
  DuneloHome elsewhere;  // a shell without a display (a status bar started before X)
  elsewhere.env = home.env;
  elsewhere.env.erase("DISPLAY");
  EXPECT_EQ(dunelo(elsewhere, {"--status"}).out, "on\n");

  TestClient client(server.display());
  EXPECT_FALSE(panelShown(client));
  EXPECT_EQ(dunelo(home, {"--panel"}).status, 0);
  EXPECT_TRUE(testing::waitFor([&] { return panelShown(client); })) << "the panel opened";
  const Finished second = dunelo(home, {});
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.err, "dunelo: already running; its panel was asked to open\n");

  // --quit returns once Dunelo has ended; the watch ends with it.
  EXPECT_EQ(dunelo(home, {"--quit"}).status, 0);
  EXPECT_EQ(instance->end(), 0);
  for (const char* expected : {"off", "on", "off", "on"})
    EXPECT_EQ(watch.lines->next(), expected) << "one line per change, none for a repeated --on";
  EXPECT_EQ(watch.lines->next(), std::nullopt);
  EXPECT_EQ(watch.end(), 0);
  EXPECT_EQ(dunelo(home, {"--status"}).status, 1);
}

TEST(DuneloCommands, ASocketPlaceAnotherUserGotToFirstIsNotSpokenTo) {
  XServer server(true);
  ASSERT_TRUE(server.ok());
  DuneloHome home(server.display());
  home.env.erase("XDG_RUNTIME_DIR");  // the shared temporary directory is the next choice
  const std::string tmp = home.env["TMPDIR"], planted = tmp + "/dunelo-" + std::to_string(getuid());
  ::chmod(tmp.c_str(), 01777);
  ::mkdir(planted.c_str(), 0777);
  ::chmod(planted.c_str(), 0777);
  if (getuid() == 0) {  // as root the place can really belong to someone else
    ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);
  }
  // Someone else's program listening where Dunelo's socket would be.
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s/dunelo-%d.sock", planted.c_str(),
                static_cast<int>(getuid()));
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);

  const Finished status = dunelo(home, {"--status"});
  EXPECT_EQ(status.status, 1);
  EXPECT_EQ(status.err, "dunelo: Dunelo is not running\n");
  std::optional<Background> instance;
  ASSERT_TRUE(startDunelo(instance, home)) << "it starts, with its socket in a place of its own";
  EXPECT_EQ(dunelo(home, {"--quit"}).status, 0);
  EXPECT_EQ(instance->end(), 0);
  EXPECT_LT(::accept(listener, nullptr, nullptr), 0) << "nobody connected to the planted socket";
  ::close(listener);
}

}  // namespace
}  // namespace dunelo
