// The main thread's loop on a desktop without a UI toolkit: waits in poll() on the watched file
// descriptors (the X connections, and whatever else a component needs) until the next timer is
// due, and runs posted tasks, delayed tasks, repeating timers and descriptor watches as the
// `Scheduler` the rest of Dunelo uses. Time is the steady clock (CLOCK_MONOTONIC, time since
// boot).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "core/scheduler.h"

namespace dunelo::x11 {

class EventLoop final : public Scheduler {
 public:
  EventLoop() = default;
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;
  ~EventLoop() override;

  double uptime() const override;
  void post(Task task) override;
  void postDelayed(double delay, Task task) override;
  [[nodiscard]] Cancellable scheduleRepeating(double firstDelay, double interval, double leeway,
                                              Task task) override;

  [[nodiscard]] Cancellable watchFd(int fd, Task onReadable) override;
  [[nodiscard]] Cancellable beforeWait(Task task) override;

  // File descriptors watched now.
  size_t watchedFdCount() const { return watches_.size(); }

  // Runs until `quit()`.
  void run();
  // Makes `run()` return after the current work item; the pending work stays queued.
  void quit() { quit_ = true; }

  // One iteration: runs due work, then waits at most `maxWait` seconds for a file descriptor or
  // the next timer, then runs what became due. Returns after that.
  void runOnce(double maxWait);
  // Runs the loop for `seconds` (tests and tools).
  void runFor(double seconds);
  // Runs the loop until `done()` is true or `timeout` seconds have passed; returns `done()`.
  bool runUntil(const std::function<bool()>& done, double timeout);

 private:
  using Clock = std::chrono::steady_clock;
  struct Timer {
    double interval;
    Task task;
    bool cancelled = false;
  };
  struct Item {
    Task task;
    std::shared_ptr<Timer> timer;
  };
  struct Watch {
    int fd;
    Task onReady;
    bool active = true;
  };
  using Key = std::pair<double, uint64_t>;

  Cancellable addWatch(std::vector<std::shared_ptr<Watch>>& list, int fd, Task task);
  void runDue();
  void wait(double maxWait);

  std::map<Key, Item> queue_;
  uint64_t nextSeq_ = 0;
  std::vector<std::shared_ptr<Watch>> watches_;
  std::vector<std::shared_ptr<Watch>> hooks_;  // fd unused
  bool quit_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace dunelo::x11
