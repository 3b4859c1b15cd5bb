#include "ui/dunelo_ui.h"

#include <QGuiApplication>

namespace dunelo {

DuneloUi::DuneloUi(SettingsManager& settings, PermissionChecker& permissions, Workspace& workspace,
                   std::function<void()> onCheckForUpdates, ApplicationAliases* aliases,
                   TrayColors* trayColors)
    : entries_(aliases) {
  model_ = std::make_unique<PopoverModel>(settings, permissions, entries_, workspace,
                                          std::move(onCheckForUpdates));
  tray_ = std::make_unique<TrayPanel>(settings, *model_, trayColors);
}

DuneloUi::~DuneloUi() = default;

}  // namespace dunelo
