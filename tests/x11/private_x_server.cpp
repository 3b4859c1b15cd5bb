#include "x11/private_x_server.h"

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
#include <vector>

namespace dunelo::testing {
namespace {

pid_t spawn(std::vector<std::string> args, const std::string& display, int keepFd = -1) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
  // Quiet children: their chatter is not the test's output.
  const int null = open("/dev/null", 0);
  dup2(null, 1);
  dup2(null, 2);
  for (int fd = 3; fd < 256; ++fd) {
    if (fd != keepFd) close(fd);
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
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
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

bool hasWindowManager(const std::string& display) {
  xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
  bool found = false;
  if (!xcb_connection_has_error(c)) {
    const char name[] = "_NET_SUPPORTING_WM_CHECK";
    auto* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    if (atom) {
      auto* prop = xcb_get_property_reply(
          c, xcb_get_property(c, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr);
      found = prop && xcb_get_property_value_length(prop) == 4;
      free(prop);
    }
    free(atom);
  }
  xcb_disconnect(c);
  return found;
}

}  // namespace

PrivateXServer::PrivateXServer(Options options) {
  int fds[2];
  if (pipe(fds) != 0) return;
  const std::string geometry =
      std::to_string(options.width) + "x" + std::to_string(options.height) + "x24";
  server_ = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", geometry,
                   "-nolisten", "tcp", "-noreset"},
                  "", fds[1]);
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline && poll(&p, 1, 100) >= 0) {
    if (!(p.revents & (POLLIN | POLLHUP))) continue;
    char c;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (number.empty()) {
    stop(server_);
    return;
  }
  display_ = ":" + number;
  if (!options.withWindowManager) return;
  windowManager_ = spawn({"openbox"}, display_);
  for (int i = 0; i < 250 && !hasWindowManager(display_); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

PrivateXServer::~PrivateXServer() {
  stop(windowManager_);
  stop(server_);
}

}  // namespace dunelo::testing
