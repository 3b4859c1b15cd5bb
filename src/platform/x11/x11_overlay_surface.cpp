#include "platform/x11/x11_overlay_surface.h"

#include <unistd.h>
#include <xcb/shape.h>
#include <xcb/xfixes.h>

#include <cassert>
#include <cstring>

#include "core/debug_log.h"

namespace dunelo::x11 {
namespace {

constexpr double kFrameInterval = 1.0 / 60.0;

void setAtomsProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property,
                      const std::vector<xcb_atom_t>& values) {
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, property, XCB_ATOM_ATOM, 32,
                      static_cast<uint32_t>(values.size()), values.data());
}

void setStringProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property, xcb_atom_t type,
                       std::string_view value) {
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, property, type, 8,
                      static_cast<uint32_t>(value.size()), value.data());
}

}  // namespace

X11OverlaySurfaceFactory::X11OverlaySurfaceFactory(X11Connection& connection, Scheduler& scheduler,
                                                   WindowTree& tree, const CoordinateSpace& space,
                                                   OverlayPainterFactory& painters)
    : conn_(connection), scheduler_(scheduler), tree_(tree), space_(space), painters_(painters) {}

X11OverlaySurfaceFactory::~X11OverlaySurfaceFactory() {
  assert(surfaces_.empty() && "overlay surfaces must not outlive their factory");
}

std::unique_ptr<OverlaySurface> X11OverlaySurfaceFactory::createSurface(const ScreenInfo& screen) {
  if (!formatKnown_) {
    format_ = painters_.windowFormat(conn_);
    formatKnown_ = true;
  }
  return std::make_unique<X11OverlaySurface>(*this, screen);
}

X11OverlaySurface::X11OverlaySurface(X11OverlaySurfaceFactory& factory, const ScreenInfo& screen)
    : factory_(factory), conn_(factory.conn_) {
  xcb_connection_t* c = conn_.xcb();
  const Atoms& a = conn_.atoms();
  const OverlayWindowFormat& format = factory_.format_;
  state_.frame = factory_.space_.rootRectFromBottomLeft(screen.frame);
  state_.backingScale = screen.backingScaleFactor;
  alpha_.to = alpha_.from = 1.0;

  window_ = xcb_generate_id(c);
  // Background None: nothing is painted behind the painter's back (no flash of a background
  // colour when mapping). A different visual needs its own colormap and border pixel.
  uint32_t mask =
      XCB_CW_BACK_PIXMAP | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK;
  std::vector<uint32_t> values = {XCB_BACK_PIXMAP_NONE, 0, 1, XCB_EVENT_MASK_EXPOSURE};
  if (format.colormap != XCB_NONE) {
    mask |= XCB_CW_COLORMAP;
    values.push_back(format.colormap);
  }
  const bool created = conn_.check(
      xcb_create_window_checked(c, format.depth, window_, conn_.root(), state_.frame.x,
                                state_.frame.y, state_.frame.width, state_.frame.height, 0,
                                XCB_WINDOW_CLASS_INPUT_OUTPUT, format.visual, mask, values.data()),
      "creating an overlay window");
  if (!created) {
    window_ = XCB_NONE;
    return;
  }

  // Click-through: an empty input region.
  if (conn_.extensions().xfixes.atLeast(2, 0)) {
    const xcb_xfixes_region_t region = xcb_generate_id(c);
    xcb_xfixes_create_region(c, region, 0, nullptr);
    xcb_xfixes_set_window_shape_region(c, window_, XCB_SHAPE_SK_INPUT, 0, 0, region);
    xcb_xfixes_destroy_region(c, region);
  } else if (conn_.extensions().shape.atLeast(1, 1)) {
    xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED,
                         window_, 0, 0, 0, nullptr);
  } else if (!factory_.warnedInputShape_) {
    factory_.warnedInputShape_ = true;
    debugLog("[X11] neither XFixes 2 nor SHAPE 1.1: overlays will take mouse clicks");
  }

  static constexpr std::string_view kClass("dunelo-overlay\0Dunelo", 21);
  setStringProperty(c, window_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, kClass);
  setStringProperty(c, window_, a.NET_WM_NAME, a.UTF8_STRING, "Dunelo overlay");
  setAtomsProperty(c, window_, a.NET_WM_WINDOW_TYPE, {a.NET_WM_WINDOW_TYPE_NOTIFICATION});
  setAtomsProperty(c, window_, a.NET_WM_STATE,
                   {a.NET_WM_STATE_SKIP_TASKBAR, a.NET_WM_STATE_SKIP_PAGER});
  const uint32_t pid = static_cast<uint32_t>(getpid());
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, a.NET_WM_PID, XCB_ATOM_CARDINAL, 32, 1,
                      &pid);
  const uint32_t one = 1;
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, a.DUNELO_OVERLAY, XCB_ATOM_CARDINAL, 32, 1,
                      &one);

  painter_ = factory_.painters_.createPainter(conn_, window_, format);
  exposeToken_ = conn_.addEventHandler(XCB_EXPOSE, [this](const xcb_generic_event_t& e) {
    const auto& expose = reinterpret_cast<const xcb_expose_event_t&>(e);
    if (expose.window == window_ && expose.count == 0) changed();
  });
  stackingToken_ = factory_.tree_.observe([this](const TreeChange& change) {
    if (change.kind != TreeChange::Kind::stacking || heldBelow_ == XCB_NONE || heldOnce_ ||
        holdPosted_)
      return;
    // Every event read in one go first, then one look at the result.
    holdPosted_ = true;
    factory_.scheduler_.post([weak = weakFactory_.getWeakPtr()] {
      if (!weak) return;
      weak->holdPosted_ = false;
      weak->holdPlace();
    });
  });
  factory_.surfaces_.push_back(this);
}

