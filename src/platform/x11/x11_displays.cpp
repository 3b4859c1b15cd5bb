#include "platform/x11/x11_displays.h"

#include <xcb/randr.h>

#include <cstdlib>
#include <sstream>

namespace dunelo::x11 {

X11Displays::X11Displays(X11Connection& connection, WindowTree& tree)
    : conn_(connection), tree_(tree) {
  const auto& randr = conn_.extensions().randr;
  if (randr.present) {
    conn_.check(xcb_randr_select_input_checked(conn_.xcb(), conn_.root(),
                                               XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE |
                                                   XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE |
                                                   XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE),
                "selecting RandR events");
    handlers_.push_back(conn_.onExtension<xcb_randr_screen_change_notify_event_t>(
        randr, XCB_RANDR_SCREEN_CHANGE_NOTIFY, [this](const auto&) { refresh(); }));
    handlers_.push_back(conn_.onExtension<xcb_randr_notify_event_t>(
        randr, XCB_RANDR_NOTIFY, [this](const auto&) { refresh(); }));
  }
  handlers_.push_back(tree_.observe([this](const TreeChange& change) {
    if (change.kind == TreeChange::Kind::rootResized) refresh();
    if (change.kind == TreeChange::Kind::rootProperty && change.atom == XCB_ATOM_RESOURCE_MANAGER)
      refresh();
  }));
  // The root's own ConfigureNotify also arrives when only the monitors changed (same size), and
  // the tree reports size changes only.
  handlers_.push_back(conn_.on<XCB_CONFIGURE_NOTIFY>([this](const auto& e) {
    if (e.window == conn_.root() && e.event == conn_.root()) refresh();
  }));
  refresh();
}

Cancellable X11Displays::observeChanges(std::function<void()> handler) {
  return changed_.subscribe([h = std::move(handler)](const int&) { h(); });
}

std::optional<double> X11Displays::parseXftDpi(const std::string& resources) {
  std::istringstream in(resources);
  std::string line;
  std::optional<double> dpi;
  while (std::getline(in, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string key = line.substr(0, colon);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
    if (key != "Xft.dpi") continue;
    const std::string value = line.substr(colon + 1);
    char* end = nullptr;
    const double v = std::strtod(value.c_str(), &end);
    if (end != value.c_str() && v > 0 && v < 10000) dpi = v;
  }
  return dpi;
}

double X11Displays::readScale() {
  auto reply = replyOf(conn_.xcb(), xcb_get_property_reply,
                       xcb_get_property(conn_.xcb(), 0, conn_.root(), XCB_ATOM_RESOURCE_MANAGER,
                                        XCB_ATOM_STRING, 0, 1 << 20));
  if (!reply || reply->format != 8) return 1.0;
  const std::string resources(static_cast<const char*>(xcb_get_property_value(reply.get())),
                              static_cast<size_t>(xcb_get_property_value_length(reply.get())));
  const auto dpi = parseXftDpi(resources);
  return dpi ? *dpi / 96.0 : 1.0;
}

void X11Displays::refresh() {
  struct Monitor {
    int32_t x, y, width, height;
    bool primary;
    std::optional<DisplayID> id;
  };
  std::vector<Monitor> monitors;
  if (conn_.extensions().randr.atLeast(1, 5)) {
    auto reply = replyOf(conn_.xcb(), xcb_randr_get_monitors_reply,
                         xcb_randr_get_monitors(conn_.xcb(), conn_.root(), 1));
    if (reply) {
      for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
           xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t* m = it.data;
        if (m->width == 0 || m->height == 0) continue;
        Monitor mon{m->x, m->y, m->width, m->height, m->primary != 0, std::nullopt};
        if (xcb_randr_monitor_info_outputs_length(m) > 0) {
          mon.id = *xcb_randr_monitor_info_outputs(m);
        } else {
          mon.id = m->name;
        }
        monitors.push_back(mon);
      }
    }
  }
  if (monitors.empty()) {
    monitors.push_back(Monitor{0, 0, conn_.screen()->width_in_pixels,
                               conn_.screen()->height_in_pixels, true, std::nullopt});
    if (tree_.rootWidth() > 0)
      monitors.back() = Monitor{0, 0, tree_.rootWidth(), tree_.rootHeight(), true, std::nullopt};
  }
  // The primary screen leads, as the desktop's main screen does everywhere else. Without a
  // primary flag, the monitor at the root's origin is the natural main screen.
  size_t primary = 0;
  bool flagged = false;
  for (size_t i = 0; i < monitors.size() && !flagged; ++i) {
    if (monitors[i].primary) {
      primary = i;
      flagged = true;
    }
  }
  for (size_t i = 0; i < monitors.size() && !flagged; ++i) {
    if (monitors[i].x <= 0 && monitors[i].y <= 0 && monitors[i].x + monitors[i].width > 0 &&
        monitors[i].y + monitors[i].height > 0) {
      primary = i;
      break;
    }
  }
  std::rotate(monitors.begin(), monitors.begin() + static_cast<long>(primary),
              monitors.begin() + static_cast<long>(primary) + 1);

  CoordinateSpace space;
  space.primaryX = monitors.front().x;
  space.primaryY = monitors.front().y;
  space.primaryHeight = monitors.front().height;
  space.scale = readScale();

  std::vector<ScreenInfo> screens;
  for (const Monitor& m : monitors) {
    ScreenInfo s;
    s.frame = space.bottomLeftRect(m.x, m.y, m.width, m.height);
    s.backingScaleFactor = space.scale;
    s.displayID = m.id;
    screens.push_back(s);
  }
  const bool changed = screens != screens_;
  screens_ = std::move(screens);
  space_ = space;
  if (changed) changed_.send(0);
}

}  // namespace dunelo::x11
