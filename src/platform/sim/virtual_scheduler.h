// A Scheduler over virtual time, for tests and the simulated desktop.
//
// Nothing runs until the test advances the clock. `advance(dt)` runs every task that falls due up
// to now + dt in time order (FIFO among equal times), including tasks that are scheduled while
// advancing, and leaves the clock at now + dt. Watched descriptors are looked at (without
// waiting), after the before-wait hooks, once at each point in time where work ran: where a real
// loop would go to sleep.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "core/scheduler.h"

namespace dunelo::sim {

class VirtualScheduler final : public Scheduler {
 public:
  // Virtual uptime starts well above zero, as on a machine that has been running a while.
  explicit VirtualScheduler(double startUptime = 1000.0) : now_(startUptime) {}

  double uptime() const override { return now_; }
  void post(Task task) override { postDelayed(0, std::move(task)); }
  void postDelayed(double delay, Task task) override;
  Cancellable scheduleRepeating(double firstDelay, double interval, double leeway,
                                Task task) override;
  Cancellable watchFd(int fd, Task onReadable) override;
  Cancellable beforeWait(Task task) override;

  // Runs everything that falls due within `seconds` from now, then sets the clock to that time.
  void advance(double seconds);
  // Runs what is due now (posted tasks), without moving the clock.
  void runUntilIdle() { advance(0); }
  // Number of one-shot tasks and live timers still queued.
  size_t pendingCount() const { return queue_.size(); }
  // Time of the next queued item, if any.
  bool nextDue(double* when) const;

 private:
  struct Timer {
    double interval;
    Task task;
    bool cancelled = false;
  };
  struct Item {
    Task task;                     // one-shot work, or
    std::shared_ptr<Timer> timer;  // a repeating timer's next tick
  };
  using Key = std::pair<double, uint64_t>;  // due time, sequence number
  struct Watch {
    int fd;  // -1 for a before-wait hook
    Task task;
    bool active;
  };
  using WatchList = std::vector<std::shared_ptr<Watch>>;

  void runDue();
  void waitPoint();
  static Cancellable addWatch(const std::shared_ptr<WatchList>& list, int fd, Task task);
  void enqueue(double due, Item item) { queue_.emplace(Key{due, nextSeq_++}, std::move(item)); }

  double now_;
  uint64_t nextSeq_ = 0;
  std::map<Key, Item> queue_;
  std::shared_ptr<WatchList> watches_ = std::make_shared<WatchList>();
  std::shared_ptr<WatchList> hooks_ = std::make_shared<WatchList>();
};

}  // namespace dunelo::sim
