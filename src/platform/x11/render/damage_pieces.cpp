#include "platform/x11/render/damage_pieces.h"

#include <cstdint>
#include <limits>

namespace dunelo::x11 {

namespace {

int64_t area(const Box& b) {
  return b.isEmpty() ? 0 : static_cast<int64_t>(b.width()) * b.height();
}

}  // namespace

bool DamagePieces::near(const Box& a, const Box& b) const {
  return !a.grown(distance_).intersected(b).isEmpty();
}

void DamagePieces::add(const Box& box) {
  if (box.isEmpty()) return;
  // A merged piece may reach further pieces: absorb until none is near.
  Box merged = box;
  for (bool absorbed = true; absorbed;) {
    absorbed = false;
    for (size_t i = 0; i < boxes_.size(); ++i) {
      if (!near(merged, boxes_[i])) continue;
      merged = merged.united(boxes_[i]);
      boxes_.erase(boxes_.begin() + static_cast<std::ptrdiff_t>(i));
      absorbed = true;
      break;
    }
  }
  boxes_.push_back(merged);
  if (boxes_.size() <= kMaxPieces) return;
  // Too many: merge the pair whose union covers the least new area, then settle again.
  size_t bestA = 0;
  size_t bestB = 1;
  int64_t bestCost = std::numeric_limits<int64_t>::max();
  for (size_t a = 0; a < boxes_.size(); ++a) {
    for (size_t b = a + 1; b < boxes_.size(); ++b) {
      const int64_t cost = area(boxes_[a].united(boxes_[b])) - area(boxes_[a]) - area(boxes_[b]);
      if (cost < bestCost) {
        bestCost = cost;
        bestA = a;
        bestB = b;
      }
    }
  }
  const Box pair = boxes_[bestA].united(boxes_[bestB]);
  boxes_.erase(boxes_.begin() + static_cast<std::ptrdiff_t>(bestB));
  boxes_.erase(boxes_.begin() + static_cast<std::ptrdiff_t>(bestA));
  add(pair);
}

Box DamagePieces::bounds() const {
  Box all;
  for (const Box& b : boxes_) all = all.united(b);
  return all;
}

}  // namespace dunelo::x11
