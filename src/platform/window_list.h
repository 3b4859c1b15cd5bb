// The display server's list of on-screen windows, front to back, and its screen-capture check.
//
// Each field of an entry may be missing or unreadable; the consumers decide what that means, so
// entries carry optional fields rather than being dropped.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/cancellable.h"
#include "platform/permission_help.h"
#include "platform/workspace.h"

namespace dunelo {

// Bounds in the top-left-origin global space, in points; each value may be unreadable.
struct WindowBounds {
  std::optional<double> x;
  std::optional<double> y;
  std::optional<double> width;
  std::optional<double> height;
  friend bool operator==(const WindowBounds&, const WindowBounds&) = default;
};

using WindowNumber = int64_t;

struct WindowListEntry {
  std::optional<ProcessID> ownerPID;
  std::optional<WindowBounds> bounds;  // none when the bounds are not a readable record
  std::optional<WindowNumber> windowNumber;
  friend bool operator==(const WindowListEntry&, const WindowListEntry&) = default;
};

class WindowList {
 public:
  virtual ~WindowList() = default;

  // On-screen windows, desktop elements excluded, front to back; none when the list cannot be
  // had at all.
  virtual std::optional<std::vector<WindowListEntry>> onScreenWindows() = 0;

  // Calls `handler` on the main thread after something changed that can move the focused window
  // relative to other windows: the stacking order, the focus or the frontmost application, a
  // window's frame, a window coming or going, the screens. Calls may be batched and may come
  // for changes that turn out to move nothing; no call comes while nothing changes.
  [[nodiscard]] virtual Cancellable observeChanges(std::function<void()> handler) = 0;

  // The desktop's own answer to "may this process capture the screen", without asking the user.
  virtual bool screenCapturePreflight() = 0;
  // What keeps the preflight from saying yes now, and what the user can do about it.
  virtual PermissionHelp screenCaptureHelp() {
    return {"This desktop does not let Dunelo see where the other windows are.", "", ""};
  }
};

}  // namespace dunelo
