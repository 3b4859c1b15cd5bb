// The overlay renderer on a real X server: what the screen shows with the overlay up, compared
// with the same desktop without it.
#include <gtest/gtest.h>
#include <xcb/shape.h>

#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "overlay/grain_image.h"
#include "platform/x11/render/private_display_test.h"
#include "platform/x11/render/xsettings_blob.h"
#include "platform/x11/x11_desktop.h"

namespace dunelo::x11::testing {
namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kBackgroundWidth = 630;
// A solid root background like `xsetroot -solid` sets (no background pixmap property).
constexpr uint32_t kRootColor = 0x35618f;

void setRootBackground(const std::string& display, uint32_t color) {
  xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  xcb_change_window_attributes(c, root, XCB_CW_BACK_PIXEL, &color);
  xcb_clear_area(c, 0, root, 0, 0, 0, 0);
  free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  xcb_disconnect(c);
}
constexpr int kBackgroundHeight = 450;

// Fine, saturated detail: a two-pixel checkerboard of red and blue, like small coloured text.
uint32_t checker(int x, int y) {
  return ((x / 2 + y / 2) % 2) ? 0xe03030 : 0x2040e0;
}
// The focused window: green and white stripes.
uint32_t stripes(int x, int y) {
  return ((x + y / 3) % 6 < 3) ? 0x20b040 : 0xf0f0f0;
}

// A settings daemon: owns the XSETTINGS selection of screen 0 with a window that carries the
// settings. Leaving lets the selection go with the connection.
class FakeSettingsDaemon {
 public:
  explicit FakeSettingsDaemon(const std::string& display)
      : c_(xcb_connect(display.c_str(), nullptr)) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    window_ = xcb_generate_id(c_);
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, screen->root, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    settings_ = intern("_XSETTINGS_SETTINGS");
    xcb_set_selection_owner(c_, window_, intern("_XSETTINGS_S0"), XCB_CURRENT_TIME);
  }
  ~FakeSettingsDaemon() { xcb_disconnect(c_); }
  void publish(const std::vector<uint8_t>& blob) {
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, settings_, settings_, 8,
                        static_cast<uint32_t>(blob.size()), blob.data());
    free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
  }

 private:
  xcb_atom_t intern(const std::string& name) {
    auto reply = replyOf(c_, xcb_intern_atom_reply,
                         xcb_intern_atom(c_, 0, static_cast<uint16_t>(name.size()), name.c_str()));
    return reply ? reply->atom : XCB_NONE;
  }
  xcb_connection_t* c_;
  xcb_window_t window_ = XCB_NONE;
  xcb_atom_t settings_ = XCB_NONE;
};

class BlurPainterTest : public PrivateDisplayTest<kWidth, kHeight> {
 protected:
  void prepareDisplay() override { setRootBackground(display_->name(), kRootColor); }
  void SetUp() override {
    PrivateDisplayTest::SetUp();
    if (unusable()) return;
    background_ = h_->createWindow(4, 24, kBackgroundWidth, kBackgroundHeight, checker);
    focused_ = h_->createWindow(220, 170, 200, 140, stripes);
    h_->raise(h_->frameOf(focused_));
    h_->settle();
    focusedArea_ = clientArea(focused_, 200, 140);
  }

  Box clientArea(xcb_window_t window, int width, int height) {
    auto* c = h_->connection().xcb();
    auto reply = replyOf(c, xcb_translate_coordinates_reply,
                         xcb_translate_coordinates(c, window, h_->connection().root(), 0, 0));
    return reply ? Box::ofSize(reply->dst_x, reply->dst_y, width, height) : Box{};
  }

  // Shows the overlay below the focused window with `state` and waits for its first frame.
  Image showWith(const OverlayVisualState& state) {
    h_->showOverlay(h_->frameOf(focused_));
    h_->paint(state);
    EXPECT_TRUE(h_->waitForFrames(1));
    h_->settle(0.05);
    return h_->capture(screen());
  }

