// Software updates: started once at launch, and asked to check when the user says so.
#pragma once

namespace dunelo {

class Updater {
 public:
  virtual ~Updater() = default;
  virtual void start() = 0;
  virtual void checkForUpdates() = 0;
};

}  // namespace dunelo
