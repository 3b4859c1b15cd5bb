// The main thread's scheduler when the Qt event loop runs the process.
//
// Everything Dunelo schedules (posted work, delayed tasks, repeating timers, descriptor watches)
// becomes a Qt timer, a queued call or a socket notifier on the thread that made the scheduler,
// so the coordinator, the X connections and the views share one loop and never need locks.
#pragma once

#include <QObject>
#include <chrono>

#include "core/scheduler.h"

namespace dunelo {

class QtScheduler final : public Scheduler {
 public:
  QtScheduler();
  ~QtScheduler() override;
  QtScheduler(const QtScheduler&) = delete;
  QtScheduler& operator=(const QtScheduler&) = delete;

  double uptime() const override;
  void post(Task task) override;
  void postDelayed(double delay, Task task) override;
  [[nodiscard]] Cancellable scheduleRepeating(double firstDelay, double interval, double leeway,
                                              Task task) override;
  [[nodiscard]] Cancellable watchFd(int fd, Task onReadable) override;
  // Runs on the event dispatcher's aboutToBlock.
  [[nodiscard]] Cancellable beforeWait(Task task) override;

 private:
  // Parent of every timer, so that pending work dies with the scheduler instead of running
  // against a torn-down process.
  QObject context_;
};

}  // namespace dunelo
