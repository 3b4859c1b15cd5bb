// Runs blocking work (desktop tools) one job at a time on a thread of its own, so the main thread
// never waits for a tool, and hands each job's completion back to the main thread.
//
// The scheduler belongs to the main thread alone, so the worker never touches it: while jobs are
// outstanding, a main-thread timer collects the finished ones every few milliseconds; no timer
// runs while the queue is idle. Completions run in the order the jobs were posted.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

#include "core/cancellable.h"
#include "core/scheduler.h"

namespace dunelo {

class BackgroundQueue {
 public:
  using Work = std::function<void(std::stop_token)>;
  static constexpr double kCollectInterval = 0.005;

  explicit BackgroundQueue(Scheduler& mainThread);
  // Stops everything (see stopAll) and ends the thread.
  ~BackgroundQueue();
  BackgroundQueue(const BackgroundQueue&) = delete;
  BackgroundQueue& operator=(const BackgroundQueue&) = delete;

  // Main thread. `work` runs on the worker after every job posted before it, with a token that
  // stopAll() triggers; then `then` (may be empty) runs on the main thread.
  void post(Work work, Task then);

  // Main thread. Drops the jobs that have not started and every completion not yet delivered,
  // asks the running job to stop and waits until it has returned. New jobs are taken afterwards.
  void stopAll();

 private:
  struct Job {
    Work work;
    Task then;
  };

  void workerLoop(std::stop_token threadStop);
  void collect();

  Scheduler& mainThread_;
  std::mutex mutex_;
  std::condition_variable_any changed_;
  std::deque<Job> queue_;                    // not started yet
  std::optional<std::stop_source> running_;  // the job in progress, if any
  std::deque<Task> finished_;                // completions waiting for the main thread
  size_t outstanding_ = 0;                   // main thread: posted, completion not yet run
  Cancellable collector_;
  std::jthread thread_;  // last: started after everything it uses, stopped first
};

}  // namespace dunelo
