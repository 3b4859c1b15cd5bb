// The part of a WindowChangeObserver that every backend shares: the notifications that were asked
// for, and delivering them so that a callback may destroy the observer (or others) meanwhile.
//
// A backend's observer derives from it, follows its desktop's changes itself, and reports them
// through `focusChanged` and `frameChanged`; after either, it must not touch its own members,
// since the callback may have destroyed it.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/accessibility.h"

namespace dunelo {

class WindowChangeNotifier : public WindowChangeObserver {
 public:
  explicit WindowChangeNotifier(std::function<void(std::string_view)> callback)
      : callback_(std::move(callback)) {}
  ~WindowChangeNotifier() override { *alive_ = false; }

  bool addNotification(std::string_view name) final {
    for (std::string_view known :
         {kFocusedWindowChanged, kWindowMoved, kWindowResized, kMainWindowChanged}) {
      if (name == known) {
        names_.push_back(known);
        return true;
      }
    }
    return false;
  }

 protected:
  // The application's focused window is another one now (or none).
  void focusChanged() {
    auto alive = alive_;
    deliver(kFocusedWindowChanged);
    if (*alive) deliver(kMainWindowChanged);
  }
  // The focused window's frame moved and/or was resized.
  void frameChanged(bool moved, bool resized) {
    auto alive = alive_;
    if (moved) deliver(kWindowMoved);
    if (*alive && resized) deliver(kWindowResized);
  }

 private:
  void deliver(std::string_view name) {
    if (std::find(names_.begin(), names_.end(), name) == names_.end()) return;
    auto callback = callback_;  // outlives this observer if the callback destroys it
    callback(name);
  }

  std::function<void(std::string_view)> callback_;
  std::vector<std::string_view> names_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace dunelo
