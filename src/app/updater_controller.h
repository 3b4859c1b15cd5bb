// Owns the software updater: starts it once when created, and passes on the user's request to
// check for updates now. There is no update logic of Dunelo's own.
#pragma once

#include "platform/updater.h"

namespace dunelo {

class UpdaterController {
 public:
  // Starts the updater.
  explicit UpdaterController(Updater& updater);
  UpdaterController(const UpdaterController&) = delete;
  UpdaterController& operator=(const UpdaterController&) = delete;

  // A user-initiated check; nothing is read back.
  void checkForUpdates();

 private:
  Updater& updater_;
};

}  // namespace dunelo
