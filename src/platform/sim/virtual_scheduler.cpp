#include "platform/sim/virtual_scheduler.h"

#include <poll.h>

#include <algorithm>
#include <vector>

namespace dunelo::sim {

void VirtualScheduler::postDelayed(double delay, Task task) {
  enqueue(now_ + std::max(0.0, delay), Item{std::move(task), nullptr});
}

Cancellable VirtualScheduler::scheduleRepeating(double firstDelay, double interval, double,
                                                Task task) {
  auto timer = std::make_shared<Timer>(Timer{interval, std::move(task)});
  enqueue(now_ + std::max(0.0, firstDelay), Item{nullptr, timer});
  return Cancellable([weak = std::weak_ptr<Timer>(timer)] {
    if (auto t = weak.lock()) t->cancelled = true;
  });
}

void VirtualScheduler::advance(double seconds) {
  const double target = now_ + std::max(0.0, seconds);
  for (;;) {
    runDue();
    if (!watches_->empty() || !hooks_->empty()) {
      // Where a real loop would go to sleep: once per point in time, so that a descriptor that
      // stays readable cannot hold the clock.
      waitPoint();
      runDue();
    }
    double next = 0;
    if (!nextDue(&next) || next > target) break;
    now_ = std::max(now_, next);
  }
  now_ = target;
}

void VirtualScheduler::runDue() {
  while (!queue_.empty()) {
    auto it = queue_.begin();
    if (it->first.first > now_) break;
    Item item = std::move(it->second);
    queue_.erase(it);
    if (item.timer) {
      if (item.timer->cancelled) continue;
      // The next tick is queued before this one runs, so a handler that cancels its own timer
      // stops it for good.
      enqueue(now_ + item.timer->interval, Item{nullptr, item.timer});
      Task task = item.timer->task;  // the handler may cancel and release the timer
      task();
    } else {
      item.task();
    }
  }
}

Cancellable VirtualScheduler::watchFd(int fd, Task onReadable) {
  return addWatch(watches_, fd, std::move(onReadable));
}

Cancellable VirtualScheduler::beforeWait(Task task) {
  return addWatch(hooks_, -1, std::move(task));
}

Cancellable VirtualScheduler::addWatch(const std::shared_ptr<WatchList>& list, int fd, Task task) {
  auto watch = std::make_shared<Watch>(Watch{fd, std::move(task), true});
  list->push_back(watch);
  return Cancellable(
      [weakList = std::weak_ptr<WatchList>(list), weak = std::weak_ptr<Watch>(watch)] {
        auto w = weak.lock();
        if (!w) return;
        w->active = false;
        if (auto l = weakList.lock()) std::erase(*l, w);
      });
}

void VirtualScheduler::waitPoint() {
  for (const auto& hook : WatchList(*hooks_))
    if (hook->active) hook->task();
  const WatchList watches = *watches_;
  std::vector<pollfd> fds;
  for (const auto& w : watches) fds.push_back(pollfd{w->fd, POLLIN, 0});
  if (::poll(fds.data(), fds.size(), 0) <= 0) return;
  for (size_t i = 0; i < fds.size(); ++i)
    if (fds[i].revents && watches[i]->active) watches[i]->task();
}

bool VirtualScheduler::nextDue(double* when) const {
  // Cancelled timers are dropped lazily; skip them here.
  for (const auto& [key, item] : queue_) {
    if (item.timer && item.timer->cancelled) continue;
    if (when) *when = key.first;
    return true;
  }
  return false;
}

}  // namespace dunelo::sim
