#include "ui/qt_scheduler.h"

#include <QAbstractEventDispatcher>
#include <QMetaObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cassert>
#include <cmath>
#include <memory>

namespace dunelo {

namespace {

// Seconds to whole milliseconds, rounding up so that a task never runs early; negative and
// non-finite delays mean "as soon as possible".
int toMilliseconds(double seconds) {
  if (!std::isfinite(seconds) || seconds <= 0) return 0;
  const double ms = std::ceil(seconds * 1000.0);
  return ms > 2e9 ? 2000000000 : static_cast<int>(ms);
}

// Timers that may fire late by a sizeable part of their interval can be coalesced by Qt.
Qt::TimerType timerTypeFor(double interval, double leeway) {
  return leeway >= interval * 0.05 && interval >= 1.0 ? Qt::CoarseTimer : Qt::PreciseTimer;
}

}  // namespace

QtScheduler::QtScheduler() = default;
QtScheduler::~QtScheduler() = default;

double QtScheduler::uptime() const {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void QtScheduler::post(Task task) {
  QMetaObject::invokeMethod(&context_, std::move(task), Qt::QueuedConnection);
}

void QtScheduler::postDelayed(double delay, Task task) {
  const int ms = toMilliseconds(delay);
  if (ms == 0) {
    post(std::move(task));
    return;
  }
  QTimer::singleShot(ms, Qt::PreciseTimer, &context_, std::move(task));
}

Cancellable QtScheduler::scheduleRepeating(double firstDelay, double interval, double leeway,
                                           Task task) {
  assert(interval > 0 && "a repeating timer needs a positive interval");
  auto* timer = new QTimer(&context_);
  timer->setTimerType(timerTypeFor(interval, leeway));
  timer->setSingleShot(true);
  timer->setInterval(toMilliseconds(firstDelay));
  auto shared = std::make_shared<Task>(std::move(task));
  const int periodMs = std::max(1, toMilliseconds(interval));
  QObject::connect(timer, &QTimer::timeout, timer, [timer, shared, periodMs] {
    // After the first tick the timer settles on its period. Re-arm before running the task: the
    // task may cancel the token, which deletes the timer later, never under our feet.
    if (timer->isSingleShot()) {
      timer->setSingleShot(false);
      timer->start(periodMs);
    }
    Task copy = *shared;  // the task may cancel its own timer
    copy();
  });
  timer->start();
  QPointer<QTimer> handle(timer);
  return Cancellable([handle] {
    if (!handle) return;
    handle->stop();
    handle->deleteLater();
  });
}

Cancellable QtScheduler::watchFd(int fd, Task onReadable) {
  auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &context_);
  QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                   [task = std::make_shared<Task>(std::move(onReadable))] {
                     Task copy = *task;  // the task may cancel its own watch
                     copy();
                   });
  QPointer<QSocketNotifier> handle(notifier);
  return Cancellable([handle] {
    if (!handle) return;
    handle->setEnabled(false);
    handle->deleteLater();
  });
}

Cancellable QtScheduler::beforeWait(Task task) {
  auto* dispatcher = QAbstractEventDispatcher::instance(context_.thread());
  if (!dispatcher) return {};
  const QMetaObject::Connection connection =
      QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &context_,
                       [task = std::make_shared<Task>(std::move(task))] {
                         Task copy = *task;  // the task may cancel its own hook
                         copy();
                       });
  return Cancellable([connection] { QObject::disconnect(connection); });
}

}  // namespace dunelo
