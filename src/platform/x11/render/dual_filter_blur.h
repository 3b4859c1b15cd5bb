// The overlay's blur: a dual-filter blur that runs on the X server through RENDER.
//
// The source is halved `levels` times with bilinear transforms (each step averages 2 x 2 pixels)
// and then doubled back step by step (each step a bilinear tent), which spreads every pixel over
// about 2^(levels+1) pixels in each direction at a cost of little more than one pass over the
// full-size image. Every intermediate level is kept between frames, so a change in a small area
// is blurred again only there: `update` redoes the chain inside the changed area grown by what
// each step reads, and says which part of the result changed.
//
// The last upscale is not done here: the caller applies its colour effects to the
// half-resolution result and then draws it at full size with `drawResult`, usually straight into
// its destination, which saves a full-size pass.
#pragma once

#include <xcb/render.h>
#include <xcb/xcb.h>

#include <vector>

#include "platform/x11/render/box.h"
#include "platform/x11/render/render_support.h"

namespace dunelo::x11 {

class DualFilterBlur {
 public:
  // How the result is brought to full size (see `drawResult`).
  static constexpr const char* kLastStepFilter = "nearest";
  static constexpr int kMinLevels = 2;
  static constexpr int kMaxLevels = 6;

  DualFilterBlur(xcb_connection_t* c, const PictFormats& formats);

  // (Re)builds the chain for a `width` x `height` source in `sourcePixmap` (format
  // `sourceFormat`). Everything is recomputed on the next `update`.
  void configure(xcb_pixmap_t sourcePixmap, xcb_render_pictformat_t sourceFormat, int width,
                 int height, int levels);
  bool isConfigured() const { return levels_ > 0; }
  int levels() const { return levels_; }
  int width() const { return width_; }
  int height() const { return height_; }

  // How far, in source pixels, a change in the source can move the result.
  int reach() const;

  // What one update recomputed: `half` in the half-resolution result (exactly the pixels
  // rewritten, so effects drawn there are drawn once), `full` the area of the full-size result
  // that changed.
  struct Updated {
    Box half;
    Box full;
  };
  // Brings the chain up to date after the source changed inside `changed` (source coordinates).
  Updated update(const Box& changed);
  // Rewrites the whole half-resolution result from the level below it (after the effects drawn
  // into it changed). Returns what `update` would.
  Updated redoLastStep();

  // The half-resolution result (an a8r8g8b8 picture, no transform) that callers may draw their
  // colour effects into, and the area of it that covers `fullBox`.
  xcb_render_picture_t halfResult() const { return upResult_.id(); }
  int halfWidth() const { return halfWidth_; }
  int halfHeight() const { return halfHeight_; }
  Box halfBox(const Box& fullBox) const;

  // Draws the result at full size (each half-size pixel covering 2 x 2) inside `box` (source
  // coordinates) into `destination` at
  // (`box` + `offset`), with operator `op` and an optional `mask` (sampled at the box's own
  // coordinates; 0 for none).
  void drawResult(xcb_render_picture_t destination, uint8_t op, xcb_render_picture_t mask,
                  const Box& box, int offsetX = 0, int offsetY = 0) const;

 private:
  struct Level {
    ScratchPicture down;            // the source halved `index` times
    ServerResource downAsHalving;   // the same pixmap, read with a halving transform
    ServerResource downAsDoubling;  // the same pixmap, read with a doubling transform
    ScratchPicture up;              // the upscaled result at this level (levels 1..n-1)
    ServerResource upAsDoubling;
    int width = 0;
    int height = 0;
  };

  ServerResource transformedPicture(xcb_pixmap_t pixmap, xcb_render_pictformat_t format,
                                    double factor);

  xcb_connection_t* c_;
  PictFormats formats_;
  int levels_ = 0;
  int width_ = 0;
  int height_ = 0;
  int halfWidth_ = 0;
  int halfHeight_ = 0;
  ServerResource sourceAsHalving_;
  std::vector<Level> chain_;  // chain_[i] is level i + 1
  ScratchPicture upResult_;   // level 1 of the way up: the half-resolution result
  ServerResource upResultAsDoubling_;
};

}  // namespace dunelo::x11
