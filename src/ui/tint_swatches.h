// The tint colours the popover offers and the rule that decides which swatch is selected.
//
// The stored tint is an arbitrary colour (it may come from an older version or from another
// colour space), so selection is a tolerance match rather than equality.
#pragma once

#include <array>
#include <string_view>

#include "core/color.h"

namespace dunelo {

struct TintPreset {
  std::string_view name;  // identity of the swatch; never shown
  Color color;
};

// The nine presets in the order the swatch row shows them.
const std::array<TintPreset, 9>& tintPresets();

// True when both colours convert to device RGB and each of red, green and blue differs by
// strictly less than 0.1. Alpha is not compared.
bool colorsMatch(const Color& a, const Color& b);

// A swatch click raises a tint strength below this to `kSwatchDefaultOpacity`, so that picking
// a colour is visible at once; a deliberately chosen strength is kept.
inline constexpr double kSwatchMinimumOpacity = 0.1;
inline constexpr double kSwatchDefaultOpacity = 0.2;

}  // namespace dunelo
