// The grain image blended over the blur's result with the overlay blend, at a small part of what
// RENDER's own PictOpOverlay costs at full size (the X server's pixel library has no fast path
// for it).
//
// The result the blur draws at full size repeats each pixel of its half-size result R over
// 2 x 2, and the grain is fixed. Over an opaque backdrop d the overlay blend of a grain pixel of
// premultiplied colour s and alpha a is, per channel, d + k * min(d, 1 - d) with k = 2s - a.
// With U = max(2R - 1, 0) and M = min(2R, 1) * min(2 - 2R, 1) (so M = 2 * min(R, 1 - R)) that is
// exactly U + M * (1 + k) / 2 for both halves of the range, and every term is non-negative: U and
// M are made at half size from R with copies, saturating additions and per-channel products
// (operators with fast paths), (1 + k) / 2 is a fixed full-size mask made once per grain
// opacity, and the full-size work is one nearest-neighbour copy of U (what drawing the plain
// result costs) and one addition of M through that mask. Rounding keeps the result within one
// level of 255 of the exact blend.
//
// The window alpha is multiplied into U and M at half size, so that drawing them mixes the
// blend over the sharp scene as a translucent window would.
#pragma once

#include <xcb/render.h>
#include <xcb/xcb.h>

#include "platform/x11/render/box.h"
#include "platform/x11/render/render_support.h"

namespace dunelo::x11 {

class OverlayGrain {
 public:
  OverlayGrain(xcb_connection_t* c, const PictFormats& formats);

  // Forgets everything, for a new blur chain or when grain stops showing.
  void reset();
  bool isReady() const { return static_cast<bool>(mask_) && static_cast<bool>(split_); }

  // Makes the full-size mask from `grain` (premultiplied a8r8g8b8, repeating) times `opacity`
  // for a `width` x `height` window. `anyDrawable` names the screen.
  void setGrain(xcb_drawable_t anyDrawable, xcb_render_picture_t grain, double opacity, int width,
                int height);

  // Splits the half-size result in `halfPixmap` (a8r8g8b8, `halfWidth` x `halfHeight`) inside
  // the half-size pixels that cover `box` (full-size coordinates), with the window `alpha`
  // multiplied in. A new pixmap starts over.
  void prepare(xcb_pixmap_t halfPixmap, int halfWidth, int halfHeight, const Box& box,
               double alpha);
  // The alpha of the last `prepare`; negative before the first.
  double preparedAlpha() const { return alpha_; }

  // Draws the blend inside `box` into `destination`: replacing what is there when the alpha was
  // 1, over it (the sharp scene) otherwise.
  void draw(xcb_render_picture_t destination, const Box& box) const;

 private:
  struct Split {
    xcb_pixmap_t source = XCB_NONE;
    int width = 0;
    int height = 0;
    ServerResource result;        // the half-size result, plain
    ServerResource resultAsMask;  // the same, as a per-channel mask
    ScratchPicture upper;         // U
    ServerResource upperDoubled;  // U read at full size
    ScratchPicture slope;         // M
    ServerResource slopeDoubled;  // M read at full size
    ScratchPicture scratch;       // 1 - R, then min(2 - 2R, 1)
    ServerResource scratchAsMask;
    explicit operator bool() const { return static_cast<bool>(upper); }
  };

  xcb_connection_t* c_;
  PictFormats formats_;
  ScratchPicture mask_;  // (1 + k) / 2, per channel
  Split split_;
  double alpha_ = -1;
};

}  // namespace dunelo::x11
