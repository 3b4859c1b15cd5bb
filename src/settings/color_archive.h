// The stored form of a colour: a small self-describing JSON document in a data value.
//
//   {"kind":"color","version":1,"space":"sRGB","components":[r,g,b,a]}
//
// "space" is one of "deviceRGB", "sRGB" or "gray" (gray has the two components [white, alpha]).
// Pattern colours and colours with non-finite components cannot be archived.
#pragma once

#include <optional>

#include "core/color.h"
#include "settings/defaults_store.h"

namespace dunelo {

std::optional<DefaultsData> archiveColor(const Color& color);
// None for anything that is not a well-formed archive of this exact version.
std::optional<Color> unarchiveColor(const DefaultsData& data);

}  // namespace dunelo
