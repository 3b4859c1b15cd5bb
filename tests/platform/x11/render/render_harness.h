// A desktop for exercising the overlay renderer: a private display with openbox, the backend's
// main connection and event loop, ordinary windows drawn by the test, and one overlay window
// (created the way the backend creates it) painted by a `BlurPainter`.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/x11/event_loop.h"
#include "platform/x11/overlay_painter.h"
#include "platform/x11/render/box.h"
#include "platform/x11/render/render_painter.h"
#include "platform/x11/x11_connection.h"

namespace dunelo::x11::testing {

// 0x00RRGGBB for every pixel of a window.
using PixelFn = std::function<uint32_t(int x, int y)>;

struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // 0x00RRGGBB, rows top to bottom
  uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

class RenderHarness {
 public:
  explicit RenderHarness(const std::string& display);
  ~RenderHarness();

  bool ok() const { return conn_ && factory_->canBlur(); }
  int screenWidth() const;
  int screenHeight() const;
  EventLoop& loop() { return loop_; }
  X11Connection& connection() { return *conn_; }
  BlurPainterFactory& factory() { return *factory_; }
  const RenderStats& stats() { return *factory_->stats(); }

  // A managed, decorated top-level window showing `pixel`; returns the client window once the
  // window manager has mapped its frame.
  xcb_window_t createWindow(int x, int y, int width, int height, const PixelFn& pixel);
  // An unmanaged window (override-redirect), mapped at once, on top of the stack.
  xcb_window_t createPlainWindow(int x, int y, int width, int height, const PixelFn& pixel,
                                 bool settle = true);
  void draw(xcb_window_t window, int width, int height, const PixelFn& pixel);
  // The top-level ancestor of `window` (its frame under openbox).
  xcb_window_t frameOf(xcb_window_t window);
  void raise(xcb_window_t window);
  // Restacks `window` (an unmanaged one) directly above `sibling`.
  void placeAbove(xcb_window_t window, xcb_window_t sibling);

  // The default look: full screen, alpha 1, deep, every effect off.
  OverlayVisualState defaultState() const;
  // Maps the overlay directly below `above` (a frame), or on top when none.
  void showOverlay(xcb_window_t above = XCB_NONE);
  void hideOverlay();
  void paint(const OverlayVisualState& state);
  // The painter of the overlay (a `BlurPainter` when `ok()`).
  OverlayPainter& painter() { return *painter_; }
  // Runs the loop until the renderer has drawn `count` more frames and the server has finished
  // them; false on timeout.
  bool waitForFrames(uint64_t count, double timeout = 5.0);
  // Runs the loop for `seconds`, then waits until the server has done all requests.
  void settle(double seconds = 0.1);

  Image capture(const Box& rootArea);
  xcb_window_t overlay() const { return overlay_; }

 private:
  void syncAll();

  EventLoop loop_;
  std::unique_ptr<X11Connection> conn_;
  std::unique_ptr<BlurPainterFactory> factory_;
  xcb_window_t overlay_ = XCB_NONE;
  std::unique_ptr<OverlayPainter> painter_;
  xcb_gcontext_t gc_ = XCB_NONE;
  CancellableBag cancellables;
};

// What the screen shows inside `area` of the root window (also saved as a PPM into
// $DUNELO_RENDER_CAPTURES when that is set).
Image captureRoot(xcb_connection_t* c, xcb_window_t root, const Box& area);

// Measures of an image area.
// Mean absolute difference of horizontally and vertically neighbouring pixels, over the channels.
double highFrequencyEnergy(const Image& image, const Box& area);
// Largest per-pixel (max channel - min channel), 0..255.
int maxChroma(const Image& image, const Box& area);
// Mean of each channel.
struct Rgb {
  double r = 0, g = 0, b = 0;
};
Rgb meanColor(const Image& image, const Box& area);
// Standard deviation of the green channel.
double greenDeviation(const Image& image, const Box& area);
// Whether the two images agree inside `area`.
bool identical(const Image& a, const Image& b, const Box& area);

}  // namespace dunelo::x11::testing
