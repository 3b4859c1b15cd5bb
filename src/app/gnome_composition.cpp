#include "app/gnome_composition.h"

#include <unistd.h>

#include <QSystemTrayIcon>
#include <string_view>

#include "core/debug_log.h"
#include "platform/desktop/detached_process.h"

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
  windowList_ = std::make_unique<gnome::GnomeWindowList>(
      *shell_, [a = accessibility_.get()] { return a->trustHelp(); });
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
      .applicationAliases = services_.aliases.get(),
  });
  if (!shell_->isReady())
    debugLog("[GnomeShell] waiting for the Dunelo extension: " +
             gnome::oneLine(accessibility_->trustHelp()));
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

ShellIndicator::ShellIndicator(gnome::ShellConnection& shell, SettingsManager& settings,
                               TrayPanel& tray)
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

ShellIndicator::~ShellIndicator() {
  shell_.send("SetIndicator", {false, false});
}

void ShellIndicator::update() {
  const bool visible = !QSystemTrayIcon::isSystemTrayAvailable();
  shell_.send("SetIndicator", {visible, active_});
}

}  // namespace dunelo
