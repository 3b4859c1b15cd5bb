#include "platform/x11/render/render_painter.h"

#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/xcbext.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "core/debug_log.h"
#include "platform/x11/render/desktop_appearance.h"
#include "platform/x11/x11_connection.h"

namespace dunelo::x11 {

namespace {

constexpr double kFrameInterval = 1.0 / 60.0;
// How soon to look again when the server has not finished the previous frame.
constexpr double kFenceRetry = 0.002;

uint8_t renderOp(BlendMode blend) {
  switch (blend) {
    case BlendMode::saturation:
      return XCB_RENDER_PICT_OP_HSL_SATURATION;
    case BlendMode::overlay:
      return XCB_RENDER_PICT_OP_OVERLAY;
    case BlendMode::normal:
      break;
  }
  return XCB_RENDER_PICT_OP_OVER;
}

bool sameTint(const OverlayVisualState& a, const OverlayVisualState& b) {
  return a.tintGeometry == b.tintGeometry && a.tintColors == b.tintColors &&
         a.tintOpacity == b.tintOpacity;
}

bool sameGrayscale(const OverlayVisualState& a, const OverlayVisualState& b) {
  return a.grayscaleColor == b.grayscaleColor && a.grayscaleBlend == b.grayscaleBlend &&
         a.grayscaleOpacity == b.grayscaleOpacity;
}

bool grainShows(const OverlayVisualState& s) {
  return s.grainImage && s.grainImage->width > 0 && s.grainImage->height > 0 && s.grainOpacity > 0;
}

}  // namespace

// --- RenderContext ---

std::unique_ptr<RenderContext> RenderContext::open(Scheduler& loop,
                                                   const std::string& displayName) {
  std::string failure;
  auto conn = X11Connection::open(displayName.empty() ? nullptr : displayName.c_str(), &failure);
  if (!conn) {
    debugLog("[X11] overlay renderer: " + failure);
    return nullptr;
  }
  const Extensions& ext = conn->extensions();
  if (!ext.composite.atLeast(0, 2) || !ext.damage.present || !ext.xfixes.atLeast(2, 0) ||
      !ext.render.atLeast(0, 11)) {
    debugLog(
        "[X11] overlay renderer: the display lacks Composite 0.2, Damage, XFixes 2 or RENDER "
        "0.11; the overlay shows a flat veil instead of a blur");
    return nullptr;
  }
  auto formats = queryPictFormats(conn->xcb());
  if (!formats) {
    debugLog("[X11] overlay renderer: no usable RENDER picture formats; flat veil instead");
    return nullptr;
  }
  return std::unique_ptr<RenderContext>(new RenderContext(loop, std::move(conn), *formats));
}

RenderContext::RenderContext(Scheduler& loop, std::unique_ptr<X11Connection> conn,
                             PictFormats formats)
    : loop_(loop), conn_(std::move(conn)), formats_(std::move(formats)) {
  appearance_ = std::make_unique<DesktopAppearanceWatcher>(*conn_);
  watchCompositor();
  for (auto& token : attachToEventLoop(*conn_, loop_)) cancellables.push_back(std::move(token));
}

RenderContext::~RenderContext() {
  cancellables.clear();
  backdrop_.reset();
}

void RenderContext::watchCompositor() {
  xcb_connection_t* c = conn_->xcb();
  compositorSelection_ = conn_->atoms().NET_WM_CM_S;
  if (compositorSelection_ == XCB_NONE) return;
  // Watched before asking, so that a change in between is not missed.
  xcb_xfixes_select_selection_input(c, conn_->root(), compositorSelection_,
                                    XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                        XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                        XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
  auto owner =
      replyOf(c, xcb_get_selection_owner_reply, xcb_get_selection_owner(c, compositorSelection_));
  compositorRunning_ = owner && owner->owner != XCB_NONE;
  cancellables.push_back(conn_->onExtension<xcb_xfixes_selection_notify_event_t>(
      conn_->extensions().xfixes, XCB_XFIXES_SELECTION_NOTIFY, [this](const auto& notify) {
        if (notify.selection != compositorSelection_) return;
        const bool running = notify.subtype == XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER &&
                             notify.owner != XCB_NONE;
        if (running == compositorRunning_) return;
        compositorRunning_ = running;
        debugLog(running ? "[X11] overlay renderer: a compositing manager started"
                         : "[X11] overlay renderer: the compositing manager stopped");
        // A compositor that starts keeps the redirection it finds (ending it under the compositor
        // would give every window a new pixmap behind its back); one that stops takes its own
        // along.
        if (backdrop_ && !running) backdrop_->setRedirected(true);
        compositorChanges_.send({});
      }));
}

Cancellable RenderContext::observeCompositor(std::function<void()> handler) {
  return compositorChanges_.subscribe(
      [handler = std::move(handler)](std::monostate) { handler(); });
}

void RenderContext::addOverlay(xcb_window_t window) {
  overlays_.push_back(window);
  // The backdrop (and with it the redirection of every window, its damage objects and pixmaps)
  // exists only while some overlay shows.
  if (!backdrop_) {
    backdrop_ = std::make_unique<Backdrop>(*conn_, formats_);
    backdrop_->setRedirected(!compositorRunning_);
  }
  backdrop_->setOverlays(overlays_);
}

void RenderContext::removeOverlay(xcb_window_t window) {
  overlays_.erase(std::remove(overlays_.begin(), overlays_.end(), window), overlays_.end());
  if (overlays_.empty()) {
    backdrop_.reset();
    conn_->flush();
  } else {
    backdrop_->setOverlays(overlays_);
  }
}

// --- BlurPainter ---

BlurPainter::BlurPainter(RenderContext& context, xcb_window_t window, xcb_visualid_t visual)
    : ctx_(context),
      c_(context.connection().xcb()),
      window_(window),
      blur_(context.connection().xcb(), context.formats()),
      overlayGrain_(context.connection().xcb(), context.formats()) {
  ctx_.addOverlay(window_);
  xcb_render_pictformat_t format = ctx_.formats().forVisual(visual);
  if (!format) format = ctx_.formats().rgb24;
  xcb_render_picture_t picture = xcb_generate_id(c_);
  // The window belongs to the backend's main connection and goes away with the painter.
  ctx_.connection().ignoreErrors(
      xcb_render_create_picture_checked(c_, picture, window_, format, 0, nullptr));
  windowPicture_ = ServerResource::quiet(c_, picture, &xcb_render_free_picture_checked);
  // Without a compositor the backdrop redirects every child of the root, this window too. Each
  // frame reaches the window complete, in one copy, so the window is drawn straight to the
  // screen instead: kept redirected, the server would copy every frame to the screen a second
  // time. (This connection made the redirection, so it may lift it; a compositor's own
  // redirection stays.)
  ctx_.connection().ignoreErrors(
      xcb_composite_unredirect_window_checked(c_, window_, XCB_COMPOSITE_REDIRECT_AUTOMATIC));
  blur_.setEffects(
      [this](xcb_render_picture_t coarse, const Box& box) { applyEffects(coarse, box); });
  backdropObservation_ =
      ctx_.backdrop().observe([this](const Backdrop::Change& change) { onBackdropChange(change); });
  compositorObservation_ = ctx_.observeCompositor([this] {
    // The backdrop redirects again once the compositor is gone: this window stays out of it.
    ctx_.connection().ignoreErrors(
        xcb_composite_unredirect_window_checked(c_, window_, XCB_COMPOSITE_REDIRECT_AUTOMATIC));
    visibilityDirty_ = true;
    redrawEverything();
  });
  // The veil follows the desktop's light or dark look.
  appearanceObservation_ = ctx_.observeAppearance([this] {
    if (state_ &&
        !(materialLook(state_->material, ctx_.appearance(), state_->backingScale) == look_))
      paint(*state_);
  });
  viewable_ = ctx_.backdrop().isViewable(window_);
}

BlurPainter::~BlurPainter() {
  if (fence_) xcb_discard_reply(c_, *fence_);
  backdropObservation_.cancel();
  compositorObservation_.cancel();
  appearanceObservation_.cancel();
  ctx_.removeOverlay(window_);
}

void BlurPainter::paint(const OverlayVisualState& state) {
  const MaterialLook look = materialLook(state.material, ctx_.appearance(), state.backingScale);
  const bool resized = !state_ || state.frame.width != state_->frame.width ||
                       state.frame.height != state_->frame.height ||
                       look.blurLevels != look_.blurLevels;
  const bool moved =
      !state_ || state.frame.x != state_->frame.x || state.frame.y != state_->frame.y;
  if (resized) {
    configureFor(state, look);
  } else if (moved) {
    originX_ = state.frame.x;
    originY_ = state.frame.y;
    damageEverything();
    layers_ = ctx_.backdrop().layersBelow(window_);
  }
  if (!state_ || !sameTint(state, *state_) || !sameGrayscale(state, *state_) || !(look == look_)) {
    effectsDirty_ = true;
  }
  look_ = look;
  if (state.grainImage != grainImage_) {
    grainImage_ = state.grainImage;
    grain_ =
        grainImage_ ? uploadBitmap(c_, window_, ctx_.formats(), *grainImage_) : ScratchPicture{};
    grainDirty_ = true;
  }
  if (!state_ || state.grainOpacity != state_->grainOpacity ||
      state.grainBlend != state_->grainBlend) {
    grainDirty_ = true;
  }
  state_ = state;
  // Every paint mixes the whole window again: the alpha may have changed or the window may have
  // been exposed. The effected image is kept, so a fade frame costs only the mix. (What exposed
  // it, a window above that moved, reaches the backdrop too and makes the visible part be asked
  // for again.)
  outputDirty_ = true;
  requestFrame();
}

void BlurPainter::redrawEverything() {
  if (!state_) return;
  damageEverything();  // recomputes the whole chain and its effects
  outputDirty_ = true;
  requestFrame();
}

void BlurPainter::configureFor(const OverlayVisualState& state, const MaterialLook& look) {
  width_ = std::max<int>(1, state.frame.width);
  height_ = std::max<int>(1, state.frame.height);
  originX_ = state.frame.x;
  originY_ = state.frame.y;
  frame_ = makeScratchPicture(c_, window_, width_, height_, 24, ctx_.formats().rgb24);
  effected_ = {};
  fadeBlend_ = {};
  lastAlpha_ = -1;
  overlayGrain_.reset();
  blur_.configure(
      frame_.pixmap.id(), ctx_.formats().rgb24, width_, height_,
      std::clamp(look.blurLevels, DualFilterBlur::kMinLevels, DualFilterBlur::kMaxLevels));
  chainAlpha_ = -1;
  layers_ = ctx_.backdrop().layersBelow(window_);
  // A window manager may have framed and mapped the window before the first paint: changes
  // before it are not followed.
  viewable_ = ctx_.backdrop().isViewable(window_);
  // A change moves the blur up to its reach plus one pixel of the coarsest level away (rounding to
  // that level): pieces closer than twice that would redo pixels of each other's.
  sceneDamage_.setMergeDistance(2 * (blur_.reach() + blur_.coarseScale()));
  damageEverything();
  hiddenDamage_ = {};
  visible_.clear();
  visibilityDirty_ = true;
  effectsDirty_ = true;
  outputDirty_ = true;
}

void BlurPainter::updateVisibility() {
  if (!visibilityDirty_) return;
  visibilityDirty_ = false;
  const Box whole = windowBox();
  std::vector<xcb_rectangle_t> rects;
  bool known = false;
  if (!ctx_.compositorRunning()) {
    // The server's own clip of the window (window coordinates): one round trip, only after the
    // stack or the window changed.
    X11Connection& conn = ctx_.connection();
    const xcb_xfixes_region_t region = xcb_generate_id(c_);
    conn.ignoreErrors(xcb_composite_create_region_from_border_clip_checked(c_, region, window_));
    auto reply = replyOf(c_, xcb_xfixes_fetch_region_reply, xcb_xfixes_fetch_region(c_, region));
    conn.ignoreErrors(xcb_xfixes_destroy_region_checked(c_, region));
    if (reply) {
      known = true;
      const xcb_rectangle_t* r = xcb_xfixes_fetch_region_rectangles(reply.get());
      const int n = xcb_xfixes_fetch_region_rectangles_length(reply.get());
      for (int i = 0; i < n; ++i) {
        const Box b = Box::ofSize(r[i].x, r[i].y, r[i].width, r[i].height).intersected(whole);
        if (b.isEmpty()) continue;
        rects.push_back({static_cast<int16_t>(b.x0), static_cast<int16_t>(b.y0),
                         static_cast<uint16_t>(b.width()), static_cast<uint16_t>(b.height())});
      }
    }
  }
  if (!known) {
    rects = {{0, 0, static_cast<uint16_t>(width_), static_cast<uint16_t>(height_)}};
  }
  const bool same =
      rects.size() == visible_.size() &&
      std::equal(rects.begin(), rects.end(), visible_.begin(),
                 [](const xcb_rectangle_t& a, const xcb_rectangle_t& b) {
                   return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
                 });
  if (same) return;
  visible_ = std::move(rects);
  visibleBox_ = {};
  for (const xcb_rectangle_t& r : visible_) {
    visibleBox_ = visibleBox_.united(Box::ofSize(r.x, r.y, r.width, r.height));
  }
  // What comes into view was neither mixed nor, beyond the blur's reach, blurred.
  sceneDamage_.add(hiddenDamage_);
  hiddenDamage_ = {};
  outputDirty_ = true;
  effectedStale_ = true;
}

void BlurPainter::onBackdropChange(const Backdrop::Change& change) {
  if (!state_) {
    // Mapped (or framed) before the first paint, as an overlay that comes up at start often is:
    // that paint must know, or every frame is held back until the next restack.
    viewable_ = ctx_.backdrop().isViewable(window_);
    return;
  }
  switch (change.kind) {
    case Backdrop::Change::Kind::background:
      damageEverything();
      break;
    case Backdrop::Change::Kind::content: {
      const bool shown = std::any_of(layers_.begin(), layers_.end(),
                                     [&](const auto& l) { return l.window == change.window; });
      if (shown) damageScene(change.area);
      break;
    }
    case Backdrop::Change::Kind::stacking: {
      // Windows above the overlay may have moved over or away from it.
      visibilityDirty_ = true;
      const bool viewable = ctx_.backdrop().isViewable(window_);
      if (viewable && !viewable_) {
        outputDirty_ = true;  // mapped again: the window has fresh pixels to fill
      }
      viewable_ = viewable;
      auto layers = ctx_.backdrop().layersBelow(window_);
      if (layers == layers_) break;
      // Everything from the first difference up may look different now.
      size_t first = 0;
      while (first < layers.size() && first < layers_.size() && layers[first] == layers_[first]) {
        ++first;
      }
      for (size_t i = first; i < layers_.size(); ++i) damageScene(layers_[i].rect);
      for (size_t i = first; i < layers.size(); ++i) damageScene(layers[i].rect);
      layers_ = std::move(layers);
      break;
    }
  }
  if (!sceneDamage_.isEmpty() || outputDirty_ || visibilityDirty_) requestFrame();
}

void BlurPainter::damageEverything() {
  sceneDamage_.clear();
  sceneDamage_.add(windowBox());
}

void BlurPainter::damageScene(const Box& rootArea) {
  const Box local = rootArea.translated(-originX_, -originY_).intersected(windowBox());
  sceneDamage_.add(local);
}

void BlurPainter::requestFrame(double delay) {
  if (framePending_) return;
  framePending_ = true;
  if (delay < 0) {
    const double now = ctx_.loop().uptime();
    delay = lastFrameTime_ < 0 ? 0 : std::max(0.0, lastFrameTime_ + kFrameInterval - now);
  }
  ctx_.loop().postDelayed(delay, [weak = weakFactory_.getWeakPtr()] {
    if (BlurPainter* self = weak.get()) self->drawFrame();
  });
}

bool BlurPainter::previousFrameDone() {
  if (!fence_) return true;
  void* reply = nullptr;
  xcb_generic_error_t* error = nullptr;
  if (!xcb_poll_for_reply(c_, *fence_, &reply, &error)) {
    ctx_.connection().flush();
    return false;
  }
  free(reply);
  free(error);
  fence_.reset();
  return true;
}

void BlurPainter::drawFrame() {
  framePending_ = false;
  if (!state_ || ctx_.connection().isConnectionLost()) return;
  if (!previousFrameDone()) {
    requestFrame(kFenceRetry);
    return;
  }
  // Hidden: keep the damage for when the window shows again (its map redraws everything).
  if (!viewable_) return;
  updateVisibility();
  const double alpha = std::clamp(state_->alpha, 0.0, 1.0);
  const bool grain = grainShows(*state_) && grain_;
  if (const double chainAlpha = grain ? 1.0 : alpha; chainAlpha != chainAlpha_) {
    chainAlpha_ = chainAlpha;
    effectsDirty_ = true;
  }
  // Changes beyond the blur's reach of anything that shows wait until something near them does.
  const Box relevant = visibleBox_.grown(blur_.reach()).intersected(windowBox());
  std::vector<Box> pieces;
  for (const Box& piece : sceneDamage_.boxes()) {
    const Box within = piece.grown(blur_.reach());
    const bool seen = std::any_of(visible_.begin(), visible_.end(), [&](const xcb_rectangle_t& r) {
      return !within.intersected(Box::ofSize(r.x, r.y, r.width, r.height)).isEmpty();
    });
    const Box kept = seen ? piece.intersected(relevant) : Box{};
    if (!(kept == piece)) hiddenDamage_ = hiddenDamage_.united(piece);
    if (!kept.isEmpty()) pieces.push_back(kept);
  }
  sceneDamage_.clear();
  if (pieces.empty() && !effectsDirty_ && !outputDirty_) return;
  lastFrameTime_ = ctx_.loop().uptime();

  // A change of the effects or of the mix redraws the whole window, and the pieces with it;
  // otherwise each piece is redrawn around itself, one after the other. (That is exact whatever
  // their distance: a piece redraws every pixel its change can reach, reading the pieces before
  // it as they are now.)
  const bool everything =
      effectsDirty_ || outputDirty_ || grainDirty_ || effectedStale_ || (grain && !grainKept());
  if (everything || pieces.size() == 1) {
    Box all;
    for (const Box& piece : pieces) all = all.united(piece);
    drawPiece(all, alpha, grain);
  } else {
    for (const Box& piece : pieces) drawPiece(piece, alpha, grain);
  }
  effectsDirty_ = false;
  effectedStale_ = false;
  grainDirty_ = false;
  outputDirty_ = false;
  lastAlpha_ = alpha;

  ++ctx_.stats().frames;
  fence_ = xcb_get_input_focus(c_).sequence;
  ctx_.connection().flush();
}

void BlurPainter::drawPiece(const Box& damage, double alpha, bool grain) {
  // Where the blurred image changes, where the window is mixed again, and where the sharp scene
  // is needed for either: the blur reads it where it changed, the mix shows it through where the
  // alpha is below 1.
  const auto blurred = blur_.affected(damage, effectsDirty_);
  Box content = blurred.full;
  if (grainDirty_ || effectedStale_ || (grain && !grainKept())) content = windowBox();
  content = content.intersected(visibleBox_);
  const Box mix = outputDirty_ ? visibleBox_ : content;
  const Box scene = alpha < 1 ? blurred.read.united(mix) : blurred.read;
  if (!scene.isEmpty()) {
    ctx_.backdrop().compose(layers_, scene.translated(originX_, originY_), frame_.id(), originX_,
                            originY_);
  }
  if (!damage.isEmpty() || effectsDirty_) blur_.update(damage, effectsDirty_);
  RenderStats& stats = ctx_.stats();
  stats.blurredPixels += static_cast<uint64_t>(std::max(0, damage.width())) *
                         static_cast<uint64_t>(std::max(0, damage.height()));
  drawOutput(content, mix, alpha, grain);
  stats.pixelsOut += static_cast<uint64_t>(std::max(0, mix.width())) *
                     static_cast<uint64_t>(std::max(0, mix.height()));
}

void BlurPainter::applyEffects(xcb_render_picture_t dst, const Box& box) {
  const OverlayVisualState& s = *state_;

  if (look_.veil.alpha > 0) {
    ServerResource veil = solidPicture(c_, look_.veil);
    composite(c_, XCB_RENDER_PICT_OP_OVER, veil.id(), XCB_NONE, dst, box);
  }

  const size_t stops = std::min(s.tintColors.size(), s.tintGeometry.locations.size());
  if (s.tintOpacity > 0 && stops >= 2) {
    // Unit space has its origin at the bottom-left; the picture's at the top-left, in pixels of
    // the coarsest level.
    const double w = static_cast<double>(width_) / blur_.coarseScale();
    const double h = static_cast<double>(height_) / blur_.coarseScale();
    auto point = [&](const Point& p) {
      return xcb_render_pointfix_t{toFixed(p.x * w), toFixed((1.0 - p.y) * h)};
    };
    std::vector<xcb_render_fixed_t> locations;
    std::vector<xcb_render_color_t> colors;
    for (size_t i = 0; i < stops; ++i) {
      locations.push_back(toFixed(std::clamp(s.tintGeometry.locations[i], 0.0, 1.0)));
      colors.push_back(renderColor(s.tintColors[i], /*premultiplied=*/false));
    }
    xcb_render_picture_t gradient = xcb_generate_id(c_);
    xcb_render_create_linear_gradient(c_, gradient, point(s.tintGeometry.startPoint),
                                      point(s.tintGeometry.endPoint), static_cast<uint32_t>(stops),
                                      locations.data(), colors.data());
    ServerResource ownedGradient = ownedPicture(c_, gradient);
    ServerResource opacity = solidPicture(c_, Color::deviceRGB(0, 0, 0, s.tintOpacity));
    composite(c_, XCB_RENDER_PICT_OP_OVER, gradient, opacity.id(), dst, box);
  }

  if (s.grayscaleOpacity > 0) {
    ServerResource grey = solidPicture(c_, s.grayscaleColor);
    ServerResource opacity = solidPicture(c_, Color::deviceRGB(0, 0, 0, s.grayscaleOpacity));
    composite(c_, renderOp(s.grayscaleBlend), grey.id(), opacity.id(), dst, box);
  }

  if (chainAlpha_ < 1) {
    // Scales every channel, alpha included, by the window alpha.
    ServerResource alpha = solidPicture(c_, Color::deviceRGB(0, 0, 0, chainAlpha_));
    composite(c_, XCB_RENDER_PICT_OP_IN_REVERSE, alpha.id(), XCB_NONE, dst, box);
  }
}

bool BlurPainter::grainKept() const {
  return state_->grainBlend == BlendMode::overlay ? overlayGrain_.isReady()
                                                  : static_cast<bool>(effected_);
}

void BlurPainter::drawOutput(const Box& content, const Box& mix, double alpha, bool grain) {
  const OverlayVisualState& s = *state_;
  const bool overlayGrain = grain && s.grainBlend == BlendMode::overlay;
  if (!grain || overlayGrain) {
    effected_ = {};
    grainAtOpacity_ = {};
  }
  if (!overlayGrain) {
    overlayGrain_.reset();
    fadeBlend_ = {};
  }
  if (overlayGrain) {
    if (grainDirty_ || !overlayGrain_.isReady()) {
      overlayGrain_.setGrain(window_, grain_.id(), s.grainOpacity, width_, height_);
    }
    const bool fading = lastAlpha_ >= 0 && alpha != lastAlpha_;
    if (!fading && !content.isEmpty()) fadeBlend_ = {};
    if (fading || fadeBlend_) {
      const bool fresh = !fadeBlend_;
      if (fresh) {
        fadeBlend_ = makeScratchPicture(c_, window_, width_, height_, 32, ctx_.formats().argb32);
      }
      const Box redo = fresh || overlayGrain_.preparedAlpha() != 1 ? visibleBox_ : content;
      overlayGrain_.prepare(blur_.halfResult(), blur_.halfWidth(), blur_.halfHeight(), redo, 1);
      overlayGrain_.draw(fadeBlend_.id(), redo);
    } else {
      // The split carries the window alpha: a new alpha makes it again wherever the window
      // shows, at half size.
      const Box split = alpha != overlayGrain_.preparedAlpha() ? visibleBox_ : content;
      overlayGrain_.prepare(blur_.halfResult(), blur_.halfWidth(), blur_.halfHeight(), split,
                            alpha);
    }
  } else if (grain && !content.isEmpty()) {
    // Grain blends with the effected image before the window alpha mixes in the sharp scene.
    // That image is kept while grain shows, so that a fade only mixes again.
    if (!effected_) {
      effected_ = makeScratchPicture(c_, window_, width_, height_, 32, ctx_.formats().argb32);
    }
    if (grainDirty_ || !grainAtOpacity_) {
      const Bitmap& image = *grainImage_;
      grainAtOpacity_ =
          makeScratchPicture(c_, window_, image.width, image.height, 32, ctx_.formats().argb32);
      const uint32_t repeat = XCB_RENDER_REPEAT_NORMAL;
      xcb_render_change_picture(c_, grainAtOpacity_.id(), XCB_RENDER_CP_REPEAT, &repeat);
      ServerResource opacity = solidPicture(c_, Color::deviceRGB(0, 0, 0, s.grainOpacity));
      composite(c_, XCB_RENDER_PICT_OP_SRC, grain_.id(), opacity.id(), grainAtOpacity_.id(),
                {0, 0, image.width, image.height});
    }
    blur_.drawResult(effected_.id(), XCB_RENDER_PICT_OP_SRC, XCB_NONE, content);
    composite(c_, renderOp(s.grainBlend), grainAtOpacity_.id(), XCB_NONE, effected_.id(), content);
  }
  if (mix.isEmpty()) return;

  // The frame holds the sharp scene wherever alpha is below 1. It is mixed offscreen and copied
  // to the window in one request: the window never shows a half-drawn frame.
  const xcb_render_picture_t frame = frame_.id();
  const uint8_t op = alpha < 1 ? XCB_RENDER_PICT_OP_OVER : XCB_RENDER_PICT_OP_SRC;
  // Only what shows is mixed; the copy to the window is clipped to it by the server.
  xcb_render_set_picture_clip_rectangles(c_, frame, 0, 0, static_cast<uint32_t>(visible_.size()),
                                         visible_.data());
  if (alpha <= 0) {
    // The scene alone.
  } else if (overlayGrain && !fadeBlend_) {
    overlayGrain_.draw(frame, mix);
  } else if (grain) {
    const xcb_render_picture_t kept = overlayGrain ? fadeBlend_.id() : effected_.id();
    const ServerResource alphaMask =
        alpha < 1 ? solidPicture(c_, Color::deviceRGB(0, 0, 0, alpha)) : ServerResource{};
    composite(c_, op, kept, alphaMask.id(), frame, mix);
  } else {
    // The chain carries the alpha: its result is the blur's share of the mix.
    blur_.drawResult(frame, op, XCB_NONE, mix);
  }
  xcb_xfixes_set_picture_clip_region(c_, frame, XCB_NONE, 0, 0);
  composite(c_, XCB_RENDER_PICT_OP_SRC, frame, XCB_NONE, windowPicture_.id(), mix);
}

// --- BlurPainterFactory ---

BlurPainterFactory::BlurPainterFactory(Scheduler& loop, std::string displayName)
    : loop_(loop), displayName_(std::move(displayName)) {}

BlurPainterFactory::~BlurPainterFactory() = default;

bool BlurPainterFactory::canBlur() {
  if (!triedOpen_) {
    triedOpen_ = true;
    context_ = RenderContext::open(loop_, displayName_);
  }
  return context_ != nullptr;
}

const RenderStats* BlurPainterFactory::stats() const {
  return context_ ? &context_->stats() : nullptr;
}

OverlayWindowFormat BlurPainterFactory::windowFormat(X11Connection& connection) {
  // The painter draws opaque pixels (it mixes the scene in itself), so the screen's own visual
  // serves with or without a compositor.
  if (canBlur()) return OverlayWindowFormat{};
  return fallback_.windowFormat(connection);
}

std::unique_ptr<OverlayPainter> BlurPainterFactory::createPainter(
    X11Connection& connection, xcb_window_t window, const OverlayWindowFormat& format) {
  if (!canBlur()) return fallback_.createPainter(connection, window, format);
  // The window was made on the caller's connection and the painter names it on its own: the
  // server must have made it first, or every request about it fails. Nothing orders requests of
  // two connections but a round trip.
  connection.sync();
  const xcb_visualid_t visual =
      format.visual == XCB_COPY_FROM_PARENT ? connection.screen()->root_visual : format.visual;
  return std::make_unique<BlurPainter>(*context_, window, visual);
}

}  // namespace dunelo::x11
