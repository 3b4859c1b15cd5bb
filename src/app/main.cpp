// The dunelo program: Dunelo on the X11 desktop it is started in.
//
// It takes no arguments and reads no environment of its own (the display, the desktop and the
// settings location come from the usual X and XDG variables). It runs until SIGINT or SIGTERM, or
// until the X server goes away.
#include <string>

#include "app/composition.h"
#include "app/program_lifecycle.h"
#include "app/x11_composition.h"
#include "core/debug_log_file.h"

int main() {
  using namespace dunelo;
  DebugLogFile logFile;
  const Cancellable logInstalled = installLogSink(logFile);

  std::string failure;
  auto composition = X11Composition::open({}, &failure);
  if (!composition) {
    reportNoDisplay(failure);
    return 1;
  }
  auto& loop = composition->loop();

  Cancellable signalWatch;
  if (const int quitFd = installQuitSignalPipe(); quitFd >= 0) {
    signalWatch = loop.watchFd(quitFd, [&loop, quitFd] {
      drainQuitSignalPipe(quitFd);
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
  return exitStatus(serverGone);
}
