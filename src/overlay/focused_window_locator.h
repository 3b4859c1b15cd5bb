// Finding the window-server number of the focused window.
//
// The focused window stays sharp because every overlay is stacked directly below it, and the
// stacking call needs that window's number. Accessibility knows which window has focus (with
// its position and size) but not its number; the window list knows every window's number, owner
// and bounds but not which has focus. The locator joins the two by owner and bounds. It runs on
// every ordering pass, up to 60 times a second, and caches nothing.
#pragma once

#include <optional>

#include "platform/accessibility.h"
#include "platform/window_list.h"
#include "platform/workspace.h"

namespace dunelo {

// How far (in points, exclusive) each of x, y, width and height may differ between the
// Accessibility frame and the window-list bounds for the two to be the same window.
inline constexpr double kWindowMatchTolerance = 2.0;

// The number of the frontmost application's focused window: the first on-screen window, front to
// back, owned by that application whose bounds match the focused window's frame. None when there
// is no frontmost application, its focused window cannot be read, nothing matches, or the first
// match carries no readable number. A position or size that cannot be read counts as zero.
std::optional<WindowNumber> findFocusedWindowNumber(Workspace& workspace,
                                                    Accessibility& accessibility,
                                                    WindowList& windowList);

}  // namespace dunelo
