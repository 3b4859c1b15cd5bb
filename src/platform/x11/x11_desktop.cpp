#include "platform/x11/x11_desktop.h"

namespace dunelo::x11 {

X11Desktop::X11Desktop(X11Connection& connection, Scheduler& scheduler,
                       std::unique_ptr<OverlayPainterFactory> painters,
                       std::unique_ptr<DesktopFileIndex> desktopFiles)
    : conn_(connection), painters_(std::move(painters)) {
  if (!painters_) painters_ = std::make_unique<FlatVeilPainterFactory>();
  if (!desktopFiles)
    desktopFiles = std::make_unique<DesktopFileIndex>(DesktopFileIndex::defaultDataDirs());
  tree_ = std::make_unique<WindowTree>(conn_);
  displays_ = std::make_unique<X11Displays>(conn_, *tree_);
  workspace_ = std::make_unique<X11Workspace>(conn_, *tree_, std::move(desktopFiles));
  accessibility_ = std::make_unique<X11Accessibility>(conn_, *tree_, displays_->coordinates());
  windowList_ = std::make_unique<X11WindowList>(conn_, *tree_, displays_->coordinates());
  overlaySurfaces_ = std::make_unique<X11OverlaySurfaceFactory>(
      conn_, scheduler, *tree_, displays_->coordinates(), *painters_);
  conn_.flush();
}

X11Desktop::~X11Desktop() = default;

}  // namespace dunelo::x11
