#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <thread>

#include "ui/qt_scheduler.h"
#include "ui/tray_panel.h"

namespace dunelo {
namespace {

// Runs a real (blocking) Qt loop until `done` or `ms` elapse.
template <class Pred>
bool spinUntil(Pred done, int ms = 2000) {
  QEventLoop loop;
  QElapsedTimer t;
  t.start();
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done() || t.elapsed() >= ms) loop.quit();
  });
  poll.start(2);
  loop.exec();
  return done();
}

TEST(QtScheduler, RunsWorkInOrderStopsRepeatingWorkFromInsideAndDropsPendingWorkWithItself) {
  bool ranAfterDestruction = false;
  Cancellable orphan;
  {
    QtScheduler doomed;
    doomed.postDelayed(0.01, [&] { ranAfterDestruction = true; });
    doomed.post([&] { ranAfterDestruction = true; });
    orphan = doomed.scheduleRepeating(0.01, 0.01, 0, [&] { ranAfterDestruction = true; });
  }
  QtScheduler scheduler;
  std::vector<int> order;
  scheduler.postDelayed(0.02, [&] { order.push_back(3); });
  scheduler.post([&] { order.push_back(1); });
  scheduler.postDelayed(-5, [&] { order.push_back(2); });  // a negative delay means now
  const double start = scheduler.uptime();
  ASSERT_TRUE(spinUntil([&] { return order.size() == 3; }));
  EXPECT_EQ(order, (std::vector{1, 2, 3}));
  EXPECT_GE(scheduler.uptime() - start, 0.019);

  int ticks = 0;
  Cancellable token;
  token = scheduler.scheduleRepeating(0.0, 0.005, 0.001, [&] {
    if (++ticks == 3) token.cancel();
  });
  ASSERT_TRUE(spinUntil([&] { return ticks >= 3; }));
  spinUntil([] { return false; }, 60);
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(ranAfterDestruction);
  orphan.cancel();  // the timer is already gone: a no-op
}

// The loop must wake for a watched descriptor by itself: nothing else here wakes it before the
// five-second guard.
TEST(QtScheduler, WakesForAWatchedDescriptorAndRunsHooksBeforeSleeping) {
  QtScheduler scheduler;
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
  QEventLoop loop;
  int hookRuns = 0;
  int reads = 0;
  Cancellable hook = scheduler.beforeWait([&] { ++hookRuns; });
  Cancellable watch;
  watch = scheduler.watchFd(fds[0], [&] {
    char buf[16];
    while (read(fds[0], buf, sizeof buf) > 0) {
    }
    if (++reads == 2) watch.cancel();  // from inside its own handler
    loop.quit();
  });
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, &loop, [&] { loop.exit(1); });
  for (int round = 0; round < 2; ++round) {
    std::thread writer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      ASSERT_EQ(write(fds[1], "x", 1), 1);
    });
    guard.start(5000);
    EXPECT_EQ(loop.exec(), 0) << "the watch never fired";
    writer.join();
  }
  EXPECT_EQ(reads, 2);
  EXPECT_GT(hookRuns, 0);
  ASSERT_EQ(write(fds[1], "x", 1), 1);  // cancelled: no third call
  hook.cancel();
  const int hooksBefore = hookRuns;
  spinUntil([] { return false; }, 30);
  EXPECT_EQ(reads, 2);
  EXPECT_EQ(hookRuns, hooksBefore);
  close(fds[0]);
  close(fds[1]);
}

TEST(PanelPosition, StaysNextToTheAnchorAndInsideTheAvailableArea) {
  const QRect screen(0, 30, 1920, 1050);  // a top panel of 30 px
  const QSize panel(300, 500);
  const std::tuple<QRect, QPoint, const char*> cases[] = {
      {QRect(1000, 4, 22, 22), QPoint(860, 30), "top tray: under the icon, below the bar"},
      {QRect(1000, 40, 22, 22), QPoint(860, 66), "under an icon inside the area"},
      {QRect(1900, 4, 22, 22), QPoint(1620, 30), "right edge: pulled inside"},
      {QRect(0, 4, 22, 22), QPoint(0, 30), "left edge: pulled inside"},
      {QRect(1000, 1060, 22, 22), QPoint(860, 556), "bottom tray: above the icon"},
      {QRect(1000, 500, 1, 1), QPoint(850, 505), "cursor in the upper half"},
  };
  for (const auto& [anchor, expected, what] : cases)
    EXPECT_EQ(panelPosition(anchor, panel, screen), expected) << what;
  EXPECT_EQ(panelPosition(QRect(10, 10, 1, 1), QSize(3000, 2000), screen), QPoint(0, 30))
      << "too large: top-left stays visible";
}

}  // namespace
}  // namespace dunelo
