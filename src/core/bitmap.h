// An owned RGBA image, 8 bits per channel, rows top to bottom, no padding. The grain texture is
// made as one and handed to the overlay surfaces, which keep it for their lifetime.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dunelo {

struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;  // width * height * 4 bytes

  const uint8_t* pixel(int x, int y) const {
    return rgba.data() + (static_cast<size_t>(y) * static_cast<size_t>(width) + x) * 4;
  }
};

}  // namespace dunelo
