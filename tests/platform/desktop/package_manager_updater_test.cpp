#include "platform/desktop/package_manager_updater.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "platform/sim/virtual_scheduler.h"
#include "support/log_capture.h"
#include "support/scratch_dir.h"

namespace dunelo {
namespace {

using testing::LogCapture;
using testing::ScratchDir;
using Strings = std::vector<std::string>;

// A notification that cannot be shown (no notify-send, no service, a service that never answers)
// is reported in the log; one that is shown is not.
TEST(PackageManagerUpdaterTest, CheckShowsANotificationOrSaysInTheLogWhyNot) {
  const std::string message = std::string("[Updater] ") + kUpdatesMessage;
  struct Case {
    const char* name;
    std::optional<std::string> notifySend;  // the fake's body; none: not installed
    Strings logged;
  };
  const Case cases[] = {
      {"shown", "printf '%s|' \"$@\" > \"$0.args\"", {}},
      {"not installed", std::nullopt, {message}},
      {"no notification service",
       "echo 'GDBus.Error:org.freedesktop.DBus.Error.ServiceUnknown: The name is not activatable' "
       ">&2; exit 1",
       {"[Updater] no notification could be shown: notify-send failed (exit status 1): "
        "GDBus.Error:org.freedesktop.DBus.Error.ServiceUnknown: The name is not activatable",
        message}},
      {"service that never answers",
       "exec sleep 1000",
       {"[Updater] no notification could be shown: no notification service answered within the "
        "deadline",
        message}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    ScratchDir bin;
    const std::string tool = bin.file("notify-send");
    if (c.notifySend) {
      testing::writeFile(tool, "#!/bin/sh\n" + *c.notifySend + "\n");
      chmod(tool.c_str(), 0755);
    }
    sim::VirtualScheduler scheduler;
    {
      PackageManagerUpdater updater(CommandRunner(bin.path() + ":/usr/bin:/bin"), scheduler, 0.5);
      updater.start();
      updater.checkForUpdates();
      updater.checkForUpdates();  // still checking: not repeated
      const auto start = std::chrono::steady_clock::now();
      while (scheduler.pendingCount() > 0 &&
             std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
        scheduler.advance(0.01);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    EXPECT_EQ(log.messages(), c.logged);
    if (!c.logged.empty()) continue;
    EXPECT_EQ(testing::readFile(tool + ".args"),
              std::string("--app-name=Dunelo|--icon=system-software-update|Updates for Dunelo|") +
                  kUpdatesMessage + "|");
  }
}

}  // namespace
}  // namespace dunelo
