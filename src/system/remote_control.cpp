#include "system/remote_control.h"

#include <array>
#include <memory>
#include <utility>

namespace dunelo {

namespace {
constexpr std::array<std::pair<RemoteCommand, std::string_view>, 7> kWords = {{
    {RemoteCommand::ShowPanel, "show"},
    {RemoteCommand::Toggle, "toggle"},
    {RemoteCommand::On, "on"},
    {RemoteCommand::Off, "off"},
    {RemoteCommand::Quit, "quit"},
    {RemoteCommand::Status, "status"},
    {RemoteCommand::Watch, "watch"},
}};
}  // namespace

std::string_view requestWord(RemoteCommand command) {
  for (const auto& [c, word] : kWords)
    if (c == command) return word;
  return {};
}

std::optional<RemoteCommand> parseRequestWord(std::string_view word) {
  for (const auto& [c, w] : kWords)
    if (w == word) return c;
  return std::nullopt;
}

RemoteControl::RemoteControl(SettingsManager& settings, std::function<void()> showPanel,
                             std::function<void()> quit)
    : settings_(settings), showPanel_(std::move(showPanel)), quit_(std::move(quit)) {}

void RemoteControl::toggle() {
  settings_.isActive = !settings_.isActive.get();
}

void RemoteControl::setActive(bool active) {
  if (settings_.isActive.get() != active) toggle();
}

void RemoteControl::showPanel() {
  if (showPanel_) showPanel_();
}

void RemoteControl::quit() {
  if (quit_) quit_();
}

bool RemoteControl::isActive() const {
  return settings_.isActive.get();
}

bool RemoteControl::perform(RemoteCommand command) {
  switch (command) {
    case RemoteCommand::ShowPanel:
      showPanel();
      break;
    case RemoteCommand::Toggle:
      toggle();
      break;
    case RemoteCommand::On:
    case RemoteCommand::Off:
      setActive(command == RemoteCommand::On);
      break;
    case RemoteCommand::Quit:
      quit();
      break;
    case RemoteCommand::Status:
    case RemoteCommand::Watch:
      break;
  }
  return isActive();
}

Cancellable RemoteControl::watch(std::function<void(bool)> onChange) {
  // Every assignment notifies, also of the value already held; only real changes are passed on.
  auto last = std::make_shared<std::optional<bool>>();
  return settings_.isActive.subscribe([last, onChange = std::move(onChange)](const bool& active) {
    if (*last == active) return;
    *last = active;
    onChange(active);
  });
}

}  // namespace dunelo