  // A corner of the background far (more than the blur's reach) from the focused window.
  static Box farBackground() { return {8, 60, 130, 140}; }
  static Box bottomBand() { return {8, kHeight - 30, 130, kHeight - 4}; }
  static Box topBand() { return {8, 2, 130, 20}; }

  Box focusedArea_;
};

TEST_F(BlurPainterTest, FocusedWindowStaysSharpWhileTheBackdropLosesItsDetail) {
  const Image off = h_->capture(screen());
  const double before = highFrequencyEnergy(off, farBackground());
  ASSERT_GT(before, 20.0) << "the scene must have fine detail to lose";

  for (BlurMaterial material : {BlurMaterial::deep, BlurMaterial::ambient}) {
    SCOPED_TRACE(static_cast<int>(material));
    OverlayVisualState state = h_->defaultState();
    state.material = material;
    const Image on = showWith(state);
    EXPECT_TRUE(identical(off, on, focusedArea_));
    // A veil alone keeps about 60 % or more of the detail; the blur must remove nearly all.
    EXPECT_LT(highFrequencyEnergy(on, farBackground()), before * 0.05);
    std::printf("high-frequency energy %.2f -> %.2f\n", before,
                highFrequencyEnergy(on, farBackground()));
  }
}

TEST_F(BlurPainterTest, AlphaZeroShowsTheSceneExactly) {
  // A shaped window (a cross) below the overlay: only its shape may cover the background.
  const xcb_window_t shaped =
      h_->createPlainWindow(40, 300, 90, 90, [](int, int) { return 0xffd000u; });
  const xcb_rectangle_t cross[] = {{30, 0, 30, 90}, {0, 30, 90, 30}};
  xcb_shape_rectangles(h_->connection().xcb(), XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING,
                       XCB_CLIP_ORDERING_UNSORTED, shaped, 0, 0, 2, cross);
  h_->placeAbove(shaped, h_->frameOf(background_));
  h_->settle();
  const Image off = h_->capture(screen());
  ASSERT_EQ(off.at(kWidth - 2, kHeight / 2), kRootColor);  // the root shows at the right edge
  ASSERT_EQ(off.at(40 + 45, 300 + 45), 0xffd000u);         // the cross is there...
  ASSERT_NE(off.at(40 + 5, 300 + 5), 0xffd000u);           // ...with the background in its corners

  OverlayVisualState state = h_->defaultState();
  state.alpha = 0;
  const Image on = showWith(state);
  EXPECT_TRUE(identical(off, on, screen()));

  // Half way: a mix of the two, neither the scene nor the blur.
  state.alpha = 0.5;
  const Image half = repaint(state);
  EXPECT_TRUE(identical(off, half, focusedArea_));
  const double energy = highFrequencyEnergy(half, farBackground());
  EXPECT_GT(energy, highFrequencyEnergy(off, farBackground()) * 0.3);
  EXPECT_LT(energy, highFrequencyEnergy(off, farBackground()) * 0.7);
}

