// Colours with their colour space.
//
// The tint colour travels from the settings through the engine to every overlay; the overlay
// converts it to device RGB before building its gradient, and a conversion can fail (a pattern
// colour has no components), in which case the colour is used as given.
#pragma once

#include <optional>

namespace dunelo {

enum class ColorSpace {
  deviceRGB,  // the display's own RGB; what the overlay renders with
  sRGB,       // same primaries as deviceRGB on the desktops Dunelo supports
  gray,       // one component (white), in `red`; green and blue are ignored
  pattern,    // no numeric components; cannot be converted
};

struct Color {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;
  ColorSpace space = ColorSpace::sRGB;

  static constexpr Color deviceRGB(double r, double g, double b, double a = 1) {
    return Color{r, g, b, a, ColorSpace::deviceRGB};
  }
  static constexpr Color srgb(double r, double g, double b, double a = 1) {
    return Color{r, g, b, a, ColorSpace::sRGB};
  }
  static constexpr Color grayscale(double white, double a = 1) {
    return Color{white, white, white, a, ColorSpace::gray};
  }

  // The same colour in device RGB, or none when it has no numeric components.
  std::optional<Color> toDeviceRGB() const {
    switch (space) {
      case ColorSpace::deviceRGB:
      case ColorSpace::sRGB:
        return Color{red, green, blue, alpha, ColorSpace::deviceRGB};
      case ColorSpace::gray:
        return Color{red, red, red, alpha, ColorSpace::deviceRGB};
      case ColorSpace::pattern:
        return std::nullopt;
    }
    return std::nullopt;
  }

  // This colour with its alpha replaced (not multiplied).
  constexpr Color withAlpha(double a) const { return Color{red, green, blue, a, space}; }

  friend bool operator==(const Color&, const Color&) = default;
};

}  // namespace dunelo
