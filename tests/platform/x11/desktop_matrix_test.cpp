// The dunelo program on real desktops: one private Xvfb per window manager (compositing or not),
// a panel, two xterms full of text, and real input through XTEST. Each case switches Dunelo on
// with a mouse shake, moves the focus by a click, by an EWMH activation request and by the
// manager's own keyboard binding, and switches it off again, judging by the server's stacking order
// and by the pixels on the screen.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/x11/dunelo_process.h"
#include "platform/x11/fake_input.h"
#include "platform/x11/x_server.h"

namespace dunelo {
namespace {

using testing::waitFor;
using x11::testing::TestClient;
using x11::testing::XServer;

// The manager's default binding that moves the focus to the most recently used other window:
// `key` tapped while `held` is down, as a user does (list switchers act when `held` goes up).
struct SwitchKeys {
  uint32_t held;
  uint32_t key;
};

struct Desktop {
  const char* name;
  std::vector<std::string> command;          // "{config}" stands for a scratch config file (i3)
  bool needsDBus;                            // started under a session bus of its own
  bool composites;                           // a compositor owns the screen once it is up
  SwitchKeys switchKeys;                     // moves the focus to the other xterm
  std::vector<std::string> compositor = {};  // a separate compositor, started after it
};

constexpr SwitchKeys kAltTab{XK_Alt_L, XK_Tab};

const Desktop kDesktops[] = {
    {"openbox", {"openbox", "--sm-disable"}, false, false, kAltTab},
    {"openbox_picom",
     {"openbox", "--sm-disable"},
     false,
     true,
     kAltTab,
     {"picom", "--backend", "xrender"}},
    {"xfwm4", {"xfwm4", "--compositor=on"}, true, true, kAltTab},
    {"kwin_x11", {"kwin_x11"}, true, true, kAltTab},
    {"mutter", {"mutter", "--x11"}, true, true, kAltTab},
    {"metacity", {"metacity"}, true, true, kAltTab},
    {"marco", {"marco"}, true, true, kAltTab},
    {"i3", {"i3", "-c", "{config}"}, false, false, kAltTab},  // bound in the test's config
    {"fluxbox", {"fluxbox"}, false, false, kAltTab},
};

// The screen's pixels as 0xRRGGBB.
struct Shot {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
  uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y * width + x)] & 0xffffff; }

  // Fine detail inside `r`: the summed brightness steps between neighbouring pixels.
  double detail(const xcb_rectangle_t& r) const {
    auto luma = [](uint32_t p) {
      return static_cast<int>(((p >> 16) & 0xff) + ((p >> 8) & 0xff) + (p & 0xff));
    };
    double sum = 0;
    for (int y = r.y; y + 1 < r.y + r.height && y + 1 < height; ++y)
      for (int x = r.x; x + 1 < r.x + r.width && x + 1 < width; ++x) {
        const int p = luma(at(x, y));
        sum += std::abs(p - luma(at(x + 1, y))) + std::abs(p - luma(at(x, y + 1)));
      }
    return sum;
  }
  // The share of pixels inside `r` that differ from `other`.
  double changedShare(const Shot& other, const xcb_rectangle_t& r) const {
    size_t changed = 0;
    for (int y = r.y; y < r.y + r.height; ++y)
      for (int x = r.x; x < r.x + r.width; ++x) changed += at(x, y) != other.at(x, y);
    return static_cast<double>(changed) / (static_cast<double>(r.width) * r.height);
  }
  void save(const std::string& path) const {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    for (uint32_t p : pixels) out.put(char(p >> 16)).put(char(p >> 8)).put(char(p));
  }
};

class DesktopMatrixTest : public ::testing::TestWithParam<Desktop> {
 protected:
  void SetUp() override {
    // The window managers start with the home Dunelo gets.
    for (const char* v : {"HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"})
      setenv(v, home_.env[v].c_str(), 1);
    // The first line keeps i3 from reading it as an old (v3) file and adding a bar of its own.
    testing::writeFile(home_.file("i3.conf"),
                       "# i3 config file (v4)\nfont pango:monospace 8\nfocus_follows_mouse no\n"
                       "bindsym Mod1+Tab focus right\n");
    // Without a wallpaper setter fluxbox's first start pops up a message that takes the focus.
    std::filesystem::create_directories(home_.file(".fluxbox"));
    testing::writeFile(home_.file(".fluxbox/overlay"), "background: none\n");
    shots_ = std::string(DUNELO_DESKTOP_SHOTS) + "/" + GetParam().name;
    std::filesystem::create_directories(shots_);
  }
  void TearDown() override {
    if (dunelo_ > 0) {
      kill(dunelo_, SIGTERM);
      waitpid(dunelo_, nullptr, 0);
    }
  }

