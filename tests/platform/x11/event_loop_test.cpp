#include "platform/x11/event_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace dunelo::x11 {
namespace {

TEST(EventLoopTest, RunsPostedAndDelayedWorkInTimeOrder) {
  EventLoop loop;
  std::vector<std::string> order;
  loop.postDelayed(0.03, [&] { order.push_back("delayed 30ms"); });
  loop.postDelayed(0.01, [&] { order.push_back("delayed 10ms"); });
  loop.post([&] { order.push_back("posted 1"); });
  loop.post([&] {
    order.push_back("posted 2");
    loop.post([&] { order.push_back("posted from a task"); });
  });
  loop.postDelayed(0.05, [&] { loop.quit(); });
  const double start = loop.uptime();
  loop.run();
  EXPECT_GE(loop.uptime() - start, 0.05);
  EXPECT_EQ(order, (std::vector<std::string>{"posted 1", "posted 2", "posted from a task",
                                             "delayed 10ms", "delayed 30ms"}));
}

TEST(EventLoopTest, RepeatingTimerStopsWhenCancelledFromItsHandlerOrDestroyed) {
  EventLoop loop;
  int ticks = 0;
  Cancellable timer;
  timer = loop.scheduleRepeating(0, 0.005, 0, [&] {
    if (++ticks == 3) timer.cancel();
  });
  loop.runFor(0.08);
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(timer);

  auto captured = std::make_shared<int>(0);
  {
    Cancellable scoped = loop.scheduleRepeating(0, 0.005, 0, [captured] { ++*captured; });
    loop.runFor(0.03);
  }
  const int scopedTicks = *captured;
  EXPECT_GT(scopedTicks, 0);
  EXPECT_EQ(captured.use_count(), 1) << "a cancelled timer must not keep its handler alive";
  loop.runFor(0.03);
  EXPECT_EQ(*captured, scopedTicks);
}

TEST(EventLoopTest, SlowTickSkipsMissedTicksInsteadOfBursting) {
  EventLoop loop;
  int ticks = 0;
  Cancellable timer = loop.scheduleRepeating(0, 0.01, 0, [&] {
    if (++ticks == 1) usleep(60000);  // six intervals late
  });
  loop.runFor(0.075);
  // A burst would run the six missed ticks at once; skipping leaves about two more.
  EXPECT_LE(ticks, 4);
}

TEST(EventLoopTest, WatchedDescriptorWakesTheLoopAndSelfRepostingTasksDoNotStarveIt) {
  EventLoop loop;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int reads = 0;
  Cancellable watch = loop.watchFd(fds[0], [&] {
    char c;
    if (read(fds[0], &c, 1) == 1) ++reads;
    loop.quit();
  });
  // A task that re-posts itself forever must not keep the loop from polling.
  std::function<void()> spin = [&] { loop.post(spin); };
  loop.post(spin);
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  EXPECT_TRUE(loop.runUntil([&] { return reads == 1; }, 2.0));
  watch.cancel();
  ASSERT_EQ(write(fds[1], "y", 1), 1);
  loop.runFor(0.02);
  EXPECT_EQ(reads, 1) << "a cancelled watch must not be called";
  close(fds[0]);
  close(fds[1]);
}

TEST(EventLoopTest, QuitKeepsTheRemainingWorkQueued) {
  EventLoop loop;
  int ran = 0;
  loop.post([&] { loop.quit(); });
  loop.post([&] { ++ran; });
  loop.run();
  EXPECT_EQ(ran, 0);
  loop.runFor(0.01);
  EXPECT_EQ(ran, 1);
}

TEST(EventLoopTest, RunUntilReturnsAsSoonAsATaskSatisfiesItWithNothingElseScheduled) {
  EventLoop loop;
  bool done = false;
  loop.post([&] { done = true; });
  const double start = loop.uptime();
  EXPECT_TRUE(loop.runUntil([&] { return done; }, 3.0));
  // Far below the timeout it would otherwise sleep out.
  EXPECT_LT(loop.uptime() - start, 1.5);
}

}  // namespace
}  // namespace dunelo::x11