void X11OverlaySurface::holdPlace() {
  if (heldBelow_ == XCB_NONE || heldOnce_ || !mapped_ || conn_.isConnectionLost()) return;
  const int target = factory_.tree_.stackIndex(heldBelow_);
  if (target < 0) {
    heldBelow_ = XCB_NONE;  // gone: the next order names the new place
    return;
  }
  if (isDirectlyBelow(target)) return;
  heldOnce_ = true;
  restackBelow(heldBelow_);
}

X11OverlaySurface::~X11OverlaySurface() {
  std::erase(factory_.surfaces_, this);
  stackingToken_.cancel();
  frameTimer_.cancel();
  exposeToken_.cancel();
  painter_.reset();
  if (window_ != XCB_NONE && !conn_.isConnectionLost()) {
    xcb_destroy_window(conn_.xcb(), window_);
    conn_.flush();
  }
}

void X11OverlaySurface::orderFront() {
  if (window_ == XCB_NONE) return;
  heldBelow_ = XCB_NONE;
  const uint32_t above = XCB_STACK_MODE_ABOVE;
  xcb_configure_window(conn_.xcb(), window_, XCB_CONFIG_WINDOW_STACK_MODE, &above);
  if (!mapped_) xcb_map_window(conn_.xcb(), window_);
  mapped_ = true;
  changed();
}

void X11OverlaySurface::orderOut() {
  heldBelow_ = XCB_NONE;
  if (window_ == XCB_NONE || !mapped_) return;
  xcb_unmap_window(conn_.xcb(), window_);
  mapped_ = false;
}

bool X11OverlaySurface::isDirectlyBelow(int targetIndex) const {
  const WindowTree& tree = factory_.tree_;
  const int self = tree.stackIndex(window_);
  if (self < 0 || self >= targetIndex) return false;
  // Only our own overlays (of other screens) may lie in between.
  for (int i = self + 1; i < targetIndex; ++i) {
    if (!tree.isOwnWindow(tree.stack()[static_cast<size_t>(i)].id)) return false;
  }
  return true;
}

void X11OverlaySurface::orderBelow(WindowNumber number) {
  if (window_ == XCB_NONE || conn_.isConnectionLost()) return;
  WindowTree& tree = factory_.tree_;
  if (number <= 0 || number > 0xffffffffLL) return;
  xcb_window_t target = static_cast<xcb_window_t>(number);
  if (!tree.topLevel(target)) {
    // A client id instead of its frame is taken as its frame; anything else is gone already.
    const ClientInfo* info = tree.client(target);
    if (!info || !tree.topLevel(info->frame)) return;
    target = info->frame;
  }
  if (target == window_) return;
  heldBelow_ = target;
  heldOnce_ = false;
  if (mapped_ && isDirectlyBelow(tree.stackIndex(target))) return;
  restackBelow(target);
  if (!mapped_) {
    xcb_map_window(conn_.xcb(), window_);
    mapped_ = true;
    changed();
  }
}

