#include "platform/desktop/package_manager_updater.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "support/log_capture.h"
#include "support/scratch_dir.h"

namespace dunelo {
namespace {

using testing::LogCapture;
using testing::ScratchDir;

TEST(PackageManagerUpdaterTest, CheckShowsANotificationWhenItCan) {
  LogCapture log;
  ScratchDir bin;
  const std::string record = bin.file("notified");
  testing::writeFile(bin.file("notify-send"), "#!/bin/sh\nprintf '%s|' \"$@\" > '" + record +
                                                  ".tmp'\nmv '" + record + ".tmp' '" + record +
                                                  "'\n");
  chmod(bin.file("notify-send").c_str(), 0755);

  PackageManagerUpdater updater{CommandRunner(bin.path())};
  updater.start();
  updater.checkForUpdates();
  for (int i = 0; i < 200 && testing::readFile(record).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(testing::readFile(record),
            std::string("--app-name=Dunelo|--icon=system-software-update|Updates for Dunelo|") +
                kUpdatesMessage + "|");
  EXPECT_TRUE(log.messages().empty());
}

TEST(PackageManagerUpdaterTest, CheckWithoutNotificationsWritesTheLog) {
  LogCapture log;
  ScratchDir emptyBin;
  PackageManagerUpdater updater{CommandRunner(emptyBin.path())};
  updater.checkForUpdates();
  EXPECT_EQ(log.messages(), std::vector<std::string>{std::string("[Updater] ") + kUpdatesMessage});
}

}  // namespace
}  // namespace dunelo
