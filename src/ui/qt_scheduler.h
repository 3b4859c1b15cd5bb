// The main thread's scheduler when the Qt event loop runs the process.
//
// Everything Dunelo schedules (posted work, delayed tasks, repeating timers) becomes a Qt timer or
// a queued call on the thread that owns `context`, so the coordinator, the X connection and the
// views share one loop and never need locks.
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

 private:
  // Parent of every timer, so that pending work dies with the scheduler instead of running
  // against a torn-down process.
  QObject context_;
};

}  // namespace dunelo
