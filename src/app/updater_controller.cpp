#include "app/updater_controller.h"

namespace dunelo {

UpdaterController::UpdaterController(Updater& updater) : updater_(updater) {
  updater_.start();
}

void UpdaterController::checkForUpdates() {
  updater_.checkForUpdates();
}

}  // namespace dunelo
