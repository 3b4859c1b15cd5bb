// The X11 backend against a private Xvfb with openbox: the event-kept window state, the overlay's
// stacking and input, screens and the error policy.
#include "platform/x11/x11_desktop.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "platform/x11/event_loop.h"
#include "platform/x11/x_server.h"
#include "support/log_capture.h"
#include "support/scratch_dir.h"

namespace dunelo::x11 {
namespace {

using dunelo::testing::LogCapture;
using dunelo::testing::readFile;
using dunelo::testing::ScratchDir;
using dunelo::testing::writeFile;
using testing::TestClient;
using testing::XServer;

// Position of `w` in a bottom-to-top stacking order; -1 when absent.
long stackPos(const std::vector<xcb_window_t>& order, xcb_window_t w) {
  const auto it = std::find(order.begin(), order.end(), w);
  return it == order.end() ? -1 : it - order.begin();
}

// Records every state handed to the painters, per window.
class RecordingPainterFactory final : public OverlayPainterFactory {
 public:
  struct Log {
    std::vector<OverlayVisualState> states;
  };
  OverlayWindowFormat windowFormat(X11Connection&) override { return {}; }
  std::unique_ptr<OverlayPainter> createPainter(X11Connection&, xcb_window_t,
                                                const OverlayWindowFormat&) override {
    struct P final : OverlayPainter {
      std::shared_ptr<Log> log;
      void paint(const OverlayVisualState& s) override { log->states.push_back(s); }
    };
    auto p = std::make_unique<P>();
    p->log = log;
    return p;
  }
  std::shared_ptr<Log> log = std::make_shared<Log>();
};

class X11DesktopTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = std::make_unique<XServer>(true); }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    ASSERT_TRUE(server_->ok()) << "Xvfb and openbox must be installed (scripts/install-deps.sh)";
    std::filesystem::create_directories(appsDir_.file("applications"));
    writeFile(appsDir_.file("applications/org.example.Editor.desktop"),
              "[Desktop Entry]\nName=Editor\nStartupWMClass=EditorWin\n");

    conn_ = X11Connection::open(server_->display().c_str());
    ASSERT_TRUE(conn_);
    auto painters = std::make_unique<RecordingPainterFactory>();
    painterLog_ = painters->log;
    desktop_ = std::make_unique<X11Desktop>(
        *conn_, loop_, std::move(painters),
        std::make_unique<DesktopFileIndex>(std::vector<std::string>{appsDir_.path()}));
    attached_ = attachToEventLoop(*conn_, loop_);
    client_ = std::make_unique<TestClient>(server_->display());
  }

  void TearDown() override {
    client_.reset();  // its windows go with its connection
    if (conn_ && !conn_->isConnectionLost()) {
      // Let the window manager unmanage them before the next test looks.
      loop_.runUntil([&] { return desktop_->tree().clients().empty(); }, 3.0);
    }
    attached_.clear();
    desktop_.reset();
    conn_.reset();
  }

  bool waitFor(const std::function<bool()>& done, double timeout = 3.0) {
    client_->flush();
    return loop_.runUntil(done, timeout);
  }
  // Lets every pending event of both connections arrive.
  void settle() {
    client_->sync();
    conn_->sync();
    loop_.runFor(0.05);
  }

  // A managed, mapped, active window; returns the client id.
  xcb_window_t openWindow(int x, int y, int w, int h, int32_t pid, const std::string& cls = "Plain",
                          const std::string& type = "") {
    const xcb_window_t id = client_->createWindow(x, y, w, h, pid, "plain", cls, type);
    EXPECT_TRUE(waitFor([&] {
      const ClientInfo* c = desktop_->tree().client(id);
      const TopLevel* f = c ? desktop_->tree().topLevel(c->frame) : nullptr;
      return f && c->frame != id && f->mapped;
    })) << "window manager did not manage the window";
    if (!type.empty()) return id;  // special windows are not activated
    activate(id);
    return id;
  }
  void activate(xcb_window_t id) {
    client_->activate(id);
    EXPECT_TRUE(waitFor([&] { return desktop_->tree().activeWindow() == id; }));
    settle();
  }
  xcb_window_t frameOf(xcb_window_t client) { return desktop_->tree().client(client)->frame; }

  // Whether `below` is directly below `above` in the server's real stacking order.
  bool directlyBelow(xcb_window_t below, xcb_window_t above) {
    const auto order = client_->stacking();
    const auto a = std::find(order.begin(), order.end(), above);
    return a != order.begin() && a != order.end() && *(a - 1) == below;
  }

  long stackPos(xcb_window_t w) { return x11::stackPos(client_->stacking(), w); }

  std::unique_ptr<X11OverlaySurface> makeOverlay() {
    const auto screens = desktop_->displays().screens();
    auto surface = desktop_->overlaySurfaces().createSurface(screens.front());
    return std::unique_ptr<X11OverlaySurface>(static_cast<X11OverlaySurface*>(surface.release()));
  }

  static inline std::unique_ptr<XServer> server_;
  LogCapture log_;
  ScratchDir appsDir_;
  EventLoop loop_;
  std::unique_ptr<X11Connection> conn_;
  std::shared_ptr<RecordingPainterFactory::Log> painterLog_;
  std::unique_ptr<X11Desktop> desktop_;
  CancellableBag attached_;
  std::unique_ptr<TestClient> client_;
};

