#include "app/app_coordinator.h"

#include <utility>

#include "app/run_apple_script.h"
#include "core/debug_log.h"

namespace dunelo {

AppCoordinator::AppCoordinator(Platform& platform)
    : settings(platform.defaults, platform.loginItems),
      permissions(platform.defaults, platform.windowList, platform.accessibility,
                  platform.workspace, platform.selfPID),
      blurEngine(platform.displays, platform.overlaySurfaces, platform.workspace,
                 platform.accessibility, platform.windowList, platform.scheduler),
      focusTracker(platform.workspace, platform.accessibility, platform.displays,
                   platform.scheduler),
      globalShortcut(platform.hotKeys),
      updater(platform.updater),
      shakeDetector(platform.mouseMonitors, platform.scheduler, settings.shakeSensitivity.get()),
      scheduler_(platform.scheduler),
      workspace_(platform.workspace),
      aliases_(platform.applicationAliases),
      dock_(platform.scriptRunner, platform.defaults) {
  const WeakPtr<AppCoordinator> weak = weakFactory_.getWeakPtr();

  blurEngine.setBlurRadius(settings.blurRadius.get());
  blurEngine.setFocusTracker(focusTracker.getWeakPtr());
  permissions.refresh();

  permissionTimer_ =
      scheduler_.scheduleRepeating(kPermissionPollFirstDelay, kPermissionPollInterval, 0, [weak] {
        if (AppCoordinator* self = weak.get()) self->pollPermissions();
      });

  shakeDetector.onShake = [weak] {
    AppCoordinator* self = weak.get();
    const bool active = self && self->settings.isActive.get();
    debugLog(std::string("[AppCoordinator] onShake fired! isActive=") +
             (active ? "true" : "false") + " \u2192 toggling");
    if (self) self->toggleActive();
  };
  shakeDetector.start();
  debugLog("[AppCoordinator] init complete, shakeDetector started");

  // A dock that an earlier run hid and never put back (it crashed or was killed) is put back now,
  // unless Dunelo is about to hide it again anyway.
  if (dock_.hasRememberedDock()) {
    isDockManagedByDunelo_ = true;
    debugLog("[Dock] An earlier run left the dock hidden");
    if (!settings.isActive.get() || !settings.autoHideDockAndMenuBar.get())
      updateDockAutoHide(false);
  }

  // Every handler runs on the main thread and holds the coordinator weakly. New subscribers hear
  // the current value at once, so all but the auto-hide handler (and the two tint handlers, which
  // hop through the main queue) run right here, in this order.
  auto& bag = cancellables;
  bag.push_back(settings.isActive.publisher().sink([weak](const bool& active) {
    if (AppCoordinator* self = weak.get()) self->applyActiveState(active);
  }));
  bag.push_back(settings.blurRadius.publisher().sink([weak](const double& radius) {
    if (AppCoordinator* self = weak.get()) self->blurEngine.setBlurRadius(radius);
  }));
  bag.push_back(
      settings.shakeSensitivity.publisher().sink([weak](const ShakeSensitivity& sensitivity) {
        if (AppCoordinator* self = weak.get()) self->shakeDetector.updateSensitivity(sensitivity);
      }));
  bag.push_back(settings.blurMode.publisher().sink([weak](const BlurMode& mode) {
    if (AppCoordinator* self = weak.get()) self->blurEngine.setBlurMode(mode);
  }));
  bag.push_back(combineLatest(settings.globalShortcutKeyCode.publisher(),
                              settings.globalShortcutModifiers.publisher())
                    .sink([weak](const std::pair<std::optional<uint32_t>, uint32_t>& shortcut) {
                      if (AppCoordinator* self = weak.get())
                        self->updateGlobalShortcut(shortcut.first, shortcut.second);
                    }));
  bag.push_back(settings.grainIntensity.publisher().sink([weak](const double& intensity) {
    if (AppCoordinator* self = weak.get()) self->blurEngine.setGrainIntensity(intensity);
  }));
  // The tint handlers run after a turn of the main queue, when the store already holds the value
  // just assigned; each sends both stored values.
  bag.push_back(settings.tintOpacity.publisher().receiveOn(scheduler_).sink([weak](const double&) {
    if (AppCoordinator* self = weak.get()) self->updateTint();
  }));
  bag.push_back(settings.tintColor.publisher().receiveOn(scheduler_).sink([weak](const Color&) {
    if (AppCoordinator* self = weak.get()) self->updateTint();
  }));
  // The value loaded at start is not a change: the dock is left alone until the user changes it.
  bag.push_back(
      settings.autoHideDockAndMenuBar.publisher().dropFirst().sink([weak](const bool& enabled) {
        if (AppCoordinator* self = weak.get())
          self->updateDockAutoHide(self->settings.isActive.get(), enabled);
      }));
  bag.push_back(settings.isGrayscale.publisher().sink([weak](const bool& enabled) {
    if (AppCoordinator* self = weak.get()) self->blurEngine.setGrayscale(enabled);
  }));
  bag.push_back(focusTracker.focusedAppBundleID.publisher().sink(
      [weak](const std::optional<std::string>& bundleID) {
        if (AppCoordinator* self = weak.get()) self->handleFocusedAppChange(bundleID);
      }));
  bag.push_back(focusTracker.isFullScreen.publisher().sink([weak](const bool& isFullScreen) {
    if (AppCoordinator* self = weak.get()) self->handleFullScreenChange(isFullScreen);
  }));

  updateGlobalShortcut();
}

void AppCoordinator::toggleActive() {
  settings.isActive = !settings.isActive.get();
}

bool AppCoordinator::isExcluded(const std::optional<std::string>& bundleID) const {
  // A stored identity may stand for another application here ("com.apple.finder" for the
  // desktop's file manager).
  return bundleID && namesApplication(settings.excludedAppBundleIDs.get(), *bundleID, aliases_);
}

void AppCoordinator::setOverlaysShown(bool shown) {
  // Every assignment re-runs the engine's show or hide, and a show starts from alpha 0. The focus
  // tracker republishes its state on every move and resize of the focused window, so assigning
  // unconditionally here would blank and re-fade the overlays all through a window drag.
  if (blurEngine.isActive.get() == shown) return;
  blurEngine.isActive = shown;
}

void AppCoordinator::applyActiveState(bool active) {
  // Without both permissions the overlays cannot be kept below the focused window, so switching
  // on waits for them. Switching off never waits: overlays that came up through the focus
  // handlers (or before a permission was revoked) must go when the user says so.
  const bool permitted = permissions.hasScreenRecording.get() && permissions.hasAccessibility.get();
  if (active && !permitted) return;

  if (active) {
    if (auto app = workspace_.frontmostApplication()) focusTracker.trackApplication(*app);
    // No dock update either: the overlays stay away while an excluded application is in front.
    if (isExcluded(focusTracker.focusedAppBundleID.get())) return;
    if (!focusTracker.isFullScreen.get()) blurEngine.isActive = true;
  } else {
    blurEngine.isActive = false;
  }

  // A toggle reversed within the delay never touches the dock.
  scheduler_.postDelayed(kDockUpdateDelay, [weak = weakFactory_.getWeakPtr(), active] {
    AppCoordinator* self = weak.get();
    if (!self || self->settings.isActive.get() != active) return;
    self->updateDockAutoHide(active);
  });
}

void AppCoordinator::handleFocusedAppChange(const std::optional<std::string>& bundleID) {
  if (!settings.isActive.get()) return;
  if (isExcluded(bundleID)) {
    setOverlaysShown(false);
    return;
  }
  if (focusTracker.isFullScreen.get()) return;
  setOverlaysShown(true);
}

void AppCoordinator::handleFullScreenChange(bool isFullScreen) {
  setOverlaysShown(settings.isActive.get() && !isFullScreen &&
                   !isExcluded(focusTracker.focusedAppBundleID.get()));
}

void AppCoordinator::updateGlobalShortcut() {
  updateGlobalShortcut(settings.globalShortcutKeyCode.get(),
                       settings.globalShortcutModifiers.get());
}

void AppCoordinator::updateGlobalShortcut(std::optional<uint32_t> keyCode, uint32_t modifiers) {
  // A key code of 0 counts as no shortcut.
  if (!keyCode || *keyCode == 0) {
    globalShortcut.unregister();
    return;
  }
  globalShortcut.onTrigger = [weak = weakFactory_.getWeakPtr()] {
    if (AppCoordinator* self = weak.get()) self->toggleActive();
  };
  globalShortcut.registerHotKey(*keyCode, modifiers);
}

void AppCoordinator::updateTint() {
  blurEngine.setTint(settings.tintColor.get(), settings.tintOpacity.get());
}

void AppCoordinator::updateDockAutoHide(bool active) {
  updateDockAutoHide(active, settings.autoHideDockAndMenuBar.get());
}

void AppCoordinator::updateDockAutoHide(bool active, bool autoHideEnabled) {
  if (active && autoHideEnabled) {
    if (!isDockManagedByDunelo_) {
      isDockManagedByDunelo_ = true;
      debugLog("[Dock] Taking control, hiding dock");
    }
    // Run on every call: the user may have shown the dock again in the meantime.
    dock_.hide();
    return;
  }
  if (!isDockManagedByDunelo_) return;
  dock_.show();
  isDockManagedByDunelo_ = false;
  debugLog("[Dock] Released control, showing dock");
}

void AppCoordinator::pollPermissions() {
  permissions.refresh();
  if (!permissions.hasScreenRecording.get() || !permissions.hasAccessibility.get()) return;

  permissionTimer_.cancel();
  // Re-attaching republishes the frontmost application, which brings the overlays up through the
  // focus handler when Dunelo is on.
  if (auto app = workspace_.frontmostApplication()) focusTracker.trackApplication(*app);
  // The mouse monitors installed before the grant may not receive events: install them afresh.
  shakeDetector.stop();
  shakeDetector.start();
}

}  // namespace dunelo
