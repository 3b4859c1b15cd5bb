// The dunelo program with its tray item: Dunelo on the desktop it is started in (an X11 session,
// or GNOME on Wayland through its Shell extension), run by the Qt event loop.
//
// Qt owns the thread: the coordinator's timers and delayed work are Qt timers, the backend's own X
// connections (not Qt's) are read through socket notifiers, and the tray and its panel are Qt
// Quick. A second start opens the running instance's panel and exits; with a command (see
// --help) it only talks to the running instance. It runs until "Quit Dunelo" (or --quit, or Quit
// on the session bus), SIGINT or SIGTERM, or until the X server goes away.
#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <string>

#include "app/composition.h"
#include "app/gnome_composition.h"
#include "app/main_commands.h"
#include "app/program_lifecycle.h"
#include "app/x11_composition.h"
#include "core/debug_log_file.h"
#include "platform/desktop/xdg_autostart.h"
#include "system/remote_control.h"
#include "ui/dbus_service.h"
#include "ui/dunelo_ui.h"
#include "ui/qt_scheduler.h"
#include "ui/single_instance.h"

namespace {

// Set while the coordinator exists.
dunelo::AppCoordinator* runningCoordinator = nullptr;

// Qt's diagnostics go to the debug log like everything else Dunelo says. Qt ends the process
// itself when its X connection breaks, skipping the teardown: that case also gets the program's
// own line on stderr, and the dock is put back here.
void routeQtMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
  dunelo::debugLog("[Qt] " + message.toStdString());
  if (message.contains(QLatin1String("X11 connection broke"))) {
    std::fprintf(stderr, "dunelo: the X server went away\n");
    if (runningCoordinator) runningCoordinator->restoreDockBeforeExit();
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dunelo;
  DebugLogFile logFile;
  const Cancellable logInstalled = installLogSink(logFile);

  // Help, the version and the commands for a running Dunelo need no display.
  if (const auto status = runCommandLine(argc, argv)) return *status;

  // On Wayland the desktop is followed through GNOME Shell; elsewhere through the X server.
  const auto wayland = waylandSession();
  // There the panel runs on Xwayland, where it can be placed next to the shell's button.
  if (wayland && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");
  // Qt gives up on a missing display by aborting; check first, and say it the program's way.
  if (!wayland) {
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

  SingleInstance instance(SingleInstance::defaultName(/*log=*/true));
  if (!instance.claim()) {
    std::fprintf(stderr, "dunelo: already running; its panel was asked to open\n");
    return 0;
  }

  QtScheduler scheduler;
  std::unique_ptr<GnomeComposition> gnomeDesktop;
  std::unique_ptr<X11Composition> x11Desktop;
  Platform* platform = nullptr;
  if (wayland) {
    debugLog(*wayland == gnome::SessionKind::gnomeWayland
                 ? "[Dunelo] GNOME on Wayland: following the desktop through the GNOME Shell "
                   "extension"
                 : "[Dunelo] a Wayland session that is not GNOME: Dunelo cannot follow it");
    gnomeDesktop =
        std::make_unique<GnomeComposition>(*wayland, scheduler, GnomeComposition::Options{});
    platform = &gnomeDesktop->platform();
  } else {
    X11Composition::Options options;
    options.scheduler = &scheduler;
    std::string failure;
    x11Desktop = X11Composition::open(options, &failure);
    if (!x11Desktop) {
      reportNoDisplay(failure);
      return 1;
    }
    platform = &x11Desktop->platform();
  }

  std::unique_ptr<QSocketNotifier> signalWatch;
  if (const int quitFd = installQuitSignalPipe(); quitFd >= 0) {
    signalWatch = std::make_unique<QSocketNotifier>(quitFd, QSocketNotifier::Read);
    QObject::connect(signalWatch.get(), &QSocketNotifier::activated, &app, [quitFd] {
      drainQuitSignalPipe(quitFd);
      QApplication::quit();
    });
  }

  bool serverGone = false;
  Cancellable lostWatch;
  if (x11Desktop) {
    lostWatch = x11Desktop->connection().addConnectionLostHandler([&] {
      serverGone = true;
      debugLog("[Dunelo] the X server went away; quitting");
      QApplication::quit();
    });
  }

  auto coordinator = makeAppCoordinator(*platform);
  AppCoordinator* c = coordinator.get();
  runningCoordinator = c;
  auto ui = std::make_unique<DuneloUi>(
      c->settings, c->permissions, platform->workspace, [c] { c->updater.checkForUpdates(); },
      platform->applicationAliases, platform->trayColors);
  RemoteControl control(
      c->settings, [&ui] { ui->tray().showPanel(); }, [] { QApplication::quit(); });
  instance.serve(&control);
  auto bus = std::make_unique<DBusService>(control);
  std::unique_ptr<ShellIndicator> indicator;
  if (gnomeDesktop)
    indicator = std::make_unique<ShellIndicator>(gnomeDesktop->shell(), c->settings, ui->tray());
  if (x11Desktop) x11Desktop->connection().flush();
  if (!serverGone) app.exec();

  indicator.reset();
  bus.reset();
  instance.serve(nullptr);
  ui.reset();
  runningCoordinator = nullptr;
  coordinator.reset();  // every way out of the loop ends here; this puts a hidden dock back
  lostWatch.cancel();
  signalWatch.reset();
  gnomeDesktop.reset();
  x11Desktop.reset();
  return exitStatus(serverGone);
}
