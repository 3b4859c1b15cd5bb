// Which application is frontmost, and where its focused window is.
//
// The coordinator decides from the frontmost application's identity (excluded applications) and
// from whether its focused window fills its screen (full-screen windows) if the overlay may be
// shown. The tracker follows application activations from the workspace and window changes inside
// the current application through one Accessibility observer, replaced on every activation. It
// needs Accessibility trust; without it every window read fails and the frame stays absent.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "core/cancellable.h"
#include "core/geometry.h"
#include "core/published.h"
#include "core/scheduler.h"
#include "core/weak_ptr.h"
#include "platform/accessibility.h"
#include "platform/displays.h"
#include "platform/workspace.h"

namespace dunelo {

class FocusTracker {
 public:
  // Starts observing activations and attaches to the frontmost application, if there is one.
  FocusTracker(Workspace& workspace, Accessibility& accessibility, Displays& displays,
               Scheduler& scheduler);
  ~FocusTracker();
  FocusTracker(const FocusTracker&) = delete;
  FocusTracker& operator=(const FocusTracker&) = delete;

  ChangeNotifier objectWillChange;
  // The focused window's frame exactly as Accessibility reports it: top-left-origin global space,
  // not converted. Absent when no frame could be read.
  Published<std::optional<Rect>> focusedWindowRect{std::nullopt, &objectWillChange};
  // The current application's bundle identifier; absent when it has none.
  Published<std::optional<std::string>> focusedAppBundleID{std::nullopt, &objectWillChange};
  // Whether the focused window is at least as large as the screen holding its top-left corner.
  // Left as it was when the window cannot be read; false once it closed without a successor.
  Published<bool> isFullScreen{false, &objectWillChange};

  // Makes `app` the current application: publishes its bundle identifier (on every call, also for
  // the same application), replaces the window observer and re-reads the focused window.
  void trackApplication(const RunningApplication& app);
  // Re-reads the current application's focused window and publishes its frame and, when it could
  // be read, its full-screen state. After the application said its focused window changed
  // (`focusChanged`), no window to read means its last one closed: nothing is full screen then.
  void refreshFocusedWindow(bool focusChanged = false);

  WeakPtr<FocusTracker> getWeakPtr() const { return weakFactory_.getWeakPtr(); }

 private:
  void installAXObserver(ProcessID pid);
  bool coversItsScreen(const Rect& window) const;

  Workspace& workspace_;
  Accessibility& accessibility_;
  Displays& displays_;
  Scheduler& scheduler_;

  Cancellable workspaceObserver_;
  std::unique_ptr<WindowChangeObserver> axObserver_;
  std::optional<RunningApplication> currentApp_;

  WeakPtrFactory<FocusTracker> weakFactory_{this};
};

}  // namespace dunelo
