// The focused window of an application on an X desktop, and the notifications about it.
//
// The focused window of the frontmost application is the active client (_NET_ACTIVE_WINDOW); for
// another application it is the client of that pid that was active last, else its topmost one.
// Its position and size are those of its top-level frame (the ancestor whose parent is the root),
// in the top-left-origin space: the same rectangle the window list reports for that frame, so the
// two match. Observers hear "AXFocusedWindowChanged" and "AXMainWindowChanged" when the active
// client changes within the application (also when its focused window closes and it has no
// other), and "AXMoved" / "AXResized" when the focused window's frame moves or changes size. Trust
// means a window manager that publishes the active window (EWMH); the X extensions the overlay
// draws with are the window list's affair. No desktop prompt exists for that; asking for it writes
// what is missing to the debug log.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/subject.h"
#include "platform/accessibility.h"
#include "platform/x11/coordinate_space.h"
#include "platform/x11/window_tree.h"
#include "platform/x11/x11_connection.h"

namespace dunelo::x11 {

// What the user is told when the active window cannot be followed. `windowManager` is none when
// no window manager runs, else its name (empty when it gives none).
PermissionHelp windowManagerHelp(bool connectionLost,
                                 const std::optional<std::string>& windowManager);

class X11Accessibility final : public Accessibility {
 public:
  X11Accessibility(X11Connection& connection, WindowTree& tree, const CoordinateSpace& space);
  ~X11Accessibility() override;

  std::optional<WindowRef> focusedWindow(ProcessID pid) override;
  std::optional<Point> windowPosition(WindowRef window) override;
  std::optional<Size> windowSize(WindowRef window) override;
  std::unique_ptr<WindowChangeObserver> createObserver(
      ProcessID pid, std::function<void(std::string_view)> callback) override;
  bool canReadFocusedApplication() override;
  bool isProcessTrusted(bool prompt) override;
  PermissionHelp trustHelp() override;

 private:
  class Observer;
  std::optional<Rect> frameRect(WindowRef window) const;
  // The running window manager's name (empty when it gives none); none when none runs.
  std::optional<std::string> runningWindowManager() const;
  void onTreeChange(const TreeChange& change);

  X11Connection& conn_;
  WindowTree& tree_;
  const CoordinateSpace& space_;
  std::map<ProcessID, xcb_window_t> lastActiveByPID_;
  Subject<TreeChange> changes_;  // to the observers, after this has seen the change
  Cancellable treeToken_;
};

}  // namespace dunelo::x11