TEST_F(X11DesktopTest, WindowListMatchesTheServersStackingFrontToBack) {
  const xcb_window_t a = openWindow(40, 60, 300, 200, 5001);
  const xcb_window_t b = openWindow(200, 150, 400, 250, 5002);
  const xcb_window_t c = openWindow(500, 300, 320, 240, 5003);
  openWindow(0, 0, 1280, 800, 5004, "Desk", "_NET_WM_WINDOW_TYPE_DESKTOP");
  auto overlay = makeOverlay();
  overlay->orderFront();
  activate(a);  // raises a over c
  client_->configure(b, 220, 170, 380, 260);
  settle();

  auto list = desktop_->windowList().onScreenWindows();
  ASSERT_TRUE(list);
  // The truth: viewable root children from the top, without our overlay and the desktop window.
  std::vector<WindowNumber> expected;
  const auto order = client_->stacking();
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    if (*it == overlay->window()) continue;
    const ClientInfo* info = desktop_->tree().clientOfTopLevel(*it);
    const bool desktopType = info && !info->windowTypes.empty() &&
                             info->windowTypes.front() == conn_->atoms().NET_WM_WINDOW_TYPE_DESKTOP;
    if (client_->isViewable(*it) && !desktopType) expected.push_back(*it);
  }
  std::vector<WindowNumber> actual;
  for (const auto& e : *list) actual.push_back(*e.windowNumber);
  EXPECT_EQ(actual, expected);

  for (xcb_window_t w : {a, b, c}) {
    const xcb_window_t frame = client_->frameOf(w);
    const auto entry = std::find_if(list->begin(), list->end(), [&](const WindowListEntry& e) {
      return e.windowNumber == static_cast<WindowNumber>(frame);
    });
    ASSERT_NE(entry, list->end());
    const xcb_rectangle_t g = client_->geometry(frame);
    EXPECT_EQ(entry->bounds,
              (WindowBounds{double(g.x), double(g.y), double(g.width), double(g.height)}));
    EXPECT_EQ(entry->ownerPID, static_cast<ProcessID>(5001 + (w == b) + 2 * (w == c)));
  }
}

TEST_F(X11DesktopTest, FocusedWindowIsTheActiveClientsFrameAndObserversHearItsChanges) {
  const xcb_window_t first = openWindow(100, 100, 300, 200, 6001);
  const xcb_window_t second = openWindow(500, 200, 300, 200, 6001);
  const xcb_window_t other = openWindow(300, 400, 200, 150, 6002);
  activate(first);
  X11Accessibility& ax = desktop_->accessibility();
  ASSERT_EQ(ax.focusedWindow(6001), first);
  const xcb_rectangle_t g = client_->geometry(client_->frameOf(first));
  EXPECT_EQ(ax.windowPosition(first), (Point{double(g.x), double(g.y)}));
  EXPECT_EQ(ax.windowSize(first), (Size{double(g.width), double(g.height)}));

  std::vector<std::string> heard;
  auto observer = ax.createObserver(6001, [&](std::string_view n) { heard.emplace_back(n); });
  ASSERT_TRUE(observer);
  for (auto n : {kFocusedWindowChanged, kWindowMoved, kWindowResized, kMainWindowChanged})
    EXPECT_TRUE(observer->addNotification(n));
  EXPECT_FALSE(observer->addNotification("AXTitleChanged"));

  client_->configure(first, 150, 120, 300, 200);
  EXPECT_TRUE(waitFor([&] { return heard == std::vector<std::string>{"AXMoved"}; }))
      << heard.size();
  heard.clear();
  client_->configure(first, 150, 120, 340, 260);
  EXPECT_TRUE(waitFor([&] { return !heard.empty(); }));
  settle();
  EXPECT_EQ(heard, std::vector<std::string>{"AXResized"});
  heard.clear();

  activate(second);  // same application, another window
  EXPECT_EQ(heard, (std::vector<std::string>{"AXFocusedWindowChanged", "AXMainWindowChanged"}));
  heard.clear();
  activate(other);  // another application: this one's focused window stays `second`
  EXPECT_TRUE(heard.empty());
  EXPECT_EQ(ax.focusedWindow(6001), second);
  client_->destroy(second);
  EXPECT_TRUE(waitFor([&] { return !desktop_->tree().client(second); }));
  EXPECT_FALSE(ax.windowPosition(second)) << "a vanished window's reads fail";
  EXPECT_TRUE(ax.canReadFocusedApplication());
  EXPECT_TRUE(waitFor([&] { return ax.focusedWindow(6001) == first; }));
  // Its last window closing is a change of its focused window too.
  heard.clear();
  client_->destroy(first);
  EXPECT_TRUE(waitFor([&] { return !desktop_->tree().client(first); }));
  settle();
  // (The window manager may move the frame on its way out, which is heard first.)
  ASSERT_GE(heard.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(heard.end() - 2, heard.end()),
            (std::vector<std::string>{"AXFocusedWindowChanged", "AXMainWindowChanged"}));
  EXPECT_FALSE(ax.focusedWindow(6001));
}

