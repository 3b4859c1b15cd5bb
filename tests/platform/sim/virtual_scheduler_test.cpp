#include "platform/sim/virtual_scheduler.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace dunelo::sim {
namespace {

using testing::DoubleEq;
using testing::DoubleNear;
using testing::ElementsAre;

TEST(VirtualScheduler, RunsDueWorkInTimeThenPostingOrder) {
  VirtualScheduler s(10.0);
  std::vector<std::string> log;
  s.postDelayed(0.35, [&] { log.push_back("b@" + std::to_string(s.uptime())); });
  s.postDelayed(0.08, [&] { log.push_back("a1"); });
  s.postDelayed(0.08, [&] { log.push_back("a2"); });
  s.post([&] { log.push_back("now"); });
  s.advance(0.3);
  EXPECT_THAT(log, ElementsAre("now", "a1", "a2"));
  EXPECT_DOUBLE_EQ(s.uptime(), 10.3);
  s.advance(0.05);
  EXPECT_EQ(log.size(), 4u);
  EXPECT_EQ(log.back().substr(0, 2), "b@");
}

TEST(VirtualScheduler, TasksScheduledWhileAdvancingRunInTheSameAdvance) {
  VirtualScheduler s;
  std::vector<double> times;
  const double start = s.uptime();
  s.postDelayed(0.1, [&] {
    times.push_back(s.uptime() - start);
    s.postDelayed(0.1, [&] { times.push_back(s.uptime() - start); });
    s.post([&] { times.push_back(s.uptime() - start); });
  });
  s.advance(0.25);
  EXPECT_THAT(times,
              ElementsAre(DoubleNear(0.1, 1e-9), DoubleNear(0.1, 1e-9), DoubleNear(0.2, 1e-9)));
  s.advance(1);
  EXPECT_EQ(times.size(), 3u);
}

TEST(VirtualScheduler, RepeatingTimerFirstDeadlineThenIntervalUntilCancelled) {
  VirtualScheduler s;
  const double start = s.uptime();
  std::vector<double> ticks;
  Cancellable timer =
      s.scheduleRepeating(0.5, 1.0, 0, [&] { ticks.push_back(s.uptime() - start); });
  s.advance(2.6);
  EXPECT_THAT(ticks, ElementsAre(DoubleEq(0.5), DoubleEq(1.5), DoubleEq(2.5)));
  timer.cancel();
  s.advance(5);
  EXPECT_EQ(ticks.size(), 3u);
  EXPECT_FALSE(s.nextDue(nullptr));

  // A timer may cancel itself from its own handler.
  int count = 0;
  timer = s.scheduleRepeating(0, 1.0 / 60, 0, [&] {
    if (++count == 3) timer = Cancellable();
  });
  s.advance(1);
  EXPECT_EQ(count, 3);
}

TEST(VirtualScheduler, LooksAtDescriptorsAfterTheHooksOncePerPointInTime) {
  VirtualScheduler s;
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
  std::vector<std::string> log;
  Cancellable hook = s.beforeWait([&] { log.push_back("hook"); });
  Cancellable watch = s.watchFd(fds[0], [&] {
    log.push_back("readable");  // never drained: a real loop would spin, the clock must not
    s.post([&] { log.push_back("posted"); });
  });
  s.postDelayed(0.5, [&] {
    log.push_back("task");
    ASSERT_EQ(write(fds[1], "x", 1), 1);
  });
  s.advance(1);
  EXPECT_THAT(log, ElementsAre("hook", "task", "hook", "readable", "posted"));
  watch.cancel();
  hook.cancel();
  log.clear();
  s.post([&] { log.push_back("task"); });
  s.advance(1);
  EXPECT_THAT(log, ElementsAre("task"));
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace dunelo::sim
