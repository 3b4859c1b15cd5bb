// The overlay's blur: a dual-filter blur that runs on the X server through RENDER.
//
// The source is halved `levels` times with bilinear transforms (each step averages 2 x 2 pixels)
// and then doubled back step by step (each step a bilinear tent), which spreads every pixel over
// about 2^(levels+1) pixels in each direction at a cost of little more than one pass over the
// full-size image. Every intermediate level is kept between frames, so a change in a small area
// is blurred again only there: `update` redoes the chain inside the changed area grown by what
// each step reads, and says which part of the result changed.
//
// Colour effects go in at the coarsest level: the caller draws them (`setEffects`) into a copy
// of that level, which the upscales then carry to full size. There they cost next to nothing, and
// for every effect that is the same at each pixel's colour (a constant colour laid over, a scale
// by the window alpha, the saturation blend of a grey) the result is the one drawing them at full
// size would give, because such effects commute with the interpolating upscales. A smooth
// gradient comes out smoothed a little more, which cannot be told apart.
//
// The last upscale is not done here: the caller draws the half-resolution result at full size
// with `drawResult`, straight into its destination, which saves a full-size pass.
#pragma once

#include <xcb/render.h>
#include <xcb/xcb.h>

#include <functional>
#include <vector>

#include "platform/x11/render/box.h"
#include "platform/x11/render/render_support.h"

namespace dunelo::x11 {

class DualFilterBlur {
 public:
  // How the result is brought to full size (see `drawResult`).
  static constexpr const char* kLastStepFilter = "nearest";
  static constexpr int kMinLevels = 2;
  static constexpr int kMaxLevels = 7;  // deep on a screen of up to 4 pixels per point

  DualFilterBlur(xcb_connection_t* c, const PictFormats& formats);

  // (Re)builds the chain for a `width` x `height` source in `sourcePixmap` (format
  // `sourceFormat`). Everything is recomputed on the next `update`.
  void configure(xcb_pixmap_t sourcePixmap, xcb_render_pictformat_t sourceFormat, int width,
                 int height, int levels);
  bool isConfigured() const { return levels_ > 0; }
  int levels() const { return levels_; }
  int width() const { return width_; }
  int height() const { return height_; }
  // Source pixels per pixel of the coarsest level, in each direction (pixel (i, j) there covers
  // [i * scale, (i + 1) * scale) x [j * scale, (j + 1) * scale) of the source).
  int coarseScale() const { return 1 << levels_; }

  // Draws the colour effects into `picture` (an a8r8g8b8 copy of the coarsest level, in its
  // pixels) inside `box` only; every pixel must be drawn from what `picture` holds there, so that
  // an area drawn again comes out the same.
  using Effects = std::function<void(xcb_render_picture_t picture, const Box& box)>;
  void setEffects(Effects effects) { effects_ = std::move(effects); }

  // How far, in source pixels, a change in the source can move the result.
  int reach() const;

  // What an update touches, in source coordinates: `read` the source pixels it reads (the change
  // rounded out to even coordinates), `full` the area of the full-size result that changes.
  struct Updated {
    Box read;
    Box full;
  };
  // Brings the chain up to date after the source changed inside `changed` (source coordinates;
  // may be empty) and, with `effectsChanged`, after the effects changed: then they are drawn
  // again over the whole coarsest level and everything above it is upscaled again. The source
  // must hold its new pixels inside `affected(...).read`.
  Updated update(const Box& changed, bool effectsChanged = false);
  // What the same `update` would touch, without drawing.
  Updated affected(const Box& changed, bool effectsChanged = false) const;

  // Draws the result at full size (each pixel of the half-resolution result covering 2 x 2)
  // inside `box` (source coordinates) into `destination` at (`box` + `offset`), with operator
  // `op` and an optional `mask` (sampled at the box's own coordinates; 0 for none).
  void drawResult(xcb_render_picture_t destination, uint8_t op, xcb_render_picture_t mask,
                  const Box& box, int offsetX = 0, int offsetY = 0) const;
  // The half-resolution result that `drawResult` doubles (a8r8g8b8), for blends that work on it.
  xcb_pixmap_t halfResult() const { return upResult_.pixmap.id(); }
  int halfWidth() const { return upResult_.width; }
  int halfHeight() const { return upResult_.height; }

 private:
  struct Level {
    ScratchPicture down;           // the source halved `index` times
    ServerResource downAsHalving;  // the same pixmap, read with a halving transform
    ScratchPicture up;             // the upscaled result at this level (levels 2..n-1)
    ServerResource upAsDoubling;
    int width = 0;
    int height = 0;
  };

  ServerResource transformedPicture(xcb_pixmap_t pixmap, xcb_render_pictformat_t format,
                                    double factor);

  // What one update rewrites at each level: `down[i]` and `up[i]` at level i + 1 (`up[0]` in
  // the half-resolution result, `up` of the coarsest level in its effected copy).
  struct Plan {
    std::vector<Box> down;
    std::vector<Box> up;
    Updated updated;
  };
  Plan plan(const Box& changed, bool effectsChanged) const;

  xcb_connection_t* c_;
  PictFormats formats_;
  int levels_ = 0;
  int width_ = 0;
  int height_ = 0;

  ServerResource sourceAsHalving_;
  std::vector<Level> chain_;  // chain_[i] is level i + 1
  ScratchPicture top_;        // the coarsest level with the effects drawn in
  ServerResource topAsDoubling_;
  ScratchPicture upResult_;  // level 1 of the way up: the half-resolution result
  ServerResource upResultAsDoubling_;
  Effects effects_;
};

}  // namespace dunelo::x11
