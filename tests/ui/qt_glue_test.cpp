#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <unistd.h>

#include "ui/fd_event_pump.h"
#include "ui/qt_scheduler.h"
#include "ui/single_instance.h"
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

TEST(QtScheduler, RunsPostedWorkInOrderAndDelayedWorkAfterIt) {
  QtScheduler scheduler;
  std::vector<int> order;
  scheduler.postDelayed(0.02, [&] { order.push_back(3); });
  scheduler.post([&] { order.push_back(1); });
  scheduler.postDelayed(-5, [&] { order.push_back(2); });  // a negative delay means now
  const double start = scheduler.uptime();
  ASSERT_TRUE(spinUntil([&] { return order.size() == 3; }));
  EXPECT_EQ(order, (std::vector{1, 2, 3}));
  EXPECT_GE(scheduler.uptime() - start, 0.019);
}

TEST(QtScheduler, RepeatingTimerStopsWhenItsTokenIsCancelledFromInside) {
  QtScheduler scheduler;
  int ticks = 0;
  Cancellable token;
  token = scheduler.scheduleRepeating(0.0, 0.005, 0.001, [&] {
    if (++ticks == 3) token.cancel();
  });
  ASSERT_TRUE(spinUntil([&] { return ticks >= 3; }));
  spinUntil([] { return false; }, 60);
  EXPECT_EQ(ticks, 3);
}

TEST(QtScheduler, PendingWorkDiesWithTheScheduler) {
  bool ran = false;
  Cancellable timer;
  {
    QtScheduler scheduler;
    scheduler.postDelayed(0.01, [&] { ran = true; });
    scheduler.post([&] { ran = true; });
    timer = scheduler.scheduleRepeating(0.01, 0.01, 0, [&] { ran = true; });
  }
  spinUntil([] { return false; }, 50);
  EXPECT_FALSE(ran);
  timer.cancel();  // the timer is already gone: a no-op
}

TEST(FdEventPump, DispatchesWhenReadableAndBeforeTheLoopSleeps) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int drained = 0;
  FdEventPump pump(fds[0], [&] {
    char buf[16];
    // Non-blocking read of what is there (the notifier fired or the loop is going idle).
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fds[0], &set);
    timeval tv{0, 0};
    if (select(fds[0] + 1, &set, nullptr, nullptr, &tv) > 0 && read(fds[0], buf, sizeof buf) > 0)
      ++drained;
  });
  const int idleDispatches = pump.dispatchCount();
  spinUntil([&] { return pump.dispatchCount() > idleDispatches; }, 200);
  EXPECT_GT(pump.dispatchCount(), idleDispatches) << "dispatches before the loop blocks";
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  EXPECT_TRUE(spinUntil([&] { return drained == 1; }));
  close(fds[0]);
  close(fds[1]);
}

TEST(PanelPosition, StaysNextToTheAnchorAndInsideTheAvailableArea) {
  const QRect screen(0, 30, 1920, 1050);  // a top panel of 30 px
  const QSize panel(300, 500);
  struct Case { QRect anchor; QPoint expected; const char* what; };
  const Case cases[] = {
      {QRect(1000, 4, 22, 22), QPoint(860, 30), "top tray: under the icon, below the bar"},
      {QRect(1000, 40, 22, 22), QPoint(860, 66), "under an icon inside the area"},
      {QRect(1900, 4, 22, 22), QPoint(1620, 30), "right edge: pulled inside"},
      {QRect(0, 4, 22, 22), QPoint(0, 30), "left edge: pulled inside"},
      {QRect(1000, 1060, 22, 22), QPoint(860, 556), "bottom tray: above the icon"},
      {QRect(1000, 500, 1, 1), QPoint(850, 505), "cursor in the upper half"},
  };
  for (const Case& c : cases) EXPECT_EQ(panelPosition(c.anchor, panel, screen), c.expected) << c.what;
  EXPECT_EQ(panelPosition(QRect(10, 10, 1, 1), QSize(3000, 2000), screen), QPoint(0, 30))
      << "too large: top-left stays visible";
}

TEST(SingleInstance, SecondStartHandsOverAndTheFirstOpensItsPanel) {
  QTemporaryDir dir;
  const QString name = dir.filePath("dunelo.sock");
  SingleInstance first(name);
  ASSERT_TRUE(first.claim());
  QSignalSpy asked(&first, &SingleInstance::activationRequested);
  SingleInstance second(name);
  EXPECT_FALSE(second.claim());
  EXPECT_TRUE(spinUntil([&] { return asked.count() == 1; }));
}

TEST(SingleInstance, LeftoverSocketOfADeadInstanceIsTakenOver) {
  QTemporaryDir dir;
  const QString name = dir.filePath("dunelo.sock");
  QFile stale(name);
  ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
  stale.close();
  SingleInstance instance(name);
  EXPECT_TRUE(instance.claim());
  SingleInstance again(name);
  EXPECT_FALSE(again.claim());
}

}  // namespace
}  // namespace dunelo
