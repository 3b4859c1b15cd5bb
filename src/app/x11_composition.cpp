#include "app/x11_composition.h"

#include <unistd.h>

#include "app/debug_log.h"
#include "platform/desktop/xdg_autostart.h"
#include "platform/x11/desktop_file_index.h"
#include "platform/x11/render/render_painter.h"
#include "settings/in_memory_defaults_store.h"
#include "settings/json_file_defaults_store.h"

namespace dunelo {
namespace {

// Where no autostart directory or program path can be found: launch at login cannot be had.
class UnavailableLoginItems final : public LoginItems {
 public:
  bool registerApp() override { return false; }
  bool unregisterApp() override { return false; }
};

std::string configHome() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') return xdg;
  if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
    return std::string(home) + "/.config";
  }
  return {};
}

std::string programPath() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

}  // namespace

std::unique_ptr<X11Composition> X11Composition::open(const Options& options, std::string* failure) {
  auto connection = x11::X11Connection::open(options.displayName, failure);
  if (!connection) return nullptr;
  std::unique_ptr<X11Composition> c(new X11Composition());
  c->connection_ = std::move(connection);
  Scheduler& scheduler = options.scheduler ? *options.scheduler : c->loop_;
  if (!options.scheduler) c->loopAttachment_ = x11::attachToEventLoop(*c->connection_, c->loop_);
  // The overlays blur what lies behind them (a flat veil where the display cannot). The blur's
  // own render connection is served by the composition's loop, also under a toolkit loop.
  c->desktop_ = std::make_unique<x11::X11Desktop>(
      *c->connection_, scheduler,
      std::make_unique<x11::BlurPainterFactory>(
          c->loop_, options.displayName ? options.displayName : std::string()));
  c->mouseMonitors_ = std::make_unique<x11::X11MouseMonitors>(*c->connection_, scheduler);
  c->hotKeys_ = std::make_unique<x11::X11HotKeys>(*c->connection_);
  c->dock_ = std::make_unique<DockScriptRunner>(DockScriptRunner::forThisProcess());
  c->updater_ = std::make_unique<PackageManagerUpdater>(CommandRunner::forThisProcess());

  const auto defaultsPath =
      options.defaultsPath ? options.defaultsPath : JsonFileDefaultsStore::defaultPath();
  if (defaultsPath) {
    c->defaults_ = std::make_unique<JsonFileDefaultsStore>(*defaultsPath);
  } else {
    debugLog("[Settings] no home directory; settings are kept for this session only");
    c->defaults_ = std::make_unique<InMemoryDefaultsStore>();
  }

  const std::string autostartDir = options.autostartDir
                                       ? *options.autostartDir
                                       : (configHome().empty() ? "" : configHome() + "/autostart");
  const std::string program = programPath();
  if (!autostartDir.empty() && !program.empty()) {
    c->loginItems_ = std::make_unique<XdgAutostart>(autostartDir, kDesktopId, program);
  } else {
    c->loginItems_ = std::make_unique<UnavailableLoginItems>();
  }

  c->aliases_ = std::make_unique<FileManagerAlias>(
      CommandRunner::forThisProcess(), x11::DesktopFileIndex::defaultDataDirs(), configHome());

  c->trayColors_ = std::make_unique<x11::X11TrayColors>(*c->connection_);

  c->platform_ = std::make_unique<Platform>(Platform{
      .scheduler = scheduler,
      .workspace = c->desktop_->workspace(),
      .accessibility = c->desktop_->accessibility(),
      .windowList = c->desktop_->windowList(),
      .displays = c->desktop_->displays(),
      .overlaySurfaces = c->desktop_->overlaySurfaces(),
      .mouseMonitors = *c->mouseMonitors_,
      .hotKeys = *c->hotKeys_,
      .scriptRunner = *c->dock_,
      .updater = *c->updater_,
      .loginItems = *c->loginItems_,
      .defaults = *c->defaults_,
      .selfPID = static_cast<ProcessID>(getpid()),
      .applicationAliases = c->aliases_.get(),
      .trayColors = c->trayColors_.get(),
  });
  c->connection_->flush();
  return c;
}

X11Composition::~X11Composition() {
  // Components built over the connection go first; the loop outlives everything that posted to
  // it.
  platform_.reset();
  trayColors_.reset();
  loginItems_.reset();
  hotKeys_.reset();
  mouseMonitors_.reset();
  desktop_.reset();
  loopAttachment_.clear();
  if (connection_) connection_->flush();
  connection_.reset();
}

}  // namespace dunelo
