#include "overlay/blur_engine.h"

#include <set>
#include <string>
#include <vector>

#include "core/debug_log.h"
#include "core/format.h"
#include "overlay/focused_window_locator.h"
#include "settings/settings_manager.h"

namespace dunelo {
namespace {

// The alpha range starts here in both modes.
constexpr double kMinimumAlpha = 0.36;
constexpr double kDeepAlphaSpan = 0.64;
// 0.55 - 0.36 in double precision (not 0.19), so that ambient mode tops out at exactly 0.55.
constexpr double kAmbientAlphaSpan = 0.19000000000000006;

BlurMaterial materialFor(BlurMode mode) {
  return mode == BlurMode::ambient ? BlurMaterial::ambient : BlurMaterial::deep;
}

DisplayID displayID(const ScreenInfo& screen) {
  return screen.displayID.value_or(0);
}

std::string describeFrame(const Rect& r) {
  return "(" + formatDecimal(r.origin.x) + ", " + formatDecimal(r.origin.y) + ", " +
         formatDecimal(r.size.width) + ", " + formatDecimal(r.size.height) + ")";
}

}  // namespace

BlurEngine::BlurEngine(Displays& displays, OverlaySurfaceFactory& surfaces, Workspace& workspace,
                       Accessibility& accessibility, WindowList& windowList, Scheduler& scheduler)
    : isActive(false, &objectWillChange,
               [this](bool active) {
                 if (active) {
                   showOverlays();
                 } else {
                   hideOverlays();
                 }
               }),
      displays_(displays),
      surfaces_(surfaces),
      workspace_(workspace),
      accessibility_(accessibility),
      windowList_(windowList),
      scheduler_(scheduler),
      currentTintColor_(accentColor()) {
  screenObserver_ = displays_.observeChanges([weak = weakFactory_.getWeakPtr()] {
    BlurEngine* self = weak.get();
    if (!self) return;
    self->rebuildOverlayWindows();
    // An overlay made for a new screen starts in front of everything.
    if (self->isFollowingChanges()) self->requestOrderingPass();
  });
}

BlurEngine::~BlurEngine() {
  hideOverlays();
  screenObserver_.cancel();
}

double BlurEngine::targetAlpha() const {
  const double span = blurMode_ == BlurMode::ambient ? kAmbientAlphaSpan : kDeepAlphaSpan;
  return kMinimumAlpha + (blurRadius_ / 100.0) * span;
}

const OverlayWindow* BlurEngine::overlay(DisplayID id) const {
  const auto it = overlayWindows_.find(id);
  return it == overlayWindows_.end() ? nullptr : it->second.get();
}

void BlurEngine::setBlurRadius(double radius) {
  blurRadius_ = radius;
  if (*isActive) setOverlayAlpha(targetAlpha(), false);
}

void BlurEngine::setBlurMode(BlurMode mode) {
  blurMode_ = mode;
  applyBlurMode();
}

void BlurEngine::setOverlayAlpha(double alpha, bool animated) {
  if (animated) {
    animateOverlayAlpha(alpha);
    return;
  }
  for (auto& [id, overlay] : overlayWindows_) overlay->setAlpha(alpha, Animation::none());
}

void BlurEngine::animateOverlayAlpha(double alpha) {
  for (auto& [id, overlay] : overlayWindows_) overlay->setAlpha(alpha, Animation::fade());
}

void BlurEngine::applyBlurMode() {
  const BlurMaterial material = materialFor(blurMode_);
  for (auto& [id, overlay] : overlayWindows_) overlay->setMaterial(material);
  if (*isActive) animateOverlayAlpha(targetAlpha());
}

void BlurEngine::setTint(const Color& color, double opacity) {
  currentTintColor_ = color;
  currentTintOpacity_ = opacity;
  for (auto& [id, overlay] : overlayWindows_) {
    overlay->applyTint(color, static_cast<float>(opacity));
  }
}

void BlurEngine::setGrainIntensity(double intensity) {
  currentGrainIntensity_ = intensity;
  for (auto& [id, overlay] : overlayWindows_) {
    overlay->setGrainOpacity(static_cast<float>(intensity));
  }
}

void BlurEngine::setGrayscale(bool enabled) {
  currentGrayscale_ = enabled;
  for (auto& [id, overlay] : overlayWindows_) overlay->setGrayscaleOpacity(enabled ? 1.0f : 0.0f);
}

void BlurEngine::applyCurrentAppearance(OverlayWindow& overlay) {
  overlay.setMaterial(materialFor(blurMode_));
  overlay.applyTint(currentTintColor_, static_cast<float>(currentTintOpacity_));
  overlay.setGrainOpacity(static_cast<float>(currentGrainIntensity_));
  overlay.setGrayscaleOpacity(currentGrayscale_ ? 1.0f : 0.0f);
}

void BlurEngine::rebuildOverlayWindows() {
  const std::vector<ScreenInfo> screens = displays_.screens();
  std::set<DisplayID> present;
  for (const ScreenInfo& screen : screens) present.insert(displayID(screen));

  for (auto it = overlayWindows_.begin(); it != overlayWindows_.end();) {
    if (present.contains(it->first)) {
      ++it;
      continue;
    }
    it->second->orderOut();
    it = overlayWindows_.erase(it);
  }

  // Screens that share an id (0 for screens without one) share one overlay, which ends up with
  // the frame of the last of them.
  for (const ScreenInfo& screen : screens) {
    const DisplayID id = displayID(screen);
    if (auto it = overlayWindows_.find(id); it != overlayWindows_.end()) {
      it->second->setFrame(screen.frame);
      continue;
    }
    auto overlay = std::make_unique<OverlayWindow>(surfaces_, screen);
    applyCurrentAppearance(*overlay);
    OverlayWindow& added = *overlay;
    overlayWindows_.emplace(id, std::move(overlay));
    // A new overlay keeps the default alpha until the next show, mode or alpha change.
    if (*isActive) added.orderFront();
  }

  debugLog("[BlurEngine] rebuildOverlayWindows: " + std::to_string(screens.size()) +
           " screen(s), " + std::to_string(overlayWindows_.size()) + " overlay(s)");
  for (const ScreenInfo& screen : screens) {
    debugLog("[BlurEngine]   screen " + std::to_string(displayID(screen)) +
             ": frame=" + describeFrame(screen.frame));
  }
}

void BlurEngine::showOverlays() {
  rebuildOverlayWindows();
  for (auto& [id, overlay] : overlayWindows_) {
    overlay->setAlpha(0.0, Animation::none());
    overlay->orderFront();
  }
  updateWindowOrdering();
  animateOverlayAlpha(targetAlpha());
  scheduler_.postDelayed(kPollingStartDelay, [weak = weakFactory_.getWeakPtr()] {
    BlurEngine* self = weak.get();
    if (self && *self->isActive) self->startFollowingChanges();
  });
}

void BlurEngine::hideOverlays() {
  windowChanges_.cancel();
  animateOverlayAlpha(0.0);
  scheduler_.postDelayed(kOrderOutDelay, [weak = weakFactory_.getWeakPtr()] {
    BlurEngine* self = weak.get();
    if (!self || *self->isActive) return;
    for (auto& [id, overlay] : self->overlayWindows_) overlay->orderOut();
  });
}

void BlurEngine::startFollowingChanges() {
  windowChanges_ = windowList_.observeChanges([weak = weakFactory_.getWeakPtr()] {
    if (BlurEngine* self = weak.get()) self->requestOrderingPass();
  });
  // What changed since the show.
  requestOrderingPass();
}

void BlurEngine::requestOrderingPass() {
  if (passPending_) return;
  passPending_ = true;
  auto pass = [weak = weakFactory_.getWeakPtr()] {
    BlurEngine* self = weak.get();
    if (!self) return;
    self->passPending_ = false;
    if (self->isFollowingChanges()) self->updateWindowOrdering();
  };
  const double wait = lastPassTime_ + kOrderingInterval - scheduler_.uptime();
  if (lastPassTime_ < 0 || wait <= 0) {
    scheduler_.post(std::move(pass));
  } else {
    scheduler_.postDelayed(wait, std::move(pass));
  }
}

void BlurEngine::updateWindowOrdering() {
  // The re-show after an application switch asks for a pass of its own.
  if (isResettingOrder_) return;
  orderBelowFocusedWindow();
  orderingPassed.send(0);
}

void BlurEngine::orderBelowFocusedWindow() {
  lastPassTime_ = scheduler_.uptime();
  const auto window = findFocusedWindowNumber(workspace_, accessibility_, windowList_);
  if (!window) return;
  const WindowNumber n = *window;

  if (const auto front = workspace_.frontmostApplication()) {
    const ProcessID pid = front->pid;
    const auto previous = lastFocusedPID_;
    lastFocusedWindowNumber_ = n;
    lastFocusedPID_ = pid;
    if (previous && *previous != pid) {
      // Another application came to the front: the overlays leave the screen and come back a
      // moment later, at the target alpha without a fade, below the window found now. Ordering
      // passes are skipped meanwhile.
      isResettingOrder_ = true;
      for (auto& [id, overlay] : overlayWindows_) overlay->orderOut();
      scheduler_.postDelayed(kReshowDelay, [weak = weakFactory_.getWeakPtr(), n] {
        BlurEngine* self = weak.get();
        if (!self) return;
        if (*self->isActive) {
          const double alpha = self->targetAlpha();
          for (auto& [id, overlay] : self->overlayWindows_) {
            overlay->setAlpha(alpha, Animation::none());
            overlay->orderFront();
            overlay->orderBelow(n);
          }
        }
        self->isResettingOrder_ = false;
        // Changes reported meanwhile were skipped.
        if (self->isFollowingChanges()) self->requestOrderingPass();
      });
      return;
    }
  } else {
    lastFocusedWindowNumber_ = n;
  }

  for (auto& [id, overlay] : overlayWindows_) overlay->orderBelow(n);
}

}  // namespace dunelo
