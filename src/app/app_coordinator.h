// The spine of Dunelo: builds every long-lived component, wires them together and owns the rules
// that decide when the overlays are shown.
//
// Three kinds of input arrive here: the user's on/off intent (`settings.isActive`, flipped by a
// shake, the hot key or the popover), changes of the frontmost application and its full-screen
// state, and changes of the appearance settings. The coordinator turns them into calls on the
// blur engine, the shake detector, the global shortcut and the dock control, and polls the two
// permissions until both are granted. Switching on brings the overlays up only while both
// permissions are granted; the focus handlers do not look at the permissions, so a persisted on
// state still follows the frontmost application.
#pragma once

#include <optional>
#include <string>

#include "app/dock_control.h"
#include "app/platform.h"
#include "app/updater_controller.h"
#include "core/cancellable.h"
#include "core/published.h"
#include "core/weak_ptr.h"
#include "overlay/blur_engine.h"
#include "settings/settings_manager.h"
#include "shake/shake_detector.h"
#include "system/focus_tracker.h"
#include "system/global_shortcut.h"
#include "system/permission_checker.h"

namespace dunelo {

class AppCoordinator {
 public:
  // Seconds between an on/off change and the dock update that follows it.
  static constexpr double kDockUpdateDelay = 1.0;
  // The permission poll: first tick, then the interval until both are granted.
  static constexpr double kPermissionPollFirstDelay = 0.5;
  static constexpr double kPermissionPollInterval = 1.0;

  // Builds and wires everything; a persisted on state brings the overlays up before this returns
  // when the permissions allow it.
  explicit AppCoordinator(Platform& platform);
  AppCoordinator(const AppCoordinator&) = delete;
  AppCoordinator& operator=(const AppCoordinator&) = delete;

  ChangeNotifier objectWillChange;

  // Declared in the order they are built: the focus tracker attaches to the frontmost application
  // and the update controller starts the updater before the shake detector exists.
  SettingsManager settings;
  PermissionChecker permissions;
  BlurEngine blurEngine;
  FocusTracker focusTracker;
  GlobalShortcut globalShortcut;
  UpdaterController updater;
  ShakeDetector shakeDetector;

  // The handler of `settings.isActive`: shows the overlays when both permissions are granted (and
  // the frontmost application allows it), hides them in any case, and checks the dock one second
  // later.
  void applyActiveState(bool active);
  // The handler of `focusTracker.focusedAppBundleID`.
  void handleFocusedAppChange(const std::optional<std::string>& bundleID);
  // The handler of `focusTracker.isFullScreen`.
  void handleFullScreenChange(bool isFullScreen);
  // Registers the hot key from the stored shortcut settings, or removes it when there is none.
  void updateGlobalShortcut();
  // Sends the stored tint colour and opacity to the engine.
  void updateTint();
  // Hides the dock while `active` and auto-hide is enabled; puts back the dock's own settings when
  // Dunelo hid it and either no longer holds.
  void updateDockAutoHide(bool active);
  // The permission timer's tick.
  void pollPermissions();
  // Puts a dock that Dunelo hid back at once (the coordinator's destruction does it too): for a
  // way out that skips that, such as the toolkit ending the process when its X connection breaks.
  void restoreDockBeforeExit() { dock_.restoreBeforeExit(); }

  // True from the first time Dunelo hid the dock until it showed it again; also from the start
  // when an earlier run left it hidden.
  bool isDockManagedByDunelo() const { return isDockManagedByDunelo_; }
  // True until a poll has found both permissions granted.
  bool isPollingPermissions() const { return static_cast<bool>(permissionTimer_); }

 private:
  void updateGlobalShortcut(std::optional<uint32_t> keyCode, uint32_t modifiers);
  void updateDockAutoHide(bool active, bool autoHideEnabled);
  void toggleActive();
  bool isExcluded(const std::optional<std::string>& bundleID) const;
  // Assigns the engine's state only when it changes; see the focus handlers.
  void setOverlaysShown(bool shown);

  Scheduler& scheduler_;
  Workspace& workspace_;
  ApplicationAliases* aliases_;
  DockControl dock_;

  CancellableBag cancellables;
  Cancellable permissionTimer_;
  bool isDockManagedByDunelo_ = false;
  WeakPtrFactory<AppCoordinator> weakFactory_{this};
};

}  // namespace dunelo
