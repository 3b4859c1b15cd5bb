#include "platform/x11/x11_overlay_surface.h"

#include <unistd.h>
#include <xcb/shape.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cassert>
#include <cstring>
#include <iterator>
#include <string>

#include "core/debug_log.h"

namespace dunelo::x11 {
namespace {

constexpr double kFrameInterval = 1.0 / 60.0;
constexpr double kSettleTime = 0.5;

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

void sendRestackRequest(xcb_connection_t* c, xcb_window_t root, xcb_window_t window,
                        xcb_atom_t type, const uint32_t (&data)[5]) {
  xcb_client_message_event_t e{};
  e.response_type = XCB_CLIENT_MESSAGE;
  e.format = 32;
  e.window = window;
  e.type = type;
  std::copy(std::begin(data), std::end(data), e.data.data32);
  xcb_send_event(c, 0, root,
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&e));
}

}  // namespace

xcb_window_t topmostOrdinary(const WindowTree& tree, const Atoms& a) {
  auto has = [](const std::vector<xcb_atom_t>& list, xcb_atom_t atom) {
    return std::find(list.begin(), list.end(), atom) != list.end();
  };
  const auto& stack = tree.stack();
  for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
    // Override-redirect windows count only as a client's frame (i3 makes its frames so).
    if (!it->mapped || tree.isOwnTopLevel(it->id)) continue;
    const ClientInfo* info = tree.clientOfTopLevel(it->id);
    if (!info) continue;
    const bool chrome = has(info->windowTypes, a.NET_WM_WINDOW_TYPE_DOCK) ||
                        has(info->windowTypes, a.NET_WM_WINDOW_TYPE_NOTIFICATION) ||
                        has(info->states, a.NET_WM_STATE_ABOVE);
    if (!chrome) return it->id;
  }
  return XCB_NONE;
}

X11OverlaySurfaceFactory::X11OverlaySurfaceFactory(X11Connection& connection, Scheduler& scheduler,
                                                   WindowTree& tree, const CoordinateSpace& space,
                                                   OverlayPainterFactory& painters)
    : conn_(connection), scheduler_(scheduler), tree_(tree), space_(space), painters_(painters) {
  compositorSelection_ = conn_.atom("_NET_WM_CM_S" + std::to_string(conn_.screenNumber()));
}

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

bool X11OverlaySurfaceFactory::windowManagerComposites() {
  const xcb_window_t wm = tree_.windowManagerCheck();
  if (wm == XCB_NONE || !tree_.windowManagerRestacksOnRequest() ||
      compositorSelection_ == XCB_NONE || conn_.isConnectionLost())
    return false;
  xcb_connection_t* c = conn_.xcb();
  auto owner =
      replyOf(c, xcb_get_selection_owner_reply, xcb_get_selection_owner(c, compositorSelection_));
  return owner && owner->owner != XCB_NONE && tree_.sameClient(owner->owner, wm);
}

