// Weak references for objects with a single owner.
//
// Callbacks, timer handlers and delayed tasks must not keep their owner alive and must do nothing
// once it is gone. Components are owned through unique_ptr (or by value), so std::weak_ptr does
// not fit; a WeakPtrFactory member (declared last, so it is destroyed first) hands out WeakPtrs
// that turn null when the owner is destroyed. Single-threaded by design: everything runs on the
// main thread.
#pragma once

#include <cassert>
#include <memory>

namespace dunelo {

template <class T>
class WeakPtr {
 public:
  WeakPtr() = default;
  T* get() const { return cell_ ? *cell_ : nullptr; }
  T* operator->() const {
    assert(get() && "dereferencing a WeakPtr whose object is gone");
    return get();
  }
  T& operator*() const { return *operator->(); }
  explicit operator bool() const { return get() != nullptr; }

 private:
  template <class U>
  friend class WeakPtrFactory;
  explicit WeakPtr(std::shared_ptr<T*> cell) : cell_(std::move(cell)) {}
  std::shared_ptr<T*> cell_;
};

template <class T>
class WeakPtrFactory {
 public:
  explicit WeakPtrFactory(T* owner) : cell_(std::make_shared<T*>(owner)) {}
  WeakPtrFactory(const WeakPtrFactory&) = delete;
  WeakPtrFactory& operator=(const WeakPtrFactory&) = delete;
  ~WeakPtrFactory() { invalidate(); }

  WeakPtr<T> getWeakPtr() const { return WeakPtr<T>(cell_); }
  // Makes every WeakPtr handed out so far null.
  void invalidate() {
    if (cell_) *cell_ = nullptr;
  }

 private:
  std::shared_ptr<T*> cell_;
};

}  // namespace dunelo
