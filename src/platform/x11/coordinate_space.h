// Conversion between X root-window pixels and Dunelo's two global spaces in points.
//
// Window positions use a space whose origin is the top-left corner of the primary screen, y down;
// screen frames use a space whose origin is its bottom-left corner, y up. X reports root-window
// pixels with the origin at the root's top-left corner, which is the primary screen's corner only
// when the primary monitor sits at (0, 0). One scale (device pixels per point, from Xft.dpi)
// applies to the whole X screen. X11Displays keeps this current; every component that reports or
// accepts coordinates reads it, so window bounds, focused-window frames and screen frames agree.
#pragma once

#include <xcb/xcb.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/geometry.h"

namespace dunelo::x11 {

struct CoordinateSpace {
  // The primary screen's rectangle in root pixels.
  int32_t primaryX = 0;
  int32_t primaryY = 0;
  int32_t primaryHeight = 0;
  double scale = 1.0;  // device pixels per point

  // Root pixels to the top-left-origin space.
  Rect topLeftRect(double x, double y, double width, double height) const {
    return Rect((x - primaryX) / scale, (y - primaryY) / scale, width / scale, height / scale);
  }
  // Root pixels to the bottom-left-origin space.
  Rect bottomLeftRect(double x, double y, double width, double height) const {
    return Rect((x - primaryX) / scale, (primaryY + primaryHeight - (y + height)) / scale,
                width / scale, height / scale);
  }
  // A bottom-left-origin rectangle in points to root pixels (rounded, at least 1x1).
  xcb_rectangle_t rootRectFromBottomLeft(const Rect& r) const {
    const double x = r.minX() * scale + primaryX;
    const double h = std::abs(r.size.height) * scale;
    const double y = primaryY + primaryHeight - r.minY() * scale - h;
    auto clamp16 = [](double v) {
      return static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
    };
    auto size16 = [](double v) {
      return static_cast<uint16_t>(std::clamp(std::lround(v), 1L, 65535L));
    };
    return xcb_rectangle_t{clamp16(x), clamp16(y), size16(std::abs(r.size.width) * scale),
                           size16(h)};
  }
};

}  // namespace dunelo::x11
