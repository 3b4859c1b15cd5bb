#include "platform/x11/render/render_harness.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace dunelo::x11::testing {

RenderHarness::RenderHarness(const std::string& display) {
  conn_ = X11Connection::open(display.c_str());
  factory_ = std::make_unique<BlurPainterFactory>(loop_, display);
  if (!conn_) return;
  X11Connection* c = conn_.get();
  cancellables = attachToEventLoop(*c, loop_);
  if (!factory_->canBlur()) return;

  const OverlayWindowFormat format = factory_->windowFormat(*conn_);
  overlay_ = xcb_generate_id(c->xcb());
  const uint32_t values[] = {XCB_BACK_PIXMAP_NONE, 1};
  xcb_create_window(c->xcb(), format.depth, overlay_, c->root(), 0, 0,
                    static_cast<uint16_t>(screenWidth()), static_cast<uint16_t>(screenHeight()), 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, format.visual,
                    XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT, values);
  painter_ = factory_->createPainter(*conn_, overlay_, format);
  gc_ = xcb_generate_id(c->xcb());
  xcb_create_gc(c->xcb(), gc_, c->root(), 0, nullptr);
  c->flush();
}

RenderHarness::~RenderHarness() {
  painter_.reset();
  if (conn_ && overlay_) xcb_destroy_window(conn_->xcb(), overlay_);
  if (conn_) conn_->flush();
  cancellables.clear();
  factory_.reset();
}

int RenderHarness::screenWidth() const {
  return conn_->screen()->width_in_pixels;
}
int RenderHarness::screenHeight() const {
  return conn_->screen()->height_in_pixels;
}

void RenderHarness::draw(xcb_window_t window, int width, int height, const PixelFn& pixel) {
  xcb_connection_t* c = conn_->xcb();
  std::vector<uint32_t> row(static_cast<size_t>(width));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) row[static_cast<size_t>(x)] = pixel(x, y);
    xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, gc_, static_cast<uint16_t>(width), 1, 0,
                  static_cast<int16_t>(y), 0, 24, static_cast<uint32_t>(width * 4),
                  reinterpret_cast<const uint8_t*>(row.data()));
  }
  conn_->flush();
}

namespace {

xcb_window_t makeWindow(X11Connection& conn, int x, int y, int width, int height,
                        bool overrideRedirect) {
  xcb_connection_t* c = conn.xcb();
  const xcb_window_t w = xcb_generate_id(c);
  const uint32_t values[] = {conn.screen()->black_pixel, overrideRedirect ? 1u : 0u};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, w, conn.root(), static_cast<int16_t>(x),
                    static_cast<int16_t>(y), static_cast<uint16_t>(width),
                    static_cast<uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
  return w;
}

}  // namespace

