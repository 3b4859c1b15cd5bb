#include "platform/x11/render/blur_material.h"

namespace dunelo::x11 {

MaterialLook materialLook(BlurMaterial material, Appearance appearance) {
  const bool dark = appearance == Appearance::dark;
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

}  // namespace dunelo::x11
