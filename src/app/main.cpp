// The dunelo program: Dunelo on the X11 desktop it is started in.
//
// It takes no arguments but --help and --version, and reads no environment of its own (the
// display, the desktop and the settings location come from the usual X and XDG variables). It
// runs until SIGINT or SIGTERM, or until the X server goes away.
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/composition.h"
#include "app/program_lifecycle.h"
#include "app/x11_composition.h"
#include "core/debug_log_file.h"

int main(int argc, char** argv) {
  using namespace dunelo;
  DebugLogFile logFile;
  const Cancellable logInstalled = installLogSink(logFile);

  const CommandLine commandLine =
      parseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
  if (auto status = answerDirectly(commandLine)) return *status;
  if (commandLine.action == CommandLine::Action::Command) {
    // Without the user interface there is no single-instance channel to send it over.
    std::fprintf(stderr, "dunelo: this build takes no commands (it has no user interface)\n");
    return kExitUsage;
  }

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
