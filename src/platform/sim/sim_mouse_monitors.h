// Simulated mouse-moved monitors: the test drives pointer movement and can make installing a
// monitor fail.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/mouse_monitors.h"

namespace dunelo::sim {

class SimMouseMonitors final : public MouseMonitors {
 public:
  SimMouseMonitors();
  ~SimMouseMonitors() override;

  Cancellable addGlobalMonitor(Handler handler) override;
  Cancellable addLocalMonitor(Handler handler) override;

  // Driver: a mouse move over another application's window (global monitors) or over one of
  // Dunelo's own windows (local monitors). Every installed monitor of that kind gets the event.
  void moveOverOtherApp(double deltaX);
  void moveOverOwnWindow(double deltaX);

  // Driver: the next install of that kind yields an empty token.
  void failNextGlobalInstall() { failGlobal_ = true; }
  void failNextLocalInstall() { failLocal_ = true; }

  // Inspectors: monitors currently installed, and installs that ever succeeded.
  size_t globalMonitorCount() const;
  size_t localMonitorCount() const;
  size_t totalInstalls() const { return totalInstalls_; }

 private:
  struct Entry {
    bool global;
    std::shared_ptr<Handler> handler;
  };
  struct State {
    std::vector<Entry> entries;
  };
  Cancellable install(bool global, Handler handler);
  void deliver(bool global, double deltaX);

  std::shared_ptr<State> state_;
  bool failGlobal_ = false;
  bool failLocal_ = false;
  size_t totalInstalls_ = 0;
};

}  // namespace dunelo::sim
