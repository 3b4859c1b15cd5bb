// A private X server (Xvfb) with an openbox window manager for the X11 tests, and small helpers
// that act as ordinary client applications on it.
#pragma once

#include <sys/types.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace dunelo::x11::testing {

class XServer {
 public:
  struct Options {
    int width = 1280;
    int height = 800;
    bool windowManager = true;
    bool blackBackground = false;  // a plain black root instead of Xvfb's pattern
  };
  // Starts Xvfb (a free display number chosen by the server) and, when asked, openbox; waits
  // until both are ready. `ok()` says whether that worked; `display()` is empty when not even
  // the server started.
  explicit XServer(bool withWindowManager = true)
      : XServer(Options{.windowManager = withWindowManager}) {}
  explicit XServer(const Options& options);
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  bool ok() const { return ok_; }
  const std::string& display() const { return display_; }
  pid_t serverPid() const { return xvfb_; }
  // Runs a program against this display and waits for it; its exit status (-1 when it could not
  // run).
  int run(const std::vector<std::string>& argv) const;
  // Starts a program against this display in the background (for example a compositor); it is
  // stopped on destruction. Its pid, or -1.
  pid_t start(const std::vector<std::string>& argv);
  // Waits until a window manager publishes _NET_SUPPORTING_WM_CHECK and manages a new window.
  bool waitForWindowManager();

 private:
  pid_t spawn(const std::vector<std::string>& argv, int keepFd = -1) const;

  pid_t xvfb_ = -1;
  pid_t wm_ = -1;
  std::vector<pid_t> started_;
  std::string display_;
  // Made the probe windows of `waitForWindowManager`; open until the server stops, so that the
  // ids of those windows, which the window manager may still act on, go to no other client.
  xcb_connection_t* probeClient_ = nullptr;
  bool ok_ = false;
};

// A separate X client connection that owns ordinary application windows.
class TestClient {
 public:
  explicit TestClient(const std::string& display);
  ~TestClient();

  xcb_connection_t* xcb() const { return c_; }
  xcb_window_t root() const { return root_; }

  // Creates and maps a top-level window with WM_CLASS and a _NET_WM_PID. `type` is an
  // _NET_WM_WINDOW_TYPE atom name, or empty for none. Unless `takeFocus`, the window asks not to
  // be focused when it appears (a _NET_WM_USER_TIME of 0).
  xcb_window_t createWindow(int x, int y, int width, int height, int32_t pid,
                            const std::string& wmInstance, const std::string& wmClass,
                            const std::string& type = "", bool takeFocus = true);
  // Creates and maps an override-redirect window (one the window manager leaves alone).
  xcb_window_t createUnmanagedWindow(int x, int y, int width, int height);
  void destroy(xcb_window_t window);
  // Asks the window manager to activate (focus and raise) `window`.
  void activate(xcb_window_t window);
  // Asks the window manager to move/resize `window` (a ConfigureRequest).
  void configure(xcb_window_t window, int x, int y, int width, int height);
  // The parent of `window` that is a child of the root (its frame).
  xcb_window_t frameOf(xcb_window_t window);
  // Root children bottom to top.
  std::vector<xcb_window_t> stacking();
  xcb_rectangle_t geometry(xcb_window_t window);
  // Whether `window` and all its ancestors are mapped.
  bool isViewable(xcb_window_t window);
  xcb_atom_t atom(const std::string& name);
  // Clicks the first button at root position (x, y) through XTEST.
  void click(int x, int y);
  void flush() { xcb_flush(c_); }
  // Flushes and waits until the server has processed everything sent so far.
  void sync();

 private:
  xcb_connection_t* c_;
  xcb_window_t root_ = XCB_NONE;
};

}  // namespace dunelo::x11::testing
