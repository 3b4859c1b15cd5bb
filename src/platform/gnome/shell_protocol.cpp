#include "platform/gnome/shell_protocol.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cmath>
#include <string_view>

#include "platform/hot_keys.h"
#include "platform/x11/hot_key_table.h"

namespace dunelo::gnome {

const WindowRecord* ShellState::window(uint64_t id) const {
  if (id == 0) return nullptr;
  for (const WindowRecord& w : windows) {
    if (w.id == id) return &w;
  }
  return nullptr;
}

std::optional<std::string> bundleIDOf(const WindowRecord& window) {
  constexpr std::string_view kSuffix = ".desktop";
  const std::string_view id = window.appID;
  // The shell names windows it cannot match to a desktop entry "window:<n>".
  if (!id.empty() && !id.starts_with("window:")) {
    if (id.size() > kSuffix.size() && id.ends_with(kSuffix))
      return std::string(id.substr(0, id.size() - kSuffix.size()));
    return std::string(id);
  }
  if (!window.wmClass.empty()) return window.wmClass;
  return std::nullopt;
}

RunningApplication applicationOf(const WindowRecord& window, ActivationPolicy policy) {
  RunningApplication app;
  app.pid = window.pid;
  app.bundleID = bundleIDOf(window);
  const bool namedByEntry =
      !window.appName.empty() && !window.appID.empty() && !window.appID.starts_with("window:");
  app.localizedName = namedByEntry ? window.appName : window.wmClass;
  app.activationPolicy = policy;
  return app;
}

StageSpace StageSpace::of(const std::vector<MonitorRecord>& monitors) {
  if (monitors.empty()) return {};
  const MonitorRecord& p = monitors.front();
  return StageSpace{p.x, p.y, p.height};
}

Rect StageSpace::topLeftRect(const WindowRecord& w) const {
  return Rect(w.x - primaryX, w.y - primaryY, w.width, w.height);
}

Rect StageSpace::bottomLeftRect(const MonitorRecord& m) const {
  return Rect(m.x - primaryX, primaryY + primaryHeight - (m.y + m.height), m.width, m.height);
}

std::vector<int32_t> StageSpace::stageRect(const Rect& frame) const {
  auto whole = [](double v) { return static_cast<int32_t>(std::clamp(std::round(v), -1e9, 1e9)); };
  const double height = std::abs(frame.size.height);
  return {whole(frame.minX() + primaryX), whole(primaryY + primaryHeight - frame.minY() - height),
          std::max(1, whole(std::abs(frame.size.width))), std::max(1, whole(height))};
}

std::vector<ScreenInfo> screensOf(const std::vector<MonitorRecord>& monitors) {
  const StageSpace space = StageSpace::of(monitors);
  std::vector<ScreenInfo> screens;
  for (size_t i = 0; i < monitors.size(); ++i) {
    ScreenInfo s;
    s.frame = space.bottomLeftRect(monitors[i]);
    s.backingScaleFactor = monitors[i].scale > 0 ? monitors[i].scale : 1.0;
    // Numbered by position in the shell's list (the primary is 1): a monitor that stays keeps
    // its overlay, which only has to follow the new frame.
    s.displayID = static_cast<DisplayID>(i + 1);
    screens.push_back(s);
  }
  return screens;
}

MaterialLook materialLook(BlurMaterial material, bool prefersDark) {
  // The Gaussian sigmas spread detail about as far as the X11 renderer's five (deep) and four
  // (ambient) halvings; the veils are the same.
  switch (material) {
    case BlurMaterial::ambient:
      return prefersDark ? MaterialLook{10, Color::deviceRGB(0.0, 0.0, 0.0, 0.45)}
                         : MaterialLook{10, Color::deviceRGB(0.08, 0.08, 0.10, 0.30)};
    case BlurMaterial::deep:
      break;
  }
  return prefersDark ? MaterialLook{20, Color::deviceRGB(0.14, 0.14, 0.16, 0.40)}
                     : MaterialLook{20, Color::deviceRGB(0.97, 0.97, 0.98, 0.28)};
}

std::optional<std::string> acceleratorFor(uint32_t macKeyCode, uint32_t carbonModifiers) {
  const auto keysym = x11::keysymForMacKeyCode(macKeyCode);
  if (!keysym) return std::nullopt;
  char name[64];
  if (xkb_keysym_get_name(*keysym, name, sizeof name) <= 0) return std::nullopt;
  std::string accelerator;
  if (carbonModifiers & kHotKeyModifierCommand) accelerator += "<Super>";
  if (carbonModifiers & kHotKeyModifierOption) accelerator += "<Alt>";
  if (carbonModifiers & kHotKeyModifierControl) accelerator += "<Control>";
  if (carbonModifiers & kHotKeyModifierShift) accelerator += "<Shift>";
  return accelerator + name;
}

}  // namespace dunelo::gnome