  // Starts the window manager, its compositor and a panel: empty when all are up, else the step
  // that failed.
  std::string startDesktop() {
    const Desktop& d = GetParam();
    std::vector<std::string> argv;
    if (d.needsDBus) argv = {"dbus-run-session", "--"};
    for (const std::string& a : d.command)
      argv.push_back(a == "{config}" ? home_.file("i3.conf") : a);
    server_.start(argv);
    if (!server_.waitForWindowManager()) return "the window manager did not manage a window";
    if (!d.compositor.empty()) server_.start(d.compositor);
    auto composited = [&] {
      auto* r = xcb_get_selection_owner_reply(
          client_.xcb(), xcb_get_selection_owner(client_.xcb(), client_.atom("_NET_WM_CM_S0")),
          nullptr);
      const bool owned = r && r->owner != XCB_NONE;
      free(r);
      return owned;
    };
    if (d.composites && !waitFor(composited, 20)) return "no compositor took _NET_WM_CM_S0";
    server_.start({"tint2"});
    if (!waitFor([&] { return panel() != XCB_NONE; }, 10)) return "tint2 mapped no dock window";
    return "";
  }
  std::vector<xcb_window_t> windowsOf(xcb_window_t window, const std::string& property) {
    xcb_connection_t* c = client_.xcb();
    auto* r = xcb_get_property_reply(
        c,
        xcb_get_property(c, 0, window, client_.atom(property), XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
        nullptr);
    std::vector<xcb_window_t> out;
    if (r && r->format == 32) {
      const auto* v = static_cast<const xcb_window_t*>(xcb_get_property_value(r));
      out.assign(v, v + xcb_get_property_value_length(r) / 4);
    }
    free(r);
    return out;
  }
  std::string nameOf(xcb_window_t w) {
    auto* r = xcb_get_property_reply(
        client_.xcb(),
        xcb_get_property(client_.xcb(), 0, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 0, 64), nullptr);
    std::string name = r ? std::string(static_cast<const char*>(xcb_get_property_value(r)),
                                       static_cast<size_t>(xcb_get_property_value_length(r)))
                         : "";
    free(r);
    return name;
  }
  // The panel's window: a viewable window of type DOCK among the top-levels and their children
  // (not every manager lists docks in _NET_CLIENT_LIST).
  xcb_window_t panel() {
    const xcb_atom_t dock = client_.atom("_NET_WM_WINDOW_TYPE_DOCK");
    return findInTree([&](xcb_window_t w) {
      auto types = windowsOf(w, "_NET_WM_WINDOW_TYPE");
      return !types.empty() && types[0] == dock;
    });
  }
  // The first viewable top-level, top-level's child or grandchild (a window inside a frame) that
  // matches: the window itself.
  xcb_window_t findInTree(const std::function<bool(xcb_window_t)>& match) {
    for (xcb_window_t w : client_.stacking())
      if (client_.isViewable(w))
        if (const xcb_window_t found = findBelow(w, 2, match)) return found;
    return XCB_NONE;
  }
  // `w` or its first descendant down to `depth` levels that matches; XCB_NONE when none does.
  xcb_window_t findBelow(xcb_window_t w, int depth,
                         const std::function<bool(xcb_window_t)>& match) {
    if (match(w)) return w;
    xcb_window_t found = XCB_NONE;
    if (depth == 0) return found;
    auto* t = xcb_query_tree_reply(client_.xcb(), xcb_query_tree(client_.xcb(), w), nullptr);
    for (int i = 0; t && i < xcb_query_tree_children_length(t) && !found; ++i)
      found = findBelow(xcb_query_tree_children(t)[i], depth - 1, match);
    free(t);
    return found;
  }
  xcb_window_t active() {
    auto a = windowsOf(client_.root(), "_NET_ACTIVE_WINDOW");
    return a.empty() ? XCB_NONE : a[0];
  }

  xcb_window_t openXterm(const std::string& title, const std::string& geometry) {
    server_.start({"xterm", "-title", title, "-geometry", geometry, "-bg", "#fdf6e3", "-fg",
                   "#073642", "-e", "sh", "-c",
                   "seq -w 1 4000 | paste -sd ' ' | fold -w 80; exec sleep 100000"});
    xcb_window_t found = XCB_NONE;
    waitFor(
        [&] {
          for (xcb_window_t w : windowsOf(client_.root(), "_NET_CLIENT_LIST"))
            if (nameOf(w) == title) found = w;
          return found != XCB_NONE;
        },
        10);
    return found;
  }
  // The client window's own pixels in root coordinates (the frame may hold invisible borders
  // and the compositor's shadow, where whatever lies behind shows).
  xcb_rectangle_t clientRect(xcb_window_t window) {
    xcb_connection_t* c = client_.xcb();
    auto* t = xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, window, client_.root(), 0, 0), nullptr);
    const xcb_rectangle_t g = client_.geometry(window);
    xcb_rectangle_t r{t ? std::max<int16_t>(t->dst_x, 0) : int16_t(0),
                      t ? std::max<int16_t>(t->dst_y, 0) : int16_t(0), g.width, g.height};
    free(t);
    return r;
  }

  // Dunelo's overlays: the root's children that are, or hold, a window marked _DUNELO_OVERLAY.
  std::vector<xcb_window_t> overlayTopLevels() {
    std::vector<xcb_window_t> out;
    const xcb_atom_t mark = client_.atom("_DUNELO_OVERLAY");
    for (xcb_window_t w : client_.stacking())
      if (client_.isViewable(w) && topLevelHolds(w, mark)) out.push_back(w);
    return out;
  }
  bool topLevelHolds(xcb_window_t top, xcb_atom_t mark) {
    return findBelow(top, 2, [&](xcb_window_t w) {
             auto* p = xcb_get_property_reply(
                 client_.xcb(),
                 xcb_get_property(client_.xcb(), 0, w, mark, XCB_ATOM_CARDINAL, 0, 1), nullptr);
             const bool has = p && p->value_len > 0;
             free(p);
             return has;
           }) != XCB_NONE;
  }
  // Whether the overlays lie directly below the frame of `window` (only overlays in between).
  bool overlaysDirectlyBelow(xcb_window_t window) {
    const auto own = overlayTopLevels();
    const auto order = client_.stacking();
    auto it = std::find(order.begin(), order.end(), client_.frameOf(window));
    if (own.empty() || it == order.end()) return false;
    for (size_t n = 0; n < own.size(); ++n) {
      if (it == order.begin() || std::find(own.begin(), own.end(), *--it) == own.end())
        return false;
    }
    return true;
  }

  Shot shoot() {
    xcb_connection_t* c = client_.xcb();
    const xcb_rectangle_t g = client_.geometry(client_.root());
    Shot s{g.width, g.height, {}};
    auto* r = xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, client_.root(), 0, 0, g.width, g.height, ~0u),
        nullptr);
    if (r && xcb_get_image_data_length(r) >= g.width * g.height * 4) {
      const auto* data = reinterpret_cast<const uint32_t*>(xcb_get_image_data(r));
      s.pixels.assign(data, data + g.width * g.height);
    } else {
      s.pixels.assign(static_cast<size_t>(g.width * g.height), 0);
    }
    free(r);
    return s;
  }
  // A picture of the screen once fades and the compositor have settled: the same for half a
  // second (an overlay that a window manager re-manages after a switch takes a moment to show).
  Shot settledShot(const std::string& name) {
    Shot last = shoot();
    auto stableSince = std::chrono::steady_clock::now();
    waitFor(
        [&] {
          Shot now = shoot();
          if (now.pixels != last.pixels) stableSince = std::chrono::steady_clock::now();
          last = std::move(now);
          return std::chrono::steady_clock::now() - stableSince > std::chrono::milliseconds(500);
        },
        6);
    last.save(shots_ + "/" + name + ".ppm");
    return last;
  }

  void shake() {
    input_.warpTo(640, 420);
    for (int i = 0; i < 6; ++i) {
      input_.moveBy(80, 0);
      input_.sync();
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
      input_.moveBy(-80, 0);
      input_.sync();
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
  }
  void startDunelo() {
    std::filesystem::create_directories(home_.file("config/dunelo"));
    testing::writeFile(home_.file("config/dunelo/defaults.json"), "{\"isActive\": false}");
    dunelo_ = testing::spawnProgram({DUNELO_PROGRAM}, home_.env, -1, home_.file("stderr"));
  }
  // Whether the active window satisfies `ok` and stays the same for a second (within 8 s).
  bool focusHolds(const std::function<bool(xcb_window_t)>& ok) {
    xcb_window_t last = active();
    auto since = std::chrono::steady_clock::now();
    return waitFor(
        [&] {
          const xcb_window_t now = active();
          if (now != last || !ok(now)) since = std::chrono::steady_clock::now();
          last = now;
          return std::chrono::steady_clock::now() - since > std::chrono::seconds(1);
        },
        8);
  }
  bool duneloAlive() { return dunelo_ > 0 && waitpid(dunelo_, nullptr, WNOHANG) == 0; }
  void activateByRequest(xcb_window_t window) {
    xcb_client_message_event_t e{};
    e.response_type = XCB_CLIENT_MESSAGE;
    e.format = 32;
    e.window = window;
    e.type = client_.atom("_NET_ACTIVE_WINDOW");
    e.data.data32[0] = 2;  // as a pager asks: taken at once, whatever the focus stealing rules
    xcb_send_event(client_.xcb(), 0, client_.root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&e));
    client_.flush();
  }

  void switchByKeyboard() {
    const SwitchKeys& k = GetParam().switchKeys;
    input_.keyDown(k.held);
    input_.tap(k.key);
    // A switcher that grabs the keyboard once it sees the press must still find `held` down.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    input_.keyUp(k.held);
  }

  XServer server_{XServer::Options{.width = 1280, .height = 800, .windowManager = false}};
  TestClient client_{server_.display()};
  testing::FakeInput input_{server_.display()};
  testing::DuneloHome home_{server_.display()};
  pid_t dunelo_ = -1;
  std::string shots_;
};

