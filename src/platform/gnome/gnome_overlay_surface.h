// The overlays inside GNOME Shell: each surface is one overlay actor of the extension, placed in
// the compositor's window stack directly below the focused window, blurring what lies behind it
// with the shell's own blur, its material's veil over that, then the tint, the grain and the
// window alpha (which mixes the sharp scene back in). Grayscale desaturates the windows below the
// overlay, by the overlay's alpha, so the screen loses as much colour as it would under a grey
// layer inside a translucent overlay; the grain is the extension's own per-pixel noise, shown
// only when the surface was given a grain image, as a surface without one shows no grain.
//
// A surface keeps what it asked for and asks again when the extension comes back (it was turned
// off and on, or GNOME Shell restarted). Requests that would not change anything, such as a
// repeated "stay below this window", are not sent; the extension keeps the overlay in place
// across restacking on its own.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/gnome/shell_connection.h"
#include "platform/overlay_surface.h"

namespace dunelo::gnome {

class GnomeOverlaySurfaceFactory;

class GnomeOverlaySurface final : public OverlaySurface {
 public:
  GnomeOverlaySurface(GnomeOverlaySurfaceFactory& factory, uint32_t id, const Rect& frame);
  ~GnomeOverlaySurface() override;

  void orderFront() override;
  void orderOut() override;
  void orderBelow(WindowNumber window) override;
  void setAlpha(double alpha, Animation animation) override;
  void setFrame(const Rect& frame) override;
  void setMaterial(BlurMaterial material) override;
  void setTintGeometry(const GradientGeometry& geometry) override;
  void setTint(const std::vector<Color>& colors, float opacity, Animation animation) override;
  void setGrayscaleLayer(const Color& color, BlendMode blend) override;
  void setGrayscaleOpacity(float opacity) override;
  void setGrainLayer(std::shared_ptr<const Bitmap> image, double contentsScale,
                     BlendMode blend) override;
  void setGrainOpacity(float opacity) override;

  uint32_t id() const { return id_; }
  bool isShown() const { return shown_; }
  std::optional<WindowNumber> below() const { return below_; }
  double alpha() const { return alpha_; }

  // Sends the whole state again, to an extension that just appeared.
  void resend();
  // Sends the material again (the desktop's light or dark preference changed).
  void sendMaterial();

 private:
  void sendTint(uint32_t durationMs);

  GnomeOverlaySurfaceFactory& factory_;
  ShellConnection& shell_;
  uint32_t id_;
  Rect frame_;
  bool shown_ = false;
  std::optional<WindowNumber> below_;
  double alpha_ = 1.0;
  BlurMaterial material_ = BlurMaterial::deep;
  std::vector<double> tintLocations_;
  std::vector<Color> tintColors_;
  float tintOpacity_ = 0;
  float grayscale_ = 0;
  bool hasGrain_ = false;
  float grain_ = 0;
};

class GnomeOverlaySurfaceFactory final : public OverlaySurfaceFactory {
 public:
  explicit GnomeOverlaySurfaceFactory(ShellConnection& shell);
  ~GnomeOverlaySurfaceFactory() override;

  std::unique_ptr<OverlaySurface> createSurface(const ScreenInfo& screen) override;

  ShellConnection& shell() { return shell_; }
  // The surfaces alive now, oldest first.
  const std::vector<GnomeOverlaySurface*>& surfaces() const { return surfaces_; }

 private:
  friend class GnomeOverlaySurface;
  ShellConnection& shell_;
  uint32_t nextID_ = 1;
  bool prefersDark_ = false;
  std::vector<GnomeOverlaySurface*> surfaces_;
  CancellableBag tokens_;
};

}  // namespace dunelo::gnome