X11OverlaySurface::X11OverlaySurface(X11OverlaySurfaceFactory& factory, const ScreenInfo& screen)
    : factory_(factory), conn_(factory.conn_) {
  state_.frame = factory_.space_.rootRectFromBottomLeft(screen.frame);
  state_.backingScale = screen.backingScaleFactor;
  alpha_.to = alpha_.from = 1.0;
  exposeToken_ = conn_.on<XCB_EXPOSE>([this](const xcb_expose_event_t& e) {
    if (e.window == window_ && e.count == 0) changed();
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
  createWindow();
  factory_.surfaces_.push_back(this);
}

void X11OverlaySurface::createWindow() {
  xcb_connection_t* c = conn_.xcb();
  const Atoms& a = conn_.atoms();
  const OverlayWindowFormat& format = factory_.format_;
  managed_ = factory_.windowManagerComposites();
  if (managed_ != factory_.lastManaged_) {
    factory_.lastManaged_ = managed_;
    debugLog(managed_ ? "[X11] the window manager composites the screen: it stacks the overlays"
                      : "[X11] the window manager no longer composites: overlays stacked directly");
  }

  window_ = xcb_generate_id(c);
  // Background None: nothing is painted behind the painter's back (no flash of a background
  // colour when mapping). A different visual needs its own colormap and border pixel.
  uint32_t mask =
      XCB_CW_BACK_PIXMAP | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK;
  std::vector<uint32_t> values = {XCB_BACK_PIXMAP_NONE, 0, managed_ ? 0u : 1u,
                                  XCB_EVENT_MASK_EXPOSURE};
  if (format.colormap != XCB_NONE) {
    mask |= XCB_CW_COLORMAP;
    values.push_back(format.colormap);
  }
  const xcb_rectangle_t& r = state_.frame;
  const bool created =
      conn_.check(xcb_create_window_checked(c, format.depth, window_, conn_.root(), r.x, r.y,
                                            r.width, r.height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                                            format.visual, mask, values.data()),
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
  setStringProperty(c, window_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, "Dunelo overlay");
  setStringProperty(c, window_, a.NET_WM_NAME, a.UTF8_STRING, "Dunelo overlay");
  // A managed overlay is an ordinary window to its manager, so that it is stacked among the
  // ordinary windows; an unmanaged one only says what it is to tools that list windows.
  setAtomsProperty(c, window_, a.NET_WM_WINDOW_TYPE,
                   {managed_ ? a.NET_WM_WINDOW_TYPE_NORMAL : a.NET_WM_WINDOW_TYPE_NOTIFICATION});
  auto setCardinals = [&](xcb_atom_t property, xcb_atom_t type, std::vector<uint32_t> data) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, property, type, 32,
                        static_cast<uint32_t>(data.size()), data.data());
  };
  setCardinals(a.NET_WM_PID, XCB_ATOM_CARDINAL, {static_cast<uint32_t>(getpid())});
  setCardinals(a.DUNELO_OVERLAY, XCB_ATOM_CARDINAL, {1});
  // 2: never unredirect this window, whatever its size and opacity.
  setCardinals(a.NET_WM_BYPASS_COMPOSITOR, XCB_ATOM_CARDINAL, {2});
  if (managed_) {
    // Never focused (input hint false, no WM_TAKE_FOCUS, user time 0), not even when mapped; no
    // decorations; exactly the screen's rectangle, as the program asked for it; on every
    // workspace.
    setCardinals(XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, {1, 0, 0, 0, 0, 0, 0, 0, 0});
    const auto x = static_cast<uint32_t>(static_cast<int32_t>(r.x));
    const auto y = static_cast<uint32_t>(static_cast<int32_t>(r.y));
    // USPosition | USSize | PPosition | PSize | PMinSize | PMaxSize
    setCardinals(XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS,
                 {1 | 2 | 4 | 8 | 16 | 32, x, y, r.width, r.height, r.width, r.height, r.width,
                  r.height, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    setCardinals(a.MOTIF_WM_HINTS, a.MOTIF_WM_HINTS, {2, 0, 0, 0, 0});
  }
}

void X11OverlaySurface::setMappingHints() {
  // A window manager drops these when the window is withdrawn: they are given before every map.
  xcb_connection_t* c = conn_.xcb();
  const Atoms& a = conn_.atoms();
  setAtomsProperty(c, window_, a.NET_WM_STATE,
                   {a.NET_WM_STATE_SKIP_TASKBAR, a.NET_WM_STATE_SKIP_PAGER, a.NET_WM_STATE_STICKY});
  if (!managed_) return;
  const uint32_t userTime = 0;
  const uint32_t everyDesktop = 0xffffffffu;
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, a.NET_WM_USER_TIME, XCB_ATOM_CARDINAL, 32,
                      1, &userTime);
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, a.NET_WM_DESKTOP, XCB_ATOM_CARDINAL, 32, 1,
                      &everyDesktop);
}

void X11OverlaySurface::destroyWindow() {
  painter_.reset();
  if (window_ != XCB_NONE && !conn_.isConnectionLost()) {
    xcb_destroy_window(conn_.xcb(), window_);
    conn_.flush();
  }
  window_ = XCB_NONE;
  mapped_ = false;
}

xcb_window_t X11OverlaySurface::topLevel() const {
  if (!managed_) return window_;
  const ClientInfo* info = factory_.tree_.client(window_);
  return info ? info->frame : window_;
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
  destroyWindow();
}

void X11OverlaySurface::map() {
  if (mapped_) return;
  // A compositor that started or stopped since the window was made changes how it must be
  // stacked: such a window is made anew.
  if (window_ != XCB_NONE && factory_.windowManagerComposites() != managed_) destroyWindow();
  if (window_ == XCB_NONE) createWindow();
  if (window_ == XCB_NONE) return;
  painter_ = factory_.painters_.createPainter(conn_, window_, factory_.format_);
  setMappingHints();
  xcb_map_window(conn_.xcb(), window_);
  mapped_ = true;
  if (managed_) {
    // The manager frames and maps the window in its own time, and a compositing one shows it
    // only after the first change it sees once it watches it (KWin): the window is drawn anew
    // every frame for a little while.
    settleUntil_ = factory_.scheduler_.uptime() + kSettleTime;
    startFrames();
  }
  changed();
}

bool X11OverlaySurface::needsFrames() const {
  const double now = factory_.scheduler_.uptime();
  return alpha_.isRunning(now) || tintOpacity_.isRunning(now) || now < settleUntil_;
}

void X11OverlaySurface::orderFront() {
  heldBelow_ = XCB_NONE;
  if (!mapped_) {
    map();
    // A window manager puts a window it maps on top of the ordinary windows by itself.
    if (managed_) return;
  }
  if (window_ == XCB_NONE) return;
  restackToFront();
  changed();
}

void X11OverlaySurface::restackToFront() {
  xcb_connection_t* c = conn_.xcb();
  if (managed_) {
    const uint32_t data[] = {2, XCB_NONE, XCB_STACK_MODE_ABOVE, 0, 0};
    sendRestackRequest(c, conn_.root(), window_, conn_.atoms().NET_RESTACK_WINDOW, data);
    ++restacks_;
    return;
  }
  // Directly above the topmost ordinary window: below panels, docks, notifications, windows
  // kept above, and the menus and tooltips of other programs.
  const xcb_window_t sibling = topmostOrdinary(factory_.tree_, conn_.atoms());
  if (sibling != XCB_NONE) {
    const uint32_t values[] = {sibling, XCB_STACK_MODE_ABOVE};
    conn_.ignoreErrors(xcb_configure_window_checked(
        c, window_, XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, values));
  } else {
    // Only the desktop's chrome is mapped: beneath all of it.
    const uint32_t bottom = XCB_STACK_MODE_BELOW;
    xcb_configure_window(c, window_, XCB_CONFIG_WINDOW_STACK_MODE, &bottom);
  }
  ++restacks_;
}

void X11OverlaySurface::orderOut() {
  heldBelow_ = XCB_NONE;
  if (window_ == XCB_NONE || !mapped_) return;
  // Everything the painter holds on the server (the backdrop's redirection, damage, pixmaps)
  // goes with it.
  painter_.reset();
  mapped_ = false;
  if (managed_) {
    // A managed window is made anew for every showing: a window manager that is handed back a
    // window it just let go of may not show it again (KWin keeps the old one's closing
    // animation under the same id and stops painting the screen).
    destroyWindow();
    return;
  }
  xcb_unmap_window(conn_.xcb(), window_);
  conn_.flush();
}

bool X11OverlaySurface::isDirectlyBelow(int targetIndex) const {
  const WindowTree& tree = factory_.tree_;
  const int self = tree.stackIndex(topLevel());
  if (self < 0 || self >= targetIndex) return false;
  // Only our own overlays (of other screens) may lie in between.
  for (int i = self + 1; i < targetIndex; ++i) {
    if (!tree.isOwnTopLevel(tree.stack()[static_cast<size_t>(i)].id)) return false;
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
  for (const X11OverlaySurface* s : factory_.surfaces_)
    if (s->window_ != XCB_NONE && s->topLevel() == target) return;  // never below an overlay
  heldBelow_ = target;
  heldOnce_ = false;
  if (mapped_ && isDirectlyBelow(tree.stackIndex(target)) && !mustRaise(target)) return;
  if (!mapped_) map();
  if (window_ == XCB_NONE) return;
  restackBelow(target);
}

bool X11OverlaySurface::mustRaise(xcb_window_t target) const {
  if (managed_) return false;
  const WindowTree& tree = factory_.tree_;
  const TopLevel* frame = tree.topLevel(target);
  if (!frame || !frame->overrideRedirect || !tree.clientOfTopLevel(target)) return false;
  const xcb_window_t top = topmostOrdinary(tree, conn_.atoms());
  return top != XCB_NONE && tree.stackIndex(top) > tree.stackIndex(target);
}

void X11OverlaySurface::restackBelow(xcb_window_t target) {
  if (managed_) {
    // The window manager wants the sibling's client window, and takes the request as a pager's.
    const ClientInfo* info = factory_.tree_.clientOfTopLevel(target);
    const uint32_t data[] = {2, info ? info->id : target, XCB_STACK_MODE_BELOW, 0, 0};
    sendRestackRequest(conn_.xcb(), conn_.root(), window_, conn_.atoms().NET_RESTACK_WINDOW, data);
    ++restacks_;
    return;
  }
  if (mustRaise(target)) {
    const uint32_t raise[] = {topmostOrdinary(factory_.tree_, conn_.atoms()), XCB_STACK_MODE_ABOVE};
    conn_.ignoreErrors(xcb_configure_window_checked(
        conn_.xcb(), target, XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, raise));
  }
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
  state_.backingScale = factory_.space_.scale;  // the screens change with it
  const uint32_t values[] = {static_cast<uint32_t>(static_cast<int32_t>(r.x)),
                             static_cast<uint32_t>(static_cast<int32_t>(r.y)), r.width, r.height};
  if (managed_) {
    // The manager keeps a window to its size hints: they move with it.
    const uint32_t hints[] = {1 | 2 | 4 | 8 | 16 | 32,
                              values[0],
                              values[1],
                              r.width,
                              r.height,
                              r.width,
                              r.height,
                              r.width,
                              r.height,
                              0,
                              0,
                              0,
                              0,
                              0,
                              0,
                              0,
                              0,
                              0};
    xcb_change_property(conn_.xcb(), XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NORMAL_HINTS,
                        XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
  }
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
  if (needsFrames()) startFrames();
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
  frameTimer_ = factory_.scheduler_.scheduleRepeating(kFrameInterval, kFrameInterval, 0,
                                                      [weak = weakFactory_.getWeakPtr()] {
                                                        if (!weak) return;
                                                        weak->paintNow();
                                                        if (!weak->needsFrames())
                                                          weak->frameTimer_.cancel();
                                                      });
}

void X11OverlaySurface::paintNow() {
  if (!mapped_ || !painter_ || conn_.isConnectionLost()) return;
  painter_->paint(visualState());
}

}  // namespace dunelo::x11
