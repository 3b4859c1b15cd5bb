#include "shake/shake_detector.h"

#include <string>

#include "core/debug_log.h"
#include "core/format.h"

namespace dunelo {

ShakeDetector::ShakeDetector(MouseMonitors& monitors, const Scheduler& uptime,
                             ShakeSensitivity sensitivity)
    : monitors_(monitors), clock_(uptime), logic_(sensitivity) {}

ShakeDetector::~ShakeDetector() {
  stop();
}

void ShakeDetector::start() {
  if (monitor_) return;
  auto weak = weakFactory_.getWeakPtr();
  monitor_ = monitors_.addGlobalMonitor([weak](const MouseMovedEvent& e) {
    if (auto* self = weak.get()) self->handleMouseMoved(e);
  });
  // Replacing a local monitor left from a start whose global monitor failed removes that one.
  localMonitor_ = monitors_.addLocalMonitor([weak](const MouseMovedEvent& e) {
    if (auto* self = weak.get()) self->handleMouseMoved(e);
  });
  debugLog(std::string("[ShakeDetector] started, monitor=") + (monitor_ ? "true" : "false"));
}

void ShakeDetector::stop() {
  monitor_.cancel();
  localMonitor_.cancel();
}

void ShakeDetector::updateSensitivity(ShakeSensitivity sensitivity) {
  logic_ = ShakeDetectionLogic(sensitivity);
}

void ShakeDetector::handleMouseMoved(const MouseMovedEvent& event) {
  const double deltaX = event.deltaX;
  const double now = clock_.uptime();
  ++moveCount_;
  if (moveCount_ % 100 == 1) debugLog("[ShakeDetector] mouseMoved deltaX=" + formatDecimal(deltaX));
  // The logic is fed during the cooldown too; it forgets its history on every detection.
  if (!logic_.recordMovement(deltaX, now)) return;
  if (!(now - lastShakeTime_ > shakeCooldown)) return;
  lastShakeTime_ = now;
  debugLog("[ShakeDetector] SHAKE DETECTED! calling onShake");
  if (onShake) onShake();
}

}  // namespace dunelo
