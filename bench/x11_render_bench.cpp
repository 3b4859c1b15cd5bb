// Measures the overlay renderer on a private 1920x1080 (or larger) Xvfb with openbox, side by side
// in one run: CPU of this process plus the X server per full frame, for several blur strengths and
// the two other ways of blurring on X11 (a RENDER convolution, a client-side box blur); a 400x400
// window animating at 60 Hz behind the overlay; a desktop where nothing changes; and picom
// (xrender backend, --blur-background, a full-screen translucent window) as the peer.
//
// Usage: dunelo_render_bench [seconds per phase, default 2] [a | steps | all] [WIDTHxHEIGHT]
// ("a": only the full-frame renders; "steps": only the blur alternatives and single steps; the
// size, 1920x1080 by default, is the screen's: 3840x2160 measures a 4K screen)
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/x11/render/dual_filter_blur.h"
#include "platform/x11/render/private_display.h"
#include "platform/x11/render/render_harness.h"
#include "platform/x11/render/render_painter.h"
#include "platform/x11/render/render_support.h"

using namespace dunelo;
using namespace dunelo::x11;
using namespace dunelo::x11::testing;

namespace {

// The screen's size: 1920x1080 unless the command line names another.
int screenWidth = 1920;
int screenHeight = 1080;

double processCpu(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  const auto close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(line.substr(close + 2));
  std::string field;
  double utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stod(field);
    if (i == 15) stime = std::stod(field);
  }
  return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double selfCpu() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec +
         u.ru_stime.tv_usec / 1e6;
}

double wallNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Sample {
  double self, server, other, wall;
};

struct Meter {
  pid_t server;
  pid_t other = -1;  // picom
  Sample start() const {
    return {selfCpu(), processCpu(server), other > 0 ? processCpu(other) : 0, wallNow()};
  }
  Sample since(const Sample& s) const {
    Sample now = start();
    return {now.self - s.self, now.server - s.server, now.other - s.other, now.wall - s.wall};
  }
};

// Text-like detail: small dark glyph-sized blocks on a light page, with coloured bands.
uint32_t page(int x, int y) {
  const bool ink = ((x / 2) * 7 + (y / 3) * 13) % 5 < 2 && (y % 18) < 12 && (x % 90) < 80;
  if (ink) return 0x202020;
  return (y / 120) % 2 ? 0xf4f0e8 : 0xdce8f4;
}

void report(const char* what, const Sample& s, double frames, const char* note = "") {
  const double total = s.self + s.server + s.other;
  char other[48] = "";
  if (frames > 0) {
    if (s.other > 0) std::snprintf(other, sizeof other, ", picom %.2f", 1000 * s.other / frames);
    std::printf("%-58s %7.2f ms/frame CPU (self %.2f, X %.2f%s) wall %.2f ms/frame  %s\n", what,
                1000 * total / frames, 1000 * s.self / frames, 1000 * s.server / frames, other,
                1000 * s.wall / frames, note);
  } else {
    if (s.other > 0) std::snprintf(other, sizeof other, ", picom %.2f %%", 100 * s.other / s.wall);
    std::printf("%-58s %7.2f %% CPU (self %.2f %%, X %.2f %%%s)  %s\n", what, 100 * total / s.wall,
                100 * s.self / s.wall, 100 * s.server / s.wall, other, note);
  }
  std::fflush(stdout);
}

// --- the blur alternatives, raw RENDER and client side, on one full-size picture ---