TEST_F(X11DesktopTest, ActivationsAreAnnouncedPerApplicationWithTheDesktopFileIdentity) {
  const xcb_window_t editor = openWindow(100, 100, 300, 200, 7001, "EditorWin");
  const xcb_window_t editor2 = openWindow(150, 150, 300, 200, 7001, "EditorWin");
  const xcb_window_t plain = openWindow(500, 300, 300, 200, 7002, "Plain");
  std::vector<RunningApplication> activations;
  auto token = desktop_->workspace().observeActivations(
      [&](const RunningApplication& app) { activations.push_back(app); });
  activate(editor);
  activate(editor2);  // same application: no activation
  activate(plain);
  ASSERT_EQ(activations.size(), 2u);
  EXPECT_EQ(activations[0].pid, 7001);
  EXPECT_EQ(activations[0].bundleID, "org.example.Editor");
  EXPECT_EQ(activations[0].localizedName, "Editor");
  EXPECT_EQ(activations[0].activationPolicy, ActivationPolicy::regular);
  EXPECT_EQ(activations[1].bundleID, "Plain");
  EXPECT_EQ(desktop_->workspace().frontmostApplication()->pid, 7002);
  const auto running = desktop_->workspace().runningApplications();
  EXPECT_EQ(running.size(), 2u);
}

TEST_F(X11DesktopTest, OverlayStaysDirectlyBelowTheActiveFrame) {
  const xcb_window_t a = openWindow(100, 100, 400, 300, 8001);
  const xcb_window_t b = openWindow(300, 200, 400, 300, 8002);
  auto overlay = makeOverlay();
  overlay->setAlpha(0, Animation::none());
  overlay->orderFront();
  activate(a);
  overlay->orderBelow(frameOf(a));
  settle();
  EXPECT_TRUE(directlyBelow(overlay->window(), frameOf(a)));

  activate(b);  // raised above a and the overlay
  overlay->orderBelow(frameOf(b));
  settle();
  EXPECT_TRUE(directlyBelow(overlay->window(), frameOf(b)));
  EXPECT_LT(stackPos(frameOf(a)), stackPos(overlay->window()))
      << "the previously active window sinks below the overlay";

  // Another screen's overlay joins below the same frame; with only overlays in between, both
  // are in place and later ticks send nothing; an overlay is never a target.
  auto other = makeOverlay();
  other->orderBelow(frameOf(b));
  settle();
  EXPECT_TRUE(directlyBelow(other->window(), frameOf(b)));
  EXPECT_TRUE(directlyBelow(overlay->window(), other->window()));
  const uint64_t sent = overlay->restackCount() + other->restackCount();
  for (int i = 0; i < 5; ++i) {
    overlay->orderBelow(frameOf(b));
    other->orderBelow(frameOf(b));
    overlay->orderBelow(other->window());
  }
  EXPECT_EQ(overlay->restackCount() + other->restackCount(), sent);
  other.reset();

  // Something slips in between: the overlay takes its place back at once, but only once per
  // order (no fight at event rate with a client that wants the same place); the next order
  // restores it again.
  const xcb_window_t intruder = client_->createUnmanagedWindow(0, 0, 50, 50);
  const uint32_t below[] = {frameOf(b), XCB_STACK_MODE_BELOW};
  for (bool heldAtOnce : {true, false}) {
    xcb_configure_window(client_->xcb(), intruder,
                         XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, below);
    settle();
    EXPECT_EQ(directlyBelow(overlay->window(), frameOf(b)), heldAtOnce);
    EXPECT_EQ(directlyBelow(intruder, frameOf(b)), !heldAtOnce);
  }
  overlay->orderBelow(frameOf(b));
  settle();
  EXPECT_TRUE(directlyBelow(overlay->window(), frameOf(b)));

  // Ordered out, then below again: it comes back in place.
  overlay->orderOut();
  settle();
  overlay->orderBelow(frameOf(a));
  settle();
  EXPECT_TRUE(overlay->isMapped());
  EXPECT_TRUE(directlyBelow(overlay->window(), frameOf(a)));
  EXPECT_EQ(conn_->unexpectedErrorCount(), 0u);
}

