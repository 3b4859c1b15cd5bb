// Whether Dunelo may read the window list and the focused window.
//
// Ordering the overlays needs two grants of the desktop: screen capture (the window list with
// other processes' bounds) and Accessibility (the focused window and its notifications). The
// checker holds the last answer for each as an observable flag, probes both on request, caches the
// answers in the defaults domain so that the next launch starts from them, and offers the two
// actions with which the user grants them. The coordinator refreshes it until both are granted
// and gates the overlay on both flags. Every probe failure is an answer of false.
//
// What each permission stands for is the desktop's affair: on X11 the window manager that
// publishes the active window (Accessibility) and the X extensions the overlay draws with (screen
// capture). The desktop also says what is missing and what the user can do about it.
#pragma once

#include "core/published.h"
#include "platform/accessibility.h"
#include "platform/window_list.h"
#include "platform/workspace.h"
#include "settings/defaults_store.h"

namespace dunelo {

class PermissionChecker {
 public:
  // Loads both flags from the cache (absent reads as false); probes nothing.
  PermissionChecker(DefaultsStore& defaults, WindowList& windowList, Accessibility& accessibility,
                    Workspace& workspace, ProcessID self);
  PermissionChecker(const PermissionChecker&) = delete;
  PermissionChecker& operator=(const PermissionChecker&) = delete;

  ChangeNotifier objectWillChange;
  Published<bool> hasScreenRecording{false, &objectWillChange};
  Published<bool> hasAccessibility{false, &objectWillChange};

  // Probes both, assigns both flags (also when unchanged) and rewrites both cache keys.
  void refresh();
  // Yes when the desktop's preflight says so, or when the window list shows another process's
  // window with a readable width.
  bool probeScreenRecording();
  // Yes when the desktop tells which application has the focus, or the process is trusted.
  bool probeAccessibility();
  // Asks the desktop to prompt the user for Accessibility trust; the answer shows in a later
  // refresh.
  void requestAccessibility();
  // Opens the desktop's screen-capture settings, where it has a page for them.
  void openScreenRecordingSettings();
  // What is missing for each now, and what the user can do about it.
  PermissionHelp screenRecordingHelp();
  PermissionHelp accessibilityHelp();

 private:
  DefaultsStore& defaults_;
  WindowList& windowList_;
  Accessibility& accessibility_;
  Workspace& workspace_;
  ProcessID self_;
};

}  // namespace dunelo
