// Changed areas of an overlay's scene, kept as a few separate boxes.
//
// One box around every change would make two small changes far apart (a clock in a panel, a
// cursor blinking in an editor, the title bars of two windows when the focus moves) cost a
// redraw of everything between them. Pieces closer than the merge distance are merged, so that
// no pixel is redrawn for two pieces; past `kMaxPieces` the two pieces whose union adds the least
// area are merged.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/x11/render/box.h"

namespace dunelo::x11 {

class DamagePieces {
 public:
  static constexpr size_t kMaxPieces = 8;

  // Pieces less than `distance` pixels apart (in either direction) are merged.
  void setMergeDistance(int distance) { distance_ = distance; }

  void add(const Box& box);
  void clear() { boxes_.clear(); }
  bool isEmpty() const { return boxes_.empty(); }
  const std::vector<Box>& boxes() const { return boxes_; }
  // The smallest box holding every piece.
  Box bounds() const;

 private:
  bool near(const Box& a, const Box& b) const;

  int distance_ = 0;
  std::vector<Box> boxes_;
};

}  // namespace dunelo::x11