TEST_F(BlurPainterTest, EffectsChangeTheBackdropAsTheyShould) {
  const Image off = h_->capture(screen());
  const Image plain = showWith(h_->defaultState());

  {
    SCOPED_TRACE("grayscale at 1 removes all colour behind, the focused window keeps its own");
    OverlayVisualState state = h_->defaultState();
    state.grayscaleOpacity = 1;
    const Image grey = repaint(state);
    EXPECT_GT(maxChroma(plain, farBackground()), 40);
    EXPECT_LE(maxChroma(grey, farBackground()), 3);
    EXPECT_TRUE(identical(off, grey, focusedArea_));
  }
  {
    SCOPED_TRACE("a red tint colours the bottom band and leaves the top alone");
    OverlayVisualState state = h_->defaultState();
    state.tintColors = {Color::deviceRGB(1, 0, 0, 1), Color::deviceRGB(1, 0, 0, 0.4),
                        Color::deviceRGB(1, 0, 0, 0)};
    state.tintOpacity = 1;
    const Image tinted = repaint(state);
    const Rgb bottomBefore = meanColor(plain, bottomBand());
    const Rgb bottomAfter = meanColor(tinted, bottomBand());
    EXPECT_GT(bottomAfter.r - bottomBefore.r, 40);
    EXPECT_LT(bottomAfter.b, bottomBefore.b * 0.5);
    const Rgb topBefore = meanColor(plain, topBand());
    const Rgb topAfter = meanColor(tinted, topBand());
    EXPECT_NEAR(topAfter.r, topBefore.r, 12);
    EXPECT_NEAR(topAfter.b, topBefore.b, 12);
    EXPECT_TRUE(identical(off, tinted, focusedArea_));
  }
  {
    SCOPED_TRACE("grain at 0.5 adds pixel noise; grain at 0 adds none");
    OverlayVisualState state = h_->defaultState();
    state.grainImage = makeGrainImage(kWidth, kHeight);
    ASSERT_TRUE(state.grainImage);
    const double quiet = greenDeviation(repaint(state), farBackground());
    EXPECT_NEAR(quiet, greenDeviation(plain, farBackground()), 0.5);
    state.grainOpacity = 0.5;
    const Image grainy = repaint(state);
    EXPECT_GT(greenDeviation(grainy, farBackground()), quiet + 1);
    EXPECT_GT(highFrequencyEnergy(grainy, farBackground()),
              highFrequencyEnergy(plain, farBackground()) + 2);
    EXPECT_TRUE(identical(off, grainy, focusedArea_));

    // A fade re-mixes the kept grainy image with the scene and comes back to the same pixels.
    state.alpha = 0.5;
    EXPECT_FALSE(identical(grainy, repaint(state), farBackground()));
    state.alpha = 1;
    EXPECT_TRUE(identical(grainy, repaint(state), screen()));
  }
}

TEST_F(BlurPainterTest, RedrawsOnlyWhatChangedAndNothingWhenNothingDid) {
  showWith(h_->defaultState());
  const uint64_t frames = h_->stats().frames;
  h_->settle(0.3);
  EXPECT_EQ(h_->stats().frames, frames) << "nothing changed, nothing may be drawn";

  // A small change behind the overlay is redrawn, and only around itself.
  const Image before = h_->capture(screen());
  const uint64_t pixels = h_->stats().pixelsOut;
  h_->draw(background_, 60, 60, [](int, int) { return 0xffffffu; });
  ASSERT_TRUE(h_->waitForFrames(1));
  h_->settle(0.05);
  const Image after = h_->capture(screen());
  const uint64_t redrawn = h_->stats().pixelsOut - pixels;
  EXPECT_GT(redrawn, 0u);
  EXPECT_LT(redrawn, static_cast<uint64_t>(kWidth * kHeight) / 3);
  const Box changed = clientArea(background_, 60, 60);
  EXPECT_FALSE(identical(before, after, changed));
  EXPECT_TRUE(identical(before, after, {kWidth - 150, kHeight - 100, kWidth - 8, kHeight - 8}));

  // The partial redraw leaves exactly what a full redraw makes.
  OverlayVisualState state = h_->defaultState();
  state.frame.x = 1;  // moving the overlay recomposes everything...
  h_->paint(state);
  ASSERT_TRUE(h_->waitForFrames(1));
  h_->paint(h_->defaultState());  // ...and so does moving it back
  ASSERT_TRUE(h_->waitForFrames(1));
  h_->settle(0.05);
  EXPECT_TRUE(identical(after, h_->capture(screen()), screen()));

  // While the overlay is hidden, changes behind it cost nothing.
  h_->hideOverlay();
  h_->settle(0.05);
  const uint64_t hiddenFrames = h_->stats().frames;
  h_->draw(background_, 60, 60, [](int, int) { return 0x000000u; });
  h_->settle(0.2);
  EXPECT_EQ(h_->stats().frames, hiddenFrames);
}