void X11OverlaySurface::restackBelow(xcb_window_t target) {
  const uint32_t values[] = {target, XCB_STACK_MODE_BELOW};
  // The target may vanish before the server sees this: the error is expected and dropped, and
  // the window keeps its place.
  conn_.ignoreErrors(xcb_configure_window_checked(
      conn_.xcb(), window_, XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, values));
  ++restacks_;
}

void X11OverlaySurface::setAlpha(double alpha, Animation animation) {
  alpha_.retarget(alpha, animation, factory_.scheduler_.uptime(), lerpDouble);
  changed();
}

void X11OverlaySurface::setFrame(const Rect& frame) {
  if (window_ == XCB_NONE) return;
  const xcb_rectangle_t r = factory_.space_.rootRectFromBottomLeft(frame);
  state_.frame = r;
  const uint32_t values[] = {static_cast<uint32_t>(static_cast<int32_t>(r.x)),
                             static_cast<uint32_t>(static_cast<int32_t>(r.y)), r.width, r.height};
  xcb_configure_window(conn_.xcb(), window_,
                       XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                           XCB_CONFIG_WINDOW_HEIGHT,
                       values);
  changed();
}

void X11OverlaySurface::setMaterial(BlurMaterial material) {
  state_.material = material;
  changed();
}

void X11OverlaySurface::setTintGeometry(const GradientGeometry& geometry) {
  state_.tintGeometry = geometry;
  changed();
}

void X11OverlaySurface::setTint(const std::vector<Color>& colors, float opacity,
                                Animation animation) {
  std::vector<Color> device;
  device.reserve(colors.size());
  for (const Color& c : colors) device.push_back(c.toDeviceRGB().value_or(c));
  const double now = factory_.scheduler_.uptime();
  tintColors_.retarget(std::move(device), animation, now, lerpColors);
  tintOpacity_.retarget(opacity, animation, now, lerpDouble);
  changed();
}

void X11OverlaySurface::setGrayscaleLayer(const Color& color, BlendMode blend) {
  state_.grayscaleColor = color.toDeviceRGB().value_or(color);
  state_.grayscaleBlend = blend;
  changed();
}

void X11OverlaySurface::setGrayscaleOpacity(float opacity) {
  state_.grayscaleOpacity = opacity;
  changed();
}

void X11OverlaySurface::setGrainLayer(std::shared_ptr<const Bitmap> image, double contentsScale,
                                      BlendMode blend) {
  state_.grainImage = std::move(image);
  state_.grainScale = contentsScale;
  state_.grainBlend = blend;
  changed();
}

void X11OverlaySurface::setGrainOpacity(float opacity) {
  state_.grainOpacity = opacity;
  changed();
}

OverlayVisualState X11OverlaySurface::visualState() const {
  const double now = factory_.scheduler_.uptime();
  OverlayVisualState s = state_;
  s.alpha = alpha_.value(now, lerpDouble);
  s.tintOpacity = tintOpacity_.value(now, lerpDouble);
  s.tintColors = tintColors_.value(now, lerpColors);
  return s;
}

void X11OverlaySurface::changed() {
  const double now = factory_.scheduler_.uptime();
  if (alpha_.isRunning(now) || tintOpacity_.isRunning(now)) startFrames();
  if (paintPosted_) return;
  paintPosted_ = true;
  // Several changes in one pass make one paint.
  factory_.scheduler_.post([weak = weakFactory_.getWeakPtr()] {
    if (!weak) return;
    weak->paintPosted_ = false;
    weak->paintNow();
  });
}

void X11OverlaySurface::startFrames() {
  if (frameTimer_) return;
  frameTimer_ = factory_.scheduler_.scheduleRepeating(
      kFrameInterval, kFrameInterval, 0, [weak = weakFactory_.getWeakPtr()] {
        if (!weak) return;
        weak->paintNow();
        const double now = weak->factory_.scheduler_.uptime();
        if (!weak->alpha_.isRunning(now) && !weak->tintOpacity_.isRunning(now))
          weak->frameTimer_.cancel();
      });
}

void X11OverlaySurface::paintNow() {
  if (!mapped_ || !painter_ || conn_.isConnectionLost()) return;
  painter_->paint(visualState());
}

}  // namespace dunelo::x11