void alternatives(RenderHarness& h, const Meter& meter, int frames) {
  X11Connection& conn = h.factory().context()->connection();
  xcb_connection_t* c = conn.xcb();
  const PictFormats& f = h.factory().context()->formats();
  ScratchPicture src = makeScratchPicture(c, conn.root(), screenWidth, screenHeight, 32, f.argb32);
  ScratchPicture dst = makeScratchPicture(c, conn.root(), screenWidth, screenHeight, 32, f.argb32);
  // Fill the source from the screen so it carries real detail.
  xcb_render_picture_t rootPicture = xcb_generate_id(c);
  const uint32_t inferiors = XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS;
  xcb_render_create_picture(c, rootPicture, conn.root(), f.rgb24, XCB_RENDER_CP_SUBWINDOW_MODE,
                            &inferiors);
  xcb_render_composite(c, XCB_RENDER_PICT_OP_SRC, rootPicture, 0, src.id(), 0, 0, 0, 0, 0, 0,
                       screenWidth, screenHeight);
  xcb_render_free_picture(c, rootPicture);
  conn.sync();

  {
    // What each step of a full frame costs on the server.
    ScratchPicture x888 =
        makeScratchPicture(c, conn.root(), screenWidth, screenHeight, 24, f.rgb24);
    ScratchPicture half =
        makeScratchPicture(c, conn.root(), screenWidth / 2, screenHeight / 2, 32, f.argb32);
    ServerResource halving = ownedPicture(c, xcb_generate_id(c));
    xcb_render_create_picture(c, halving.id(), src.pixmap.id(), f.argb32, 0, nullptr);
    setTransform(c, halving.id(), scaleTransform(2), "bilinear");
    ServerResource doubling = ownedPicture(c, xcb_generate_id(c));
    const uint32_t pad = XCB_RENDER_REPEAT_PAD;
    xcb_render_create_picture(c, doubling.id(), half.pixmap.id(), f.argb32, XCB_RENDER_CP_REPEAT,
                              &pad);
    setTransform(c, doubling.id(), scaleTransform(0.5), "bilinear");
    ServerResource nearest = ownedPicture(c, xcb_generate_id(c));
    xcb_render_create_picture(c, nearest.id(), half.pixmap.id(), f.argb32, XCB_RENDER_CP_REPEAT,
                              &pad);
    setTransform(c, nearest.id(), scaleTransform(0.5), "nearest");
    h.showOverlay();
    h.settle(0.1);
    ServerResource window = ownedPicture(c, xcb_generate_id(c));
    xcb_render_create_picture(c, window.id(), h.overlay(), f.rgb24, 0, nullptr);
    ServerResource solid = solidPicture(c, Color::deviceRGB(0.2, 0.3, 0.4));
    ServerResource mask = solidPicture(c, Color::deviceRGB(0, 0, 0, 0.8));
    ServerResource grey = solidPicture(c, Color::deviceRGB(0.5, 0.5, 0.5));
    struct Step {
      const char* what;
      std::function<void()> run;
    };
    auto op = [&](uint8_t o, xcb_render_picture_t s0, xcb_render_picture_t m,
                  xcb_render_picture_t d, int w, int hgt) {
      return [=] { xcb_render_composite(c, o, s0, m, d, 0, 0, 0, 0, 0, 0, w, hgt); };
    };
    const std::vector<Step> steps = {
        {"step: solid fill, full size",
         op(XCB_RENDER_PICT_OP_SRC, solid.id(), 0, dst.id(), screenWidth, screenHeight)},
        {"step: copy x8r8g8b8 -> a8r8g8b8, full size",
         op(XCB_RENDER_PICT_OP_SRC, x888.id(), 0, dst.id(), screenWidth, screenHeight)},
        {"step: copy a8r8g8b8 -> x8r8g8b8, full size",
         op(XCB_RENDER_PICT_OP_SRC, src.id(), 0, x888.id(), screenWidth, screenHeight)},
        {"step: bilinear halving, full -> half",
         op(XCB_RENDER_PICT_OP_SRC, halving.id(), 0, half.id(), screenWidth / 2, screenHeight / 2)},
        {"step: bilinear doubling, half -> full (src)",
         op(XCB_RENDER_PICT_OP_SRC, doubling.id(), 0, x888.id(), screenWidth, screenHeight)},
        {"step: bilinear doubling over, alpha mask",
         op(XCB_RENDER_PICT_OP_OVER, doubling.id(), mask.id(), x888.id(), screenWidth,
            screenHeight)},
        {"step: bilinear doubling over, no mask",
         op(XCB_RENDER_PICT_OP_OVER, doubling.id(), 0, x888.id(), screenWidth, screenHeight)},
        {"step: nearest doubling over, no mask",
         op(XCB_RENDER_PICT_OP_OVER, nearest.id(), 0, x888.id(), screenWidth, screenHeight)},
        {"step: nearest doubling src",
         op(XCB_RENDER_PICT_OP_SRC, nearest.id(), 0, x888.id(), screenWidth, screenHeight)},
        {"step: copy x8r8g8b8 -> mapped redirected window",
         op(XCB_RENDER_PICT_OP_SRC, x888.id(), 0, window.id(), screenWidth, screenHeight)},
        {"step: bilinear halving from x8r8g8b8",
         [&, halvingX = std::make_shared<ServerResource>(
                 scaledPicture(c, x888.pixmap.id(), f.rgb24, 2, "bilinear"))] {
           xcb_render_composite(c, XCB_RENDER_PICT_OP_SRC, halvingX->id(), 0, half.id(), 0, 0, 0, 0,
                                0, 0, screenWidth / 2, screenHeight / 2);
         }},
        {"step: src with alpha mask, half size", op(XCB_RENDER_PICT_OP_SRC, half.id(), mask.id(),
                                                    dst.id(), screenWidth / 2, screenHeight / 2)},
        {"step: in solid alpha, half size",
         op(XCB_RENDER_PICT_OP_IN, mask.id(), 0, half.id(), screenWidth / 2, screenHeight / 2)},
        {"step: bilinear doubling over into the mapped window",
         op(XCB_RENDER_PICT_OP_OVER, doubling.id(), 0, window.id(), screenWidth, screenHeight)},
        {"step: copy x8r8g8b8 -> x8r8g8b8, full size",
         op(XCB_RENDER_PICT_OP_SRC, x888.id(), 0, x888.id(), screenWidth, screenHeight)},
        {"step: over with alpha mask, full size",
         op(XCB_RENDER_PICT_OP_OVER, src.id(), mask.id(), x888.id(), screenWidth, screenHeight)},
        {"step: overlay blend with mask, full size",
         op(XCB_RENDER_PICT_OP_OVERLAY, src.id(), mask.id(), dst.id(), screenWidth, screenHeight)},
        {"step: HSL saturation with mask, half size",
         op(XCB_RENDER_PICT_OP_HSL_SATURATION, grey.id(), mask.id(), half.id(), screenWidth / 2,
            screenHeight / 2)},
        {"step: solid over, half size",
         op(XCB_RENDER_PICT_OP_OVER, mask.id(), 0, half.id(), screenWidth / 2, screenHeight / 2)},
    };
    for (const Step& step : steps) {
      const int n = std::max(5, frames / 2);
      step.run();
      conn.sync();
      const Sample s = meter.start();
      for (int i = 0; i < n; ++i) {
        step.run();
        conn.sync();
      }
      report(step.what, meter.since(s), n);
    }
  }

  for (int levels : {2, 3, 4, 5}) {
    DualFilterBlur blur(c, f);
    blur.configure(src.pixmap.id(), f.argb32, screenWidth, screenHeight, levels);
    const Box all{0, 0, screenWidth, screenHeight};
    blur.update(all);
    conn.sync();
    const Sample s = meter.start();
    for (int i = 0; i < frames; ++i) {
      blur.update(all);
      blur.drawResult(dst.id(), XCB_RENDER_PICT_OP_SRC, XCB_NONE, all);
      conn.sync();
    }
    char what[96];
    std::snprintf(what, sizeof what, "blur only: dual filter, %d halvings (reach %d px)", levels,
                  blur.reach());
    report(what, meter.since(s), frames);
  }

  {
    // A separable 1x15 / 15x1 convolution: two passes, 15 taps a pixel each (reach 7 px).
    ScratchPicture mid =
        makeScratchPicture(c, conn.root(), screenWidth, screenHeight, 32, f.argb32);
    auto kernel = [&](xcb_render_picture_t picture, int w, int hgt) {
      std::vector<xcb_render_fixed_t> params = {toFixed(w), toFixed(hgt)};
      for (int i = 0; i < w * hgt; ++i) params.push_back(toFixed(1.0 / (w * hgt)));
      xcb_render_set_picture_filter(c, picture, 11, "convolution",
                                    static_cast<uint32_t>(params.size()), params.data());
    };
    xcb_render_picture_t horizontal = xcb_generate_id(c);
    xcb_render_create_picture(c, horizontal, src.pixmap.id(), f.argb32, 0, nullptr);
    kernel(horizontal, 15, 1);
    xcb_render_picture_t vertical = xcb_generate_id(c);
    xcb_render_create_picture(c, vertical, mid.pixmap.id(), f.argb32, 0, nullptr);
    kernel(vertical, 1, 15);
    const int n = std::max(3, frames / 4);
    const Sample s = meter.start();
    for (int i = 0; i < n; ++i) {
      xcb_render_composite(c, XCB_RENDER_PICT_OP_SRC, horizontal, 0, mid.id(), 0, 0, 0, 0, 0, 0,
                           screenWidth, screenHeight);
      xcb_render_composite(c, XCB_RENDER_PICT_OP_SRC, vertical, 0, dst.id(), 0, 0, 0, 0, 0, 0,
                           screenWidth, screenHeight);
      conn.sync();
    }
    report("blur only: RENDER convolution 15x1 + 1x15 (reach 7 px)", meter.since(s), n);
    xcb_render_free_picture(c, horizontal);
    xcb_render_free_picture(c, vertical);
  }

  {
    // Client side: fetch, three box passes each way (radius 8, about a Gaussian), send back.
    const int n = std::max(3, frames / 4);
    xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, dst.pixmap.id(), 0, nullptr);
    std::vector<uint32_t> a(static_cast<size_t>(screenWidth) * screenHeight), b(a.size());
    // One box pass along lines of `w` pixels `step` apart; `hgt` lines `stride` apart.
    auto boxPass = [](const std::vector<uint32_t>& in, std::vector<uint32_t>& out, int w, int hgt,
                      int stride, int step, int r) {
      for (int line = 0; line < hgt; ++line) {
        const uint32_t* src = in.data() + static_cast<size_t>(line) * stride;
        uint32_t* dstp = out.data() + static_cast<size_t>(line) * stride;
        int sum[4] = {0, 0, 0, 0};
        auto add = [&](int i, int sign) {
          const uint32_t p = src[static_cast<size_t>(std::clamp(i, 0, w - 1)) * step];
          for (int k = 0; k < 4; ++k) sum[k] += sign * static_cast<int>((p >> (8 * k)) & 0xff);
        };
        for (int i = -r; i <= r; ++i) add(i, 1);
        for (int i = 0; i < w; ++i) {
          uint32_t v = 0;
          for (int k = 0; k < 4; ++k) v |= static_cast<uint32_t>(sum[k] / (2 * r + 1)) << (8 * k);
          dstp[static_cast<size_t>(i) * step] = v;
          add(i + r + 1, 1);
          add(i - r, -1);
        }
      }
    };
    const Sample s = meter.start();
    for (int i = 0; i < n; ++i) {
      auto reply = replyOf(c, xcb_get_image_reply,
                           xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, src.pixmap.id(), 0, 0,
                                         screenWidth, screenHeight, ~0u));
      if (!reply) break;
      std::copy_n(reinterpret_cast<const uint32_t*>(xcb_get_image_data(reply.get())), a.size(),
                  a.begin());
      for (int pass = 0; pass < 3; ++pass) {
        boxPass(a, b, screenWidth, screenHeight, screenWidth, 1, 8);  // rows
        boxPass(b, a, screenHeight, screenWidth, 1, screenWidth, 8);  // columns
      }
      const int rows = 1024 * 1024 / (screenWidth * 4);
      for (int y = 0; y < screenHeight; y += rows) {
        const int hgt = std::min(rows, screenHeight - y);
        xcb_put_image(
            c, XCB_IMAGE_FORMAT_Z_PIXMAP, dst.pixmap.id(), gc, screenWidth,
            static_cast<uint16_t>(hgt), 0, static_cast<int16_t>(y), 0, 32,
            static_cast<uint32_t>(screenWidth * 4 * hgt),
            reinterpret_cast<const uint8_t*>(a.data() + static_cast<size_t>(y) * screenWidth));
      }
      conn.sync();
    }
    report("blur only: client-side box blur x3 (reach 24 px)", meter.since(s), n);
    xcb_free_gc(c, gc);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
  const std::string only = argc > 2 && std::string(argv[2]) != "all" ? argv[2] : "";
  if (argc > 3 && std::sscanf(argv[3], "%dx%d", &screenWidth, &screenHeight) != 2) {
    std::fprintf(stderr, "the size is WIDTHxHEIGHT, such as 3840x2160\n");
    return 2;
  }
  const bool stepsOnly = only == "steps";
  PrivateDisplay display(screenWidth, screenHeight);
  if (display.name().empty()) {
    std::fprintf(stderr, "cannot start Xvfb\n");
    return 1;
  }
  Meter meter{display.serverPid()};
  setenv("XPID", std::to_string(display.serverPid()).c_str(), 1);
  std::printf("Xvfb %s %dx%d, openbox; %.1f s per phase\n", display.name().c_str(), screenWidth,
              screenHeight, seconds);

  {
    RenderHarness h(display.name());
    if (!h.ok()) {
      std::fprintf(stderr, "the display cannot blur\n");
      return 1;
    }
    const xcb_window_t background = h.createWindow(0, 0, screenWidth - 10, screenHeight - 30, page);
    const xcb_window_t focused = h.createWindow(
        660, 340, 600, 400, [](int x, int y) { return ((x + y) / 4) % 2 ? 0x3060c0u : 0xffffffu; });
    h.raise(h.frameOf(focused));
    h.settle(0.2);
    auto* painter = dynamic_cast<BlurPainter*>(&h.painter());
    h.showOverlay(h.frameOf(focused));
    OverlayVisualState state = h.defaultState();
    state.alpha = 0.808;  // the default intensity (70) in deep mode
    h.paint(state);
    h.waitForFrames(1);
    h.settle(0.2);

    const int frames = static_cast<int>(seconds * 30);
    if (stepsOnly) {
      alternatives(h, meter, frames);
      return 0;
    }
    auto fullFrames = [&](const char* what) {
      painter->redrawEverything();
      h.waitForFrames(1);
      const Sample s = meter.start();
      const uint64_t before = h.stats().frames;
      for (int i = 0; i < frames; ++i) {
        painter->redrawEverything();
        h.waitForFrames(1);
      }
      report(what, meter.since(s), static_cast<double>(h.stats().frames - before));
    };
    std::printf("\n(a) full-frame redraw at %dx%d (compose, blur, effects, mix)\n", screenWidth,
                screenHeight);
    fullFrames("deep, alpha 0.808, no effects");
    state.material = BlurMaterial::ambient;
    state.alpha = 0.493;
    h.paint(state);
    h.waitForFrames(1);
    fullFrames("ambient, alpha 0.493, no effects");
    state.material = BlurMaterial::deep;
    state.alpha = 0.808;
    state.tintColors = {Color::deviceRGB(0.2, 0.4, 1, 1), Color::deviceRGB(0.2, 0.4, 1, 0.4),
                        Color::deviceRGB(0.2, 0.4, 1, 0)};
    state.tintOpacity = 0.6;
    state.grayscaleOpacity = 1;
    auto grain = std::make_shared<Bitmap>();
    grain->width = screenWidth;
    grain->height = screenHeight;
    grain->rgba.resize(static_cast<size_t>(screenWidth) * screenHeight * 4);
    uint32_t seed = 1;
    for (auto& byte : grain->rgba) {
      seed = seed * 1664525u + 1013904223u;
      byte = static_cast<uint8_t>(96 + (seed >> 24) % 64);
    }
    state.grainImage = grain;
    state.grainOpacity = 0.5;
    h.paint(state);
    h.waitForFrames(1);
    fullFrames("deep, alpha 0.808, tint + grayscale + grain 0.5");
    const OverlayVisualState allEffects = state;
    {
      // A fade: only the mix with the sharp scene changes.
      const Sample s = meter.start();
      const uint64_t before = h.stats().frames;
      for (int i = 0; i < frames; ++i) {
        state.alpha = 0.5 + 0.3 * (i % 2);
        h.paint(state);
        h.waitForFrames(1);
      }
      report("fade frame (alpha changes only), all effects", meter.since(s),
             static_cast<double>(h.stats().frames - before));
    }
    state = h.defaultState();
    state.alpha = 0.808;
    h.paint(state);
    h.waitForFrames(1);
    {
      // Four more windows the size of the first stacked over it (all below the overlay): only
      // the topmost one is visible, so only it should cost anything.
      std::vector<xcb_window_t> stacked;
      for (int i = 0; i < 4; ++i) {
        stacked.push_back(h.createPlainWindow(0, 0, screenWidth - 10, screenHeight - 30, page));
        h.placeAbove(stacked.back(), h.frameOf(background));
      }
      h.showOverlay(h.frameOf(focused));
      h.settle(0.2);
      fullFrames("deep, alpha 0.808, 5 such windows stacked behind");
      for (xcb_window_t w : stacked) xcb_destroy_window(h.connection().xcb(), w);
      h.settle(0.2);
    }
    if (only == "a") return 0;

    painter->redrawEverything();
    h.waitForFrames(1);
    const Sample fullSample = meter.start();
    for (int i = 0; i < frames; ++i) {
      painter->redrawEverything();
      h.waitForFrames(1);
    }
    const Sample full = meter.since(fullSample);
    const double fullPerFrame = (full.self + full.server) / frames;

    // (b) A 400x400 window animating at 60 Hz behind the overlay.
    const xcb_window_t anim =
        h.createPlainWindow(200, 200, 400, 400, [](int, int) { return 0x808080u; });
    h.placeAbove(anim, h.frameOf(background));
    h.showOverlay(h.frameOf(focused));
    h.settle(0.2);
    xcb_gcontext_t gc = xcb_generate_id(h.connection().xcb());
    xcb_create_gc(h.connection().xcb(), gc, anim, 0, nullptr);
    int tick = 0;
    auto animate = [&] {
      xcb_connection_t* c = h.connection().xcb();
      const uint32_t colors[] = {static_cast<uint32_t>(0x102030 + (tick * 0x030507 & 0x7f7f7f))};
      xcb_change_gc(c, gc, XCB_GC_FOREGROUND, colors);
      const xcb_rectangle_t all{0, 0, 400, 400};
      xcb_poly_fill_rectangle(c, anim, gc, 1, &all);
      const uint32_t ink[] = {0xffffff};
      xcb_change_gc(c, gc, XCB_GC_FOREGROUND, ink);
      std::vector<xcb_rectangle_t> bars;
      for (int i = 0; i < 20; ++i) {
        bars.push_back({static_cast<int16_t>((tick * 4 + i * 20) % 400), 0, 6, 400});
      }
      xcb_poly_fill_rectangle(c, anim, gc, static_cast<uint32_t>(bars.size()), bars.data());
      ++tick;
      h.connection().flush();
    };
    auto runAnimation = [&](const char* what, bool overlayShown) {
      if (overlayShown) {
        h.showOverlay(h.frameOf(focused));
      } else {
        h.hideOverlay();
      }
      h.settle(0.2);
      Cancellable timer = h.loop().scheduleRepeating(0, 1.0 / 60, 0, animate);
      h.loop().runFor(0.2);
      const uint64_t before = h.stats().frames;
      const Sample s = meter.start();
      h.loop().runFor(seconds);
      const Sample d = meter.since(s);
      timer.cancel();
      char note[128];
      std::snprintf(note, sizeof note, "overlay frames %.1f/s",
                    (h.stats().frames - before) / d.wall);
      report(what, d, 0, note);
      return d;
    };
    std::printf("\n(b) a 400x400 window animating at 60 Hz\n");
    const Sample hidden =
        runAnimation("behind nothing (overlay hidden): the scene's own cost", false);
    const Sample shown = runAnimation("behind the overlay", true);
    h.paint(allEffects);
    h.waitForFrames(1);
    runAnimation("behind the overlay, tint + grayscale + grain 0.5", true);
    h.paint(state);
    h.waitForFrames(1);
    const double overlayShare =
        (shown.self + shown.server) / shown.wall - (hidden.self + hidden.server) / hidden.wall;
    std::printf(
        "%-58s %7.2f %% CPU; full-frame redraw at 60 Hz would be %.1f %% CPU "
        "(target: at most a third, %.1f %%)\n",
        "   the overlay's share", 100 * overlayShare, 100 * fullPerFrame * 60,
        100 * fullPerFrame * 20);
    std::printf("%-58s %7.2f %% CPU of dunelo + X (target: at most %.1f %%)\n",
                "   total while animating behind the overlay",
                100 * (shown.self + shown.server) / shown.wall, 100 * fullPerFrame * 20);
    xcb_destroy_window(h.connection().xcb(), anim);
    h.settle(0.2);

    std::printf("\n(c) nothing changes behind the overlay\n");
    {
      h.showOverlay(h.frameOf(focused));
      h.settle(0.3);
      const uint64_t before = h.stats().frames;
      const Sample s = meter.start();
      h.loop().runFor(seconds);
      const Sample d = meter.since(s);
      char note[64];
      std::snprintf(note, sizeof note, "frames drawn: %llu",
                    static_cast<unsigned long long>(h.stats().frames - before));
      report("idle, overlay shown", d, 0, note);
    }

    std::printf("\n(blur alternatives, full %dx%d picture, blur step only)\n", screenWidth,
                screenHeight);
    alternatives(h, meter, frames);
  }

  // (d) picom as the peer: same desktop, a full-screen translucent window, blur behind it.
  std::printf(
      "\n(d) picom 9.1 --backend xrender --blur-background, full-screen translucent window\n");
  for (const char* kernel : {"", "11x11gaussian"}) {
    PrivateDisplay peer(screenWidth, screenHeight);
    RenderHarness h(peer.name());
    const xcb_window_t background = h.createWindow(0, 0, screenWidth - 10, screenHeight - 30, page);
    (void)background;
    std::vector<const char*> args = {"picom", "--backend", "xrender", "--blur-background"};
    if (*kernel) {
      args.push_back("--blur-kern");
      args.push_back(kernel);
    }
    args.push_back(nullptr);
    Meter peerMeter{peer.serverPid(), peer.spawn(args.data())};
    std::this_thread::sleep_for(std::chrono::milliseconds(800));

    // The translucent full-screen window: ARGB visual, 50 % grey.
    X11Connection& conn = h.connection();
    xcb_connection_t* c = conn.xcb();
    xcb_visualid_t argb = 0;
    for (auto d = xcb_screen_allowed_depths_iterator(conn.screen()); d.rem; xcb_depth_next(&d)) {
      if (d.data->depth != 32) continue;
      argb = xcb_depth_visuals_iterator(d.data).data->visual_id;
    }
    const xcb_colormap_t cmap = xcb_generate_id(c);
    xcb_create_colormap(c, XCB_COLORMAP_ALLOC_NONE, cmap, conn.root(), argb);
    const xcb_window_t veil = xcb_generate_id(c);
    const uint32_t values[] = {0, 0, 1, cmap};
    xcb_create_window(
        c, 32, veil, conn.root(), 0, 0, screenWidth, screenHeight, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
        argb, XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_COLORMAP,
        values);
    xcb_map_window(c, veil);
    const xcb_gcontext_t gc = xcb_generate_id(c);
    const uint32_t grey = 0x80606060;
    xcb_create_gc(c, gc, veil, XCB_GC_FOREGROUND, &grey);
    const xcb_rectangle_t all{0, 0, static_cast<uint16_t>(screenWidth),
                              static_cast<uint16_t>(screenHeight)};
    xcb_poly_fill_rectangle(c, veil, gc, 1, &all);
    conn.flush();
    h.settle(0.5);

    const std::string label = std::string("picom ") + (*kernel ? kernel : "default 3x3box kernel");
    {
      // Full-screen repaints: the translucent window changes every 1/60 s.
      int tick = 0;
      Cancellable timer = h.loop().scheduleRepeating(0, 1.0 / 60, 0, [&] {
        const uint32_t color = 0x80000000u | static_cast<uint32_t>(0x404040 + (tick++ % 32));
        xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &color);
        xcb_poly_fill_rectangle(c, veil, gc, 1, &all);
        conn.flush();
      });
      h.loop().runFor(0.2);
      const Sample s = peerMeter.start();
      h.loop().runFor(seconds);
      const Sample d = peerMeter.since(s);
      report((label + ": full-screen change at 60 Hz").c_str(), d, 60 * d.wall,
             "(per 1/60 s; picom may merge repaints)");
    }
    {
      const xcb_window_t anim =
          h.createPlainWindow(200, 200, 400, 400, [](int, int) { return 0x808080u; });
      const uint32_t above = XCB_STACK_MODE_ABOVE;
      xcb_configure_window(c, veil, XCB_CONFIG_WINDOW_STACK_MODE, &above);
      xcb_gcontext_t agc = xcb_generate_id(c);
      xcb_create_gc(c, agc, anim, 0, nullptr);
      int tick = 0;
      Cancellable timer = h.loop().scheduleRepeating(0, 1.0 / 60, 0, [&] {
        const uint32_t color = static_cast<uint32_t>(0x102030 + (tick++ * 0x030507 & 0x7f7f7f));
        xcb_change_gc(c, agc, XCB_GC_FOREGROUND, &color);
        const xcb_rectangle_t r{0, 0, 400, 400};
        xcb_poly_fill_rectangle(c, anim, agc, 1, &r);
        conn.flush();
      });
      h.loop().runFor(0.2);
      const Sample s = peerMeter.start();
      h.loop().runFor(seconds);
      report((label + ": 400x400 animating behind").c_str(), peerMeter.since(s), 0);
      timer.cancel();
      h.loop().runFor(0.1);
      const Sample idle = peerMeter.start();
      h.loop().runFor(seconds);
      report((label + ": nothing changing").c_str(), peerMeter.since(idle), 0);
    }
  }
  return 0;
}