xcb_window_t RenderHarness::createWindow(int x, int y, int width, int height,
                                         const PixelFn& pixel) {
  xcb_window_t w = makeWindow(*conn_, x, y, width, height, false);
  // WM_NORMAL_HINTS: user-specified position and size, so that the window manager keeps both.
  uint32_t hints[18] = {1 | 2 | 4 | 8, static_cast<uint32_t>(x), static_cast<uint32_t>(y),
                        static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
  xcb_change_property(conn_->xcb(), XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NORMAL_HINTS,
                      XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
  xcb_map_window(conn_->xcb(), w);
  conn_->flush();
  auto managed = [&] {
    auto attrs = replyOf(conn_->xcb(), xcb_get_window_attributes_reply,
                         xcb_get_window_attributes(conn_->xcb(), w));
    return attrs && attrs->map_state == XCB_MAP_STATE_VIEWABLE && frameOf(w) != w;
  };
  // A window manager that has only just started may drop the first map request: ask again.
  for (int attempt = 0; attempt < 5 && !loop_.runUntil(managed, 1.0); ++attempt) {
    xcb_map_window(conn_->xcb(), w);
    conn_->flush();
  }
  // The window manager may still configure the window (which clears it): draw again after that.
  settle(0.05);
  draw(w, width, height, pixel);
  settle(0.1);
  draw(w, width, height, pixel);
  settle(0.05);
  return w;
}

xcb_window_t RenderHarness::createPlainWindow(int x, int y, int width, int height,
                                              const PixelFn& pixel, bool wait) {
  xcb_window_t w = makeWindow(*conn_, x, y, width, height, true);
  xcb_map_window(conn_->xcb(), w);
  draw(w, width, height, pixel);
  if (wait) settle(0.02);
  return w;
}

xcb_window_t RenderHarness::frameOf(xcb_window_t window) {
  xcb_window_t current = window;
  for (int depth = 0; depth < 16; ++depth) {
    auto tree = replyOf(conn_->xcb(), xcb_query_tree_reply, xcb_query_tree(conn_->xcb(), current));
    if (!tree || tree->parent == tree->root || tree->parent == XCB_NONE) return current;
    current = tree->parent;
  }
  return current;
}

void RenderHarness::raise(xcb_window_t window) {
  const uint32_t mode = XCB_STACK_MODE_ABOVE;
  xcb_configure_window(conn_->xcb(), window, XCB_CONFIG_WINDOW_STACK_MODE, &mode);
  conn_->flush();
}

void RenderHarness::placeAbove(xcb_window_t window, xcb_window_t sibling) {
  const uint32_t values[] = {sibling, XCB_STACK_MODE_ABOVE};
  xcb_configure_window(conn_->xcb(), window,
                       XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, values);
  conn_->flush();
}

OverlayVisualState RenderHarness::defaultState() const {
  OverlayVisualState s;
  s.alpha = 1.0;
  s.material = BlurMaterial::deep;
  s.tintGeometry = GradientGeometry{{0.5, 0.0}, {0.5, 1.0}, {0.0, 0.4, 1.0}};
  s.frame = xcb_rectangle_t{0, 0, static_cast<uint16_t>(screenWidth()),
                            static_cast<uint16_t>(screenHeight())};
  return s;
}

void RenderHarness::showOverlay(xcb_window_t above) {
  xcb_map_window(conn_->xcb(), overlay_);
  if (above != XCB_NONE) {
    const uint32_t values[] = {above, XCB_STACK_MODE_BELOW};
    xcb_configure_window(conn_->xcb(), overlay_,
                         XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, values);
  }
  conn_->flush();
}

void RenderHarness::hideOverlay() {
  xcb_unmap_window(conn_->xcb(), overlay_);
  conn_->flush();
}

void RenderHarness::paint(const OverlayVisualState& state) {
  painter_->paint(state);
}

void RenderHarness::syncAll() {
  conn_->sync();
  if (RenderContext* context = factory_->context()) context->connection().sync();
  conn_->sync();
}

bool RenderHarness::waitForFrames(uint64_t count, double timeout) {
  const uint64_t target = stats().frames + count;
  const bool done = loop_.runUntil([&] { return stats().frames >= target; }, timeout);
  syncAll();
  return done;
}

void RenderHarness::settle(double seconds) {
  loop_.runFor(seconds);
  syncAll();
  loop_.runFor(0.01);
  syncAll();
}

Image RenderHarness::capture(const Box& area) {
  syncAll();
  return captureRoot(conn_->xcb(), conn_->root(), area);
}

Image captureRoot(xcb_connection_t* c, xcb_window_t root, const Box& area) {
  Image image;
  auto reply =
      replyOf(c, xcb_get_image_reply,
              xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, static_cast<int16_t>(area.x0),
                            static_cast<int16_t>(area.y0), static_cast<uint16_t>(area.width()),
                            static_cast<uint16_t>(area.height()), ~0u));
  if (!reply) return image;
  image.width = area.width();
  image.height = area.height();
  const auto* data = reinterpret_cast<const uint32_t*>(xcb_get_image_data(reply.get()));
  image.pixels.assign(data, data + static_cast<size_t>(image.width) * image.height);
  for (uint32_t& p : image.pixels) p &= 0xffffff;
  if (const char* dir = std::getenv("DUNELO_RENDER_CAPTURES")) {
    static int n = 0;
    const std::string path = std::string(dir) + "/capture-" + std::to_string(n++) + ".ppm";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
      std::fprintf(f, "P6 %d %d 255\n", image.width, image.height);
      for (uint32_t p : image.pixels) {
        const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16),
                                      static_cast<unsigned char>(p >> 8),
                                      static_cast<unsigned char>(p)};
        std::fwrite(rgb, 1, 3, f);
      }
      std::fclose(f);
    }
  }
  return image;
}

namespace {
int ch(uint32_t p, int i) {
  return static_cast<int>((p >> (16 - 8 * i)) & 0xff);
}
}  // namespace

double highFrequencyEnergy(const Image& image, const Box& area) {
  double sum = 0;
  long n = 0;
  for (int y = area.y0; y + 1 < area.y1; ++y) {
    for (int x = area.x0; x + 1 < area.x1; ++x) {
      const uint32_t p = image.at(x, y);
      const uint32_t right = image.at(x + 1, y);
      const uint32_t down = image.at(x, y + 1);
      for (int i = 0; i < 3; ++i) {
        sum += std::abs(ch(p, i) - ch(right, i)) + std::abs(ch(p, i) - ch(down, i));
      }
      ++n;
    }
  }
  return n ? sum / (6.0 * n) : 0;
}

int maxChroma(const Image& image, const Box& area) {
  int worst = 0;
  for (int y = area.y0; y < area.y1; ++y) {
    for (int x = area.x0; x < area.x1; ++x) {
      const uint32_t p = image.at(x, y);
      const int hi = std::max({ch(p, 0), ch(p, 1), ch(p, 2)});
      const int lo = std::min({ch(p, 0), ch(p, 1), ch(p, 2)});
      worst = std::max(worst, hi - lo);
    }
  }
  return worst;
}

Rgb meanColor(const Image& image, const Box& area) {
  Rgb m;
  long n = 0;
  for (int y = area.y0; y < area.y1; ++y) {
    for (int x = area.x0; x < area.x1; ++x) {
      const uint32_t p = image.at(x, y);
      m.r += ch(p, 0);
      m.g += ch(p, 1);
      m.b += ch(p, 2);
      ++n;
    }
  }
  if (n) {
    m.r /= n;
    m.g /= n;
    m.b /= n;
  }
  return m;
}

double greenDeviation(const Image& image, const Box& area) {
  double sum = 0, sq = 0;
  long n = 0;
  for (int y = area.y0; y < area.y1; ++y) {
    for (int x = area.x0; x < area.x1; ++x) {
      const double g = ch(image.at(x, y), 1);
      sum += g;
      sq += g * g;
      ++n;
    }
  }
  if (!n) return 0;
  const double mean = sum / n;
  return std::sqrt(std::max(0.0, sq / n - mean * mean));
}

bool identical(const Image& a, const Image& b, const Box& area) {
  for (int y = area.y0; y < area.y1; ++y) {
    for (int x = area.x0; x < area.x1; ++x) {
      if (a.at(x, y) != b.at(x, y)) return false;
    }
  }
  return true;
}

}  // namespace dunelo::x11::testing
