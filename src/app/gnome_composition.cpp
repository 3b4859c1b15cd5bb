#include "app/gnome_composition.h"

#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <string_view>

#include "app/composition.h"
#include "app/debug_log.h"
#include "app/program_lifecycle.h"
#include "app/remote_control.h"
#include "platform/desktop/detached_process.h"
#include "ui/dbus_service.h"
#include "ui/dunelo_ui.h"
#include "ui/single_instance.h"

namespace dunelo {
namespace {

bool listsGnome(std::string_view desktops) {
  while (!desktops.empty()) {
    const size_t colon = desktops.find(':');
    if (desktops.substr(0, colon) == "GNOME") return true;
    if (colon == std::string_view::npos) break;
    desktops.remove_prefix(colon + 1);
  }
  return false;
}

// Where the desktop has no tray: the extension's top-bar button, in the tray icon's two looks,
// opens and closes the panel under itself.
class ShellIndicator {
 public:
  ShellIndicator(gnome::ShellConnection& shell, SettingsManager& settings, TrayPanel& tray)
      : shell_(shell) {
    tokens_.push_back(settings.isActive.subscribe([this](bool active) {
      active_ = active;
      update();
    }));
    tokens_.push_back(shell_.presence.subscribe([this](const bool& present) {
      if (present) update();
    }));
    tokens_.push_back(shell_.indicatorActivated.subscribe([&tray](const Rect& r) {
      tray.togglePanelAt(QRect(static_cast<int>(r.origin.x), static_cast<int>(r.origin.y),
                               static_cast<int>(r.size.width), static_cast<int>(r.size.height)));
    }));
  }
  ~ShellIndicator() { shell_.send("SetIndicator", {false, false}); }

 private:
  void update() {
    const bool visible = !QSystemTrayIcon::isSystemTrayAvailable();
    shell_.send("SetIndicator", {visible, active_});
  }

  gnome::ShellConnection& shell_;
  bool active_ = false;
  CancellableBag tokens_;
};

}  // namespace

std::optional<gnome::SessionKind> waylandSession(
    const std::function<const char*(const char*)>& getenv) {
  auto value = [&](const char* name) {
    const char* v = getenv(name);
    return std::string_view(v ? v : "");
  };
  const std::string_view type = value("XDG_SESSION_TYPE");
  const bool wayland = type == "wayland" || (type.empty() && !value("WAYLAND_DISPLAY").empty());
  if (!wayland) return std::nullopt;
  return listsGnome(value("XDG_CURRENT_DESKTOP")) ? gnome::SessionKind::gnomeWayland
                                                  : gnome::SessionKind::otherWayland;
}

GnomeComposition::GnomeComposition(gnome::SessionKind session, Scheduler& scheduler,
                                   const Options& options) {
  shell_ = std::make_unique<gnome::ShellConnection>();
  workspace_ = std::make_unique<gnome::GnomeWorkspace>(*shell_, [](const std::string& url) {
    // "--" is not understood by xdg-open; a location starting with '-' would be read as an option.
    return !url.empty() && url.front() != '-' && spawnDetached({"xdg-open", url});
  });
  accessibility_ =
      std::make_unique<gnome::GnomeAccessibility>(*shell_, session, gnome::extensionSearchDirs());
  windowList_ = std::make_unique<gnome::GnomeWindowList>(*shell_);
  displays_ = std::make_unique<gnome::GnomeDisplays>(*shell_);
  overlays_ = std::make_unique<gnome::GnomeOverlaySurfaceFactory>(*shell_);
  hotKeys_ = std::make_unique<gnome::GnomeHotKeys>(*shell_);
  mouseMonitors_ = std::make_unique<gnome::GnomeMouseMonitors>(*shell_);
  services_ = makeDesktopServices(scheduler, options.defaultsPath, options.autostartDir);
  platform_ = std::make_unique<Platform>(Platform{
      .scheduler = scheduler,
      .workspace = *workspace_,
      .accessibility = *accessibility_,
      .windowList = *windowList_,
      .displays = *displays_,
      .overlaySurfaces = *overlays_,
      .mouseMonitors = *mouseMonitors_,
      .hotKeys = *hotKeys_,
      .scriptRunner = *services_.dock,
      .updater = *services_.updater,
      .loginItems = *services_.loginItems,
      .defaults = *services_.defaults,
      .selfPID = static_cast<ProcessID>(getpid()),
  });
  if (!shell_->isReady())
    debugLog("[GnomeShell] waiting for the Dunelo extension: " +
             gnome::oneLine(accessibility_->trustAdvice()));
}

GnomeComposition::~GnomeComposition() {
  // The overlays and grabs go before the connection they speak through.
  platform_.reset();
  mouseMonitors_.reset();
  hotKeys_.reset();
  overlays_.reset();
  displays_.reset();
  windowList_.reset();
  accessibility_.reset();
  workspace_.reset();
  shell_.reset();
}

int runOnWayland(gnome::SessionKind session, Scheduler& scheduler, SingleInstance& instance) {
  debugLog(session == gnome::SessionKind::gnomeWayland
               ? "[Dunelo] GNOME on Wayland: following the desktop through the GNOME Shell "
                 "extension"
               : "[Dunelo] a Wayland session that is not GNOME: Dunelo cannot follow it");
  GnomeComposition composition(session, scheduler, {});

  std::unique_ptr<QSocketNotifier> signalWatch;
  if (const int quitFd = installQuitSignalPipe(); quitFd >= 0) {
    signalWatch = std::make_unique<QSocketNotifier>(quitFd, QSocketNotifier::Read);
    QObject::connect(signalWatch.get(), &QSocketNotifier::activated, qApp, [quitFd] {
      drainQuitSignalPipe(quitFd);
      QApplication::quit();
    });
  }

  auto coordinator = makeAppCoordinator(composition.platform());
  AppCoordinator* c = coordinator.get();
  auto ui =
      std::make_unique<DuneloUi>(c->settings, c->permissions, composition.platform().workspace,
                                 [c] { c->updater.checkForUpdates(); });
  RemoteControl control(
      c->settings, [&ui] { ui->tray().showPanel(); }, [] { QApplication::quit(); });
  instance.serve(&control);
  auto bus = std::make_unique<DBusService>(control);
  auto indicator = std::make_unique<ShellIndicator>(composition.shell(), c->settings, ui->tray());
  QApplication::exec();

  indicator.reset();
  bus.reset();
  instance.serve(nullptr);
  ui.reset();
  coordinator.reset();
  signalWatch.reset();
  return exitStatus(false);
}

}  // namespace dunelo
