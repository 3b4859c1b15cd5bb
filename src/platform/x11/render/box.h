// An integer pixel rectangle, half-open ([x0, x1) x [y0, y1)), used for damage and redraw areas.
#pragma once

#include <algorithm>

namespace dunelo::x11 {

struct Box {
  int x0 = 0;
  int y0 = 0;
  int x1 = 0;
  int y1 = 0;

  static Box ofSize(int x, int y, int width, int height) { return {x, y, x + width, y + height}; }
  bool isEmpty() const { return x1 <= x0 || y1 <= y0; }
  int width() const { return x1 - x0; }
  int height() const { return y1 - y0; }

  // The smallest box holding both; an empty box adds nothing.
  Box united(const Box& o) const {
    if (isEmpty()) return o;
    if (o.isEmpty()) return *this;
    return {std::min(x0, o.x0), std::min(y0, o.y0), std::max(x1, o.x1), std::max(y1, o.y1)};
  }
  // The overlap; empty (all zero) when there is none.
  Box intersected(const Box& o) const {
    Box r{std::max(x0, o.x0), std::max(y0, o.y0), std::min(x1, o.x1), std::min(y1, o.y1)};
    return r.isEmpty() ? Box{} : r;
  }
  Box grown(int by) const { return isEmpty() ? *this : Box{x0 - by, y0 - by, x1 + by, y1 + by}; }
  Box translated(int dx, int dy) const { return {x0 + dx, y0 + dy, x1 + dx, y1 + dy}; }

  friend bool operator==(const Box&, const Box&) = default;
};

}  // namespace dunelo::x11
