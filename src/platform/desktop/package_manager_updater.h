// Software updates on Linux come from the distribution's package manager, not from Dunelo: there
// is nothing to start, and a check request only tells the user so, as a desktop notification
// (notify-send) when one can be shown and otherwise as a debug log line. Nothing touches the
// network.
//
// notify-send runs on a worker thread and must report success within kNotifyDeadline seconds: a
// notification service that is missing, fails or does not answer in time counts like a missing
// notify-send (the log gets the message, after a line that says what went wrong).
#pragma once

#include "core/scheduler.h"
#include "platform/desktop/background_queue.h"
#include "platform/desktop/command_runner.h"
#include "platform/updater.h"

namespace dunelo {

inline constexpr const char* kUpdatesMessage =
    "Dunelo is updated together with the rest of your system by its package manager (for "
    "example: sudo apt update && sudo apt upgrade).";

class PackageManagerUpdater final : public Updater {
 public:
  static constexpr double kNotifyDeadline = 5.0;

  // Results are handed to `mainThread`.
  PackageManagerUpdater(CommandRunner commands, Scheduler& mainThread,
                        double notifyDeadline = kNotifyDeadline)
      : commands_(std::move(commands)), notifyDeadline_(notifyDeadline), queue_(mainThread) {}

  void start() override {}
  // A check while the previous one is still waiting for notify-send is not repeated.
  void checkForUpdates() override;

 private:
  CommandRunner commands_;
  double notifyDeadline_;
  bool checking_ = false;
  BackgroundQueue queue_;  // last: its worker uses everything above
};

}  // namespace dunelo
