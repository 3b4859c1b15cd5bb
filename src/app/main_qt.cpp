// The dunelo program with its tray item: Dunelo on the X11 desktop it is started in, run by the
// Qt event loop.
//
// Qt owns the thread: the coordinator's timers and delayed work are Qt timers, the backend's own X
// connection (not Qt's) is read through a socket notifier, and the tray and its panel are Qt
// Quick. A second start opens the running instance's panel and exits. It takes no arguments of
// its own and runs until "Quit Dunelo", SIGINT or SIGTERM, or until the X server goes away.
#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <string>

#include "app/composition.h"
#include "app/debug_log.h"
#include "app/program_lifecycle.h"
#include "app/x11_composition.h"
#include "platform/desktop/xdg_autostart.h"
#include "ui/dunelo_ui.h"
#include "ui/fd_event_pump.h"
#include "ui/qt_scheduler.h"

namespace {

// Qt's diagnostics go to the debug log like everything else Dunelo says. Qt ends the process
// itself when its X connection breaks; that case also gets the program's own line on stderr.
void routeQtMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
  dunelo::debugLog("[Qt] " + message.toStdString());
  if (message.contains(QLatin1String("X11 connection broke")))
    std::fprintf(stderr, "dunelo: the X server went away\n");
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dunelo;

  // Qt gives up on a missing display by aborting; check first, and say it the program's way.
  {
    std::string failure;
    if (!x11::X11Connection::open(nullptr, &failure)) {
      reportNoDisplay(failure);
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
    reportNoDisplay(failure);
    return 1;
  }
  auto& connection = composition->connection();
  auto& backendLoop = composition->loop();
  auto pump = std::make_unique<FdEventPump>(connection.fd(), [&connection, &backendLoop] {
    connection.dispatchPendingEvents();
    backendLoop.runOnce(0);  // the overlays' render connection
    connection.flush();
  });

  std::unique_ptr<QSocketNotifier> signalWatch;
  if (const int quitFd = installQuitSignalPipe(); quitFd >= 0) {
    signalWatch = std::make_unique<QSocketNotifier>(quitFd, QSocketNotifier::Read);
    QObject::connect(signalWatch.get(), &QSocketNotifier::activated, &app, [quitFd] {
      drainQuitSignalPipe(quitFd);
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
  auto ui = std::make_unique<DuneloUi>(
      c->settings, c->permissions, composition->platform().workspace,
      [c] { c->updater.checkForUpdates(); }, &instance, composition->platform().applicationAliases,
      composition->platform().trayColors);
  connection.flush();
  if (!serverGone) app.exec();

  ui.reset();
  coordinator.reset();
  lostWatch.cancel();
  pump.reset();
  signalWatch.reset();
  composition.reset();
  return exitStatus(serverGone);
}
