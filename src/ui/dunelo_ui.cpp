#include "ui/dunelo_ui.h"

#include <QGuiApplication>

namespace dunelo {

DuneloUi::DuneloUi(SettingsManager& settings, PermissionChecker& permissions, Workspace& workspace,
                   std::function<void()> onCheckForUpdates, SingleInstance* instance,
                   ApplicationAliases* aliases, TrayColors* trayColors)
    : entries_(aliases) {
  model_ = std::make_unique<PopoverModel>(settings, permissions, entries_, workspace,
                                          std::move(onCheckForUpdates));
  tray_ = std::make_unique<TrayPanel>(settings, *model_, trayColors);
  if (instance)
    QObject::connect(instance, &SingleInstance::activationRequested, tray_.get(),
                     [this] { tray_->showPanel(); });
}

DuneloUi::~DuneloUi() = default;

}  // namespace dunelo
