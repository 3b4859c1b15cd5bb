// Software updates on Linux come from the distribution's package manager, not from Dunelo: there
// is nothing to start, and a check request only tells the user so, as a desktop notification
// (notify-send) when one can be shown and otherwise as a debug log line. Nothing touches the
// network.
#pragma once

#include "platform/desktop/command_runner.h"
#include "platform/updater.h"

namespace dunelo {

inline constexpr const char* kUpdatesMessage =
    "Dunelo is updated together with the rest of your system by its package manager (for "
    "example: sudo apt update && sudo apt upgrade).";

class PackageManagerUpdater final : public Updater {
 public:
  explicit PackageManagerUpdater(CommandRunner commands) : commands_(std::move(commands)) {}

  void start() override {}
  void checkForUpdates() override;

 private:
  CommandRunner commands_;
};

}  // namespace dunelo
