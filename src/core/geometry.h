// Points, sizes and rectangles in points, as 64-bit floats.
//
// Two spaces meet in Dunelo: window positions use a top-left origin with y growing down, screen
// frames a bottom-left origin with y growing up (both at the primary screen's corner). The types
// do not know which space they are in; the code that compares them says so.
#pragma once

namespace dunelo {

struct Point {
  double x = 0;
  double y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  double width = 0;
  double height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  Point origin;
  Size size;

  constexpr Rect() = default;
  constexpr Rect(Point o, Size s) : origin(o), size(s) {}
  constexpr Rect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}

  double minX() const { return size.width < 0 ? origin.x + size.width : origin.x; }
  double minY() const { return size.height < 0 ? origin.y + size.height : origin.y; }
  double maxX() const { return size.width < 0 ? origin.x : origin.x + size.width; }
  double maxY() const { return size.height < 0 ? origin.y : origin.y + size.height; }
  bool isEmpty() const { return size.width == 0 || size.height == 0; }

  // Half-open containment: the minimum edges belong to the rectangle, the maximum edges do not.
  // An empty rectangle contains nothing.
  bool contains(Point p) const {
    if (isEmpty()) return false;
    return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
  }

  friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace dunelo
