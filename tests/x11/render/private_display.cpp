#include "x11/render/private_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace dunelo::x11::testing {

namespace {

pid_t spawnWithDisplay(const char* const argv[], const std::string& display, int keepFd = -1) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
  const int devnull = open("/dev/null", O_RDWR);
  dup2(devnull, 0);
  dup2(devnull, 1);
  dup2(devnull, 2);
  for (int fd = 3; fd < 256; ++fd) {
    if (fd != keepFd) close(fd);
  }
  execvp(argv[0], const_cast<char* const*>(argv));
  _exit(127);
}

void stop(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) {
      pid = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

// Waits until openbox has finished starting: it publishes _NET_SUPPORTING_WM_CHECK on the root
// window once it manages windows (at most five seconds).
void waitForWindowManager(const std::string& display) {
  xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
  if (xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    return;
  }
  const char* name = "_NET_SUPPORTING_WM_CHECK";
  auto atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 24, name), nullptr);
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  for (int i = 0; atom && i < 500; ++i) {
    auto prop = xcb_get_property_reply(
        c, xcb_get_property(c, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr);
    const bool set = prop && xcb_get_property_value_length(prop) == 4;
    free(prop);
    if (set) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  free(atom);
  xcb_disconnect(c);
}

}  // namespace

PrivateDisplay::PrivateDisplay(int width, int height, bool windowManager) {
  int fds[2];
  if (pipe(fds) != 0) return;
  const std::string fd = std::to_string(fds[1]);
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  const char* argv[] = {"Xvfb", "-displayfd",   fd.c_str(),  "-screen",
                        "0",    screen.c_str(), "-nolisten", "tcp",
                        "-br",  "+extension",   "Composite", nullptr};
  server_ = spawnWithDisplay(argv, "", fds[1]);
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  while (poll(&p, 1, 10000) > 0) {
    char ch;
    if (read(fds[0], &ch, 1) != 1 || ch == '\n') break;
    number += ch;
  }
  close(fds[0]);
  if (number.empty()) {
    stop(server_);
    return;
  }
  name_ = ":" + number;
  if (windowManager) {
    const char* wm[] = {"openbox", "--sm-disable", nullptr};
    windowManager_ = spawnWithDisplay(wm, name_);
    waitForWindowManager(name_);
  }
}

PrivateDisplay::~PrivateDisplay() {
  for (pid_t& pid : extra_) stop(pid);
  stop(windowManager_);
  stop(server_);
}

pid_t PrivateDisplay::spawn(const char* const argv[]) {
  for (pid_t& pid : extra_) {
    if (pid > 0) continue;
    pid = spawnWithDisplay(argv, name_);
    return pid;
  }
  return -1;
}

}  // namespace dunelo::x11::testing
