// The overlay's real look: a live blur of everything behind the overlay window with the veil of
// its material, the tint gradient, the saturation-blend grayscale and the overlay-blend grain,
// mixed with the sharp scene by the window alpha.
//
// All overlays of the process share one render context: its own X connection (so that frames
// queue neither in front of the ordering requests nor behind replies the rest of the backend
// waits for), served by the program's one loop like the main connection, the RENDER formats and
// the backdrop. Each painter keeps its screen's blur chain
// and grain picture between frames and redraws only what changed: the damaged part of the
// backdrop grown by the blur's reach, the whole window when an effect changed, and nothing at
// all when nothing changed. Frames are paced to at most 60 a second, and a new frame is not
// started before the server has finished the previous one.
#pragma once

#include <xcb/render.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/cancellable.h"
#include "core/scheduler.h"
#include "core/subject.h"
#include "core/weak_ptr.h"
#include "platform/x11/overlay_painter.h"
#include "platform/x11/render/backdrop.h"
#include "platform/x11/render/blur_material.h"
#include "platform/x11/render/damage_pieces.h"
#include "platform/x11/render/desktop_appearance.h"
#include "platform/x11/render/dual_filter_blur.h"
#include "platform/x11/render/overlay_grain.h"
#include "platform/x11/render/render_support.h"

namespace dunelo::x11 {

class X11Connection;

// Counters for tests and benchmarks.
struct RenderStats {
  uint64_t frames = 0;         // frames that drew anything
  uint64_t pixelsOut = 0;      // window pixels rewritten, summed over frames
  uint64_t blurredPixels = 0;  // backdrop pixels composed and blurred again
};

class RenderContext {
 public:
  // None when the display lacks what the renderer needs (RENDER 0.11, Composite 0.2, Damage,
  // XFixes 2); the reason is logged.
  static std::unique_ptr<RenderContext> open(Scheduler& loop, const std::string& displayName);
  ~RenderContext();

  X11Connection& connection() { return *conn_; }
  Scheduler& loop() { return loop_; }
  const PictFormats& formats() const { return formats_; }
  // Only between `addOverlay` and the last `removeOverlay`.
  Backdrop& backdrop() { return *backdrop_; }
  Appearance appearance() const { return appearance_->appearance(); }
  // `handler` runs when the desktop switches between a light and a dark look.
  [[nodiscard]] Cancellable observeAppearance(std::function<void()> handler) {
    return appearance_->observe([h = std::move(handler)](const Appearance&) { h(); });
  }
  RenderStats& stats() { return stats_; }

  void addOverlay(xcb_window_t window);
  void removeOverlay(xcb_window_t window);

  // Whether a compositing manager owns the screen. It then draws the overlay window itself, over
  // and under whatever it likes, so the window's visible part as the server reckons it says
  // nothing about what the user sees. `handler` runs when a compositor starts or stops.
  bool compositorRunning() const { return compositorRunning_; }
  [[nodiscard]] Cancellable observeCompositor(std::function<void()> handler);

 private:
  RenderContext(Scheduler& loop, std::unique_ptr<X11Connection> conn, PictFormats formats);
  void watchCompositor();

  Scheduler& loop_;
  std::unique_ptr<X11Connection> conn_;
  PictFormats formats_;
  std::unique_ptr<Backdrop> backdrop_;
  std::unique_ptr<DesktopAppearanceWatcher> appearance_;
  std::vector<xcb_window_t> overlays_;
  RenderStats stats_;
  xcb_atom_t compositorSelection_ = XCB_NONE;
  bool compositorRunning_ = false;
  Subject<std::monostate> compositorChanges_;
  CancellableBag cancellables;
};

class BlurPainter final : public OverlayPainter {
 public:
  BlurPainter(RenderContext& context, xcb_window_t window, xcb_visualid_t visual);
  ~BlurPainter() override;

  void paint(const OverlayVisualState& state) override;
  // Composes, blurs and draws the whole window again on the next frame, as if everything
  // behind it had changed.
  void redrawEverything();

 private:
  void onBackdropChange(const Backdrop::Change& change);
  void damageScene(const Box& rootArea);
  void damageEverything();
  void requestFrame(double delay = -1);
  void drawFrame();
  // Redraws around one changed area of the scene (window coordinates; may be empty when only the
  // effects or the mix changed).
  void drawPiece(const Box& damage, double alpha, bool grain);
  bool previousFrameDone();
  void configureFor(const OverlayVisualState& state, const MaterialLook& look);
  // Learns which part of the window shows, after anything may have changed it.
  void updateVisibility();
  // Draws the veil, tint, grayscale and the alpha carried by the chain into `picture`, the
  // coarsest level of the blur, inside `box`.
  void applyEffects(xcb_render_picture_t picture, const Box& box);
  // Brings the grainy image up to date inside `content` and mixes the frame inside `mix`.
  void drawOutput(const Box& content, const Box& mix, double alpha, bool grain);
  // Whether the grainy image is kept, so that only changed parts need blending again.
  bool grainKept() const;
  Box windowBox() const { return {0, 0, width_, height_}; }

