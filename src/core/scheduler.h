// The main thread's work queue and clock, as the rest of Dunelo sees them.
//
// Everything in Dunelo runs on one thread and one loop. Work arrives through this interface: tasks
// posted to run soon, tasks delayed by a number of seconds, repeating timers, and file
// descriptors that became readable (the display server's sockets). The backends implement it
// over a real event loop (poll(), Qt) or over virtual time (tests).
#pragma once

#include <functional>

#include "core/cancellable.h"

namespace dunelo {

using Task = std::function<void()>;

class Scheduler {
 public:
  virtual ~Scheduler() = default;

  // Seconds since an arbitrary origin before this process started; monotonic.
  virtual double uptime() const = 0;

  // Runs `task` after the current work item, in posting order.
  virtual void post(Task task) = 0;

  // Runs `task` once, `delay` seconds from now. Delayed work is never cancelled: it holds its
  // owner weakly and re-checks the state it acts on when it runs.
  virtual void postDelayed(double delay, Task task) = 0;

  // Runs `task` `firstDelay` seconds from now, then every `interval` seconds until the token is
  // cancelled or destroyed (also from inside `task`). `leeway` is how late a tick may fire.
  [[nodiscard]] virtual Cancellable scheduleRepeating(double firstDelay, double interval,
                                                      double leeway, Task task) = 0;

  // Runs `onReadable` whenever `fd` is readable (or reports an error or hang-up) while the loop
  // waits, until the token is cancelled or destroyed (also from inside `onReadable`). `fd` must
  // stay open while watched.
  [[nodiscard]] virtual Cancellable watchFd(int fd, Task onReadable) = 0;

  // Runs `task` each time before the loop goes to sleep, until the token is cancelled or
  // destroyed: to send buffered output, and to handle input that a library already read into a
  // queue of its own, which leaves the descriptor quiet (xcb does that while waiting for a reply).
  [[nodiscard]] virtual Cancellable beforeWait(Task task) = 0;
};

}  // namespace dunelo
