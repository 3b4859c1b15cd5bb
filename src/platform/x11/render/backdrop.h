// What lies behind an overlay window: the root background and every viewable top-level window
// below the overlay, composed bottom to top into an offscreen picture.
//
// Without a compositor the pixels of windows covered by the overlay do not exist, so the backdrop,
// for as long as it exists and no compositor runs, redirects the root's subwindows automatically
// with Composite (the server keeps every top-level
// window in its own pixmap and still draws the screen itself) and reads each window from its named
// pixmap, clipped by its bounding shape. It follows the root's stacking order through a RootStack
// on its connection, tracks changed pixels with Damage, and reports both as changed areas of the
// root window so that each overlay redraws only what it must. Windows of other clients may vanish
// at any moment: every request about them has its error discarded and such a window is simply
// skipped.
#pragma once

#include <xcb/damage.h>
#include <xcb/render.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <functional>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

#include "core/cancellable.h"
#include "core/subject.h"
#include "platform/x11/render/box.h"
#include "platform/x11/render/render_support.h"
#include "platform/x11/root_stack.h"

namespace dunelo::x11 {

class Backdrop {
 public:
  // What changed, in root coordinates.
  struct Change {
    enum class Kind {
      content,     // pixels of `window` changed inside `area`
      stacking,    // windows were mapped, unmapped, moved, resized or restacked
      background,  // the root background was replaced; everything changed
    } kind;
    xcb_window_t window = XCB_NONE;
    Box area;
  };

  // Starts mirroring the stack; the destructor ends the redirection and frees everything the
  // backdrop made. `connection` must stay open for the backdrop's lifetime; its events drive
  // the backdrop.
  Backdrop(X11Connection& connection, const PictFormats& formats);
  ~Backdrop();

  // Whether the backdrop itself redirects the root's subwindows. Without a compositor it must,
  // or the pixels of covered windows do not exist. A compositor has redirected every window
  // already, and a second, automatic redirection beside its own makes the server give windows
  // new pixmaps when it ends, behind the compositor's back (KWin then shows frozen windows).
  void setRedirected(bool redirected);
  Backdrop(const Backdrop&) = delete;
  Backdrop& operator=(const Backdrop&) = delete;

  [[nodiscard]] Cancellable observe(std::function<void(const Change&)> handler);

  // A viewable window below `overlay`, bottom to top, with its outer rectangle in root
  // coordinates. Other windows carrying `skip` (the overlays of other screens) are left out.
  struct Layer {
    xcb_window_t window;
    Box rect;
    friend bool operator==(const Layer&, const Layer&) = default;
  };
  std::vector<Layer> layersBelow(xcb_window_t overlay) const;
  // Whether `window` (or the frame a window manager put it in) is mapped; false for unknown
  // windows.
  bool isViewable(xcb_window_t window) const;

  // Composes the background and `layers` inside `area` (root coordinates) into `destination`,
  // whose pixel (0, 0) is at `origin` in root coordinates. The destination must be opaque after
  // this: the background is drawn with the source operator.
  void compose(const std::vector<Layer>& layers, const Box& area, xcb_render_picture_t destination,
               int originX, int originY);

  // The overlays to leave out of every window list.
  void setOverlays(std::vector<xcb_window_t> overlays);

  // The colour shown where no root background pixmap is set and the root's own background cannot
  // be read back.
  static constexpr uint32_t kFallbackBackground = 0x000000;

 private:
  // What the backdrop keeps for each child of the root, beside its place in the stack.
  struct Window {
    bool inputOnly = false;
    xcb_visualid_t visual = XCB_NONE;
    bool hasAlpha = false;
    uint32_t damage = XCB_NONE;
    // Named lazily, dropped whenever the window's pixmap may have been replaced.
    ServerResource pixmap;
    ServerResource picture;
    uint32_t shape = XCB_NONE;  // bounding region in window coordinates
  };

  void onStackChange(const StackChange& change);
  void onDamage(const xcb_damage_notify_event_t& e);
  // The root's child that is or contains `window`; none when it is gone.
  xcb_window_t topLevelOf(xcb_window_t window) const;
  bool isOverlay(xcb_window_t topLevel) const;
  void track(const TopLevel& window, const xcb_get_window_attributes_reply_t* attributes);
  void forget(xcb_window_t id);
  void setMapped(xcb_window_t id, Window& w, bool mapped);
  void dropPixmap(Window& w);
  bool ensurePicture(xcb_window_t id, Window& w);
  void loadBackground();
  std::optional<uint32_t> readRootBackgroundColor();
  void notify(const Change& change);

  X11Connection& conn_;
  xcb_connection_t* c_;
  PictFormats formats_;
  xcb_window_t root_;
  bool redirected_ = false;
  xcb_atom_t rootPixmapAtom_ = XCB_NONE;
  xcb_atom_t esetrootAtom_ = XCB_NONE;
  RootStack stack_;
  std::unordered_map<xcb_window_t, Window> windows_;  // every window in `stack_`
  std::vector<xcb_window_t> overlays_;
  mutable std::map<xcb_window_t, xcb_window_t> frames_;  // overlay -> the frame it is in
  ServerResource backgroundPicture_;  // a picture on the root pixmap, or a solid fill
  uint32_t backgroundDamage_ = XCB_NONE;
  xcb_pixmap_t backgroundPixmap_ = XCB_NONE;
  CancellableBag eventHandlers_;
  Subject<Change> changes_;
};

}  // namespace dunelo::x11