  RenderContext& ctx_;
  xcb_connection_t* c_;
  xcb_window_t window_;
  ServerResource windowPicture_;
  std::optional<OverlayVisualState> state_;  // as last given by the surface
  MaterialLook look_;
  int width_ = 0;
  int height_ = 0;
  int originX_ = 0;  // the window's position on the root
  int originY_ = 0;

  // The window's next pixels, copied to the window in one request. Each frame first composes the
  // sharp scene into it where the blur reads the scene or the mix shows it, then mixes the blur
  // over it: the scene is never kept, as composing it again costs no more than copying it.
  ScratchPicture frame_;
  DualFilterBlur blur_;
  // The overlay-blended grain, made from the blur's half-size result (the blend the overlay uses).
  OverlayGrain overlayGrain_;
  // Any other grain blend: the blurred, effected and grainy image at full size.
  ScratchPicture effected_;
  // The overlay-blended grain at full size without the window alpha, made when the alpha
  // changes (a fade) so that each further fade step only mixes it with the scene; dropped at the
  // first change of the scene at a steady alpha, which the split carrying the alpha redraws for
  // less.
  ScratchPicture fadeBlend_;
  double lastAlpha_ = -1;  // the alpha of the last frame drawn; negative before the first
  // The window alpha multiplied into the blur chain with the other effects (so that the mix is
  // a single draw), or 1 while grain shows, which must be blended before the alpha.
  double chainAlpha_ = -1;
  std::shared_ptr<const Bitmap> grainImage_;
  ScratchPicture grain_;
  // For other blends than overlay, the grain image times its opacity, made when either changes:
  // blending it needs no mask, which spares the server a multiplication at every pixel.
  ScratchPicture grainAtOpacity_;
  std::vector<Backdrop::Layer> layers_;  // what the scene shows, bottom to top
  bool viewable_ = false;

  // What of the window shows (window coordinates). Without a compositor the server draws the
  // window straight to the screen, clipped to that part: nothing hidden needs mixing, and the
  // blur need only be right within its reach of what shows. Changes further away are kept in
  // `hiddenDamage_` and blurred when something near them comes into view.
  std::vector<xcb_rectangle_t> visible_;
  Box visibleBox_;  // their bounding box
  bool visibilityDirty_ = true;
  Box hiddenDamage_;

  DamagePieces sceneDamage_;    // window coordinates
  bool effectsDirty_ = false;   // veil, tint, grayscale or the chain's alpha changed
  bool effectedStale_ = false;  // the effected image is not kept up to date where it was hidden
  bool grainDirty_ = false;     // the grain image, its opacity or its blend changed
  bool outputDirty_ = false;    // alpha changed, or the window lost its pixels
  bool framePending_ = false;
  double lastFrameTime_ = -1;
  std::optional<unsigned int> fence_;

  Cancellable backdropObservation_;
  Cancellable compositorObservation_;
  Cancellable appearanceObservation_;
  WeakPtrFactory<BlurPainter> weakFactory_{this};
};

// Makes `BlurPainter`s; falls back to the flat veil when the display cannot blur.
class BlurPainterFactory final : public OverlayPainterFactory {
 public:
  // `displayName` empty: $DISPLAY. The render connection is opened on first use.
  BlurPainterFactory(Scheduler& loop, std::string displayName = {});
  ~BlurPainterFactory() override;

  OverlayWindowFormat windowFormat(X11Connection& connection) override;
  std::unique_ptr<OverlayPainter> createPainter(X11Connection& connection, xcb_window_t window,
                                                const OverlayWindowFormat& format) override;

  // Whether painters blur (false: the flat veil stands in). Opens the render connection.
  bool canBlur();
  // Null before the first painter or when the display cannot blur.
  const RenderStats* stats() const;
  RenderContext* context() { return context_.get(); }

 private:
  Scheduler& loop_;
  std::string displayName_;
  bool triedOpen_ = false;
  std::unique_ptr<RenderContext> context_;
  FlatVeilPainterFactory fallback_;
};

}  // namespace dunelo::x11
