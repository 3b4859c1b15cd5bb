#include "platform/gnome/gnome_overlay_surface.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <algorithm>
#include <cmath>

// A colour as the interface carries it: (dddd), red, green, blue and alpha from 0 to 1.
struct DuneloShellRgba {
  double red = 0, green = 0, blue = 0, alpha = 0;
};
Q_DECLARE_METATYPE(DuneloShellRgba)

QDBusArgument& operator<<(QDBusArgument& a, const DuneloShellRgba& c) {
  a.beginStructure();
  a << c.red << c.green << c.blue << c.alpha;
  a.endStructure();
  return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, DuneloShellRgba& c) {
  a.beginStructure();
  a >> c.red >> c.green >> c.blue >> c.alpha;
  a.endStructure();
  return a;
}

namespace dunelo::gnome {
namespace {

uint32_t milliseconds(const Animation& animation) {
  return static_cast<uint32_t>(std::lround(std::clamp(animation.duration, 0.0, 60.0) * 1000));
}

QVariant rgba(const Color& color) {
  const Color c = color.toDeviceRGB().value_or(color);
  return QVariant::fromValue(DuneloShellRgba{c.red, c.green, c.blue, c.alpha});
}

QVariantList frameArgs(uint32_t id, const std::vector<int32_t>& r) {
  return {id, r[0], r[1], r[2], r[3]};
}

}  // namespace

GnomeOverlaySurface::GnomeOverlaySurface(GnomeOverlaySurfaceFactory& factory, uint32_t id,
                                         const Rect& frame)
    : factory_(factory), shell_(factory.shell_), id_(id), frame_(frame) {
  factory_.surfaces_.push_back(this);
  shell_.send("CreateOverlay",
              frameArgs(id_, StageSpace::of(shell_.state().monitors).stageRect(frame_)));
}

GnomeOverlaySurface::~GnomeOverlaySurface() {
  std::erase(factory_.surfaces_, this);
  shell_.send("DestroyOverlay", {id_});
}

void GnomeOverlaySurface::resend() {
  shell_.send("CreateOverlay",
              frameArgs(id_, StageSpace::of(shell_.state().monitors).stageRect(frame_)));
  sendMaterial();
  sendTint(0);
  shell_.send("SetOverlayGrayscale", {id_, static_cast<double>(grayscale_)});
  shell_.send("SetOverlayGrain", {id_, hasGrain_ ? static_cast<double>(grain_) : 0.0});
  if (shown_) {
    shell_.send("ShowOverlay", {id_});
    if (below_) shell_.send("OrderOverlayBelow", {id_, static_cast<qulonglong>(*below_)});
  }
  shell_.send("SetOverlayAlpha", {id_, alpha_, 0u});
}

void GnomeOverlaySurface::orderFront() {
  shown_ = true;
  below_.reset();
  shell_.send("ShowOverlay", {id_});
}

void GnomeOverlaySurface::orderOut() {
  shown_ = false;
  below_.reset();
  shell_.send("HideOverlay", {id_});
}

void GnomeOverlaySurface::orderBelow(WindowNumber window) {
  if (!shown_ || below_ == window) return;
  // A window the shell does not list (gone already) leaves the stacking as it was.
  if (!shell_.state().window(static_cast<uint64_t>(window))) return;
  below_ = window;
  shell_.send("OrderOverlayBelow", {id_, static_cast<qulonglong>(window)});
}

void GnomeOverlaySurface::setAlpha(double alpha, Animation animation) {
  alpha_ = std::clamp(alpha, 0.0, 1.0);
  shell_.send("SetOverlayAlpha", {id_, alpha_, milliseconds(animation)});
}

void GnomeOverlaySurface::setFrame(const Rect& frame) {
  frame_ = frame;
  shell_.send("SetOverlayFrame",
              frameArgs(id_, StageSpace::of(shell_.state().monitors).stageRect(frame_)));
}

void GnomeOverlaySurface::setMaterial(BlurMaterial material) {
  material_ = material;
  sendMaterial();
}

void GnomeOverlaySurface::sendMaterial() {
  const MaterialLook look = materialLook(material_, factory_.prefersDark_);
  shell_.send("SetOverlayMaterial", {id_, look.sigma, rgba(look.veil)});
}

void GnomeOverlaySurface::setTintGeometry(const GradientGeometry& geometry) {
  // The extension draws vertical gradients from the bottom edge up, the only geometry the
  // overlay uses; a gradient running downwards is turned around.
  tintLocations_ = geometry.locations;
  if (geometry.endPoint.y < geometry.startPoint.y) {
    for (double& l : tintLocations_) l = 1.0 - l;
  }
}

void GnomeOverlaySurface::setTint(const std::vector<Color>& colors, float opacity,
                                  Animation animation) {
  tintColors_ = colors;
  tintOpacity_ = opacity;
  sendTint(milliseconds(animation));
}

void GnomeOverlaySurface::sendTint(uint32_t durationMs) {
  QList<DuneloShellRgba> colors;
  for (const Color& color : tintColors_) {
    const Color c = color.toDeviceRGB().value_or(color);
    colors.push_back(DuneloShellRgba{c.red, c.green, c.blue, c.alpha});
  }
  QList<double> locations(tintLocations_.begin(), tintLocations_.end());
  shell_.send("SetOverlayTint", {id_, QVariant::fromValue(colors), QVariant::fromValue(locations),
                                 static_cast<double>(tintOpacity_), durationMs});
}

void GnomeOverlaySurface::setGrayscaleLayer(const Color&, BlendMode) {
  // The extension desaturates what lies below; the layer's colour and blend are its own.
}

void GnomeOverlaySurface::setGrayscaleOpacity(float opacity) {
  grayscale_ = opacity;
  shell_.send("SetOverlayGrayscale", {id_, static_cast<double>(opacity)});
}

void GnomeOverlaySurface::setGrainLayer(std::shared_ptr<const Bitmap> image, double, BlendMode) {
  hasGrain_ = image != nullptr;
  shell_.send("SetOverlayGrain", {id_, hasGrain_ ? static_cast<double>(grain_) : 0.0});
}

void GnomeOverlaySurface::setGrainOpacity(float opacity) {
  grain_ = opacity;
  shell_.send("SetOverlayGrain", {id_, hasGrain_ ? static_cast<double>(grain_) : 0.0});
}

GnomeOverlaySurfaceFactory::GnomeOverlaySurfaceFactory(ShellConnection& shell)
    : shell_(shell), prefersDark_(shell.state().prefersDark) {
  qDBusRegisterMetaType<DuneloShellRgba>();
  qDBusRegisterMetaType<QList<DuneloShellRgba>>();
  qDBusRegisterMetaType<QList<double>>();
  tokens_.push_back(shell_.presence.subscribe([this](const bool& present) {
    if (!present) return;
    prefersDark_ = shell_.state().prefersDark;
    for (GnomeOverlaySurface* s : surfaces_) s->resend();
  }));
  tokens_.push_back(shell_.stateChanged.subscribe([this](const bool&) {
    if (shell_.state().prefersDark == prefersDark_ || !shell_.isReady()) return;
    prefersDark_ = shell_.state().prefersDark;
    for (GnomeOverlaySurface* s : surfaces_) s->sendMaterial();
  }));
}

GnomeOverlaySurfaceFactory::~GnomeOverlaySurfaceFactory() = default;

std::unique_ptr<OverlaySurface> GnomeOverlaySurfaceFactory::createSurface(
    const ScreenInfo& screen) {
  return std::make_unique<GnomeOverlaySurface>(*this, nextID_++, screen.frame);
}

}  // namespace dunelo::gnome
