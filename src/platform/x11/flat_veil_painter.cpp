// The stand-in overlay look (see FlatVeilPainterFactory in overlay_painter.h).
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "platform/x11/overlay_painter.h"
#include "platform/x11/x11_connection.h"

namespace dunelo::x11 {
namespace {

// Strength of the veil at window alpha 1, per material.
double materialStrength(BlurMaterial material) {
  return material == BlurMaterial::ambient ? 0.55 : 0.8;
}

// The veil's colour: mid grey, with the tint's first (strongest) colour mixed in.
Color veilColor(const OverlayVisualState& s) {
  Color c = Color::deviceRGB(0.55, 0.55, 0.58);
  if (!s.tintColors.empty() && s.tintOpacity > 0) {
    const Color& t = s.tintColors.front();
    const double k = std::clamp(s.tintOpacity * t.alpha, 0.0, 1.0) * 0.6;
    c = Color::deviceRGB(c.red + (t.red - c.red) * k, c.green + (t.green - c.green) * k,
                         c.blue + (t.blue - c.blue) * k);
  }
  return c;
}

uint32_t channel(double v, double scale) {
  return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * scale * 255.0));
}

// A real ARGB window for a compositor: premultiplied grey at the veil's opacity.
class ArgbVeilPainter final : public OverlayPainter {
 public:
  ArgbVeilPainter(X11Connection& connection, xcb_window_t window)
      : conn_(connection), window_(window), gc_(xcb_generate_id(connection.xcb())) {
    xcb_create_gc(conn_.xcb(), gc_, window_, 0, nullptr);
  }
  ~ArgbVeilPainter() override { xcb_free_gc(conn_.xcb(), gc_); }

  void paint(const OverlayVisualState& s) override {
    const double a = std::clamp(s.alpha * materialStrength(s.material), 0.0, 1.0);
    const Color c = veilColor(s);
    const uint32_t pixel = channel(1.0, a) << 24 | channel(c.red, a) << 16 |
                           channel(c.green, a) << 8 | channel(c.blue, a);
    xcb_change_gc(conn_.xcb(), gc_, XCB_GC_FOREGROUND, &pixel);
    const xcb_rectangle_t r{0, 0, s.frame.width, s.frame.height};
    xcb_poly_fill_rectangle(conn_.xcb(), window_, gc_, 1, &r);
  }

 private:
  X11Connection& conn_;
  xcb_window_t window_;
  xcb_gcontext_t gc_;
};

// Without a compositor: the window keeps what lay beneath it when it was mapped (background
// None) and a 4x4 ordered-dither stipple of the veil colour is drawn over it, as dense as the
// veil is strong. A lighter pattern cannot remove the dots of a denser one, so when the strength
// drops the pattern stays at the densest level drawn since the window was last mapped; the
// window is unmapped at the end of every fade out, which resets it.
class StippleVeilPainter final : public OverlayPainter {
 public:
  StippleVeilPainter(X11Connection& connection, xcb_window_t window)
      : conn_(connection), window_(window), gc_(xcb_generate_id(connection.xcb())) {
    xcb_create_gc(conn_.xcb(), gc_, window_, 0, nullptr);
    static constexpr std::array<int, 16> bayer = {0, 8,  2, 10, 12, 4, 14, 6,
                                                  3, 11, 1, 9,  15, 7, 13, 5};
    for (int level = 0; level <= 16; ++level) {
      xcb_pixmap_t pixmap = xcb_generate_id(conn_.xcb());
      xcb_create_pixmap(conn_.xcb(), 1, pixmap, window_, 4, 4);
      xcb_gcontext_t bitGc = xcb_generate_id(conn_.xcb());
      uint32_t zero = 0;
      xcb_create_gc(conn_.xcb(), bitGc, pixmap, XCB_GC_FOREGROUND, &zero);
      const xcb_rectangle_t all{0, 0, 4, 4};
      xcb_poly_fill_rectangle(conn_.xcb(), pixmap, bitGc, 1, &all);
      uint32_t one = 1;
      xcb_change_gc(conn_.xcb(), bitGc, XCB_GC_FOREGROUND, &one);
      std::vector<xcb_point_t> points;
      for (int i = 0; i < 16; ++i) {
        if (bayer[static_cast<size_t>(i)] < level)
          points.push_back(xcb_point_t{static_cast<int16_t>(i % 4), static_cast<int16_t>(i / 4)});
      }
      if (!points.empty()) {
        xcb_poly_point(conn_.xcb(), XCB_COORD_MODE_ORIGIN, pixmap, bitGc,
                       static_cast<uint32_t>(points.size()), points.data());
      }
      xcb_free_gc(conn_.xcb(), bitGc);
      stipples_[static_cast<size_t>(level)] = pixmap;
    }
  }
  ~StippleVeilPainter() override {
    for (xcb_pixmap_t p : stipples_) xcb_free_pixmap(conn_.xcb(), p);
    xcb_free_gc(conn_.xcb(), gc_);
  }

  void paint(const OverlayVisualState& s) override {
    const double strength = std::clamp(s.alpha * materialStrength(s.material), 0.0, 1.0);
    const int level = static_cast<int>(std::lround(strength * 16));
    if (level == 0) return;
    const Color c = veilColor(s);
    const uint32_t values[] = {
        channel(c.red, 1) << 16 | channel(c.green, 1) << 8 | channel(c.blue, 1),
        XCB_FILL_STYLE_STIPPLED, stipples_[static_cast<size_t>(level)]};
    xcb_change_gc(conn_.xcb(), gc_, XCB_GC_FOREGROUND | XCB_GC_FILL_STYLE | XCB_GC_STIPPLE, values);
    const xcb_rectangle_t r{0, 0, s.frame.width, s.frame.height};
    xcb_poly_fill_rectangle(conn_.xcb(), window_, gc_, 1, &r);
  }

 private:
  X11Connection& conn_;
  xcb_window_t window_;
  xcb_gcontext_t gc_;
  std::array<xcb_pixmap_t, 17> stipples_{};
};

bool compositorRunning(X11Connection& connection) {
  const xcb_atom_t selection = connection.atoms().NET_WM_CM_S;
  if (selection == XCB_NONE) return false;
  auto reply = replyOf(connection.xcb(), xcb_get_selection_owner_reply,
                       xcb_get_selection_owner(connection.xcb(), selection));
  return reply && reply->owner != XCB_NONE;
}

xcb_visualid_t findArgbVisual(const xcb_screen_t* screen) {
  for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
    if (d.data->depth != 32) continue;
    for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
      if (v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR) return v.data->visual_id;
    }
  }
  return XCB_NONE;
}

}  // namespace

OverlayWindowFormat FlatVeilPainterFactory::windowFormat(X11Connection& connection) {
  OverlayWindowFormat format;
  if (!compositorRunning(connection)) return format;
  const xcb_visualid_t visual = findArgbVisual(connection.screen());
  if (visual == XCB_NONE) return format;
  format.depth = 32;
  format.visual = visual;
  format.colormap = xcb_generate_id(connection.xcb());
  xcb_create_colormap(connection.xcb(), XCB_COLORMAP_ALLOC_NONE, format.colormap, connection.root(),
                      visual);
  return format;
}

std::unique_ptr<OverlayPainter> FlatVeilPainterFactory::createPainter(
    X11Connection& connection, xcb_window_t window, const OverlayWindowFormat& format) {
  if (format.depth == 32) return std::make_unique<ArgbVeilPainter>(connection, window);
  return std::make_unique<StippleVeilPainter>(connection, window);
}

}  // namespace dunelo::x11
