#include "platform/desktop/package_manager_updater.h"

#include <memory>
#include <string>

#include "core/debug_log.h"

namespace dunelo {

void PackageManagerUpdater::checkForUpdates() {
  if (checking_) return;
  checking_ = true;
  // Empty when the notification was shown; otherwise what went wrong (or nothing to say when
  // notify-send is not installed at all).
  auto problem = std::make_shared<std::optional<std::string>>();
  queue_.post(
      [this, problem](std::stop_token stop) {
        const auto result =
            commands_.run({"notify-send", "--app-name=Dunelo", "--icon=system-software-update",
                           "Updates for Dunelo", kUpdatesMessage},
                          Deadline::in(notifyDeadline_, std::move(stop)));
        if (!result) {
          *problem = "";
        } else if (result->timedOut || result->stopped) {
          *problem = "no notification service answered within the deadline";
        } else if (result->exitCode != 0) {
          *problem = "notify-send failed (exit status " + std::to_string(result->exitCode) + ")";
          const std::string error = result->errorOutput.substr(0, result->errorOutput.find('\n'));
          if (!error.empty()) **problem += ": " + error.substr(0, 200);
        }
      },
      [this, problem] {
        checking_ = false;
        if (!*problem) return;
        if (!(*problem)->empty())
          debugLog("[Updater] no notification could be shown: " + **problem);
        debugLog(std::string("[Updater] ") + kUpdatesMessage);
      });
}

}  // namespace dunelo
