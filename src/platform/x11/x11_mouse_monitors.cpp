#include "platform/x11/x11_mouse_monitors.h"

#include <xcb/xinput.h>

#include <string>
#include <utility>

#include "core/debug_log.h"

namespace dunelo::x11 {
namespace {

double toDouble(const xcb_input_fp3232_t& value) {
  return value.integral + static_cast<double>(value.frac) / 4294967296.0;
}

// Buttons 4 to 7 are the steps of a scroll wheel: pressed and released at once, never held.
bool isWheel(uint32_t button) {
  return button >= 4 && button <= 7;
}

constexpr uint16_t kButtonMask = XCB_BUTTON_MASK_1 | XCB_BUTTON_MASK_2 | XCB_BUTTON_MASK_3;

}  // namespace

X11MouseMonitors::X11MouseMonitors(X11Connection& connection, Scheduler& scheduler, Options options)
    : connection_(connection.xcb()),
      root_(connection.root()),
      scheduler_(scheduler),
      options_(options) {
  if (!options_.useRawMotion) return;
  // The connection announced its XInput2 version, without which the server sends no XI2 events.
  const auto& xinput = connection.extensions().xinput;
  if (!xinput.atLeast(2, 0)) {
    debugLog("[MouseMonitors] no XInput2; polling the pointer");
    return;
  }
  xiOpcode_ = xinput.majorOpcode;
  eventHandlers_.push_back(connection.onGeneric<xcb_input_raw_motion_event_t>(
      *xiOpcode_, XCB_INPUT_RAW_MOTION,
      [weak = weakFactory_.getWeakPtr()](const xcb_input_raw_motion_event_t& event) {
        if (X11MouseMonitors* self = weak.get()) self->handleRawMotion(event);
      }));
  for (const auto& [type, pressed] : {std::pair{XCB_INPUT_RAW_BUTTON_PRESS, true},
                                      std::pair{XCB_INPUT_RAW_BUTTON_RELEASE, false}}) {
    eventHandlers_.push_back(connection.onGeneric<xcb_input_raw_button_press_event_t>(
        *xiOpcode_, static_cast<uint16_t>(type),
        [weak = weakFactory_.getWeakPtr(), pressed](const auto& event) {
          if (X11MouseMonitors* self = weak.get()) self->handleRawButton(event, pressed);
        }));
  }
  // Devices plugged in or out may reuse ids with other axes: forget what was learnt.
  eventHandlers_.push_back(connection.onGeneric<xcb_input_hierarchy_event_t>(
      *xiOpcode_, XCB_INPUT_HIERARCHY,
      [weak = weakFactory_.getWeakPtr()](const xcb_input_hierarchy_event_t&) {
        if (X11MouseMonitors* self = weak.get()) self->relativeDevices_.clear();
      }));
}

X11MouseMonitors::~X11MouseMonitors() {
  handlers_.clear();
  stopSources();
}

X11MouseMonitors::Source X11MouseMonitors::source() const {
  if (handlers_.empty()) return Source::none;
  if (pollTimer_) return Source::polling;
  return isSelected_ ? Source::rawMotion : Source::none;
}

Cancellable X11MouseMonitors::addGlobalMonitor(Handler handler) {
  if (!handler) return {};
  const uint64_t token = nextToken_++;
  handlers_.emplace(token, std::move(handler));
  if (handlers_.size() == 1) startSources();
  return Cancellable([weak = weakFactory_.getWeakPtr(), token] {
    X11MouseMonitors* self = weak.get();
    if (!self || self->handlers_.erase(token) == 0) return;
    if (self->handlers_.empty()) self->stopSources();
  });
}

Cancellable X11MouseMonitors::addLocalMonitor(Handler handler) {
  // Movement over Dunelo's own windows already reaches the global monitors (see the header).
  if (!handler) return {};
  return Cancellable([] {});
}

void X11MouseMonitors::startSources() {
  if (xiOpcode_) {
    selectEvents(true);
    readHeldButtons();
  } else {
    startPolling();
  }
}

void X11MouseMonitors::stopSources() {
  if (isSelected_) selectEvents(false);
  stopPolling();
  pendingDeltaX_ = 0;
  heldButtons_.clear();
}

void X11MouseMonitors::readHeldButtons() {
  // Selected first, asked second: a release in between is an event that finds nothing to erase.
  auto pointer =
      replyOf(connection_, xcb_query_pointer_reply, xcb_query_pointer(connection_, root_));
  if (!pointer) return;
  for (uint32_t button = 1; button <= 3; ++button) {
    if (pointer->mask & (XCB_BUTTON_MASK_1 << (button - 1))) heldButtons_.insert(button);
  }
}

double X11MouseMonitors::toPoints(double pixels) const {
  const double scale = options_.coordinates ? options_.coordinates->scale : 1.0;
  return scale > 0 ? pixels / scale : pixels;
}

void X11MouseMonitors::selectEvents(bool rawMotion) {
  struct {
    xcb_input_event_mask_t head;
    uint32_t bits;
  } masks[2];
  masks[0].head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
  masks[0].head.mask_len = 1;
  masks[0].bits = rawMotion ? XCB_INPUT_XI_EVENT_MASK_RAW_MOTION |
                                  XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS |
                                  XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE
                            : 0;
  masks[1].head.deviceid = XCB_INPUT_DEVICE_ALL;
  masks[1].head.mask_len = 1;
  masks[1].bits = rawMotion ? XCB_INPUT_XI_EVENT_MASK_HIERARCHY : 0;
  // Each mask record is its header followed by mask_len words, as laid out above.
  static_assert(sizeof(masks[0]) == sizeof(xcb_input_event_mask_t) + sizeof(uint32_t));
  xcb_input_xi_select_events(connection_, root_, 2, &masks[0].head);
  xcb_flush(connection_);
  isSelected_ = rawMotion;
}

void X11MouseMonitors::startPolling() {
  if (pollTimer_) return;
  lastPolledX_.reset();
  pendingDeltaX_ = 0;
  pollTimer_ = scheduler_.scheduleRepeating(0, options_.pollInterval, options_.pollInterval / 4,
                                            [weak = weakFactory_.getWeakPtr()] {
                                              if (X11MouseMonitors* self = weak.get()) self->poll();
                                            });
}

void X11MouseMonitors::stopPolling() {
  pollTimer_.cancel();
  lastPolledX_.reset();
}

void X11MouseMonitors::poll() {
  if (xiOpcode_ && scheduler_.uptime() - lastAbsoluteAt_ > options_.absoluteHoldTime) {
    // The absolute device has come to rest: raw motion takes over again.
    stopPolling();
    return;
  }
  auto pointer =
      replyOf(connection_, xcb_query_pointer_reply, xcb_query_pointer(connection_, root_));
  if (!pointer || !pointer->same_screen) return;
  const int16_t x = pointer->root_x;
  const std::optional<int16_t> last = std::exchange(lastPolledX_, x);
  if (!last || *last == x) return;
  if (pointer->mask & kButtonMask) return;  // a drag
  const double deltaX = toPoints(x - *last);
  auto handlers = handlers_;  // a handler may remove monitors
  for (auto& [token, handler] : handlers) handler(MouseMovedEvent{deltaX});
}

bool X11MouseMonitors::isRelative(uint16_t deviceID) {
  if (auto it = relativeDevices_.find(deviceID); it != relativeDevices_.end()) return it->second;
  bool relative = true;  // a device whose axes cannot be read is taken at its word: deltas
  auto reply = replyOf(connection_, xcb_input_xi_query_device_reply,
                       xcb_input_xi_query_device(connection_, deviceID));
  if (reply) {
    for (auto info = xcb_input_xi_query_device_infos_iterator(reply.get()); info.rem;
         xcb_input_xi_device_info_next(&info)) {
      for (auto cls = xcb_input_xi_device_info_classes_iterator(info.data); cls.rem;
           xcb_input_device_class_next(&cls)) {
        if (cls.data->type != XCB_INPUT_DEVICE_CLASS_TYPE_VALUATOR) continue;
        auto* valuator = reinterpret_cast<const xcb_input_valuator_class_t*>(cls.data);
        if (valuator->number == 0) relative = valuator->mode == XCB_INPUT_VALUATOR_MODE_RELATIVE;
      }
    }
  }
  relativeDevices_[deviceID] = relative;
  if (!relative)
    debugLog("[MouseMonitors] device " + std::to_string(deviceID) +
             " reports absolute positions; polling the pointer while it moves");
  return relative;
}

void X11MouseMonitors::handleRawMotion(const xcb_input_raw_motion_event_t& event) {
  if (handlers_.empty()) return;
  // xcb's accessors take a mutable pointer but only read.
  auto* raw = const_cast<xcb_input_raw_motion_event_t*>(&event);
  if (!isRelative(raw->sourceid)) {
    lastAbsoluteAt_ = scheduler_.uptime();
    startPolling();
    return;
  }
  // While polling, the pointer position already includes this movement.
  if (pollTimer_) return;
  if (!heldButtons_.empty()) return;  // a drag
  if (raw->valuators_len == 0) return;
  const uint32_t* mask = xcb_input_raw_button_press_valuator_mask(raw);
  if ((mask[0] & 1) == 0) return;  // no horizontal component
  // Values are packed for the set bits in ascending order, so the X axis comes first.
  const xcb_input_fp3232_t* values = xcb_input_raw_button_press_axisvalues(raw);
  accumulate(toPoints(toDouble(values[0])));
}

void X11MouseMonitors::handleRawButton(const xcb_input_raw_button_press_event_t& raw,
                                       bool pressed) {
  if (isWheel(raw.detail)) return;
  if (pressed) {
    heldButtons_.insert(raw.detail);
  } else {
    heldButtons_.erase(raw.detail);
  }
}

void X11MouseMonitors::accumulate(double deltaX) {
  pendingDeltaX_ += deltaX;
  if (isFlushScheduled_) return;
  isFlushScheduled_ = true;
  scheduler_.postDelayed(options_.coalesceInterval, [weak = weakFactory_.getWeakPtr()] {
    if (X11MouseMonitors* self = weak.get()) self->flush();
  });
}

void X11MouseMonitors::flush() {
  isFlushScheduled_ = false;
  const double deltaX = std::exchange(pendingDeltaX_, 0.0);
  if (deltaX == 0 || handlers_.empty()) return;
  auto handlers = handlers_;
  for (auto& [token, handler] : handlers) handler(MouseMovedEvent{deltaX});
}

}  // namespace dunelo::x11
