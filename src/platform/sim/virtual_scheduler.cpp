#include "platform/sim/virtual_scheduler.h"

#include <algorithm>

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
  while (!queue_.empty()) {
    auto it = queue_.begin();
    if (it->first.first > target) break;
    now_ = std::max(now_, it->first.first);
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
  now_ = target;
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
