#include "platform/desktop/package_manager_updater.h"

#include <string>

#include "core/debug_log.h"

namespace dunelo {

void PackageManagerUpdater::checkForUpdates() {
  // Detached: notify-send can wait a long time for a notification service that is not there.
  if (commands_.spawnDetached({"notify-send", "--app-name=Dunelo", "--icon=system-software-update",
                               "Updates for Dunelo", kUpdatesMessage})) {
    return;
  }
  debugLog(std::string("[Updater] ") + kUpdatesMessage);
}

}  // namespace dunelo