TEST_F(X11DesktopTest, InFrontMeansAboveOrdinaryWindowsButBelowPanelsAndNotifications) {
  const xcb_window_t panel =
      openWindow(0, 760, 1280, 40, 9201, "Panel", "_NET_WM_WINDOW_TYPE_DOCK");
  const xcb_window_t note =
      openWindow(900, 40, 300, 80, 9202, "Note", "_NET_WM_WINDOW_TYPE_NOTIFICATION");
  auto overlay = makeOverlay();
  // Nothing but the desktop's chrome (the bare desktop): beneath all of it.
  overlay->orderFront();
  settle();
  EXPECT_LT(stackPos(overlay->window()), stackPos(frameOf(panel)));
  EXPECT_LT(stackPos(overlay->window()), stackPos(frameOf(note)));
  // Above the topmost ordinary window, still below the panel (openbox keeps notifications among
  // the ordinary windows).
  const xcb_window_t a = openWindow(100, 100, 400, 300, 9203);
  overlay->orderFront();
  settle();
  EXPECT_GT(stackPos(overlay->window()), stackPos(frameOf(a)));
  EXPECT_LT(stackPos(overlay->window()), stackPos(frameOf(panel)));
}

TEST_F(X11DesktopTest, AWindowThatVanishesBeforeTheRestackCausesNoErrorAndNoCrash) {
  const xcb_window_t focused = openWindow(100, 100, 400, 300, 9101);
  auto overlay = makeOverlay();
  overlay->orderBelow(frameOf(focused));
  settle();
  // An unmanaged window that the tree has seen, destroyed behind its back: the tree still lists
  // it when the restack goes out.
  const xcb_window_t doomed = client_->createUnmanagedWindow(10, 10, 50, 50);
  settle();
  ASSERT_TRUE(desktop_->tree().topLevel(doomed));
  const auto list = desktop_->windowList().onScreenWindows();
  ASSERT_TRUE(list);
  xcb_destroy_window(client_->xcb(), doomed);
  client_->sync();
  ASSERT_TRUE(desktop_->tree().topLevel(doomed)) << "the tree must not have heard of it yet";
  auto before = client_->stacking();
  std::erase(before, doomed);
  overlay->orderBelow(doomed);
  settle();
  EXPECT_FALSE(desktop_->tree().topLevel(doomed));
  EXPECT_EQ(client_->stacking(), before) << "the stacking stays as it was";
  EXPECT_EQ(conn_->unexpectedErrorCount(), 0u);
  EXPECT_FALSE(log_.contains("[X11]"));
  // Once the tree knows, the request is not even sent.
  const uint64_t sent = overlay->restackCount();
  overlay->orderBelow(doomed);
  EXPECT_EQ(overlay->restackCount(), sent);
}

TEST_F(X11DesktopTest, UnexpectedErrorsAreLoggedOnceAndDoNotStopTheConnection) {
  xcb_map_window(conn_->xcb(), 0x1fffff0);  // no such window, unchecked
  conn_->flush();
  EXPECT_TRUE(waitFor([&] { return conn_->unexpectedErrorCount() == 1; }));
  EXPECT_TRUE(log_.contains("[X11] unexpected error: X error 3 (BadWindow)"));
  // A checked request whose failure the caller wants to know.
  EXPECT_EQ(conn_->errorOf(xcb_map_window_checked(conn_->xcb(), 0x1fffff0)),
            std::optional<uint8_t>(XCB_WINDOW));
  EXPECT_FALSE(conn_->isConnectionLost());
  EXPECT_TRUE(desktop_->windowList().onScreenWindows());
}

TEST_F(X11DesktopTest, ScreensFollowRandrMonitors) {
  auto screens = desktop_->displays().screens();
  ASSERT_EQ(screens.size(), 1u);
  EXPECT_EQ(screens[0].frame, Rect(0, 0, 1280, 800));
  EXPECT_EQ(screens[0].backingScaleFactor, 1.0);
  ASSERT_TRUE(screens[0].displayID);
  int changes = 0;
  auto token = desktop_->displays().observeChanges([&] { ++changes; });

  ASSERT_EQ(
      server_->run({"xrandr", "--setmonitor", "dunelo-right", "640/100x400/100+640+0", "none"}), 0);
  EXPECT_TRUE(waitFor([&] { return desktop_->displays().screens().size() == 2; }));
  EXPECT_GE(changes, 1);
  screens = desktop_->displays().screens();
  ASSERT_EQ(screens.size(), 2u);
  EXPECT_EQ(screens[1].frame, Rect(640, 400, 640, 400)) << "top half of the right side";
  ASSERT_TRUE(screens[1].displayID);
  EXPECT_NE(screens[1].displayID, screens[0].displayID);

  const int before = changes;
  ASSERT_EQ(server_->run({"xrandr", "--delmonitor", "dunelo-right"}), 0);
  EXPECT_TRUE(waitFor([&] { return desktop_->displays().screens().size() == 1; }));
  EXPECT_GT(changes, before);
  EXPECT_EQ(desktop_->displays().screens()[0].frame, Rect(0, 0, 1280, 800));
}