TEST_F(BlurPainterTest, ChangesFarApartAreRedrawnEachAroundItself) {
  // Small windows below the overlay: two in opposite corners...
  std::vector<xcb_window_t> corners;
  for (const auto& [x, y] : {std::pair{30, 60}, std::pair{kWidth - 80, kHeight - 100}}) {
    corners.push_back(h_->createPlainWindow(x, y, 40, 40, [](int, int) { return 0x404040u; }));
    h_->placeAbove(corners.back(), h_->frameOf(background_));
  }
  // And two close enough that the blur mixes them: they must be redrawn as one.
  for (const auto& [x, y] : {std::pair{140, 300}, std::pair{230, 330}}) {
    corners.push_back(h_->createPlainWindow(x, y, 40, 40, [](int, int) { return 0x404040u; }));
    h_->placeAbove(corners.back(), h_->frameOf(background_));
  }
  showWith(h_->defaultState());
  const uint64_t pixels = h_->stats().pixelsOut;
  for (xcb_window_t w : corners) h_->draw(w, 40, 40, [](int, int) { return 0xffffffu; });
  ASSERT_TRUE(h_->waitForFrames(1));
  h_->settle(0.1);
  // One box around all would span nearly the whole screen.
  EXPECT_LT(h_->stats().pixelsOut - pixels, static_cast<uint64_t>(kWidth * kHeight) * 2 / 3);
  const Image pieces = h_->capture(screen());
  static_cast<BlurPainter&>(h_->painter()).redrawEverything();
  ASSERT_TRUE(h_->waitForFrames(1));
  EXPECT_TRUE(identical(pieces, h_->capture(screen()), screen()));
}

TEST_F(BlurPainterTest, WhatWindowsAboveHideCostsNothingUntilItShows) {
  // A window above the overlay (unmanaged, so that nothing else changes when it goes).
  const Box cover = Box::ofSize(20, 200, 180, 150);
  const xcb_window_t coverWindow = h_->createPlainWindow(
      cover.x0, cover.y0, cover.width(), cover.height(), [](int, int) { return 0x808080u; });
  OverlayVisualState state = h_->defaultState();
  state.material = BlurMaterial::ambient;  // a reach short enough to hide a square completely
  showWith(state);
  const RenderStats before = h_->stats();
  // A red square below the overlay, behind the cover and beyond the blur's reach of its edges.
  const Box square = Box::ofSize(cover.x0 + 70, cover.y0 + 55, 40, 40);
  const xcb_window_t squareWindow = h_->createPlainWindow(
      square.x0, square.y0, square.width(), square.height(), [](int, int) { return 0xff0000u; });
  h_->placeAbove(squareWindow, h_->frameOf(background_));
  h_->settle(0.2);
  EXPECT_EQ(h_->stats().frames, before.frames);
  EXPECT_EQ(h_->stats().blurredPixels, before.blurredPixels);

  // Uncovered, it shows blurred, exactly as a redraw of everything shows it.
  xcb_unmap_window(h_->connection().xcb(), coverWindow);
  h_->settle(0.3);
  const Image uncovered = h_->capture(screen());
  EXPECT_GT(meanColor(uncovered, square).r, meanColor(uncovered, farBackground()).r + 20);
  static_cast<BlurPainter&>(h_->painter()).redrawEverything();
  ASSERT_TRUE(h_->waitForFrames(1));
  EXPECT_TRUE(identical(uncovered, h_->capture(screen()), screen()));
}

TEST_F(BlurPainterTest, UnderACompositorTheWholeWindowIsStillDrawn) {
  OverlayVisualState ambient = h_->defaultState();
  ambient.material = BlurMaterial::ambient;
  const Rgb expected = meanColor(showWith(ambient), farBackground());
  h_->paint(h_->defaultState());
  ASSERT_TRUE(h_->waitForFrames(1));

  // A compositor draws the overlay itself, and the server then reports nothing of it as shown.
  const char* picom[] = {"picom", "--backend", "xrender", nullptr};
  if (display_->spawn(picom) <= 0) GTEST_SKIP() << "picom could not be started";
  auto* c = h_->connection().xcb();
  const xcb_atom_t selection = h_->connection().atom("_NET_WM_CM_S0");
  ASSERT_TRUE(h_->loop().runUntil(
      [&] {
        auto owner =
            replyOf(c, xcb_get_selection_owner_reply, xcb_get_selection_owner(c, selection));
        return owner && owner->owner != XCB_NONE;
      },
      5.0));
  h_->settle(0.5);
  h_->paint(ambient);
  ASSERT_TRUE(h_->waitForFrames(1));
  h_->settle(0.3);
  const Rgb seen = meanColor(h_->capture(screen()), farBackground());
  EXPECT_NEAR(seen.r, expected.r, 3);
  EXPECT_NEAR(seen.g, expected.g, 3);
  EXPECT_NEAR(seen.b, expected.b, 3);
}

