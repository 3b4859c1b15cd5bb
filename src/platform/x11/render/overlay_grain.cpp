#include "platform/x11/render/overlay_grain.h"

namespace dunelo::x11 {

namespace {

// A second picture on `pixmap` whose colour channels mask each channel on their own.
ServerResource componentMask(xcb_connection_t* c, xcb_pixmap_t pixmap,
                             xcb_render_pictformat_t format) {
  const xcb_render_picture_t picture = xcb_generate_id(c);
  const uint32_t componentAlpha = 1;
  xcb_render_create_picture(c, picture, pixmap, format, XCB_RENDER_CP_COMPONENT_ALPHA,
                            &componentAlpha);
  return ownedPicture(c, picture);
}

ServerResource plainPicture(xcb_connection_t* c, xcb_pixmap_t pixmap,
                            xcb_render_pictformat_t format) {
  const xcb_render_picture_t picture = xcb_generate_id(c);
  xcb_render_create_picture(c, picture, pixmap, format, 0, nullptr);
  return ownedPicture(c, picture);
}

}  // namespace

OverlayGrain::OverlayGrain(xcb_connection_t* c, const PictFormats& formats)
    : c_(c), formats_(formats) {}

void OverlayGrain::reset() {
  mask_ = {};
  split_ = {};
  alpha_ = -1;
}

void OverlayGrain::setGrain(xcb_drawable_t anyDrawable, xcb_render_picture_t grain, double opacity,
                            int width, int height) {
  mask_ = makeScratchPicture(c_, anyDrawable, width, height, 32, formats_.argb32);
  const uint32_t componentAlpha = 1;
  xcb_render_change_picture(c_, mask_.id(), XCB_RENDER_CP_COMPONENT_ALPHA, &componentAlpha);
  // (1 + 2s - a) / 2 = s + (1 - a) / 2: the grain over mid-grey.
  const Box all{0, 0, width, height};
  ServerResource grey = solidPicture(c_, Color::deviceRGB(0.5, 0.5, 0.5, 1));
  ServerResource strength = solidPicture(c_, Color::deviceRGB(0, 0, 0, opacity));
  composite(c_, XCB_RENDER_PICT_OP_SRC, grey.id(), XCB_NONE, mask_.id(), all);
  composite(c_, XCB_RENDER_PICT_OP_OVER, grain, strength.id(), mask_.id(), all);
}

void OverlayGrain::prepare(xcb_pixmap_t halfPixmap, int halfWidth, int halfHeight, const Box& box,
                           double alpha) {
  if (!split_ || split_.source != halfPixmap || split_.width != halfWidth ||
      split_.height != halfHeight) {
    Split s;
    s.source = halfPixmap;
    s.width = halfWidth;
    s.height = halfHeight;
    s.result = plainPicture(c_, halfPixmap, formats_.argb32);
    s.resultAsMask = componentMask(c_, halfPixmap, formats_.argb32);
    s.upper = makeScratchPicture(c_, halfPixmap, halfWidth, halfHeight, 32, formats_.argb32);
    s.upperDoubled = scaledPicture(c_, s.upper.pixmap.id(), formats_.argb32, 0.5, "nearest");
    s.slope = makeScratchPicture(c_, halfPixmap, halfWidth, halfHeight, 32, formats_.argb32);
    s.slopeDoubled = scaledPicture(c_, s.slope.pixmap.id(), formats_.argb32, 0.5, "nearest");
    s.scratch = makeScratchPicture(c_, halfPixmap, halfWidth, halfHeight, 32, formats_.argb32);
    s.scratchAsMask = componentMask(c_, s.scratch.pixmap.id(), formats_.argb32);
    split_ = std::move(s);
  }
  alpha_ = alpha;
  const Box half = Box{box.x0 / 2, box.y0 / 2, (box.x1 + 1) / 2, (box.y1 + 1) / 2}.intersected(
      {0, 0, halfWidth, halfHeight});
  if (half.isEmpty()) return;
  const Split& s = split_;
  ServerResource white = solidPicture(c_, Color::deviceRGB(1, 1, 1, 1));
  const xcb_render_picture_t w = white.id();
  // U = 1 - min(2 - 2R, 1), the complements as white scaled by 1 - x channel by channel.
  composite(c_, XCB_RENDER_PICT_OP_SRC, w, XCB_NONE, s.upper.id(), half);
  composite(c_, XCB_RENDER_PICT_OP_OUT_REVERSE, w, s.resultAsMask.id(), s.upper.id(), half);
  composite(c_, XCB_RENDER_PICT_OP_SRC, s.upper.id(), XCB_NONE, s.scratch.id(), half);
  composite(c_, XCB_RENDER_PICT_OP_ADD, s.upper.id(), XCB_NONE, s.scratch.id(), half);
  composite(c_, XCB_RENDER_PICT_OP_SRC, w, XCB_NONE, s.upper.id(), half);
  composite(c_, XCB_RENDER_PICT_OP_OUT_REVERSE, w, s.scratchAsMask.id(), s.upper.id(), half);
  // M = min(2R, 1) * min(2 - 2R, 1).
  composite(c_, XCB_RENDER_PICT_OP_SRC, s.result.id(), XCB_NONE, s.slope.id(), half);
  composite(c_, XCB_RENDER_PICT_OP_ADD, s.result.id(), XCB_NONE, s.slope.id(), half);
  composite(c_, XCB_RENDER_PICT_OP_IN_REVERSE, w, s.scratchAsMask.id(), s.slope.id(), half);
  if (alpha < 1) {
    ServerResource scale = solidPicture(c_, Color::deviceRGB(0, 0, 0, alpha));
    composite(c_, XCB_RENDER_PICT_OP_IN_REVERSE, scale.id(), XCB_NONE, s.upper.id(), half);
    composite(c_, XCB_RENDER_PICT_OP_IN_REVERSE, scale.id(), XCB_NONE, s.slope.id(), half);
  }
}

void OverlayGrain::draw(xcb_render_picture_t destination, const Box& box) const {
  if (!isReady()) return;
  const uint8_t op = alpha_ < 1 ? XCB_RENDER_PICT_OP_OVER : XCB_RENDER_PICT_OP_SRC;
  composite(c_, op, split_.upperDoubled.id(), XCB_NONE, destination, box);
  composite(c_, XCB_RENDER_PICT_OP_ADD, split_.slopeDoubled.id(), mask_.id(), destination, box);
}

}  // namespace dunelo::x11