TEST_F(X11DesktopTest, ScreensAndOverlaysFollowTheScaleOfXftDpi) {
  auto setResources = [&](const std::string& resources) {
    xcb_change_property(client_->xcb(), XCB_PROP_MODE_REPLACE, client_->root(),
                        XCB_ATOM_RESOURCE_MANAGER, XCB_ATOM_STRING, 8,
                        static_cast<uint32_t>(resources.size()), resources.data());
    settle();
  };
  auto overlay = makeOverlay();
  overlay->orderFront();
  setResources("Xft.antialias:\t1\nXft.dpi:\t192\n");
  const ScreenInfo screen = desktop_->displays().screens().front();
  EXPECT_EQ(screen.backingScaleFactor, 2.0);
  EXPECT_EQ(screen.frame, Rect(0, 0, 640, 400)) << "in points";
  // The overlay is fitted to the changed screen, as the engine does on every screen change.
  overlay->setFrame(screen.frame);
  settle();
  ASSERT_FALSE(painterLog_->states.empty());
  EXPECT_EQ(painterLog_->states.back().backingScale, 2.0);
  EXPECT_EQ(painterLog_->states.back().frame.width, 1280) << "in device pixels";
  setResources("");
  EXPECT_EQ(desktop_->displays().screens().front().backingScaleFactor, 1.0);
}

TEST_F(X11DesktopTest, AlphaFadesAlongTheCurveAtUpToSixtyFramesASecond) {
  const xcb_window_t focused = openWindow(100, 100, 400, 300, 9201);
  auto overlay = makeOverlay();
  overlay->setAlpha(0, Animation::none());
  overlay->orderBelow(frameOf(focused));
  settle();
  painterLog_->states.clear();
  overlay->setAlpha(0.8, Animation::fade());
  loop_.runFor(0.45);
  const auto& states = painterLog_->states;
  ASSERT_FALSE(states.empty());
  EXPECT_DOUBLE_EQ(states.back().alpha, 0.8);
  EXPECT_LE(states.size(), 0.45 * 60 + 3) << "frames are paced, not painted in a busy loop";
  EXPECT_GE(states.size(), 4u);
  for (size_t i = 1; i < states.size(); ++i) EXPECT_GE(states[i].alpha, states[i - 1].alpha);
  // The fade ends: no painting without a change.
  const size_t painted = states.size();
  loop_.runFor(0.1);
  EXPECT_EQ(painterLog_->states.size(), painted);
  // Immediate changes reach the painter in one paint.
  overlay->setGrayscaleOpacity(1);
  overlay->setGrainOpacity(0.5);
  loop_.runFor(0.02);
  ASSERT_EQ(painterLog_->states.size(), painted + 1);
  EXPECT_EQ(painterLog_->states.back().grayscaleOpacity, 1);
  EXPECT_EQ(painterLog_->states.back().grainOpacity, 0.5);
}

// The pixels at (x, y) of a drawable, 4x4, as 0xAARRGGBB (alpha only for depth-32 drawables).
std::vector<uint32_t> pixels4x4(xcb_connection_t* c, xcb_drawable_t d, int16_t x, int16_t y) {
  xcb_get_image_reply_t* image = xcb_get_image_reply(
      c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, d, x, y, 4, 4, ~0u), nullptr);
  std::vector<uint32_t> out;
  if (!image) return out;
  const auto* data = reinterpret_cast<const uint32_t*>(xcb_get_image_data(image));
  out.assign(data, data + std::min(16, xcb_get_image_data_length(image) / 4));
  free(image);
  return out;
}

