#include "system/focus_tracker.h"

#include <array>
#include <string_view>
#include <vector>

namespace dunelo {
namespace {

// Added to each application's observer in this order.
constexpr std::array<std::string_view, 4> kObservedNotifications{
    kFocusedWindowChanged, kWindowMoved, kWindowResized, kMainWindowChanged};

}  // namespace

FocusTracker::FocusTracker(Workspace& workspace, Accessibility& accessibility, Displays& displays,
                           Scheduler& scheduler)
    : workspace_(workspace),
      accessibility_(accessibility),
      displays_(displays),
      scheduler_(scheduler) {
  workspaceObserver_ =
      workspace_.observeActivations([weak = getWeakPtr()](const RunningApplication& app) {
        if (FocusTracker* self = weak.get()) self->trackApplication(app);
      });
  if (auto front = workspace_.frontmostApplication()) trackApplication(*front);
}

FocusTracker::~FocusTracker() {
  workspaceObserver_.cancel();
  axObserver_.reset();
}

void FocusTracker::trackApplication(const RunningApplication& app) {
  currentApp_ = app;
  focusedAppBundleID = app.bundleID;
  // At most one observer at a time: the old one is detached before the new one is made.
  axObserver_.reset();
  installAXObserver(app.pid);
  refreshFocusedWindow();
}

void FocusTracker::installAXObserver(ProcessID pid) {
  // Each notification, whatever it is, schedules one refresh on the main queue; a burst gives one
  // refresh per notification, in order. A refresh that runs after the tracker is gone does nothing.
  auto observer =
      accessibility_.createObserver(pid, [weak = getWeakPtr()](std::string_view notification) {
        FocusTracker* self = weak.get();
        if (!self) return;
        const bool focusChanged = notification == kFocusedWindowChanged;
        self->scheduler_.post([weak, focusChanged] {
          if (FocusTracker* tracker = weak.get()) tracker->refreshFocusedWindow(focusChanged);
        });
      });
  if (!observer) return;
  // A notification the application does not support is simply never delivered.
  for (std::string_view name : kObservedNotifications) observer->addNotification(name);
  axObserver_ = std::move(observer);
}

void FocusTracker::refreshFocusedWindow(bool focusChanged) {
  if (!currentApp_) {
    focusedWindowRect = std::nullopt;
    return;
  }
  const auto window = accessibility_.focusedWindow(currentApp_->pid);
  if (!window) {
    focusedWindowRect = std::nullopt;
    // A read that fails keeps the last full-screen state; a window that closed does not: a
    // full-screen window that is gone must not keep the overlay away.
    if (focusChanged && isFullScreen.get()) isFullScreen = false;
    return;
  }
  const Point position = accessibility_.windowPosition(*window).value_or(Point{});
  const Size size = accessibility_.windowSize(*window).value_or(Size{});
  const Rect frame{position, size};
  focusedWindowRect = frame;
  isFullScreen = coversItsScreen(frame);
}

// The screen is the first one, in the desktop's order, that holds the window's top-left corner.
// Screen frames are kept bottom-left-origin, window frames top-left-origin; each screen frame is
// flipped into the window's space about the primary (first) screen's top edge before the test,
// so that windows on screens other than the primary one are measured against their own screen.
bool FocusTracker::coversItsScreen(const Rect& window) const {
  const std::vector<ScreenInfo> screens = displays_.screens();
  if (screens.empty()) return false;
  const double primaryTop = screens.front().frame.maxY();
  for (const ScreenInfo& screen : screens) {
    const Rect& f = screen.frame;
    const double width = f.maxX() - f.minX();
    const double height = f.maxY() - f.minY();
    const Rect flipped{f.minX(), primaryTop - f.maxY(), width, height};
    if (!flipped.contains(window.origin)) continue;
    return window.size.width >= width && window.size.height >= height;
  }
  return false;
}

}  // namespace dunelo
