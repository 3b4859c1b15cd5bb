// Mouse-moved events, wherever the pointer is.
#pragma once

#include <functional>

#include "core/cancellable.h"

namespace dunelo {

struct MouseMovedEvent {
  double deltaX = 0;  // horizontal movement in points, positive to the right
};

class MouseMonitors {
 public:
  using Handler = std::function<void(const MouseMovedEvent&)>;
  virtual ~MouseMonitors() = default;

  // Events delivered to other applications. An empty token when no monitor could be installed.
  [[nodiscard]] virtual Cancellable addGlobalMonitor(Handler handler) = 0;
  // Events delivered to this application's own windows. An empty token on failure.
  [[nodiscard]] virtual Cancellable addLocalMonitor(Handler handler) = 0;
};

}  // namespace dunelo
