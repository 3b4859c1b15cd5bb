// Drives a connection that lives outside Qt (the backend's own X connection) from the Qt loop.
//
// The backend reads its socket only when asked; events it has already pulled into its queue (while
// waiting for a reply, say) do not make the socket readable again. So the pump dispatches both when
// the descriptor becomes readable and every time the loop is about to sleep.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace dunelo {

class FdEventPump final : public QObject {
 public:
  // `dispatch` reads and handles everything pending without blocking. `fd` must stay open for
  // the pump's lifetime; a negative descriptor leaves only the before-sleep dispatch.
  FdEventPump(int fd, std::function<void()> dispatch, QObject* parent = nullptr);
  ~FdEventPump() override;

  // Number of dispatch calls so far (diagnostics and tests).
  int dispatchCount() const { return dispatchCount_; }

 private:
  void dispatch();

  std::function<void()> dispatch_;
  std::unique_ptr<QSocketNotifier> notifier_;
  QMetaObject::Connection aboutToBlock_;
  bool dispatching_ = false;
  int dispatchCount_ = 0;
};

}  // namespace dunelo