TEST_F(BlurPainterTest, APainterForAWindowJustMadeOnAnotherConnectionDrawsIt) {
  // The window's creation is still in the main connection's buffer when the painter is made, and
  // the renderer's own requests reach the server first.
  X11Connection& main = h_->connection();
  const xcb_window_t window = xcb_generate_id(main.xcb());
  const OverlayWindowFormat format = h_->factory().windowFormat(main);
  const uint32_t values[] = {XCB_BACK_PIXMAP_NONE, 1};
  xcb_create_window(main.xcb(), format.depth, window, main.root(), 0, 0, kWidth, kHeight, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, format.visual,
                    XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT, values);
  auto painter = h_->factory().createPainter(main, window, format);
  h_->factory().context()->connection().sync();
  const Image off = h_->capture(screen());

  const uint32_t below[] = {h_->frameOf(focused_), XCB_STACK_MODE_BELOW};
  xcb_map_window(main.xcb(), window);
  xcb_configure_window(main.xcb(), window, XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE,
                       below);
  painter->paint(h_->defaultState());
  ASSERT_TRUE(h_->waitForFrames(1));
  h_->settle(0.1);
  EXPECT_LT(highFrequencyEnergy(h_->capture(screen()), farBackground()),
            highFrequencyEnergy(off, farBackground()) * 0.05);
  EXPECT_EQ(h_->factory().context()->connection().unexpectedErrorCount(), 0u);
  painter.reset();
  xcb_destroy_window(main.xcb(), window);
}

TEST_F(BlurPainterTest, TheBlurReachesAsFarInPointsOnAHiDPIScreen) {
  // A white block below the overlay, and a band of the background beside it that its glow
  // reaches at two pixels per point and barely at one.
  const Box block = Box::ofSize(8, 40, 100, 260);
  const xcb_window_t white = h_->createPlainWindow(
      block.x0, block.y0, block.width(), block.height(), [](int, int) { return 0xffffffu; });
  h_->placeAbove(white, h_->frameOf(background_));
  const Box band = Box::ofSize(block.x1 + 30, block.y0 + 60, 20, 100);
  auto brightness = [&](double scale) {
    OverlayVisualState state = h_->defaultState();
    state.backingScale = scale;
    const Rgb mean = meanColor(showWith(state), band);
    return (mean.r + mean.g + mean.b) / 3;
  };
  const double atOne = brightness(1);
  const double atTwo = brightness(2);
  std::printf("brightness beside the block %.1f at 1x, %.1f at 2x\n", atOne, atTwo);
  EXPECT_GT(atTwo, atOne + 8);
}

TEST_F(BlurPainterTest, TheVeilFollowsTheDesktopThemeLive) {
  // After the next frame (and a compositor's redraw, when an earlier test left one running).
  auto lightness = [&] {
    EXPECT_TRUE(h_->waitForFrames(1));
    h_->settle(0.05);
    const Rgb mean = meanColor(h_->capture(screen()), farBackground());
    return (mean.r + mean.g + mean.b) / 3;
  };
  showWith(h_->defaultState());
  const Rgb plain = meanColor(h_->capture(screen()), farBackground());
  const double withoutDaemon = (plain.r + plain.g + plain.b) / 3;
  const uint64_t frames = h_->stats().frames;
  {
    FakeSettingsDaemon daemon(display_->name());
    daemon.publish(XSettingsBlob(false).addString("Net/ThemeName", "Adwaita").bytes());
    h_->settle(0.2);
    EXPECT_EQ(h_->stats().frames, frames) << "a light theme looks as no preference does";

    // The user switches to a dark theme: the smoky veil replaces the frosted one.
    daemon.publish(XSettingsBlob(false).addString("Net/ThemeName", "Adwaita-dark").bytes());
    EXPECT_LT(lightness(), withoutDaemon - 40);
  }
  // The daemon is gone: no preference, the light look again.
  EXPECT_NEAR(lightness(), withoutDaemon, 1);
  // A new daemon that prefers dark takes over.
  FakeSettingsDaemon next(display_->name());
  next.publish(XSettingsBlob(true).addInt("Gtk/ApplicationPreferDarkTheme", 1).bytes());
  EXPECT_LT(lightness(), withoutDaemon - 40);
}

