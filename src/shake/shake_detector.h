// Turns every mouse-moved event, wherever the pointer is, into input for the shake detection
// logic, and calls `onShake` when a shake is detected and the previous reported shake is more than
// a second old.
#pragma once

#include <cstdint>
#include <functional>

#include "core/cancellable.h"
#include "core/scheduler.h"
#include "core/weak_ptr.h"
#include "platform/mouse_monitors.h"
#include "settings/settings_enums.h"
#include "shake/shake_detection_logic.h"

namespace dunelo {

class ShakeDetector {
 public:
  // `uptime` supplies the clock; both references must outlive the detector. Installs nothing.
  ShakeDetector(MouseMonitors& monitors, const Scheduler& uptime, ShakeSensitivity sensitivity);
  ~ShakeDetector();
  ShakeDetector(const ShakeDetector&) = delete;
  ShakeDetector& operator=(const ShakeDetector&) = delete;

  // Installs the global and the local monitor unless the global one is installed, then logs
  // whether the global one could be installed.
  void start();
  // Removes both monitors.
  void stop();
  // Starts a fresh detection logic for `sensitivity`; a half-done shake is forgotten.
  void updateSensitivity(ShakeSensitivity sensitivity);
  // The per-event work of both monitors.
  void handleMouseMoved(const MouseMovedEvent& event);

  std::function<void()> onShake;

  bool isStarted() const { return static_cast<bool>(monitor_); }
  double lastShakeTime() const { return lastShakeTime_; }
  int64_t moveCount() const { return moveCount_; }
  static constexpr double shakeCooldown = 1.0;

 private:
  MouseMonitors& monitors_;
  const Scheduler& clock_;
  Cancellable monitor_;       // global monitor; empty when not installed
  Cancellable localMonitor_;  // local monitor; empty when not installed
  ShakeDetectionLogic logic_;
  int64_t moveCount_ = 0;
  double lastShakeTime_ = 0.0;
  WeakPtrFactory<ShakeDetector> weakFactory_{this};
};

}  // namespace dunelo
