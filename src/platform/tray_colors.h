// The colour a desktop's tray wants its icons drawn in.
//
// XEmbed trays may publish one (_NET_SYSTEM_TRAY_COLORS, the colour of their own symbolic icons);
// when the tray says nothing the icon picks its colour by the panel behind it.
#pragma once

#include <functional>
#include <optional>

#include "core/cancellable.h"
#include "core/color.h"

namespace dunelo {

class TrayColors {
 public:
  virtual ~TrayColors() = default;
  // The tray's icon colour; none when the tray says nothing or there is no tray.
  virtual std::optional<Color> foreground() = 0;
  // Calls `handler` on the main thread when that colour may have changed (the tray changed it, or
  // another tray took over). Destroying the token removes the registration.
  [[nodiscard]] virtual Cancellable observe(std::function<void()> handler) = 0;
};

}  // namespace dunelo