TEST_F(X11DesktopTest, PlaceholderVeilIsDrawnWithAndWithoutACompositor) {
  const xcb_window_t focused = openWindow(700, 100, 300, 200, 9301);
  for (bool compositor : {false, true}) {
    SCOPED_TRACE(compositor ? "with a compositor" : "without a compositor");
    // A fresh desktop with the real placeholder painter; a compositor is recognised by its
    // selection.
    const xcb_window_t owner = xcb_generate_id(client_->xcb());
    xcb_create_window(client_->xcb(), XCB_COPY_FROM_PARENT, owner, client_->root(), 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(client_->xcb(), compositor ? owner : XCB_NONE,
                            client_->atom("_NET_WM_CM_S0"), XCB_CURRENT_TIME);
    settle();
    auto conn = X11Connection::open(server_->display().c_str());
    ASSERT_TRUE(conn);
    X11Desktop desktop(*conn, loop_);
    auto attached = attachToEventLoop(*conn, loop_);
    auto surface = desktop.overlaySurfaces().createSurface(desktop.displays().screens().front());
    auto* overlay = static_cast<X11OverlaySurface*>(surface.get());
    overlay->setMaterial(BlurMaterial::deep);
    overlay->setAlpha(1.0, Animation::none());
    overlay->orderBelow(desktop.tree().client(focused)->frame);
    conn->flush();
    settle();
    loop_.runFor(0.05);
    conn->sync();
    EXPECT_EQ(conn->unexpectedErrorCount(), 0u);
    if (compositor) {
      // Premultiplied grey at 0.8 of full strength, in every pixel of the window.
      for (uint32_t p : pixels4x4(conn->xcb(), overlay->window(), 40, 40))
        EXPECT_EQ(p, 0xCC707076u);
    } else {
      // 13 of every 16 pixels carry the veil colour; the others show what lay beneath.
      const auto px = pixels4x4(conn->xcb(), client_->root(), 40, 40);
      ASSERT_EQ(px.size(), 16u);
      EXPECT_EQ(std::count_if(px.begin(), px.end(),
                              [](uint32_t p) { return (p & 0xffffff) == 0x8c8c94; }),
                13);
    }
    surface.reset();
    settle();
    xcb_destroy_window(client_->xcb(), owner);
  }
}

TEST_F(X11DesktopTest, ALostConnectionIsReportedOnceAndReadsFailSoftly) {
  int lost = 0;
  auto token = conn_->addConnectionLostHandler([&] { ++lost; });
  ASSERT_EQ(loop_.watchedFdCount(), 1u);
  shutdown(conn_->fd(), SHUT_RDWR);
  loop_.runFor(0.05);
  EXPECT_TRUE(conn_->isConnectionLost());
  EXPECT_EQ(lost, 1);
  EXPECT_EQ(loop_.watchedFdCount(), 0u) << "a dead socket must not keep waking the loop";
  EXPECT_FALSE(desktop_->windowList().onScreenWindows());
  EXPECT_FALSE(desktop_->accessibility().isProcessTrusted(false));
  auto overlay = makeOverlay();  // creating and ordering on a dead connection does nothing
  overlay->orderFront();
  overlay->orderBelow(1234);
  EXPECT_TRUE(log_.contains("[X11] connection to the X server lost"));
}

TEST(X11PermissionHelp, NamesEachMissingExtensionAndHowToEnableIt) {
  Extensions all;
  for (Extensions::Info* e : {&all.composite, &all.render, &all.damage, &all.xfixes, &all.res})
    *e = {.present = true, .major = 0, .minor = 11};
  EXPECT_EQ(extensionHelp(all), PermissionHelp{}) << "nothing missing, nothing to say";
  EXPECT_TRUE(hasCaptureExtensions(all));

  struct Case {
    const char* what;
    std::function<void(Extensions&)> remove;
    std::string text, command;
  };
  const std::string lacks = "The X server lacks ";
  const std::string enable =
      ", which the overlay draws with: enable them in its configuration (xorg.conf) and restart "
      "it.";
  const Case cases[] = {
      {"Composite", [](Extensions& x) { x.composite.present = false; },
       lacks + "Composite" + enable,
       "Section \"Extensions\"\n  Option \"Composite\" \"Enable\"\nEndSection"},
      {"RENDER too old: nothing to enable", [](Extensions& x) { x.render.minor = 10; },
       lacks + "RENDER 0.11 (it has 0.10), which the overlay draws with: update the X server.", ""},
      {"three at once",
       [](Extensions& x) { x.damage.present = x.xfixes.present = x.res.present = false; },
       lacks + "Damage, XFixes and X-Resource" + enable,
       "Section \"Extensions\"\n  Option \"DAMAGE\" \"Enable\"\n  Option \"XFIXES\" "
       "\"Enable\"\n  Option \"X-Resource\" \"Enable\"\nEndSection"},
      {"RENDER absent", [](Extensions& x) { x.render = {}; }, lacks + "RENDER" + enable,
       "Section \"Extensions\"\n  Option \"RENDER\" \"Enable\"\nEndSection"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Extensions x = all;
    c.remove(x);
    EXPECT_FALSE(hasCaptureExtensions(x));
    const PermissionHelp help = extensionHelp(x);
    EXPECT_EQ(help.text, c.text);
    EXPECT_EQ(help.command, c.command);
  }
  EXPECT_EQ(windowManagerHelp(true, "openbox").text,
            "The connection to the X server is lost: start Dunelo again.");
  EXPECT_EQ(windowManagerHelp(false, "").text.rfind("The window manager does not publish", 0), 0u);
}

// A server without a window manager: the test plays one, without frames.
class X11BareServerTest : public ::testing::Test {
 protected:
  XServer server_{false};
  std::unique_ptr<X11Connection> conn_ = X11Connection::open(server_.display().c_str());
  EventLoop loop_;
  X11Desktop desktop_{*conn_, loop_, std::make_unique<RecordingPainterFactory>()};
  CancellableBag attached_ = attachToEventLoop(*conn_, loop_);
  TestClient wm_{server_.display()};
};

// The root properties written in whatever order the test chooses.
TEST_F(X11BareServerTest, ActivationOfAWindowListedOnlyAfterwardsIsStillAnnounced) {
  ASSERT_TRUE(server_.ok() && conn_);
  auto setWindows = [&](const char* property, std::vector<xcb_window_t> ids) {
    xcb_change_property(wm_.xcb(), XCB_PROP_MODE_REPLACE, wm_.root(), wm_.atom(property),
                        XCB_ATOM_WINDOW, 32, static_cast<uint32_t>(ids.size()), ids.data());
    wm_.flush();
  };
  const xcb_window_t w = wm_.createWindow(10, 20, 200, 100, 4242, "tool", "Tool");
  std::vector<RunningApplication> activations;
  auto token = desktop_.workspace().observeActivations(
      [&](const RunningApplication& app) { activations.push_back(app); });

  setWindows("_NET_ACTIVE_WINDOW", {w});
  EXPECT_TRUE(loop_.runUntil([&] { return desktop_.tree().activeWindow() == w; }, 3));
  EXPECT_TRUE(activations.empty()) << "not a known client yet";
  setWindows("_NET_CLIENT_LIST", {w});
  EXPECT_TRUE(loop_.runUntil([&] { return !activations.empty(); }, 3));
  ASSERT_EQ(activations.size(), 1u);
  EXPECT_EQ(activations[0].pid, 4242);
  EXPECT_EQ(activations[0].bundleID, "Tool");

  // Without frames the client is its own top-level, and the window list and the focused window
  // agree on it.
  EXPECT_EQ(desktop_.tree().client(w)->frame, w);
  EXPECT_EQ(desktop_.accessibility().windowPosition(w), (Point{10, 20}));
  auto list = desktop_.windowList().onScreenWindows();
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 1u);
  EXPECT_EQ(list->front().windowNumber, static_cast<WindowNumber>(w));
  EXPECT_EQ(list->front().ownerPID, 4242);
  // No window manager check window: nothing vouches for _NET_ACTIVE_WINDOW.
  EXPECT_FALSE(desktop_.accessibility().isProcessTrusted(false));
  EXPECT_FALSE(desktop_.accessibility().canReadFocusedApplication());

  // What the user is told: none runs; then one runs (it redirects the root) that names itself,
  // with a control character, but does not publish the active window.
  EXPECT_EQ(desktop_.accessibility().trustHelp().text.rfind("No window manager is running", 0), 0u);
  const uint32_t redirect = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT;
  xcb_change_window_attributes(wm_.xcb(), wm_.root(), XCB_CW_EVENT_MASK, &redirect);
  const xcb_window_t check = wm_.createUnmanagedWindow(0, 0, 1, 1);
  setWindows("_NET_SUPPORTING_WM_CHECK", {check});
  xcb_change_property(wm_.xcb(), XCB_PROP_MODE_REPLACE, check, wm_.atom("_NET_WM_NAME"),
                      wm_.atom("UTF8_STRING"), 8, 7, "tw\x01m 2");
  wm_.flush();
  const PermissionHelp help = desktop_.accessibility().trustHelp();
  EXPECT_EQ(help.text.rfind("The window manager twm 2 does not publish the active window", 0), 0u)
      << help.text;
  EXPECT_EQ(help.command, "openbox --replace &");
}

// A window manager played by the test: no frames, its own root properties, its own compositor
// selection, so that the overlay's stacking decisions can be watched one by one.
class X11FakeWindowManagerTest : public X11BareServerTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    ASSERT_TRUE(conn_);
    const xcb_window_t check = wm_.createUnmanagedWindow(-10, -10, 1, 1);
    xcb_change_property(wm_.xcb(), XCB_PROP_MODE_REPLACE, check,
                        wm_.atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 32, 1, &check);
    setRoot("_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
    setRoot("_NET_SUPPORTED", XCB_ATOM_ATOM, {wm_.atom("_NET_RESTACK_WINDOW")});
    cmOwner_ = check;
  }
  void setRoot(const char* property, xcb_atom_t type, std::vector<uint32_t> values) {
    xcb_change_property(wm_.xcb(), XCB_PROP_MODE_REPLACE, wm_.root(), wm_.atom(property), type, 32,
                        static_cast<uint32_t>(values.size()), values.data());
    wm_.sync();
    conn_->sync();
    loop_.runFor(0.05);
  }
  void ownCompositorSelection(TestClient& by, xcb_window_t owner) {
    xcb_set_selection_owner(by.xcb(), owner, by.atom("_NET_WM_CM_S0"), XCB_CURRENT_TIME);
    by.sync();
  }
  // An ordinary client that is its own top-level; override-redirect like i3's frames, or not.
  xcb_window_t openClient(bool overrideRedirect) {
    const xcb_window_t w = overrideRedirect ? wm_.createUnmanagedWindow(0, 0, 300, 200)
                                            : wm_.createWindow(0, 0, 300, 200, 77, "app", "App");
    clients_.push_back(w);
    setRoot("_NET_CLIENT_LIST", XCB_ATOM_WINDOW, clients_);
    EXPECT_TRUE(loop_.runUntil([&] { return desktop_.tree().client(w) != nullptr; }, 3));
    return w;
  }
  long stackPos(xcb_window_t w) { return x11::stackPos(wm_.stacking(), w); }
  void settle() {
    conn_->sync();
    wm_.sync();
    loop_.runFor(0.05);
  }

  xcb_window_t cmOwner_ = XCB_NONE;
  std::vector<uint32_t> clients_;
};

