// The dunelo program: Dunelo on the X11 desktop it is started in.
//
// It takes no arguments and reads no environment of its own (the display, the desktop and the
// settings location come from the usual X and XDG variables). It runs until SIGINT or SIGTERM, or
// until the X server goes away.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "app/composition.h"
#include "app/debug_log.h"
#include "app/x11_composition.h"

namespace {

int quitPipeWriteEnd = -1;

// Wakes the main loop through a pipe. The signal mask stays as it was, so nothing Dunelo starts
// (a dock tool, a browser opened for a settings page) inherits blocked signals.
extern "C" void onQuitSignal(int) {
  const int savedErrno = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(quitPipeWriteEnd, &byte, 1);
  errno = savedErrno;
}

}  // namespace

int main() {
  using namespace dunelo;

  std::string failure;
  auto composition = X11Composition::open({}, &failure);
  if (!composition) {
    std::fprintf(stderr,
                 "dunelo: %s\nDunelo runs in an X11 desktop session; start it from one (or set "
                 "DISPLAY to an X server you may use).\n",
                 failure.c_str());
    return 1;
  }
  auto& loop = composition->loop();

  // SIGINT and SIGTERM end the loop like any other event, so teardown runs on the main thread.
  int quitPipe[2] = {-1, -1};
  Cancellable signalWatch;
  if (pipe2(quitPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    quitPipeWriteEnd = quitPipe[1];
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signalWatch = loop.watchFd(quitPipe[0], [&loop, fd = quitPipe[0]] {
      char buffer[16];
      while (read(fd, buffer, sizeof buffer) > 0) {
      }
      loop.quit();
    });
  }

  bool serverGone = false;
  Cancellable lostWatch = composition->connection().addConnectionLostHandler([&] {
    serverGone = true;
    debugLog("[Dunelo] the X server went away; quitting");
    loop.quit();
  });

  auto coordinator = makeAppCoordinator(composition->platform());
  if (!serverGone) loop.run();

  coordinator.reset();
  lostWatch.cancel();
  signalWatch.cancel();
  composition.reset();
  // The pipe stays open: a late signal may still write to it until the process ends.
  if (serverGone) {
    std::fprintf(stderr, "dunelo: the X server went away\n");
    return 1;
  }
  return 0;
}