TEST_P(DesktopMatrixTest, OverlayKeepsTheFocusedWindowSharpAndEverythingElseBlurred) {
  ASSERT_TRUE(server_.ok());
  const std::string failed = startDesktop();
  ASSERT_EQ(failed, "") << "starting " << GetParam().name;
  const xcb_window_t a = openXterm("matrix-a", "80x22+40+40");
  const xcb_window_t b = openXterm("matrix-b", "80x22+600+380");
  ASSERT_NE(a, XCB_NONE) << "xterm a never showed up in _NET_CLIENT_LIST";
  ASSERT_NE(b, XCB_NONE) << "xterm b never showed up in _NET_CLIENT_LIST";
  // Some managers (marco) hand the focus to a new window a while after mapping it: the focus
  // settles first, then xterm a must hold it for a second before anything is judged.
  ASSERT_TRUE(focusHolds([](xcb_window_t) { return true; }))
      << "the focus kept moving after the xterms opened";
  activateByRequest(a);
  ASSERT_TRUE(focusHolds([&](xcb_window_t w) { return w == a; }))
      << "the window manager did not keep xterm a active on request (before Dunelo started)";
  // The first key from the XTEST keyboard makes it the core keyboard's source: kwin and mutter
  // reload their key maps then and let that first binding pass. A user's keyboard has long been
  // that source; a lone Shift gets the switch over with here.
  input_.tap(XK_Shift_L);
  const xcb_rectangle_t ra = clientRect(a), rb = clientRect(b), rp = clientRect(panel());
  startDunelo();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const Shot off = settledShot("0-off");
  ASSERT_GT(off.detail(rb), 0);

  // Each step leaves the overlay below `focused`, that window as it was without Dunelo (and
  // sharp), the other one's fine detail down to at most a third, and the panel uncovered.
  auto expectFocusOn = [&](xcb_window_t focused, const std::string& step) {
    SCOPED_TRACE(step);
    EXPECT_TRUE(waitFor([&] { return active() == focused; }, 5))
        << "the window manager did not activate the window; active: \"" << nameOf(active()) << "\"";
    EXPECT_TRUE(waitFor([&] { return overlaysDirectlyBelow(focused); }, 5))
        << "the overlay is not directly below the active frame";
    const Shot on = settledShot(step);
    const xcb_rectangle_t& sharp = focused == a ? ra : rb;
    const xcb_rectangle_t& blurred = focused == a ? rb : ra;
    if (focused == a) {
      EXPECT_LT(on.changedShare(off, sharp), 0.001) << "the focused window's pixels changed";
    } else {
      EXPECT_GT(on.detail(sharp), 0.9 * off.detail(sharp)) << "the focused window is not sharp";
    }
    EXPECT_LT(on.detail(blurred), off.detail(blurred) / 3) << "the other window is not blurred";
    EXPECT_LT(on.changedShare(off, rp), 0.05) << "the panel is covered";
  };

  shake();
  EXPECT_TRUE(waitFor([&] { return !overlayTopLevels().empty(); }, 5)) << "the shake did nothing";
  expectFocusOn(a, "1-shake");
  client_.click(rb.x + rb.width / 2, rb.y + rb.height / 2);
  expectFocusOn(b, "2-click");
  activateByRequest(a);
  expectFocusOn(a, "3-activation");
  switchByKeyboard();
  expectFocusOn(b, "4-keyboard");

  std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // the shake detector's cooldown
  shake();
  EXPECT_TRUE(waitFor([&] { return overlayTopLevels().empty(); }, 5)) << "a second shake";
  const Shot again = settledShot("5-off-again");
  EXPECT_GT(again.detail(rb), 0.9 * off.detail(rb)) << "still blurred after the second shake";
  EXPECT_TRUE(duneloAlive()) << "Dunelo exited";
}

void PrintTo(const Desktop& d, std::ostream* os) {
  *os << d.name;
}

INSTANTIATE_TEST_SUITE_P(WindowManagers, DesktopMatrixTest, ::testing::ValuesIn(kDesktops),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dunelo
