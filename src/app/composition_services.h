// The parts of Dunelo's platform that do not depend on the display server: the settings file,
// the XDG autostart entry, the desktop's dock, the package-manager updater and the desktop's file
// manager. Every composition
// builds them the same way.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "core/scheduler.h"
#include "platform/desktop/dock_script_runner.h"
#include "platform/desktop/file_manager_alias.h"
#include "platform/desktop/package_manager_updater.h"
#include "platform/login_items.h"
#include "settings/defaults_store.h"

namespace dunelo {

struct DesktopServices {
  std::unique_ptr<DockScriptRunner> dock;
  std::unique_ptr<PackageManagerUpdater> updater;
  std::unique_ptr<DefaultsStore> defaults;
  std::unique_ptr<LoginItems> loginItems;
  std::unique_ptr<FileManagerAlias> aliases;  // the file manager that stands for Finder
};

// `defaultsPath` none: $XDG_CONFIG_HOME/dunelo/defaults.json (kept in memory, with a log line,
// when there is no home); `autostartDir` none: $XDG_CONFIG_HOME/autostart. The dock's and the
// updater's tools report back on `mainThread`, which must outlive the services.
DesktopServices makeDesktopServices(Scheduler& mainThread,
                                    const std::optional<std::string>& defaultsPath,
                                    const std::optional<std::string>& autostartDir);

}  // namespace dunelo