TEST_F(X11FakeWindowManagerTest, OverlaysAreManagedWindowsOnlyUnderACompositingManager) {
  auto surface = desktop_.overlaySurfaces().createSurface(desktop_.displays().screens().front());
  auto& overlay = static_cast<X11OverlaySurface&>(*surface);
  EXPECT_FALSE(overlay.isManaged()) << "no compositor";

  // A compositor of another program (picom) paints in the server's order: still unmanaged.
  TestClient picom(server_.display());
  const xcb_window_t picomWindow = picom.createUnmanagedWindow(-10, -10, 1, 1);
  ownCompositorSelection(picom, picomWindow);
  overlay.orderFront();
  settle();
  EXPECT_FALSE(overlay.isManaged());
  overlay.orderOut();

  // The window manager starts compositing while the overlay is hidden: the next showing is a
  // new, managed window; it stops again: a new override-redirect one.
  ownCompositorSelection(wm_, cmOwner_);
  const xcb_window_t before = overlay.window();
  overlay.orderFront();
  settle();
  EXPECT_TRUE(overlay.isManaged());
  EXPECT_NE(overlay.window(), before);
  overlay.orderOut();
  ownCompositorSelection(wm_, XCB_NONE);
  overlay.orderFront();
  settle();
  EXPECT_FALSE(overlay.isManaged());
  auto* attrs = xcb_get_window_attributes_reply(
      wm_.xcb(), xcb_get_window_attributes(wm_.xcb(), overlay.window()), nullptr);
  ASSERT_TRUE(attrs);
  EXPECT_TRUE(attrs->override_redirect);
  free(attrs);

  // A manager that composites but takes no restack requests (xfwm4) gets the unmanaged one.
  overlay.orderOut();
  ownCompositorSelection(wm_, cmOwner_);
  setRoot("_NET_SUPPORTED", XCB_ATOM_ATOM, {});
  overlay.orderFront();
  settle();
  EXPECT_FALSE(overlay.isManaged());
  EXPECT_EQ(conn_->unexpectedErrorCount(), 0u);
}

