// A subscription or registration token: whatever it stands for is undone when the token is
// cancelled or destroyed. Every observer, monitor, timer and subscription in Dunelo hands one of
// these to its owner, so that lifetimes follow ownership instead of explicit teardown code.
#pragma once

#include <functional>
#include <utility>
#include <vector>

namespace dunelo {

class Cancellable {
 public:
  Cancellable() = default;
  explicit Cancellable(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
  Cancellable(Cancellable&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
  Cancellable& operator=(Cancellable&& other) noexcept {
    if (this != &other) {
      cancel();
      cancel_ = std::exchange(other.cancel_, nullptr);
    }
    return *this;
  }
  Cancellable(const Cancellable&) = delete;
  Cancellable& operator=(const Cancellable&) = delete;
  ~Cancellable() { cancel(); }

  // Runs the cancel action once; later calls do nothing.
  void cancel() {
    if (auto fn = std::exchange(cancel_, nullptr)) fn();
  }
  // True while the token still has something to cancel.
  explicit operator bool() const { return static_cast<bool>(cancel_); }

 private:
  std::function<void()> cancel_;
};

// The `cancellables` set of an owner: tokens live as long as the bag.
using CancellableBag = std::vector<Cancellable>;

}  // namespace dunelo
