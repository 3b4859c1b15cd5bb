// The connected screens, in the desktop's order, and a notification when they change.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/cancellable.h"
#include "core/geometry.h"

namespace dunelo {

using DisplayID = uint32_t;

struct ScreenInfo {
  Rect frame;                        // bottom-left-origin global space, in points
  double backingScaleFactor = 1.0;   // device pixels per point
  std::optional<DisplayID> displayID;  // none when the desktop does not number the screen
  friend bool operator==(const ScreenInfo&, const ScreenInfo&) = default;
};

class Displays {
 public:
  virtual ~Displays() = default;
  virtual std::vector<ScreenInfo> screens() const = 0;
  // Calls `handler` on the main thread after the screen configuration changed.
  [[nodiscard]] virtual Cancellable observeChanges(std::function<void()> handler) = 0;
};

}  // namespace dunelo
