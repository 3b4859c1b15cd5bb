#include "platform/x11/render/dual_filter_blur.h"

#include <cassert>

namespace dunelo::x11 {

namespace {

int halfUp(int v) {
  return (v + 1) / 2;
}
int halfDown(int v) {
  return v >= 0 ? v / 2 : -((-v + 1) / 2);
}

Box clampTo(const Box& b, int width, int height) {
  return b.intersected({0, 0, width, height});
}

// The area of the next level down that covers `b`.
Box halved(const Box& b) {
  return {halfDown(b.x0), halfDown(b.y0), halfUp(b.x1), halfUp(b.y1)};
}

// The area of the next level up that a bilinear doubling of `b` touches.
Box doubled(const Box& b) {
  return {2 * b.x0 - 1, 2 * b.y0 - 1, 2 * b.x1 + 1, 2 * b.y1 + 1};
}

void composite(xcb_connection_t* c, uint8_t op, xcb_render_picture_t src, xcb_render_picture_t mask,
               xcb_render_picture_t dst, const Box& b, int dx = 0, int dy = 0) {
  if (b.isEmpty()) return;
  xcb_render_composite(c, op, src, mask, dst, static_cast<int16_t>(b.x0),
                       static_cast<int16_t>(b.y0), static_cast<int16_t>(b.x0),
                       static_cast<int16_t>(b.y0), static_cast<int16_t>(b.x0 + dx),
                       static_cast<int16_t>(b.y0 + dy), static_cast<uint16_t>(b.width()),
                       static_cast<uint16_t>(b.height()));
}

}  // namespace

DualFilterBlur::DualFilterBlur(xcb_connection_t* c, const PictFormats& formats)
    : c_(c), formats_(formats) {}

ServerResource DualFilterBlur::transformedPicture(xcb_pixmap_t pixmap,
                                                  xcb_render_pictformat_t format, double factor) {
  return scaledPicture(c_, pixmap, format, factor, "bilinear");
}

void DualFilterBlur::configure(xcb_pixmap_t sourcePixmap, xcb_render_pictformat_t sourceFormat,
                               int width, int height, int levels) {
  assert(levels >= kMinLevels && levels <= kMaxLevels && "blur levels out of range");
  chain_.clear();
  width_ = width;
  height_ = height;
  levels_ = levels;
  sourceAsHalving_ = transformedPicture(sourcePixmap, sourceFormat, 2.0);
  int w = width;
  int h = height;
  for (int i = 1; i <= levels; ++i) {
    w = halfUp(w);
    h = halfUp(h);
    Level level;
    level.width = w;
    level.height = h;
    level.down = makeScratchPicture(c_, sourcePixmap, w, h, 32, formats_.argb32);
    level.downAsHalving = transformedPicture(level.down.pixmap.id(), formats_.argb32, 2.0);
    level.downAsDoubling = transformedPicture(level.down.pixmap.id(), formats_.argb32, 0.5);
    if (i > 1 && i < levels) {
      level.up = makeScratchPicture(c_, sourcePixmap, w, h, 32, formats_.argb32);
      level.upAsDoubling = transformedPicture(level.up.pixmap.id(), formats_.argb32, 0.5);
    }
    chain_.push_back(std::move(level));
  }
  halfWidth_ = chain_[0].width;
  halfHeight_ = chain_[0].height;
  upResult_ = makeScratchPicture(c_, sourcePixmap, halfWidth_, halfHeight_, 32, formats_.argb32);
  // The last doubling repeats pixels instead of interpolating: the half-size result is so smooth
  // by then that the two differ by at most 2 of 255 levels, and at full size interpolation
  // costs the server almost three times as much.
  upResultAsDoubling_ =
      scaledPicture(c_, upResult_.pixmap.id(), formats_.argb32, 0.5, kLastStepFilter);
}

int DualFilterBlur::reach() const {
  return levels_ > 0 ? (2 << levels_) : 0;
}

Box DualFilterBlur::halfBox(const Box& fullBox) const {
  return clampTo(halved(fullBox).grown(1), halfWidth_, halfHeight_);
}

DualFilterBlur::Updated DualFilterBlur::update(const Box& changed) {
  Box box = clampTo(changed, width_, height_);
  if (box.isEmpty() || !isConfigured()) return {};

  // Down: each level is recomputed where it covers the changed area.
  xcb_render_picture_t src = sourceAsHalving_.id();
  for (Level& level : chain_) {
    box = clampTo(halved(box), level.width, level.height);
    composite(c_, XCB_RENDER_PICT_OP_SRC, src, XCB_NONE, level.down.id(), box);
    src = level.downAsHalving.id();
  }

  // Up: each doubling spreads the change by one pixel of the finer level.
  src = chain_.back().downAsDoubling.id();
  for (int i = levels_ - 1; i >= 1; --i) {
    Level& level = chain_[i - 1];
    box = clampTo(doubled(box), level.width, level.height);
    xcb_render_picture_t dst = i == 1 ? upResult_.id() : level.up.id();
    composite(c_, XCB_RENDER_PICT_OP_SRC, src, XCB_NONE, dst, box);
    src = i == 1 ? upResultAsDoubling_.id() : level.upAsDoubling.id();
  }
  return {box, clampTo(doubled(box), width_, height_)};
}

DualFilterBlur::Updated DualFilterBlur::redoLastStep() {
  if (!isConfigured()) return {};
  const Box half{0, 0, halfWidth_, halfHeight_};
  const xcb_render_picture_t src =
      levels_ == 2 ? chain_.back().downAsDoubling.id() : chain_[1].upAsDoubling.id();
  composite(c_, XCB_RENDER_PICT_OP_SRC, src, XCB_NONE, upResult_.id(), half);
  return {half, {0, 0, width_, height_}};
}

void DualFilterBlur::drawResult(xcb_render_picture_t destination, uint8_t op,
                                xcb_render_picture_t mask, const Box& box, int offsetX,
                                int offsetY) const {
  composite(c_, op, upResultAsDoubling_.id(), mask, destination, clampTo(box, width_, height_),
            offsetX, offsetY);
}

}  // namespace dunelo::x11
