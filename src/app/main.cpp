// The dunelo program: Dunelo on the X11 desktop it is started in.
//
// It takes no arguments and reads no environment of its own (the display, the desktop and the
// settings location come from the usual X and XDG variables). It runs until SIGINT or SIGTERM, or
// until the X server goes away.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/composition.h"
#include "app/debug_log.h"
#include "app/x11_composition.h"

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
  sigset_t quitSignals;
  sigemptyset(&quitSignals);
  sigaddset(&quitSignals, SIGINT);
  sigaddset(&quitSignals, SIGTERM);
  sigprocmask(SIG_BLOCK, &quitSignals, nullptr);
  const int signalFd = signalfd(-1, &quitSignals, SFD_CLOEXEC | SFD_NONBLOCK);
  Cancellable signalWatch;
  if (signalFd >= 0) {
    signalWatch = loop.watchFd(signalFd, [&loop, signalFd] {
      signalfd_siginfo info{};
      while (read(signalFd, &info, sizeof info) == sizeof info) {
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
  if (signalFd >= 0) close(signalFd);
  if (serverGone) {
    std::fprintf(stderr, "dunelo: the X server went away\n");
    return 1;
  }
  return 0;
}
