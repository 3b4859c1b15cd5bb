// The single source of every user setting.
//
// Each setting is an observable property: views bind to it, the coordinator subscribes to its
// change stream, and every assignment is written through to the defaults domain right after the
// property holds the new value. Loading applies each key's default itself when the key is absent
// or holds something unusable; nothing is written back at load.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "core/color.h"
#include "core/published.h"
#include "platform/login_items.h"
#include "settings/defaults_store.h"
#include "settings/settings_enums.h"

namespace dunelo {

// Key names of the defaults domain (case-sensitive). `blurRadius` lives under "blurIntensity".
namespace settings_keys {
inline constexpr const char* kIsActive = "isActive";
inline constexpr const char* kBlurRadius = "blurIntensity";
inline constexpr const char* kShakeSensitivity = "shakeSensitivity";
inline constexpr const char* kExcludedAppBundleIDs = "excludedAppBundleIDs";
inline constexpr const char* kLaunchAtLogin = "launchAtLogin";
inline constexpr const char* kGlobalShortcutKeyCode = "globalShortcutKeyCode";
inline constexpr const char* kGlobalShortcutModifiers = "globalShortcutModifiers";
inline constexpr const char* kBlurMode = "blurMode";
inline constexpr const char* kGrainIntensity = "grainIntensity";
inline constexpr const char* kTintOpacity = "tintOpacity";
inline constexpr const char* kTintColor = "tintColor";
inline constexpr const char* kIsGrayscale = "isGrayscale";
inline constexpr const char* kAutoHideDockAndMenuBar = "autoHideDockAndMenuBar";
// Written by the permission checker into the same domain.
inline constexpr const char* kCachedScreenRecording = "cachedScreenRecording";
inline constexpr const char* kCachedAccessibility = "cachedAccessibility";
// Written by the dock control: the dock's own settings while Dunelo keeps it hidden.
inline constexpr const char* kDockRestoreState = "dockRestoreState";
}  // namespace settings_keys

inline constexpr double kDefaultBlurRadius = 70.0;
inline constexpr const char* kDefaultExcludedBundleID = "com.apple.finder";

// The ranges the popover's sliders offer (each from 0). Loading brings a stored value outside its
// range back inside.
inline constexpr double kMaxBlurRadius = 100.0;
inline constexpr double kMaxTintOpacity = 0.6;
inline constexpr double kMaxGrainIntensity = 0.5;

// The most of the excluded applications that is stored: enough for any real list, and bounded so
// that the settings file stays far below the size that loading accepts.
inline constexpr size_t kMaxExcludedApps = 1000;
inline constexpr size_t kMaxBundleIDBytes = 255;
// `ids` without identifiers longer than kMaxBundleIDBytes, cut to its first kMaxExcludedApps.
std::set<std::string> storableExclusions(const std::set<std::string>& ids);

// The tint used when none is stored. Linux desktops expose no common accent colour to X11 clients,
// so Dunelo uses the widespread default accent blue (#3584E4, the GNOME/Adwaita accent) in sRGB.
Color accentColor();

class SettingsManager {
 public:
  // Loads every setting from `defaults`; writes nothing. Both references must outlive this object.
  SettingsManager(DefaultsStore& defaults, LoginItems& loginItems);
  SettingsManager(const SettingsManager&) = delete;
  SettingsManager& operator=(const SettingsManager&) = delete;

  ChangeNotifier objectWillChange;

  Published<bool> isActive;
  Published<double> blurRadius;  // 0...100; stored as "blurIntensity"
  Published<ShakeSensitivity> shakeSensitivity;
  // Only storableExclusions() of it is stored.
  Published<std::set<std::string>> excludedAppBundleIDs;
  Published<bool> launchAtLogin;
  // Absent: no shortcut. Loading maps stored codes below 1 or above the 32-bit range to absent.
  Published<std::optional<uint32_t>> globalShortcutKeyCode;
  // Raw modifier bits (shift 0x20000, control 0x40000, option 0x80000, command 0x100000).
  // Loading maps a stored value outside the 32-bit unsigned range to 0 (no modifiers).
  Published<uint32_t> globalShortcutModifiers;
  Published<BlurMode> blurMode;
  Published<double> grainIntensity;
  Published<double> tintOpacity;
  Published<Color> tintColor;
  Published<bool> isGrayscale;
  Published<bool> autoHideDockAndMenuBar;

  // Registers or unregisters the login item to match `launchAtLogin`. Failures are ignored: the
  // setting keeps the value the user gave it.
  void updateLaunchAtLogin();

  DefaultsStore& defaults() const { return defaults_; }

 private:
  DefaultsStore& defaults_;
  LoginItems& loginItems_;
};

}  // namespace dunelo
