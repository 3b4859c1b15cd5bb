// What the two blur materials look like on X11.
//
// A material is the look of the plain overlay before tint, grayscale and grain: how strongly the
// backdrop is blurred and the veil laid over the blur. The window alpha then mixes the whole
// overlay with the sharp scene, so a material only has to look right at alpha 1.
//
// - deep: a frosted full-screen veil. The strongest blur (the backdrop halved five times: any
//   text or edge behind it becomes soft colour fields) under a light veil, or a dark smoky one
//   when the desktop prefers a dark appearance.
// - ambient: a darker, lighter-touch veil. A blur halved four times, which still leaves no text
//   legible but keeps the rough shapes of what lies behind, under a darkening veil (deeper when
//   the desktop prefers dark).
//
// Where the desktop states no preference the light looks are used.
//
// The blur's reach is a distance on the screen in points: on a screen of two device pixels per
// point the backdrop is halved once more, so it spreads over as much of the picture as on a
// screen of one.
#pragma once

#include "core/color.h"
#include "platform/overlay_surface.h"

namespace dunelo::x11 {

enum class Appearance { unknown, light, dark };

struct MaterialLook {
  int blurLevels = 0;  // how many times the backdrop is halved before it is scaled back up
  Color veil;          // drawn over the blur with its own alpha
  friend bool operator==(const MaterialLook&, const MaterialLook&) = default;
};

MaterialLook materialLook(BlurMaterial material, Appearance appearance, double backingScale = 1);

}  // namespace dunelo::x11
