// The controller of the overlay.
//
// Keeps one overlay window per connected display, fades the overlays in and out when the effect
// is switched on and off, keeps every overlay stacked directly below the focused window of the
// frontmost application, and pushes the appearance
// (intensity, mode, tint, grain, grayscale) to every overlay, including overlays made later. The
// focused window stays sharp by stacking alone: the overlays have no holes. Deciding when the
// effect may be shown (permissions, excluded applications, full-screen windows) is the
// coordinator's job; the engine never reads the settings.
//
// While shown, the engine runs an ordering pass whenever the window list reports a change (the
// stacking, the focus, a frame, the screens), at most sixty a second: a burst of changes within
// one interval costs one pass at its end. Nothing changing costs nothing, not even a wake-up.
//
// Delayed work (the start of following changes and order-out after a fade, the re-show after an
// application switch) is never cancelled: it holds the engine weakly and re-checks `isActive` when
// it runs.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

#include "core/cancellable.h"
#include "core/color.h"
#include "core/published.h"
#include "core/scheduler.h"
#include "core/subject.h"
#include "core/weak_ptr.h"
#include "overlay/overlay_window.h"
#include "platform/accessibility.h"
#include "platform/displays.h"
#include "platform/overlay_surface.h"
#include "platform/window_list.h"
#include "platform/workspace.h"
#include "settings/settings_enums.h"

namespace dunelo {

class FocusTracker;

// Every animated alpha change and the timing of the show / hide state machine, in seconds.
inline constexpr double kPollingStartDelay = 0.35;
inline constexpr double kOrderOutDelay = 0.35;
inline constexpr double kReshowDelay = 0.08;
// The shortest time between two ordering passes.
inline constexpr double kOrderingInterval = 1.0 / 60.0;

class BlurEngine {
 public:
  // Starts observing screen-configuration changes. No overlay exists until the first rebuild.
  BlurEngine(Displays& displays, OverlaySurfaceFactory& surfaces, Workspace& workspace,
             Accessibility& accessibility, WindowList& windowList, Scheduler& scheduler);
  // Hides the overlays (their delayed order-out then finds no engine) and stops observing.
  ~BlurEngine();
  BlurEngine(const BlurEngine&) = delete;
  BlurEngine& operator=(const BlurEngine&) = delete;

  ChangeNotifier objectWillChange;
  // Every assignment, also of the current value, runs the show (true) or hide (false) procedure.
  Published<bool> isActive;

  // Blur intensity on a 0..100 scale; while active the alpha jumps to the new target.
  void setBlurRadius(double radius);
  double blurRadius() const { return blurRadius_; }
  void setBlurMode(BlurMode mode);
  BlurMode blurMode() const { return blurMode_; }
  // Held weakly; the engine's operations do not consult it.
  void setFocusTracker(WeakPtr<FocusTracker> tracker) { focusTracker_ = std::move(tracker); }
  WeakPtr<FocusTracker> focusTracker() const { return focusTracker_; }

  // Window alpha of every overlay, faded or at once.
  void setOverlayAlpha(double alpha, bool animated);
  // Material per mode on every overlay; while active, also fades to the new target alpha.
  void applyBlurMode();
  // The appearance setters store their value, which every overlay made later also receives.
  void setTint(const Color& color, double opacity);
  void setGrainIntensity(double intensity);
  void setGrayscale(bool enabled);
  // Brings the overlay set in line with the connected displays (one overlay per display id).
  void rebuildOverlayWindows();

  // Window alpha of every overlay while shown: 0.36 plus the intensity's share of the mode's
  // range (up to 1.0 in deep mode, 0.55 in ambient mode). Not clamped.
  double targetAlpha() const;

  // Read-only views for the coordinator and tests.
  size_t overlayCount() const { return overlayWindows_.size(); }
  const OverlayWindow* overlay(DisplayID id) const;
  // Whether ordering passes follow the window list's changes (from shortly after a show until
  // the hide).
  bool isFollowingChanges() const { return static_cast<bool>(windowChanges_); }
  bool isResettingOrder() const { return isResettingOrder_; }
  std::optional<WindowNumber> lastFocusedWindowNumber() const { return lastFocusedWindowNumber_; }
  std::optional<ProcessID> lastFocusedPID() const { return lastFocusedPID_; }
  const Color& currentTintColor() const { return currentTintColor_; }
  double currentTintOpacity() const { return currentTintOpacity_; }
  double currentGrainIntensity() const { return currentGrainIntensity_; }
  bool currentGrayscale() const { return currentGrayscale_; }

  // One ordering pass: stacks every overlay below the focused window, or, when the frontmost
  // application changed since the last pass, hides the overlays and re-shows them shortly after.
  void updateWindowOrdering();
  // Fired after every ordering pass (for observers that check its result); not for the passes
  // skipped while the overlays are away for an application switch.
  Subject<int> orderingPassed;

 private:
  void showOverlays();
  void hideOverlays();
  void animateOverlayAlpha(double alpha);
  void applyCurrentAppearance(OverlayWindow& overlay);
  void orderBelowFocusedWindow();
  void startFollowingChanges();
  // Runs a pass now, or at the end of the current interval when one ran less than an interval
  // ago; requests made meanwhile share that pass.
  void requestOrderingPass();

  Displays& displays_;
  OverlaySurfaceFactory& surfaces_;
  Workspace& workspace_;
  Accessibility& accessibility_;
  WindowList& windowList_;
  Scheduler& scheduler_;

  WeakPtr<FocusTracker> focusTracker_;
  std::map<DisplayID, std::unique_ptr<OverlayWindow>> overlayWindows_;
  Cancellable windowChanges_;
  bool passPending_ = false;
  double lastPassTime_ = -1.0;
  Cancellable screenObserver_;
  double blurRadius_ = 70.0;
  BlurMode blurMode_ = BlurMode::deep;
  Color currentTintColor_;  // the desktop accent until the coordinator sets a tint
  double currentTintOpacity_ = 0.0;
  double currentGrainIntensity_ = 0.0;
  bool currentGrayscale_ = false;
  std::optional<WindowNumber> lastFocusedWindowNumber_;
  std::optional<ProcessID> lastFocusedPID_;
  bool isResettingOrder_ = false;

  WeakPtrFactory<BlurEngine> weakFactory_{this};
};

}  // namespace dunelo
