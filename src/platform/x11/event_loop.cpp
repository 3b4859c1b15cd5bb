#include "platform/x11/event_loop.h"

#include <poll.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cmath>
#include <ctime>

namespace dunelo::x11 {

EventLoop::~EventLoop() {
  *alive_ = false;
}

double EventLoop::uptime() const {
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

void EventLoop::post(Task task) {
  postDelayed(0, std::move(task));
}

void EventLoop::postDelayed(double delay, Task task) {
  queue_.emplace(Key{uptime() + std::max(0.0, delay), nextSeq_++}, Item{std::move(task), nullptr});
}

Cancellable EventLoop::scheduleRepeating(double firstDelay, double interval, double /*leeway*/,
                                         Task task) {
  assert(interval > 0 && "a repeating timer needs a positive interval");
  auto timer = std::make_shared<Timer>(Timer{std::max(interval, 1e-4), std::move(task), false});
  queue_.emplace(Key{uptime() + std::max(0.0, firstDelay), nextSeq_++}, Item{nullptr, timer});
  return Cancellable([weak = std::weak_ptr<Timer>(timer)] {
    if (auto t = weak.lock()) {
      t->cancelled = true;
      t->task = nullptr;  // releases what the handler captured now, not at the next tick
    }
  });
}

Cancellable EventLoop::watchFd(int fd, Task onReadable) {
  return addWatch(watches_, fd, std::move(onReadable));
}

Cancellable EventLoop::beforeWait(Task task) {
  return addWatch(hooks_, -1, std::move(task));
}

Cancellable EventLoop::addWatch(std::vector<std::shared_ptr<Watch>>& list, int fd, Task task) {
  auto watch = std::make_shared<Watch>(Watch{fd, std::move(task), true});
  list.push_back(watch);
  return Cancellable(
      [&list, alive = std::weak_ptr<bool>(alive_), weak = std::weak_ptr<Watch>(watch)] {
        auto w = weak.lock();
        auto a = alive.lock();
        if (!w || !a || !*a) return;
        w->active = false;
        std::erase(list, w);
      });
}

void EventLoop::runDue() {
  // Only what is due when the pass starts runs in it; work scheduled by these tasks waits for the
  // next pass, so a task that keeps re-posting itself cannot starve the file descriptors.
  const double now = uptime();
  std::vector<std::pair<Key, Item>> due;
  while (!queue_.empty() && queue_.begin()->first.first <= now) {
    due.emplace_back(queue_.begin()->first, std::move(queue_.begin()->second));
    queue_.erase(queue_.begin());
  }
  for (size_t i = 0; i < due.size(); ++i) {
    if (quit_) {
      for (; i < due.size(); ++i) queue_.emplace(due[i].first, std::move(due[i].second));
      return;
    }
    Item& item = due[i].second;
    if (!item.timer) {
      if (item.task) item.task();
      continue;
    }
    auto timer = item.timer;
    if (timer->cancelled) continue;
    // Missed ticks are skipped rather than run in a burst.
    const double when = due[i].first.first;
    double next = when + timer->interval;
    if (next <= now) next = now + timer->interval - std::fmod(now - when, timer->interval);
    queue_.emplace(Key{next, nextSeq_++}, Item{nullptr, timer});
    Task copy = timer->task;  // the handler may cancel (and clear) its own timer
    if (copy) copy();
  }
}

void EventLoop::wait(double maxWait) {
  {
    const auto hooks = hooks_;
    for (const auto& h : hooks)
      if (h->active) h->onReady();
  }
  double timeout = std::max(0.0, maxWait);
  if (!queue_.empty()) {
    timeout = std::min(timeout, std::max(0.0, queue_.begin()->first.first - uptime()));
  }
  const auto watches = watches_;
  std::vector<pollfd> fds;
  fds.reserve(watches.size());
  for (const auto& w : watches) fds.push_back(pollfd{w->fd, POLLIN, 0});
  timespec ts;
  ts.tv_sec = static_cast<time_t>(timeout);
  ts.tv_nsec = static_cast<long>((timeout - static_cast<double>(ts.tv_sec)) * 1e9);
  int n = ppoll(fds.data(), fds.size(), &ts, nullptr);
  if (n <= 0) return;  // timeout, or EINTR: the caller's next pass handles it
  for (size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents && watches[i]->active) watches[i]->onReady();
  }
}

void EventLoop::runOnce(double maxWait) {
  runDue();
  if (quit_) return;
  wait(maxWait);
  runDue();
}

void EventLoop::run() {
  quit_ = false;
  while (!quit_) runOnce(3600);
  quit_ = false;
}

void EventLoop::runFor(double seconds) {
  const double end = uptime() + seconds;
  quit_ = false;
  for (double now = uptime(); now < end && !quit_; now = uptime()) runOnce(end - now);
  quit_ = false;
}

bool EventLoop::runUntil(const std::function<bool()>& done, double timeout) {
  const double end = uptime() + timeout;
  quit_ = false;
  // `done` is asked again before every wait: a task that ran may have satisfied it, and waiting
  // then could sleep until the timeout when nothing else is scheduled.
  for (double now = uptime(); !done() && now < end && !quit_; now = uptime()) {
    runDue();
    if (done() || quit_) break;
    wait(end - uptime());
    runDue();
  }
  quit_ = false;
  return done();
}

}  // namespace dunelo::x11
