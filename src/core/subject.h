// The subscriber list behind every observable value.
//
// Delivery is re-entrancy safe: a handler may subscribe, cancel itself or another subscriber, or
// send again while being notified. Each send visits the subscribers present when it started, and
// skips any that were cancelled before their turn.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "core/cancellable.h"

namespace dunelo {

template <class T>
class Subject {
 public:
  using Handler = std::function<void(const T&)>;

  Subject() = default;
  Subject(const Subject&) = delete;
  Subject& operator=(const Subject&) = delete;

  [[nodiscard]] Cancellable subscribe(Handler handler) {
    auto entry = std::make_shared<Entry>(Entry{std::move(handler), true});
    entries_->push_back(entry);
    return Cancellable([list = std::weak_ptr<List>(entries_), weak = std::weak_ptr<Entry>(entry)] {
      auto e = weak.lock();
      if (!e) return;
      e->active = false;
      if (auto l = list.lock()) std::erase(*l, e);
    });
  }

  void send(const T& value) const {
    if (entries_->empty()) return;
    // A snapshot keeps every entry (and its handler) alive for the whole pass, whatever the
    // handlers do to the list or to the subject itself.
    const List snapshot = *entries_;
    for (const auto& e : snapshot) {
      if (e->active) e->handler(value);
    }
  }

  size_t subscriberCount() const { return entries_->size(); }

 private:
  struct Entry {
    Handler handler;
    bool active;
  };
  using List = std::vector<std::shared_ptr<Entry>>;
  std::shared_ptr<List> entries_ = std::make_shared<List>();
};

}  // namespace dunelo
