#include "settings/settings_manager.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "core/debug_log.h"
#include "core/format.h"
#include "settings/color_archive.h"

namespace dunelo {
namespace keys = settings_keys;
namespace {

// A value that is there but cannot be used is replaced by the default without touching the store;
// the log says so, since the user (or another program) put it there.
void logUnusable(const char* key, const std::string& fallback) {
  debugLog(std::string("[Settings] stored \"") + key + "\" is not usable; using " + fallback);
}

// A number in 0...max; one outside is brought to the nearer end, anything else (NaN, a string,
// a boolean) gives `fallback`.
double loadInRange(const DefaultsStore& d, const char* key, double fallback, double max) {
  const auto v = d.objectForKey(key);
  if (!v) return fallback;
  const auto n = v->asNumber();
  if (n && *n >= 0.0 && *n <= max) return *n;
  const double value = n && !std::isnan(*n) ? std::clamp(*n, 0.0, max) : fallback;
  logUnusable(key, formatDecimal(value));
  return value;
}

ShakeSensitivity loadShakeSensitivity(const DefaultsStore& d) {
  if (!d.objectForKey(keys::kShakeSensitivity)) return ShakeSensitivity::medium;
  const auto s = d.stringForKey(keys::kShakeSensitivity);
  if (const auto parsed = s ? shakeSensitivityFromRaw(*s) : std::nullopt) return *parsed;
  logUnusable(keys::kShakeSensitivity, "medium");
  return ShakeSensitivity::medium;
}

std::set<std::string> loadExcluded(const DefaultsStore& d) {
  const std::set<std::string> fallback{kDefaultExcludedBundleID};
  if (!d.objectForKey(keys::kExcludedAppBundleIDs)) return fallback;
  const auto array = d.arrayForKey(keys::kExcludedAppBundleIDs);
  bool usable = array.has_value();
  std::set<std::string> ids;
  for (size_t i = 0; usable && i < array->size(); ++i) {
    const auto* id = (*array)[i].getIf<std::string>();
    usable = id != nullptr;
    if (usable) ids.insert(*id);
  }
  if (!usable) {
    logUnusable(keys::kExcludedAppBundleIDs, "the default list");
    return fallback;
  }
  auto storable = storableExclusions(ids);
  if (storable.size() != ids.size())
    logUnusable(keys::kExcludedAppBundleIDs, "the first " + std::to_string(storable.size()) +
                                                 " identifiers of at most " +
                                                 std::to_string(kMaxBundleIDBytes) + " bytes");
  return storable;
}

BlurMode loadBlurMode(const DefaultsStore& d) {
  if (!d.objectForKey(keys::kBlurMode)) return BlurMode::deep;
  const auto s = d.stringForKey(keys::kBlurMode);
  if (const auto parsed = s ? blurModeFromRaw(*s) : std::nullopt) return *parsed;
  logUnusable(keys::kBlurMode, "deep");
  return BlurMode::deep;
}

Color loadTintColor(const DefaultsStore& d) {
  if (!d.objectForKey(keys::kTintColor)) return accentColor();
  const auto data = d.dataForKey(keys::kTintColor);
  if (const auto color = data ? unarchiveColor(*data) : std::nullopt) return *color;
  logUnusable(keys::kTintColor, "the accent colour");
  return accentColor();
}

std::optional<uint32_t> loadKeyCode(const DefaultsStore& d) {
  const int64_t code = d.integerForKey(keys::kGlobalShortcutKeyCode);
  if (code > std::numeric_limits<uint32_t>::max())
    logUnusable(keys::kGlobalShortcutKeyCode, "none");
  if (code < 1 || code > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  return static_cast<uint32_t>(code);
}

uint32_t loadModifiers(const DefaultsStore& d) {
  const int64_t bits = d.integerForKey(keys::kGlobalShortcutModifiers);
  if (bits < 0 || bits > std::numeric_limits<uint32_t>::max()) {
    logUnusable(keys::kGlobalShortcutModifiers, "no modifiers");
    return 0;
  }
  return static_cast<uint32_t>(bits);
}

}  // namespace

std::set<std::string> storableExclusions(const std::set<std::string>& ids) {
  std::set<std::string> out;
  for (const std::string& id : ids) {
    if (out.size() == kMaxExcludedApps) break;
    if (id.size() <= kMaxBundleIDBytes) out.insert(out.end(), id);
  }
  return out;
}

Color accentColor() {
  return Color::srgb(0x35 / 255.0, 0x84 / 255.0, 0xE4 / 255.0, 1.0);
}

SettingsManager::SettingsManager(DefaultsStore& defaults, LoginItems& loginItems)
    : isActive(defaults.boolForKey(keys::kIsActive), &objectWillChange,
               [this](bool v) { defaults_.setBool(keys::kIsActive, v); }),
      blurRadius(loadInRange(defaults, keys::kBlurRadius, kDefaultBlurRadius, kMaxBlurRadius),
                 &objectWillChange,
                 [this](double v) { defaults_.setDouble(keys::kBlurRadius, v); }),
      shakeSensitivity(loadShakeSensitivity(defaults), &objectWillChange,
                       [this](ShakeSensitivity v) {
                         defaults_.setObject(keys::kShakeSensitivity, rawValue(v));
                       }),
      excludedAppBundleIDs(loadExcluded(defaults), &objectWillChange,
                           [this](const std::set<std::string>& all) {
                             const auto ids = storableExclusions(all);
                             if (ids.size() != all.size())
                               debugLog("[Settings] storing " + std::to_string(ids.size()) +
                                        " of " + std::to_string(all.size()) +
                                        " excluded applications (at most " +
                                        std::to_string(kMaxExcludedApps) + ", each at most " +
                                        std::to_string(kMaxBundleIDBytes) + " bytes)");
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
      grainIntensity(loadInRange(defaults, keys::kGrainIntensity, 0.0, kMaxGrainIntensity),
                     &objectWillChange,
                     [this](double v) { defaults_.setDouble(keys::kGrainIntensity, v); }),
      tintOpacity(loadInRange(defaults, keys::kTintOpacity, 0.0, kMaxTintOpacity),
                  &objectWillChange,
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
