// Reading and observing the focused window of an application, and the process's trust to do so.
//
// Every read can fail (no permission, no window, an application that does not answer); a failed
// read is an absent value. Positions and sizes are in the top-left-origin global space, in points.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/geometry.h"
#include "platform/permission_help.h"
#include "platform/workspace.h"

namespace dunelo {

// An opaque reference to an application's window, valid until the window goes away; reads of a
// window that has gone fail.
using WindowRef = uint64_t;

// The window notifications an observer can ask for.
inline constexpr std::string_view kFocusedWindowChanged = "AXFocusedWindowChanged";
inline constexpr std::string_view kWindowMoved = "AXMoved";
inline constexpr std::string_view kWindowResized = "AXResized";
inline constexpr std::string_view kMainWindowChanged = "AXMainWindowChanged";

// Watches one application. Destroying it detaches it; no callback runs afterwards.
class WindowChangeObserver {
 public:
  virtual ~WindowChangeObserver() = default;
  // Starts delivering one notification; false if the application does not support it.
  virtual bool addNotification(std::string_view name) = 0;
};

class Accessibility {
 public:
  virtual ~Accessibility() = default;

  // The focused window of the application with this process id.
  virtual std::optional<WindowRef> focusedWindow(ProcessID pid) = 0;
  virtual std::optional<Point> windowPosition(WindowRef window) = 0;
  virtual std::optional<Size> windowSize(WindowRef window) = 0;

  // Creates an observer for the application; `callback` runs on the main thread with the name of
  // each notification that was added. None when no observer can be created.
  virtual std::unique_ptr<WindowChangeObserver> createObserver(
      ProcessID pid, std::function<void(std::string_view notification)> callback) = 0;

  // Whether the desktop tells which application has the focus, and who it is (the X11 backend
  // needs a window manager that publishes the active window and the window's owning process);
  // false when it cannot.
  virtual bool canReadFocusedApplication() = 0;
  // Whether this process may use these reads. With `prompt`, the desktop also asks the user to
  // grant it when it is not granted.
  virtual bool isProcessTrusted(bool prompt) = 0;
  // What keeps this process from being trusted now, and what the user can do about it.
  virtual PermissionHelp trustHelp() {
    return {"This desktop does not let Dunelo follow the focused window.", "", ""};
  }
};

}  // namespace dunelo