TEST_F(X11FakeWindowManagerTest, FocusedOverrideRedirectFrameIsRaisedAboveTheOthersOnlyThen) {
  // Tiles that never overlap, stacked in the order they were opened, focus on the lowest (i3):
  // the focused one is raised above the others and the overlay goes directly below it.
  const xcb_window_t low = openClient(true);
  const xcb_window_t high = openClient(true);
  auto surface = desktop_.overlaySurfaces().createSurface(desktop_.displays().screens().front());
  auto& overlay = static_cast<X11OverlaySurface&>(*surface);
  overlay.orderBelow(low);
  settle();
  EXPECT_EQ(stackPos(overlay.window()) + 1, stackPos(low));
  EXPECT_LT(stackPos(high), stackPos(overlay.window()));
  // In place now: another pass restacks nothing.
  const uint64_t sent = overlay.restackCount();
  overlay.orderBelow(low);
  EXPECT_EQ(overlay.restackCount(), sent);

  // A frame its manager stacks (not override-redirect) stays where the manager keeps it, even
  // below another window (focus follows the mouse without raising).
  const xcb_window_t stacked = openClient(false);
  const xcb_window_t above = openClient(false);
  overlay.orderBelow(stacked);
  settle();
  EXPECT_EQ(stackPos(overlay.window()) + 1, stackPos(stacked));
  EXPECT_GT(stackPos(above), stackPos(stacked));
  overlay.orderBelow(high);
  settle();
  EXPECT_EQ(stackPos(overlay.window()) + 1, stackPos(high));
  EXPECT_GT(stackPos(high), stackPos(above));
  EXPECT_EQ(conn_->unexpectedErrorCount(), 0u);
}

}  // namespace
}  // namespace dunelo::x11
