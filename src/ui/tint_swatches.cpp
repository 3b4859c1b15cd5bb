#include "ui/tint_swatches.h"

#include <cmath>

namespace dunelo {

namespace {
constexpr Color rgb255(int r, int g, int b) { return Color::srgb(r / 255.0, g / 255.0, b / 255.0); }
}  // namespace

const std::array<TintPreset, 9>& tintPresets() {
  static const std::array<TintPreset, 9> presets{{
      {"Blue", rgb255(0, 122, 255)},
      {"Purple", rgb255(175, 82, 222)},
      {"Magenta", rgb255(255, 0, 255)},
      {"Red", rgb255(255, 59, 48)},
      {"Orange", rgb255(255, 149, 0)},
      {"Yellow", rgb255(255, 204, 0)},
      {"Green", rgb255(52, 199, 89)},
      {"Gray", rgb255(142, 142, 147)},
      {"Black", rgb255(0, 0, 0)},
  }};
  return presets;
}

bool colorsMatch(const Color& a, const Color& b) {
  const auto ra = a.toDeviceRGB();
  if (!ra) return false;
  const auto rb = b.toDeviceRGB();
  if (!rb) return false;
  // NaN components compare false, so a corrupt colour selects nothing.
  if (!(std::fabs(ra->red - rb->red) < 0.1)) return false;
  if (!(std::fabs(ra->green - rb->green) < 0.1)) return false;
  return std::fabs(ra->blue - rb->blue) < 0.1;
}

}  // namespace dunelo
