#include "app/x11_composition.h"

#include <unistd.h>

#include "app/composition_services.h"
#include "core/debug_log.h"
#include "platform/x11/render/render_painter.h"

namespace dunelo {

std::unique_ptr<X11Composition> X11Composition::open(const Options& options, std::string* failure) {
  auto connection = x11::X11Connection::open(options.displayName, failure);
  if (!connection) return nullptr;
  std::unique_ptr<X11Composition> c(new X11Composition());
  c->connection_ = std::move(connection);
  if (!options.scheduler) c->ownLoop_ = std::make_unique<x11::EventLoop>();
  Scheduler& scheduler = options.scheduler ? *options.scheduler : *c->ownLoop_;
  c->loopAttachment_ = x11::attachToEventLoop(*c->connection_, scheduler);
  // The overlays blur what lies behind them (a flat veil where the display cannot).
  c->desktop_ = std::make_unique<x11::X11Desktop>(
      *c->connection_, scheduler,
      std::make_unique<x11::BlurPainterFactory>(
          scheduler, options.displayName ? options.displayName : std::string()),
      c->watchedDesktopFiles(scheduler));
  c->mouseMonitors_ = std::make_unique<x11::X11MouseMonitors>(
      *c->connection_, scheduler,
      x11::X11MouseMonitors::Options{.coordinates = &c->desktop_->displays().coordinates()});
  c->hotKeys_ = std::make_unique<x11::X11HotKeys>(*c->connection_);
  DesktopServices services =
      makeDesktopServices(scheduler, options.defaultsPath, options.autostartDir);
  c->dock_ = std::move(services.dock);
  c->updater_ = std::move(services.updater);
  c->defaults_ = std::move(services.defaults);
  c->loginItems_ = std::move(services.loginItems);
  c->aliases_ = std::move(services.aliases);
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

std::unique_ptr<x11::DesktopFileIndex> X11Composition::watchedDesktopFiles(Scheduler& loop) {
  auto index = std::make_unique<x11::DesktopFileIndex>(x11::DesktopFileIndex::defaultDataDirs());
  desktopFilesWatcher_ = std::make_unique<DirectoryWatcher>(index->applicationDirs());
  DirectoryWatcher* watcher = desktopFilesWatcher_.get();
  if (!watcher->isWatching()) return index;  // the index then looks again on missed lookups
  index->setRescanTrigger([watcher] { return watcher->takeChanged(); });
  // The trigger also reads whatever is still queued when it is asked.
  desktopFilesWatch_ = loop.watchFd(watcher->fd(), [watcher] { watcher->readEvents(); });
  return index;
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
  desktopFilesWatch_.cancel();
  loopAttachment_.clear();
  if (connection_) connection_->flush();
  connection_.reset();
}

}  // namespace dunelo
