// The user interface of the running program: the tray item and its panel, over the coordinator's
// settings store and permission checker.
#pragma once

#include <functional>
#include <memory>

#include "platform/tray_colors.h"
#include "platform/workspace.h"
#include "settings/settings_manager.h"
#include "system/permission_checker.h"
#include "ui/desktop_entries.h"
#include "ui/popover_model.h"
#include "ui/tray_panel.h"

namespace dunelo {

class DuneloUi {
 public:
  // `onCheckForUpdates` may be empty. Needs a QApplication; `aliases` and `trayColors` may be null.
  DuneloUi(SettingsManager& settings, PermissionChecker& permissions, Workspace& workspace,
           std::function<void()> onCheckForUpdates, ApplicationAliases* aliases = nullptr,
           TrayColors* trayColors = nullptr);
  ~DuneloUi();

  TrayPanel& tray() { return *tray_; }
  PopoverModel& model() { return *model_; }

 private:
  DesktopEntries entries_;
  std::unique_ptr<PopoverModel> model_;
  std::unique_ptr<TrayPanel> tray_;
};

}  // namespace dunelo
