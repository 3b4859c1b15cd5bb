#include "settings/settings_manager.h"

#include <limits>
#include <vector>

#include "settings/color_archive.h"

namespace dunelo {
namespace keys = settings_keys;
namespace {

double loadBlurRadius(const DefaultsStore& d) {
  const auto v = d.objectForKey(keys::kBlurRadius);
  if (!v) return kDefaultBlurRadius;
  return v->asNumber().value_or(kDefaultBlurRadius);
}

ShakeSensitivity loadShakeSensitivity(const DefaultsStore& d) {
  const auto s = d.stringForKey(keys::kShakeSensitivity);
  if (!s) return ShakeSensitivity::medium;
  return shakeSensitivityFromRaw(*s).value_or(ShakeSensitivity::medium);
}

std::set<std::string> loadExcluded(const DefaultsStore& d) {
  const std::set<std::string> fallback{kDefaultExcludedBundleID};
  const auto array = d.arrayForKey(keys::kExcludedAppBundleIDs);
  if (!array) return fallback;
  std::set<std::string> ids;
  for (const auto& element : *array) {
    const auto* s = element.getIf<std::string>();
    if (!s) return fallback;
    ids.insert(*s);
  }
  return ids;
}

BlurMode loadBlurMode(const DefaultsStore& d) {
  const auto s = d.stringForKey(keys::kBlurMode);
  if (!s) return BlurMode::deep;
  return blurModeFromRaw(*s).value_or(BlurMode::deep);
}

Color loadTintColor(const DefaultsStore& d) {
  const auto data = d.dataForKey(keys::kTintColor);
  if (!data) return accentColor();
  return unarchiveColor(*data).value_or(accentColor());
}

std::optional<uint32_t> loadKeyCode(const DefaultsStore& d) {
  const int64_t code = d.integerForKey(keys::kGlobalShortcutKeyCode);
  if (code < 1 || code > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  return static_cast<uint32_t>(code);
}

uint32_t loadModifiers(const DefaultsStore& d) {
  const int64_t bits = d.integerForKey(keys::kGlobalShortcutModifiers);
  if (bits < 0 || bits > std::numeric_limits<uint32_t>::max()) return 0;
  return static_cast<uint32_t>(bits);
}

}  // namespace

Color accentColor() {
  return Color::srgb(0x35 / 255.0, 0x84 / 255.0, 0xE4 / 255.0, 1.0);
}

SettingsManager::SettingsManager(DefaultsStore& defaults, LoginItems& loginItems)
    : isActive(defaults.boolForKey(keys::kIsActive), &objectWillChange,
               [this](bool v) { defaults_.setBool(keys::kIsActive, v); }),
      blurRadius(loadBlurRadius(defaults), &objectWillChange,
                 [this](double v) { defaults_.setDouble(keys::kBlurRadius, v); }),
      shakeSensitivity(loadShakeSensitivity(defaults), &objectWillChange,
                       [this](ShakeSensitivity v) {
                         defaults_.setObject(keys::kShakeSensitivity, rawValue(v));
                       }),
      excludedAppBundleIDs(loadExcluded(defaults), &objectWillChange,
                           [this](const std::set<std::string>& ids) {
                             DefaultsArray array;
                             array.reserve(ids.size());
                             for (const auto& id : ids) array.emplace_back(id);
                             defaults_.setObject(keys::kExcludedAppBundleIDs, std::move(array));
                           }),
      launchAtLogin(defaults.boolForKey(keys::kLaunchAtLogin), &objectWillChange,
                    [this](bool v) {
                      defaults_.setBool(keys::kLaunchAtLogin, v);
                      updateLaunchAtLogin();
                    }),
      globalShortcutKeyCode(loadKeyCode(defaults), &objectWillChange,
                            [this](const std::optional<uint32_t>& code) {
                              if (!code) {
                                defaults_.removeObject(keys::kGlobalShortcutKeyCode);
                                return;
                              }
                              defaults_.setInteger(keys::kGlobalShortcutKeyCode, *code);
                            }),
      globalShortcutModifiers(
          loadModifiers(defaults), &objectWillChange,
          [this](uint32_t bits) { defaults_.setInteger(keys::kGlobalShortcutModifiers, bits); }),
      blurMode(loadBlurMode(defaults), &objectWillChange,
               [this](BlurMode v) { defaults_.setObject(keys::kBlurMode, rawValue(v)); }),
      grainIntensity(defaults.doubleForKey(keys::kGrainIntensity), &objectWillChange,
                     [this](double v) { defaults_.setDouble(keys::kGrainIntensity, v); }),
      tintOpacity(defaults.doubleForKey(keys::kTintOpacity), &objectWillChange,
                  [this](double v) { defaults_.setDouble(keys::kTintOpacity, v); }),
      tintColor(loadTintColor(defaults), &objectWillChange,
                [this](const Color& c) {
                  // A colour that cannot be archived (a pattern) is not stored; the next launch
                  // loads the last colour that was.
                  if (auto data = archiveColor(c)) defaults_.setObject(keys::kTintColor, *data);
                }),
      isGrayscale(defaults.boolForKey(keys::kIsGrayscale), &objectWillChange,
                  [this](bool v) { defaults_.setBool(keys::kIsGrayscale, v); }),
      autoHideDockAndMenuBar(
          defaults.boolForKey(keys::kAutoHideDockAndMenuBar), &objectWillChange,
          [this](bool v) { defaults_.setBool(keys::kAutoHideDockAndMenuBar, v); }),
      defaults_(defaults),
      loginItems_(loginItems) {}

void SettingsManager::updateLaunchAtLogin() {
  // The result is deliberately dropped: a failed registration changes nothing the user sees.
  if (launchAtLogin.get()) {
    (void)loginItems_.registerApp();
  } else {
    (void)loginItems_.unregisterApp();
  }
}

}  // namespace dunelo
