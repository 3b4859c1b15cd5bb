#include "platform/x11/render/blur_material.h"

#include <cmath>

namespace dunelo::x11 {

namespace {

MaterialLook lookAtOnePixelPerPoint(BlurMaterial material, bool dark) {
  switch (material) {
    case BlurMaterial::ambient:
      return dark ? MaterialLook{4, Color::deviceRGB(0.0, 0.0, 0.0, 0.45)}
                  : MaterialLook{4, Color::deviceRGB(0.08, 0.08, 0.10, 0.30)};
    case BlurMaterial::deep:
      break;
  }
  return dark ? MaterialLook{5, Color::deviceRGB(0.14, 0.14, 0.16, 0.40)}
              : MaterialLook{5, Color::deviceRGB(0.97, 0.97, 0.98, 0.28)};
}

}  // namespace

MaterialLook materialLook(BlurMaterial material, Appearance appearance, double backingScale) {
  MaterialLook look = lookAtOnePixelPerPoint(material, appearance == Appearance::dark);
  // Each halving doubles the reach: the nearest whole number of them to the scale's.
  if (std::isfinite(backingScale) && backingScale > 0)
    look.blurLevels += static_cast<int>(std::lround(std::log2(backingScale)));
  return look;
}

}  // namespace dunelo::x11
