// Mouse movement on X11, wherever the pointer is.
//
// The source is XInput2 raw motion selected on the root window for all master devices: it
// reports the pointer device's own relative movement, so it keeps coming at the screen edges
// (where the pointer position stops changing) and while another client grabs the pointer, and a
// programmatic warp produces none. Raw events from a device that reports absolute positions
// (tablets, touch screens, the absolute pointers of virtual machines) carry no deltas; for as long
// as such a device moves, and always when the server has no XInput2, the pointer position is
// polled at 60 Hz instead and the change between two polls is the delta.
//
// Deltas arrive coalesced, at most one event per 1/60 s: a modern mouse reports up to a thousand
// raw events a second, each a pixel or two, and the shake logic ignores movements under five
// points, so delivering them one by one would make a real shake invisible. They are in points:
// device pixels divided by the screen's scale, so a shake means the same hand movement on a
// HiDPI screen.
//
// Movement while a pointer button is held is not movement of the mouse in this sense: it drags
// something (a window being resized, a slider being scrubbed), and a drag back and forth must not
// count as a shake. The buttons are followed through XInput2 raw button events (and the pointer's
// button mask where the pointer is polled); movement between a press and its release is dropped.
//
// Global and local monitors: raw motion cannot be told apart by the window under the pointer, so
// every movement, over Dunelo's own windows too, reaches the global monitors. A local monitor is
// accepted (its token is live) but is never called, since calling it as well would hand each
// movement twice to a caller that installs both.
#pragma once

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <cstdint>
#include <map>
#include <optional>
#include <set>

#include "core/scheduler.h"
#include "core/weak_ptr.h"
#include "platform/mouse_monitors.h"
#include "platform/x11/coordinate_space.h"
#include "platform/x11/x11_connection.h"

namespace dunelo::x11 {

class X11MouseMonitors final : public MouseMonitors {
 public:
  struct Options {
    bool useRawMotion = true;  // false: poll the pointer only
    double coalesceInterval = 1.0 / 60;
    double pollInterval = 1.0 / 60;
    // How long polling continues after the last absolute raw event before raw motion takes over.
    double absoluteHoldTime = 1.0;
    // The screen's scale (device pixels per point), kept current by the displays; none: 1.
    const CoordinateSpace* coordinates = nullptr;
  };
  enum class Source { none, rawMotion, polling };

  // `connection` and `scheduler` must outlive this object.
  X11MouseMonitors(X11Connection& connection, Scheduler& scheduler, Options options);
  X11MouseMonitors(X11Connection& connection, Scheduler& scheduler)
      : X11MouseMonitors(connection, scheduler, Options{}) {}
  ~X11MouseMonitors() override;
  X11MouseMonitors(const X11MouseMonitors&) = delete;
  X11MouseMonitors& operator=(const X11MouseMonitors&) = delete;

  Cancellable addGlobalMonitor(Handler handler) override;
  Cancellable addLocalMonitor(Handler handler) override;

  // Whether the server offers XInput2 raw motion.
  bool hasRawMotion() const { return xiOpcode_.has_value(); }
  // What feeds the monitors now.
  Source source() const;

 private:
  void startSources();
  void stopSources();
  void selectEvents(bool rawMotion);
  void startPolling();
  void stopPolling();
  void poll();
  void accumulate(double deltaX);
  void flush();
  void handleRawMotion(const xcb_input_raw_motion_event_t& event);
  void handleRawButton(const xcb_input_raw_button_press_event_t& raw, bool pressed);
  // Learns which buttons are down already when raw events start.
  void readHeldButtons();
  // Device pixels to points.
  double toPoints(double pixels) const;
  // Whether the device's X axis reports relative movement; asked once per device.
  bool isRelative(uint16_t deviceID);

  xcb_connection_t* connection_;
  xcb_window_t root_;
  Scheduler& scheduler_;
  Options options_;
  std::optional<uint8_t> xiOpcode_;  // set when XInput2 2.0 or later is usable
  CancellableBag eventHandlers_;
  std::map<uint64_t, Handler> handlers_;
  uint64_t nextToken_ = 1;
  bool isSelected_ = false;
  Cancellable pollTimer_;
  std::optional<int16_t> lastPolledX_;
  double lastAbsoluteAt_ = 0;
  std::map<uint16_t, bool> relativeDevices_;
  std::set<uint32_t> heldButtons_;  // button numbers pressed and not yet released
  double pendingDeltaX_ = 0;
  bool isFlushScheduled_ = false;
  WeakPtrFactory<X11MouseMonitors> weakFactory_{this};
};

}  // namespace dunelo::x11
