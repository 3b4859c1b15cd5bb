// Observable values.
//
// `Published<T>` is the one observable-property type of Dunelo. An assignment, also of a value
// equal to the current one, fires the owner's will-change notification, delivers the new value to
// every subscriber, then stores it (so a handler that reads the property still sees the old value),
// then runs the owner's did-set hook (persistence, side effects). A new subscriber receives the
// current value at once.
//
// `Publisher<T>` is a value stream for the few combinators that the wiring code needs.
#pragma once

#include <cassert>
#include <memory>
#include <optional>
#include <utility>
#include <variant>

#include "core/cancellable.h"
#include "core/scheduler.h"
#include "core/subject.h"

namespace dunelo {

// An object's will-change notification (`objectWillChange`).
class ChangeNotifier {
 public:
  [[nodiscard]] Cancellable subscribe(std::function<void()> handler) {
    return subject_.subscribe([h = std::move(handler)](const std::monostate&) { h(); });
  }
  void send() const { subject_.send(std::monostate{}); }

 private:
  Subject<std::monostate> subject_;
};

template <class T>
class Publisher {
 public:
  using Handler = std::function<void(const T&)>;
  using SubscribeFn = std::function<Cancellable(Handler)>;

  explicit Publisher(SubscribeFn subscribe) : subscribe_(std::move(subscribe)) {}

  [[nodiscard]] Cancellable sink(Handler handler) const { return subscribe_(std::move(handler)); }

  // Skips the first `count` values.
  Publisher<T> dropFirst(int count = 1) const {
    return Publisher<T>([up = subscribe_, count](Handler h) {
      auto left = std::make_shared<int>(count);
      return up([h = std::move(h), left](const T& v) {
        if (*left > 0) {
          --*left;
          return;
        }
        h(v);
      });
    });
  }

  // Delivers each value in its own task on `scheduler` instead of synchronously. Nothing is
  // delivered after the token is cancelled, also for values already in flight.
  Publisher<T> receiveOn(Scheduler& scheduler) const {
    return Publisher<T>([up = subscribe_, s = &scheduler](Handler h) {
      auto live = std::make_shared<bool>(true);
      auto handler = std::make_shared<Handler>(std::move(h));
      Cancellable upstream = up([s, live, handler](const T& v) {
        s->post([live, handler, v] {
          if (*live) (*handler)(v);
        });
      });
      return Cancellable([live, upstream = std::make_shared<Cancellable>(std::move(upstream))] {
        *live = false;
        upstream->cancel();
      });
    });
  }

 private:
  SubscribeFn subscribe_;
};

// Emits the latest pair whenever either source emits, once both have emitted.
template <class A, class B>
Publisher<std::pair<A, B>> combineLatest(const Publisher<A>& a, const Publisher<B>& b) {
  using Pair = std::pair<A, B>;
  return Publisher<Pair>([a, b](typename Publisher<Pair>::Handler h) {
    struct State {
      std::optional<A> lastA;
      std::optional<B> lastB;
      typename Publisher<Pair>::Handler handler;
      void emit() {
        if (lastA && lastB) handler(Pair(*lastA, *lastB));
      }
    };
    auto state = std::make_shared<State>();
    state->handler = std::move(h);
    auto ca = std::make_shared<Cancellable>(a.sink([state](const A& v) {
      state->lastA = v;
      state->emit();
    }));
    auto cb = std::make_shared<Cancellable>(b.sink([state](const B& v) {
      state->lastB = v;
      state->emit();
    }));
    return Cancellable([ca, cb] {
      ca->cancel();
      cb->cancel();
    });
  });
}

template <class T>
class Published {
 public:
  using DidSet = std::function<void(const T&)>;

  explicit Published(T initial = T{}, const ChangeNotifier* owner = nullptr, DidSet didSet = {})
      : value_(std::move(initial)), owner_(owner), didSet_(std::move(didSet)) {}
  Published(const Published&) = delete;
  Published& operator=(const Published&) = delete;
  ~Published() { *alive_ = false; }

  const T& get() const { return value_; }
  const T& operator*() const { return value_; }
  const T* operator->() const { return &value_; }

  void set(T value) {
    auto alive = alive_;
    if (owner_) owner_->send();
    subject_.send(value);
    // A handler may have destroyed the owner (and this property) while being notified.
    if (!*alive) return;
    value_ = std::move(value);
    if (didSet_) didSet_(value_);
  }
  Published& operator=(T value) {
    set(std::move(value));
    return *this;
  }

  // Subscribes and delivers the current value at once.
  [[nodiscard]] Cancellable subscribe(std::function<void(const T&)> handler) {
    auto shared = std::make_shared<std::function<void(const T&)>>(std::move(handler));
    Cancellable token = subject_.subscribe([shared](const T& v) { (*shared)(v); });
    (*shared)(value_);
    return token;
  }

  // The change stream (`$name`). The property must outlive every subscription made through it.
  Publisher<T> publisher() {
    return Publisher<T>([this](typename Publisher<T>::Handler h) { return subscribe(std::move(h)); });
  }

  size_t subscriberCount() const { return subject_.subscriberCount(); }

 private:
  T value_;
  const ChangeNotifier* owner_;
  DidSet didSet_;
  Subject<T> subject_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace dunelo
