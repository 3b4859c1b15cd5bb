#include "shake/shake_detector.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/sim/sim_mouse_monitors.h"
#include "platform/sim/virtual_scheduler.h"
#include "support/log_capture.h"

namespace dunelo {
namespace {

using testing::LogCapture;

constexpr double kStep = 0.0625;  // exact in binary, so times add up exactly

class ShakeDetectorTest : public ::testing::Test {
 protected:
  // Four alternating large moves kStep apart: a medium shake completing on the last one, whose
  // time is returned.
  double shake() {
    mouse.moveOverOtherApp(20.0);
    for (double dx : {-20.0, 20.0, -20.0}) step(dx);
    return clock.uptime();
  }
  void step(double dx) {
    clock.advance(kStep);
    mouse.moveOverOtherApp(dx);
  }

  LogCapture log;
  sim::VirtualScheduler clock;  // uptime starts at 1000.0
  sim::SimMouseMonitors mouse;
  ShakeDetector detector{mouse, clock, ShakeSensitivity::medium};
  int shakes = 0;
  void SetUp() override {
    detector.onShake = [this] { ++shakes; };
    detector.start();
  }
};

TEST_F(ShakeDetectorTest, StartInstallsOnePairOnceAndStopRemovesIt) {
  detector.start();
  EXPECT_EQ(mouse.globalMonitorCount(), 1u);
  EXPECT_EQ(mouse.localMonitorCount(), 1u);
  EXPECT_EQ(log.messagesStartingWith("[ShakeDetector] started").size(), 1u);
  EXPECT_EQ(log.messages().back(), "[ShakeDetector] started, monitor=true");

  detector.stop();
  EXPECT_EQ(mouse.globalMonitorCount() + mouse.localMonitorCount(), 0u);
  mouse.moveOverOtherApp(50);
  EXPECT_EQ(detector.moveCount(), 0);

  detector.start();
  EXPECT_EQ(mouse.totalInstalls(), 4u);
  EXPECT_EQ(log.messagesStartingWith("[ShakeDetector] started").size(), 2u);

  // Destroying a started detector removes its monitors; nothing is left to call.
  auto other = std::make_unique<ShakeDetector>(mouse, clock, ShakeSensitivity::high);
  other->start();
  other.reset();
  EXPECT_EQ(mouse.globalMonitorCount() + mouse.localMonitorCount(), 2u);
  mouse.moveOverOtherApp(30);
}

TEST_F(ShakeDetectorTest, FailedGlobalMonitorIsLoggedAndRetriedWithoutLeakingTheLocalOne) {
  detector.stop();
  mouse.failNextGlobalInstall();
  detector.start();
  EXPECT_EQ(log.messages().back(), "[ShakeDetector] started, monitor=false");
  EXPECT_FALSE(detector.isStarted());
  EXPECT_EQ(mouse.localMonitorCount(), 1u);
  detector.start();
  EXPECT_TRUE(detector.isStarted());
  EXPECT_EQ(mouse.globalMonitorCount(), 1u);
  EXPECT_EQ(mouse.localMonitorCount(), 1u);
}

TEST_F(ShakeDetectorTest, CooldownSwallowsShakesUpToExactlyOneSecond) {
  const double first = shake();
  EXPECT_EQ(shakes, 1);
  EXPECT_EQ(detector.lastShakeTime(), first);

  // 0.8125 s later: swallowed, and the time of the reported one is kept.
  clock.advance(0.8125 - 3 * kStep);
  EXPECT_EQ(shake() - first, 0.8125);
  EXPECT_EQ(shakes, 1);
  EXPECT_EQ(detector.lastShakeTime(), first);

  // Exactly 1.0 s after the reported one: still swallowed.
  clock.advance(0.1875 - 3 * kStep);
  const double atOneSecond = shake();
  ASSERT_EQ(atOneSecond - first, 1.0);
  EXPECT_EQ(shakes, 1);

  // 1.0001 s after it: reported.
  clock.advance(0.0001 - 3 * kStep);
  const double later = shake();
  ASSERT_GT(later - first, 1.0);
  EXPECT_EQ(shakes, 2);
  EXPECT_EQ(detector.lastShakeTime(), later);
  EXPECT_EQ(log.messagesStartingWith("[ShakeDetector] SHAKE DETECTED! calling onShake").size(), 2u);

  // Moves over Dunelo's own windows count too; without a callback the shake is still recorded.
  detector.onShake = nullptr;
  clock.advance(2.0);
  for (int i = 0; i < 4; ++i) {
    clock.advance(kStep);
    mouse.moveOverOwnWindow(i % 2 ? -20.0 : 20.0);
  }
  EXPECT_EQ(detector.lastShakeTime(), clock.uptime());
  EXPECT_EQ(log.messages().back(), "[ShakeDetector] SHAKE DETECTED! calling onShake");
}

TEST_F(ShakeDetectorTest, NewSensitivityForgetsAHalfDoneShake) {
  mouse.moveOverOtherApp(20);
  step(-20);
  detector.updateSensitivity(ShakeSensitivity::high);
  step(20);
  EXPECT_EQ(shakes, 0);  // a kept history would hold two reversals here: a high shake
  step(-20);
  EXPECT_EQ(shakes, 0);
  step(20);
  EXPECT_EQ(shakes, 1);  // two reversals in the new history
}

TEST_F(ShakeDetectorTest, LogsOneMoveInAHundred) {
  for (int i = 0; i < 250; ++i) mouse.moveOverOtherApp(i + 0.5);
  EXPECT_EQ(log.messagesStartingWith("[ShakeDetector] mouseMoved deltaX="),
            (std::vector<std::string>{"[ShakeDetector] mouseMoved deltaX=0.5",
                                      "[ShakeDetector] mouseMoved deltaX=100.5",
                                      "[ShakeDetector] mouseMoved deltaX=200.5"}));
  mouse.moveOverOtherApp(-3);
  EXPECT_EQ(detector.moveCount(), 251);
}

}  // namespace
}  // namespace dunelo
