#include "platform/x11/render/render_painter.h"

#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <cmath>

#include "app/debug_log.h"
#include "platform/x11/event_loop.h"
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

void composite(xcb_connection_t* c, uint8_t op, xcb_render_picture_t src, xcb_render_picture_t mask,
               xcb_render_picture_t dst, const Box& b) {
  if (b.isEmpty()) return;
  const auto x = static_cast<int16_t>(b.x0);
  const auto y = static_cast<int16_t>(b.y0);
  xcb_render_composite(c, op, src, mask, dst, x, y, x, y, x, y, static_cast<uint16_t>(b.width()),
                       static_cast<uint16_t>(b.height()));
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

std::unique_ptr<RenderContext> RenderContext::open(EventLoop& loop,
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

RenderContext::RenderContext(EventLoop& loop, std::unique_ptr<X11Connection> conn,
                             PictFormats formats)
    : loop_(loop), conn_(std::move(conn)), formats_(std::move(formats)) {
  appearance_ = readDesktopAppearance(*conn_);
  backdrop_ = std::make_unique<Backdrop>(*conn_, formats_);
  X11Connection* c = conn_.get();
  cancellables.push_back(loop_.watchFd(c->fd(), [c] { c->dispatchPendingEvents(); }));
  cancellables.push_back(loop_.addPrepareHook([c] {
    c->dispatchPendingEvents();
    c->flush();
  }));
}

RenderContext::~RenderContext() {
  cancellables.clear();
  backdrop_.reset();
}

void RenderContext::addOverlay(xcb_window_t window) {
  overlays_.push_back(window);
  backdrop_->setOverlays(overlays_);
}

void RenderContext::removeOverlay(xcb_window_t window) {
  overlays_.erase(std::remove(overlays_.begin(), overlays_.end(), window), overlays_.end());
  backdrop_->setOverlays(overlays_);
}

// --- BlurPainter ---

BlurPainter::BlurPainter(RenderContext& context, xcb_window_t window, xcb_visualid_t visual)
    : ctx_(context),
      c_(context.connection().xcb()),
      window_(window),
      blur_(context.connection().xcb(), context.formats()) {
  ctx_.addOverlay(window_);
  xcb_render_pictformat_t format = ctx_.formats().forVisual(visual);
  if (!format) format = ctx_.formats().rgb24;
  xcb_render_picture_t picture = xcb_generate_id(c_);
  // The window belongs to the backend's main connection and goes away with the painter.
  ctx_.connection().ignoreErrors(
      xcb_render_create_picture_checked(c_, picture, window_, format, 0, nullptr));
  windowPicture_ = ServerResource::quiet(c_, picture, &xcb_render_free_picture_checked);
  backdropObservation_ =
      ctx_.backdrop().observe([this](const Backdrop::Change& change) { onBackdropChange(change); });
  viewable_ = ctx_.backdrop().isViewable(window_);
}

BlurPainter::~BlurPainter() {
  if (fence_) xcb_discard_reply(c_, *fence_);
  backdropObservation_.cancel();
  ctx_.removeOverlay(window_);
}

void BlurPainter::paint(const OverlayVisualState& state) {
  const MaterialLook look = materialLook(state.material, ctx_.appearance());
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
    sceneDamage_ = windowBox();
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
  // been exposed. The effected image is kept, so a fade frame costs only the mix.
  outputDirty_ = true;
  requestFrame();
}

void BlurPainter::redrawEverything() {
  if (!state_) return;
  sceneDamage_ = windowBox();  // recomputes the whole chain and its effects
  outputDirty_ = true;
  requestFrame();
}

void BlurPainter::configureFor(const OverlayVisualState& state, const MaterialLook& look) {
  width_ = std::max<int>(1, state.frame.width);
  height_ = std::max<int>(1, state.frame.height);
  originX_ = state.frame.x;
  originY_ = state.frame.y;
  scene_ = makeScratchPicture(c_, window_, width_, height_, 24, ctx_.formats().rgb24);
  frame_ = makeScratchPicture(c_, window_, width_, height_, 24, ctx_.formats().rgb24);
  effected_ = {};
  blur_.configure(
      scene_.pixmap.id(), ctx_.formats().rgb24, width_, height_,
      std::clamp(look.blurLevels, DualFilterBlur::kMinLevels, DualFilterBlur::kMaxLevels));
  halfMixed_ = makeScratchPicture(c_, window_, blur_.halfWidth(), blur_.halfHeight(), 32,
                                  ctx_.formats().argb32);
  halfMixedDoubled_ = scaledPicture(c_, halfMixed_.pixmap.id(), ctx_.formats().argb32, 0.5,
                                    DualFilterBlur::kLastStepFilter);
  layers_ = ctx_.backdrop().layersBelow(window_);
  sceneDamage_ = windowBox();
  effectsDirty_ = true;
  outputDirty_ = true;
}

void BlurPainter::onBackdropChange(const Backdrop::Change& change) {
  if (!state_) return;
  switch (change.kind) {
    case Backdrop::Change::Kind::background:
      sceneDamage_ = windowBox();
      break;
    case Backdrop::Change::Kind::content: {
      const bool shown = std::any_of(layers_.begin(), layers_.end(),
                                     [&](const auto& l) { return l.window == change.window; });
      if (shown) damageScene(change.area);
      break;
    }
    case Backdrop::Change::Kind::stacking: {
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
  if (!sceneDamage_.isEmpty() || outputDirty_) requestFrame();
}

void BlurPainter::damageScene(const Box& rootArea) {
  const Box local = rootArea.translated(-originX_, -originY_).intersected(windowBox());
  sceneDamage_ = sceneDamage_.united(local);
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
  const bool sceneChanged = !sceneDamage_.isEmpty();
  if (!sceneChanged && !effectsDirty_ && !outputDirty_) return;
  lastFrameTime_ = ctx_.loop().uptime();

  Box content;  // where the effected image changed
  if (sceneChanged) {
    ctx_.backdrop().compose(layers_, sceneDamage_.translated(originX_, originY_), scene_.id(),
                            originX_, originY_);
    const auto updated = blur_.update(sceneDamage_);
    ctx_.stats().blurredPixels +=
        static_cast<uint64_t>(sceneDamage_.width()) * sceneDamage_.height();
    if (!effectsDirty_) applyEffects(updated.half);
    content = updated.full;
  }
  if (effectsDirty_) {
    const auto updated = blur_.redoLastStep();
    applyEffects(updated.half);
    content = updated.full;
  }
  if (grainDirty_) content = windowBox();
  const Box mix = outputDirty_ ? windowBox() : content;
  drawOutput(content, mix);
  sceneDamage_ = {};
  effectsDirty_ = false;
  grainDirty_ = false;
  outputDirty_ = false;

  RenderStats& stats = ctx_.stats();
  ++stats.frames;
  stats.pixelsOut += static_cast<uint64_t>(mix.width()) * mix.height();
  fence_ = xcb_get_input_focus(c_).sequence;
  ctx_.connection().flush();
}

void BlurPainter::applyEffects(const Box& half) {
  if (half.isEmpty()) return;
  const OverlayVisualState& s = *state_;
  const xcb_render_picture_t dst = blur_.halfResult();

  if (look_.veil.alpha > 0) {
    ServerResource veil = solidPicture(c_, look_.veil);
    composite(c_, XCB_RENDER_PICT_OP_OVER, veil.id(), XCB_NONE, dst, half);
  }

  const size_t stops = std::min(s.tintColors.size(), s.tintGeometry.locations.size());
  if (s.tintOpacity > 0 && stops >= 2) {
    // Unit space has its origin at the bottom-left; the picture's at the top-left.
    const double w = blur_.halfWidth();
    const double h = blur_.halfHeight();
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
    composite(c_, XCB_RENDER_PICT_OP_OVER, gradient, opacity.id(), dst, half);
  }

  if (s.grayscaleOpacity > 0) {
    ServerResource grey = solidPicture(c_, s.grayscaleColor);
    ServerResource opacity = solidPicture(c_, Color::deviceRGB(0, 0, 0, s.grayscaleOpacity));
    composite(c_, renderOp(s.grayscaleBlend), grey.id(), opacity.id(), dst, half);
  }
}

void BlurPainter::drawOutput(Box content, const Box& mix) {
  const OverlayVisualState& s = *state_;
  // Grain blends with the effected image before the window alpha mixes in the sharp scene. That
  // image is kept while grain shows, so that a fade only mixes again.
  const bool grain = grainShows(s) && grain_;
  if (!grain) {
    effected_ = {};
  } else {
    if (!effected_) {
      effected_ = makeScratchPicture(c_, window_, width_, height_, 32, ctx_.formats().argb32);
      content = windowBox();
    }
    blur_.drawResult(effected_.id(), XCB_RENDER_PICT_OP_SRC, XCB_NONE, content);
    ServerResource opacity = solidPicture(c_, Color::deviceRGB(0, 0, 0, s.grainOpacity));
    composite(c_, renderOp(s.grainBlend), grain_.id(), opacity.id(), effected_.id(), content);
  }
  if (mix.isEmpty()) return;

  // The frame is mixed offscreen and copied to the window in one request: the window never shows
  // a half-drawn frame, and transformed draws into a redirected window cost the server about
  // twice as much as into a pixmap.
  const xcb_render_picture_t window = windowPicture_.id();
  const double alpha = std::clamp(s.alpha, 0.0, 1.0);
  if (alpha <= 0) {
    composite(c_, XCB_RENDER_PICT_OP_SRC, scene_.id(), XCB_NONE, window, mix);
    return;
  }
  const xcb_render_picture_t frame = frame_.id();
  if (grain) {
    if (alpha < 1) {
      composite(c_, XCB_RENDER_PICT_OP_SRC, scene_.id(), XCB_NONE, frame, mix);
      ServerResource alphaMask = solidPicture(c_, Color::deviceRGB(0, 0, 0, alpha));
      composite(c_, XCB_RENDER_PICT_OP_OVER, effected_.id(), alphaMask.id(), frame, mix);
    } else {
      composite(c_, XCB_RENDER_PICT_OP_SRC, effected_.id(), XCB_NONE, frame, mix);
    }
  } else if (alpha >= 1) {
    blur_.drawResult(frame, XCB_RENDER_PICT_OP_SRC, XCB_NONE, mix);
  } else {
    ServerResource alphaMask = solidPicture(c_, Color::deviceRGB(0, 0, 0, alpha));
    composite(c_, XCB_RENDER_PICT_OP_SRC, blur_.halfResult(), alphaMask.id(), halfMixed_.id(),
              blur_.halfBox(mix));
    composite(c_, XCB_RENDER_PICT_OP_SRC, scene_.id(), XCB_NONE, frame, mix);
    composite(c_, XCB_RENDER_PICT_OP_OVER, halfMixedDoubled_.id(), XCB_NONE, frame, mix);
  }
  composite(c_, XCB_RENDER_PICT_OP_SRC, frame, XCB_NONE, window, mix);
}

// --- BlurPainterFactory ---

BlurPainterFactory::BlurPainterFactory(EventLoop& loop, std::string displayName)
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
  const xcb_visualid_t visual =
      format.visual == XCB_COPY_FROM_PARENT ? connection.screen()->root_visual : format.visual;
  return std::make_unique<BlurPainter>(*context_, window, visual);
}

}  // namespace dunelo::x11
