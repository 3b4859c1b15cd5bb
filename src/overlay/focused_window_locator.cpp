#include "overlay/focused_window_locator.h"

#include <cmath>

namespace dunelo {
namespace {

bool within(const std::optional<double>& value, double reference) {
  return value && std::fabs(*value - reference) < kWindowMatchTolerance;
}

bool matches(const WindowListEntry& entry, ProcessID pid, Point position, Size size) {
  if (entry.ownerPID != pid || !entry.bounds) return false;
  const WindowBounds& b = *entry.bounds;
  return within(b.x, position.x) && within(b.y, position.y) && within(b.width, size.width) &&
         within(b.height, size.height);
}

}  // namespace

std::optional<WindowNumber> findFocusedWindowNumber(Workspace& workspace,
                                                    Accessibility& accessibility,
                                                    WindowList& windowList) {
  const auto app = workspace.frontmostApplication();
  if (!app) return std::nullopt;
  const ProcessID pid = app->pid;

  const auto window = accessibility.focusedWindow(pid);
  if (!window) return std::nullopt;
  const Point position = accessibility.windowPosition(*window).value_or(Point{});
  const Size size = accessibility.windowSize(*window).value_or(Size{});

  const auto entries = windowList.onScreenWindows();
  if (!entries) return std::nullopt;
  for (const WindowListEntry& entry : *entries) {
    if (matches(entry, pid, position, size)) return entry.windowNumber;
  }
  return std::nullopt;
}

}  // namespace dunelo
