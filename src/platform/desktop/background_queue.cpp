#include "platform/desktop/background_queue.h"

#include <utility>

namespace dunelo {

BackgroundQueue::BackgroundQueue(Scheduler& mainThread)
    : mainThread_(mainThread), thread_([this](std::stop_token stop) { workerLoop(stop); }) {}

BackgroundQueue::~BackgroundQueue() {
  stopAll();
  thread_.request_stop();
  thread_.join();
}

void BackgroundQueue::post(Work work, Task then) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(Job{std::move(work), std::move(then)});
  }
  changed_.notify_all();
  ++outstanding_;
  if (!collector_) {
    collector_ =
        mainThread_.scheduleRepeating(kCollectInterval, kCollectInterval, 0, [this] { collect(); });
  }
}

void BackgroundQueue::stopAll() {
  std::unique_lock lock(mutex_);
  queue_.clear();
  if (running_) running_->request_stop();
  changed_.wait(lock, [this] { return !running_; });
  finished_.clear();
  lock.unlock();
  outstanding_ = 0;
  collector_.cancel();
}

void BackgroundQueue::collect() {
  std::deque<Task> done;
  {
    std::lock_guard lock(mutex_);
    done.swap(finished_);
  }
  outstanding_ -= std::min(outstanding_, done.size());
  if (outstanding_ == 0) collector_.cancel();
  for (auto& then : done) {
    if (then) then();
  }
}

void BackgroundQueue::workerLoop(std::stop_token threadStop) {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, threadStop, [this] { return !queue_.empty(); });
    if (threadStop.stop_requested()) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    running_.emplace();
    const std::stop_token jobStop = running_->get_token();
    lock.unlock();
    job.work(jobStop);
    lock.lock();
    running_.reset();
    finished_.push_back(std::move(job.then));
    changed_.notify_all();
  }
}

}  // namespace dunelo
