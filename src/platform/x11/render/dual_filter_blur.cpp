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
    if (i > 1 && i < levels) {
      level.up = makeScratchPicture(c_, sourcePixmap, w, h, 32, formats_.argb32);
      level.upAsDoubling = transformedPicture(level.up.pixmap.id(), formats_.argb32, 0.5);
    }
    chain_.push_back(std::move(level));
  }
  top_ = makeScratchPicture(c_, sourcePixmap, w, h, 32, formats_.argb32);
  topAsDoubling_ = transformedPicture(top_.pixmap.id(), formats_.argb32, 0.5);
  upResult_ =
      makeScratchPicture(c_, sourcePixmap, chain_[0].width, chain_[0].height, 32, formats_.argb32);
  // The last doubling repeats pixels instead of interpolating: the half-size result is so smooth
  // by then that the two differ by at most 2 of 255 levels, and at full size interpolation
  // costs the server almost three times as much.
  upResultAsDoubling_ =
      scaledPicture(c_, upResult_.pixmap.id(), formats_.argb32, 0.5, kLastStepFilter);
}

int DualFilterBlur::reach() const {
  return levels_ > 0 ? (2 << levels_) : 0;
}

DualFilterBlur::Plan DualFilterBlur::plan(const Box& changed, bool effectsChanged) const {
  Plan p;
  if (!isConfigured()) return p;
  Box box = clampTo(changed, width_, height_);
  for (const Level& level : chain_) {
    box = box.isEmpty() ? Box{} : clampTo(halved(box), level.width, level.height);
    p.down.push_back(box);
  }
  const Box& first = p.down.front();
  if (!first.isEmpty()) {
    p.updated.read =
        clampTo({2 * first.x0, 2 * first.y0, 2 * first.x1, 2 * first.y1}, width_, height_);
  }
  // Up: each doubling spreads a change by one pixel of the finer level.
  p.up.assign(chain_.size(), Box{});
  if (effectsChanged) box = {0, 0, chain_.back().width, chain_.back().height};
  if (box.isEmpty()) return p;
  p.up.back() = box;
  for (int i = levels_ - 1; i >= 1; --i) {
    const Level& level = chain_[static_cast<size_t>(i) - 1];
    box = clampTo(doubled(box), level.width, level.height);
    p.up[static_cast<size_t>(i) - 1] = box;
  }
  p.updated.full = clampTo(doubled(box), width_, height_);
  return p;
}

DualFilterBlur::Updated DualFilterBlur::affected(const Box& changed, bool effectsChanged) const {
  return plan(changed, effectsChanged).updated;
}

DualFilterBlur::Updated DualFilterBlur::update(const Box& changed, bool effectsChanged) {
  const Plan p = plan(changed, effectsChanged);
  if (p.down.empty()) return {};
  // Down: each level is recomputed where it covers the changed area.
  xcb_render_picture_t src = sourceAsHalving_.id();
  for (size_t i = 0; i < chain_.size(); ++i) {
    composite(c_, XCB_RENDER_PICT_OP_SRC, src, XCB_NONE, chain_[i].down.id(), p.down[i]);
    src = chain_[i].downAsHalving.id();
  }
  // The coarsest level is kept as the down chain left it, so that the effects can be drawn again
  // from it; they go into its copy, which the way up starts from.
  const Box& coarse = p.up.back();
  if (coarse.isEmpty()) return p.updated;
  composite(c_, XCB_RENDER_PICT_OP_SRC, chain_.back().down.id(), XCB_NONE, top_.id(), coarse);
  if (effects_) effects_(top_.id(), coarse);
  src = topAsDoubling_.id();
  for (int i = levels_ - 1; i >= 1; --i) {
    const size_t at = static_cast<size_t>(i) - 1;
    const xcb_render_picture_t dst = i == 1 ? upResult_.id() : chain_[at].up.id();
    composite(c_, XCB_RENDER_PICT_OP_SRC, src, XCB_NONE, dst, p.up[at]);
    src = i == 1 ? upResultAsDoubling_.id() : chain_[at].upAsDoubling.id();
  }
  return p.updated;
}

void DualFilterBlur::drawResult(xcb_render_picture_t destination, uint8_t op,
                                xcb_render_picture_t mask, const Box& box, int offsetX,
                                int offsetY) const {
  composite(c_, op, upResultAsDoubling_.id(), mask, destination, clampTo(box, width_, height_),
            offsetX, offsetY);
}

}  // namespace dunelo::x11
