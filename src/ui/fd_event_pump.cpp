#include "ui/fd_event_pump.h"

#include <QAbstractEventDispatcher>
#include <QThread>
#include <cassert>
#include <utility>

namespace dunelo {

FdEventPump::FdEventPump(int fd, std::function<void()> dispatch, QObject* parent)
    : QObject(parent), dispatch_(std::move(dispatch)) {
  assert(dispatch_ && "the pump needs something to dispatch");
  if (fd >= 0) {
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { this->dispatch(); });
  }
  if (auto* loop = QAbstractEventDispatcher::instance(thread())) {
    aboutToBlock_ = connect(loop, &QAbstractEventDispatcher::aboutToBlock, this,
                            [this] { this->dispatch(); });
  }
}

FdEventPump::~FdEventPump() { disconnect(aboutToBlock_); }

void FdEventPump::dispatch() {
  // A handler that spins a nested loop must not re-enter the backend's dispatch.
  if (dispatching_) return;
  dispatching_ = true;
  ++dispatchCount_;
  dispatch_();
  dispatching_ = false;
}

}  // namespace dunelo
