// The icon colour of the XEmbed tray on this screen, as it publishes it.
//
// The tray is the owner of the _NET_SYSTEM_TRAY_S<screen> selection; its _NET_SYSTEM_TRAY_COLORS
// property holds twelve cardinals (foreground, error, warning and success colours, each red, green
// and blue from 0 to 65535), of which icons use the foreground. A change of that property, the
// tray going away and a new tray announcing itself (a MANAGER message on the root) are reported.
#pragma once

#include <xcb/xcb.h>

#include "core/subject.h"
#include "platform/tray_colors.h"
#include "platform/x11/x11_connection.h"

namespace dunelo::x11 {

class X11TrayColors final : public TrayColors {
 public:
  explicit X11TrayColors(X11Connection& connection);

  std::optional<Color> foreground() override;
  [[nodiscard]] Cancellable observe(std::function<void()> handler) override;

 private:
  // The current tray window, watched for property changes and destruction; XCB_NONE for none.
  xcb_window_t watchManager();

  X11Connection& conn_;
  xcb_atom_t selection_ = XCB_NONE;
  xcb_atom_t colors_ = XCB_NONE;
  xcb_atom_t managerMessage_ = XCB_NONE;
  xcb_window_t watched_ = XCB_NONE;
  Subject<bool> changes_;
  CancellableBag handlers_;
};

}  // namespace dunelo::x11
