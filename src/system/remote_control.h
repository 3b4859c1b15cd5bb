// What other programs may ask of the running Dunelo: the command line (over the single-instance
// channel) and the session bus both end up here, so every way in behaves the same.
//
// Switching goes through the user's on/off intent exactly as the panel's power button does: the
// coordinator then applies its rules (no overlays until both permissions are granted, none while
// an excluded application is in front) and writes the same log lines.
#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "core/cancellable.h"
#include "settings/settings_manager.h"

namespace dunelo {

enum class RemoteCommand { ShowPanel, Toggle, On, Off, Quit, Status, Watch };

// The channel's request words, one a line ("toggle\n"); the instance answers each request with
// the on/off intent after it ("on\n" or "off\n"), and keeps answering a watch once per change.
std::string_view requestWord(RemoteCommand command);
std::optional<RemoteCommand> parseRequestWord(std::string_view word);
inline std::string_view stateWord(bool active) {
  return active ? "on" : "off";
}

class RemoteControl {
 public:
  // `showPanel` opens the settings panel where the user sees it; `quit` ends the program once
  // control returns to its loop. `settings` must outlive this object.
  RemoteControl(SettingsManager& settings, std::function<void()> showPanel,
                std::function<void()> quit);

  void toggle();
  // Asking for the state already in effect changes nothing (the overlays do not fade in again).
  void setActive(bool active);
  void showPanel();
  void quit();
  bool isActive() const;

  // Carries out a channel request and returns the on/off intent after it. A watch only answers;
  // its later lines come from `watch`.
  bool perform(RemoteCommand command);

  // Calls `onChange` with the intent now and then once per change of it (assigning the value it
  // already has is not a change).
  [[nodiscard]] Cancellable watch(std::function<void(bool)> onChange);

 private:
  SettingsManager& settings_;
  std::function<void()> showPanel_;
  std::function<void()> quit_;
};

}  // namespace dunelo