TEST_F(BlurPainterTest, AMapSeenBeforeTheFirstPaintStillDraws) {
  // As at start: the renderer hears of the overlay's map before it is given anything to draw.
  const Image off = h_->capture(screen());
  h_->showOverlay(h_->frameOf(focused_));
  h_->settle();
  h_->paint(h_->defaultState());
  ASSERT_TRUE(h_->waitForFrames(1));
  h_->settle(0.05);
  EXPECT_LT(highFrequencyEnergy(h_->capture(screen()), farBackground()),
            highFrequencyEnergy(off, farBackground()) * 0.05);
}

TEST_F(BlurPainterTest, WindowsThatComeAndGoBelowTheOverlayCauseNoErrors) {
  showWith(h_->defaultState());
  std::vector<xcb_window_t> windows;
  for (int round = 0; round < 20; ++round) {
    for (int i = 0; i < 10; ++i) {
      windows.push_back(h_->createPlainWindow(
          10 + 20 * i, 10 + 10 * round, 50, 40, [](int x, int) { return x % 2 ? 0xffffffu : 0u; },
          false));
      h_->placeAbove(windows.back(), h_->frameOf(background_));
    }
    OverlayVisualState state = h_->defaultState();
    state.alpha = 0.5 + round / 40.0;  // a fade in progress
    h_->paint(state);
    h_->loop().runFor(0.005);
    for (xcb_window_t w : windows) xcb_destroy_window(h_->connection().xcb(), w);
    windows.clear();
    h_->connection().flush();
  }
  h_->settle(0.2);
  EXPECT_EQ(h_->factory().context()->connection().unexpectedErrorCount(), 0u);
  EXPECT_EQ(h_->connection().unexpectedErrorCount(), 0u);
}

// The painter behind the backend's overlay surfaces: the surface's own stacking, fades and
// effect setters drive what the screen shows.
TEST_F(BlurPainterTest, OverlaySurfacesOfTheDesktopBlurThroughThePainter) {
  X11Desktop desktop(h_->connection(), h_->loop(),
                     std::make_unique<BlurPainterFactory>(h_->loop(), display_->name()));
  CancellableBag attached = attachToEventLoop(h_->connection(), h_->loop());
  const Image off = h_->capture(screen());

  auto surface = desktop.overlaySurfaces().createSurface(desktop.displays().screens().front());
  surface->setAlpha(0, Animation::none());
  surface->orderFront();
  surface->orderBelow(h_->frameOf(focused_));
  surface->setAlpha(1, Animation::fade());
  h_->settle(0.6);  // the fade and its last frame
  const Image on = h_->capture(screen());
  EXPECT_TRUE(identical(off, on, focusedArea_));
  EXPECT_LT(highFrequencyEnergy(on, farBackground()),
            highFrequencyEnergy(off, farBackground()) * 0.05);
  EXPECT_GT(maxChroma(on, farBackground()), 40);

  surface->setGrayscaleOpacity(1);
  h_->settle(0.2);
  EXPECT_LE(maxChroma(h_->capture(screen()), farBackground()), 3);

  surface->orderOut();
  h_->settle(0.2);
  EXPECT_TRUE(identical(off, h_->capture(screen()), screen()));
  surface.reset();
  h_->settle(0.05);
  EXPECT_EQ(h_->connection().unexpectedErrorCount(), 0u);
}

}  // namespace
}  // namespace dunelo::x11::testing
