#include "app/updater_controller.h"

namespace dunelo {

UpdaterController::UpdaterController(Updater& updater) : updaterController_(updater) {
  updaterController_.start();
}

void UpdaterController::checkForUpdates() {
  updaterController_.checkForUpdates();
}

}  // namespace dunelo
