// The dunelo program with its tray item: Dunelo on the X11 desktop it is started in, run by the
// Qt event loop.
//
// Qt owns the thread: the coordinator's timers and delayed work are Qt timers, the backend's own X
// connection (not Qt's) is read through a socket notifier, and the tray and its panel are Qt
// Quick. A second start opens the running instance's panel and exits. It takes no arguments of
// its own and runs until "Quit Dunelo", SIGINT or SIGTERM, or until the X server goes away.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdio>
#include <string>

#include "app/composition.h"
#include "app/debug_log.h"
#include "app/x11_composition.h"
#include "platform/desktop/xdg_autostart.h"
#include "ui/dunelo_ui.h"
#include "ui/fd_event_pump.h"
#include "ui/qt_scheduler.h"

namespace {

int quitPipeWriteEnd = -1;

// Qt's diagnostics go to the debug log like everything else Dunelo says. Qt ends the process
// itself when its X connection breaks; that case also gets the program's own line on stderr.
void routeQtMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
  dunelo::debugLog("[Qt] " + message.toStdString());
  if (message.contains(QLatin1String("X11 connection broke")))
    std::fprintf(stderr, "dunelo: the X server went away\n");
}

// Wakes the Qt loop through a pipe. The signal mask stays as it was, so nothing Dunelo starts
// (a dock tool, a browser opened for a settings page) inherits blocked signals.
extern "C" void onQuitSignal(int) {
  const int savedErrno = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(quitPipeWriteEnd, &byte, 1);
  errno = savedErrno;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dunelo;

  // Qt gives up on a missing display by aborting; check first, and say it the program's way.
  {
    std::string failure;
    if (!x11::X11Connection::open(nullptr, &failure)) {
      std::fprintf(stderr,
                   "dunelo: %s\nDunelo runs in an X11 desktop session; start it from one (or set "
                   "DISPLAY to an X server you may use).\n",
                   failure.c_str());
      return 1;
    }
  }
  qInstallMessageHandler(routeQtMessage);

  // The panel is small and mostly static: the software scene graph starts faster and uses far
  // less memory than OpenGL on a software rasteriser.
  useSoftwareRendering();
  qputenv("QT_QUICK_CONTROLS_STYLE", "Basic");
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Dunelo"));
  QApplication::setDesktopFileName(QString::fromLatin1(kDesktopId));
  QApplication::setQuitOnLastWindowClosed(false);

  SingleInstance instance;
  if (!instance.claim()) {
    std::fprintf(stderr, "dunelo: already running; its panel was asked to open\n");
    return 0;
  }

  QtScheduler scheduler;
  X11Composition::Options options;
  options.scheduler = &scheduler;
  std::string failure;
  auto composition = X11Composition::open(options, &failure);
  if (!composition) {
    std::fprintf(stderr,
                 "dunelo: %s\nDunelo runs in an X11 desktop session; start it from one (or set "
                 "DISPLAY to an X server you may use).\n",
                 failure.c_str());
    return 1;
  }
  auto& connection = composition->connection();
  auto& backendLoop = composition->loop();
  auto pump = std::make_unique<FdEventPump>(connection.fd(), [&connection, &backendLoop] {
    connection.dispatchPendingEvents();
    backendLoop.runOnce(0);  // the overlays' render connection
    connection.flush();
  });

  // SIGINT and SIGTERM end the loop like any other event, so teardown runs on the main thread.
  int quitPipe[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> signalWatch;
  if (pipe2(quitPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    quitPipeWriteEnd = quitPipe[1];
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signalWatch = std::make_unique<QSocketNotifier>(quitPipe[0], QSocketNotifier::Read);
    QObject::connect(signalWatch.get(), &QSocketNotifier::activated, &app, [fd = quitPipe[0]] {
      char buffer[16];
      while (read(fd, buffer, sizeof buffer) > 0) {
      }
      QApplication::quit();
    });
  }

  bool serverGone = false;
  Cancellable lostWatch = connection.addConnectionLostHandler([&] {
    serverGone = true;
    debugLog("[Dunelo] the X server went away; quitting");
    QApplication::quit();
  });

  auto coordinator = makeAppCoordinator(composition->platform());
  AppCoordinator* c = coordinator.get();
  auto ui = std::make_unique<DuneloUi>(c->settings, c->permissions,
                                       composition->platform().workspace,
                                       [c] { c->updater.checkForUpdates(); }, &instance);
  connection.flush();
  if (!serverGone) app.exec();

  ui.reset();
  coordinator.reset();
  lostWatch.cancel();
  pump.reset();
  signalWatch.reset();
  composition.reset();
  // The pipe stays open: a late signal may still write to it until the process ends.
  if (serverGone) {
    std::fprintf(stderr, "dunelo: the X server went away\n");
    return 1;
  }
  return 0;
}
