// The film-grain texture of an overlay.
//
// Each overlay window shows a static noise image over the blur with an overlay blend: mid-grey is
// neutral, so the faintly coloured noise around it lightens and darkens what lies beneath by at
// most an eighth. The image has one sample per device pixel of its screen, is made once when the
// window is built and is never regenerated; the user's grain strength only changes the opacity
// of the layer that shows it.
#pragma once

#include <memory>

#include "core/bitmap.h"

namespace dunelo {

// A new noise image of `width` x `height` device pixels. Each size is truncated toward zero and
// raised to 1 when below 1. Every pixel carries four independent uniform samples u: red, green
// and blue are 0.25 * u + 0.375 (so within [0.375, 0.625]) and alpha is u itself. Each call draws
// fresh noise. None when a size is not finite or the image is too large to allocate.
std::shared_ptr<const Bitmap> makeGrainImage(double width, double height);

}  // namespace dunelo
