#include "core/published.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/subject.h"
#include "core/weak_ptr.h"
#include "platform/sim/virtual_scheduler.h"

namespace dunelo {
namespace {

using testing::ElementsAre;

TEST(Published, WillChangeThenDeliverThenStoreThenDidSet) {
  ChangeNotifier owner;
  std::vector<std::string> order;
  Published<int>* self = nullptr;
  Published<int> p(1, &owner, [&](int v) {
    order.push_back("didSet " + std::to_string(v) + " stored " + std::to_string(self->get()));
  });
  self = &p;
  auto w = owner.subscribe([&] { order.push_back("willChange " + std::to_string(p.get())); });
  auto s = p.subscribe([&](int v) {
    order.push_back("deliver " + std::to_string(v) + " old " + std::to_string(p.get()));
  });
  order.clear();
  p = 2;
  EXPECT_THAT(order, ElementsAre("willChange 1", "deliver 2 old 1", "didSet 2 stored 2"));
}

// A new subscriber gets the current value at once, every assignment (of an equal value too) is
// delivered, and a cancelled or destroyed token stops delivery.
TEST(Published, DeliversFromSubscribingUntilTheTokenGoes) {
  Published<int> p(0);
  std::vector<int> seen;
  {
    auto token = p.subscribe([&](int v) { seen.push_back(v); });
    p = 1;
    p = 1;
  }
  p = 2;
  auto token = p.subscribe([&](int v) { seen.push_back(v * 10); });
  token.cancel();
  token.cancel();  // a second cancel does nothing
  p = 3;
  EXPECT_THAT(seen, ElementsAre(0, 1, 1, 20));
  EXPECT_EQ(p.subscriberCount(), 0u);
}

TEST(Published, ReentrantHandlersDoNotSkipOrCrash) {
  Published<int> p(0);
  std::vector<std::string> log;
  Cancellable first, second, third, late;
  first = p.subscribe([&](int v) {
    log.push_back("first " + std::to_string(v));
    if (v == 1) second.cancel();  // cancels another subscriber before its turn
    if (v == 2) first.cancel();   // cancels itself
  });
  second = p.subscribe([&](int v) { log.push_back("second " + std::to_string(v)); });
  third = p.subscribe([&](int v) {
    log.push_back("third " + std::to_string(v));
    if (v == 1) late = p.subscribe([&](int x) { log.push_back("late " + std::to_string(x)); });
    if (v == 2) p = 5;  // nested assignment of the same property
  });
  log.clear();
  p = 1;
  EXPECT_THAT(log, ElementsAre("first 1", "third 1", "late 0"));
  log.clear();
  p = 2;
  EXPECT_THAT(log, ElementsAre("first 2", "third 2", "third 5", "late 5", "late 2"));
  // The outer assignment stores last.
  EXPECT_EQ(p.get(), 2);
}

TEST(Published, OwnerDestroyedByHandlerIsSafe) {
  auto p = std::make_unique<Published<int>>(0);
  auto token = p->subscribe([&](int v) {
    if (v == 1) p.reset();
  });
  p->set(1);
  EXPECT_EQ(p, nullptr);
}

// The observer lists of the X11 backend rely on these: a handler cancelled during a pass is
// skipped, a subject torn down by its own handler finishes the pass, and a token that outlives
// its subject cancels harmlessly.
TEST(Subject, SkipsCancelledHandlersAndOutlivesItsOwnTeardown) {
  auto subject = std::make_unique<Subject<int>>();
  std::vector<std::string> log;
  Cancellable victim;
  Cancellable killer = subject->subscribe([&](int v) {
    log.push_back("killer " + std::to_string(v));
    victim.cancel();
  });
  victim = subject->subscribe([&](int) { log.push_back("victim"); });
  Cancellable destroyer = subject->subscribe([&](int v) {
    log.push_back("destroyer " + std::to_string(v));
    subject.reset();
  });
  Cancellable last = subject->subscribe([&](int v) { log.push_back("last " + std::to_string(v)); });
  subject->send(1);
  EXPECT_THAT(log, ElementsAre("killer 1", "destroyer 1", "last 1"));
  EXPECT_EQ(subject, nullptr);
  killer.cancel();  // after the subject is gone
}

TEST(Publisher, DropFirstSkipsTheInitialValue) {
  Published<int> p(1);
  std::vector<int> seen;
  auto token = p.publisher().dropFirst().sink([&](int v) { seen.push_back(v); });
  p = 2;
  p = 2;
  EXPECT_THAT(seen, ElementsAre(2, 2));
}

TEST(Publisher, CombineLatestWaitsForBothThenEmitsOnEither) {
  Published<int> a(1);
  Published<std::string> b("x");
  std::vector<std::string> seen;
  auto token = combineLatest(a.publisher(), b.publisher()).sink([&](const auto& pair) {
    seen.push_back(std::to_string(pair.first) + pair.second);
  });
  a = 2;
  b = "y";
  EXPECT_THAT(seen, ElementsAre("1x", "2x", "2y"));
  token.cancel();
  a = 3;
  EXPECT_EQ(seen.size(), 3u);
  EXPECT_EQ(a.subscriberCount(), 0u);
  EXPECT_EQ(b.subscriberCount(), 0u);
}

TEST(Publisher, ReceiveOnHopsToTheQueueAndStopsWhenCancelled) {
  sim::VirtualScheduler scheduler;
  Published<int> p(1);
  std::vector<int> seen;
  auto token = p.publisher().receiveOn(scheduler).sink([&](int v) { seen.push_back(v); });
  p = 2;
  EXPECT_TRUE(seen.empty());
  scheduler.runUntilIdle();
  EXPECT_THAT(seen, ElementsAre(1, 2));
  p = 3;
  token.cancel();  // a value already in flight is not delivered
  scheduler.runUntilIdle();
  EXPECT_THAT(seen, ElementsAre(1, 2));
}

TEST(WeakPtr, TurnsNullWhenTheOwnerGoes) {
  struct Owner {
    int value = 4;
    WeakPtrFactory<Owner> weakFactory{this};
  };
  auto owner = std::make_unique<Owner>();
  WeakPtr<Owner> weak = owner->weakFactory.getWeakPtr();
  EXPECT_EQ(weak->value, 4);
  owner.reset();
  EXPECT_FALSE(weak);
  EXPECT_EQ(weak.get(), nullptr);
}

}  // namespace
}  // namespace dunelo
