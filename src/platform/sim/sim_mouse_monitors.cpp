#include "platform/sim/sim_mouse_monitors.h"

#include <algorithm>
#include <utility>

namespace dunelo::sim {

SimMouseMonitors::SimMouseMonitors() : state_(std::make_shared<State>()) {}
SimMouseMonitors::~SimMouseMonitors() = default;

Cancellable SimMouseMonitors::addGlobalMonitor(Handler handler) {
  return install(true, std::move(handler));
}
Cancellable SimMouseMonitors::addLocalMonitor(Handler handler) {
  return install(false, std::move(handler));
}

Cancellable SimMouseMonitors::install(bool global, Handler handler) {
  bool& fail = global ? failGlobal_ : failLocal_;
  if (std::exchange(fail, false)) return Cancellable();
  auto shared = std::make_shared<Handler>(std::move(handler));
  state_->entries.push_back(Entry{global, shared});
  ++totalInstalls_;
  // The token may outlive this object; it then has nothing left to remove.
  return Cancellable([weakState = std::weak_ptr<State>(state_), raw = shared.get()] {
    auto state = weakState.lock();
    if (!state) return;
    std::erase_if(state->entries, [raw](const Entry& e) { return e.handler.get() == raw; });
  });
}

void SimMouseMonitors::deliver(bool global, double deltaX) {
  // A handler may install or remove monitors; every monitor present now gets this event once,
  // unless it is removed before its turn.
  const std::vector<Entry> snapshot = state_->entries;
  const MouseMovedEvent event{deltaX};
  for (const auto& e : snapshot) {
    if (e.global != global) continue;
    const bool stillInstalled =
        std::any_of(state_->entries.begin(), state_->entries.end(),
                    [&](const Entry& live) { return live.handler == e.handler; });
    if (stillInstalled) (*e.handler)(event);
  }
}

void SimMouseMonitors::moveOverOtherApp(double deltaX) {
  deliver(true, deltaX);
}
void SimMouseMonitors::moveOverOwnWindow(double deltaX) {
  deliver(false, deltaX);
}

size_t SimMouseMonitors::globalMonitorCount() const {
  return static_cast<size_t>(std::count_if(state_->entries.begin(), state_->entries.end(),
                                           [](const Entry& e) { return e.global; }));
}
size_t SimMouseMonitors::localMonitorCount() const {
  return state_->entries.size() - globalMonitorCount();
}

}  // namespace dunelo::sim
