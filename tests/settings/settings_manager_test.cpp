#include "settings/settings_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <sstream>
#include <tuple>

#include "core/format.h"
#include "settings/color_archive.h"
#include "settings/in_memory_defaults_store.h"
#include "settings/json_file_defaults_store.h"
#include "support/log_capture.h"
#include "support/scratch_dir.h"

namespace dunelo {
namespace {

namespace keys = settings_keys;
using Value = std::optional<DefaultsValue>;

struct FakeLoginItems : LoginItems {
  bool registerApp() override { return calls.push_back("register"), succeed; }
  bool unregisterApp() override { return calls.push_back("unregister"), succeed; }
  bool succeed = true;
  std::vector<std::string> calls;
};

DefaultsData bytes(const std::string& s) {
  return DefaultsData(s.begin(), s.end());
}

// Every setting in one line, so whole states compare at once.
std::string describe(const SettingsManager& s) {
  std::ostringstream o;
  o << s.isActive.get() << ' ' << formatDecimal(s.blurRadius.get()) << ' '
    << rawValue(s.shakeSensitivity.get()) << " [";
  for (const auto& id : s.excludedAppBundleIDs.get()) o << id << ';';
  const auto code = s.globalShortcutKeyCode.get();
  o << "] " << s.launchAtLogin.get() << ' ' << (code ? std::to_string(*code) : "none") << ' '
    << s.globalShortcutModifiers.get() << ' ' << rawValue(s.blurMode.get()) << ' '
    << formatDecimal(s.grainIntensity.get()) << ' ' << formatDecimal(s.tintOpacity.get()) << ' '
    << (s.tintColor.get() == accentColor() ? "accent" : "other") << ' ' << s.isGrayscale.get()
    << ' ' << s.autoHideDockAndMenuBar.get();
  return o.str();
}
const std::string kAllDefaults =
    "0 70.0 medium [com.apple.finder;] 0 none 0 deep 0.0 0.0 accent 0 0";

// An empty domain loads every default without writing, logging or touching the login item. In a
// file, every setting of the wrong type loads its default too; values the store cannot represent
// read as absent but survive writes of other keys.
TEST(SettingsManager, EmptyOrWrongTypedDomainsLoadEveryDefault) {
  FakeLoginItems login;
  {
    testing::LogCapture log;
    InMemoryDefaultsStore store;
    EXPECT_EQ(describe(SettingsManager(store, login)), kAllDefaults);
    EXPECT_EQ(store.writeCount(), 0u);
    EXPECT_TRUE(log.messages().empty());
  }
  testing::ScratchDir dir;
  const std::string path = dir.file("defaults.json");
  testing::writeFile(path, R"({
    "isActive": "yes", "blurIntensity": "25", "shakeSensitivity": 1,
    "excludedAppBundleIDs": {"a": 1}, "launchAtLogin": [true],
    "globalShortcutKeyCode": "49", "globalShortcutModifiers": {"$data": "!!"},
    "blurMode": null, "grainIntensity": [0.5], "tintOpacity": {"$double": "lots"},
    "tintColor": "red", "isGrayscale": {}, "autoHideDockAndMenuBar": "1",
    "other": {"nested": [null, {"kept": true}]}
  })");
  JsonFileDefaultsStore store(path);
  SettingsManager s(store, login);
  EXPECT_EQ(describe(s), kAllDefaults);
  EXPECT_TRUE(login.calls.empty());  // the registration is not touched at load
  EXPECT_EQ(store.objectForKey("other"), std::nullopt);

  s.isActive = true;
  store.flush();
  const auto text = testing::readFile(path);
  EXPECT_NE(text.find("\"kept\": true"), std::string::npos) << text;
  EXPECT_NE(text.find("\"blurMode\": null"), std::string::npos) << text;
  EXPECT_TRUE(JsonFileDefaultsStore(path).boolForKey("isActive"));
}

// A loaded setting in the form it is stored in (none for an absent shortcut).
Value loaded(const SettingsManager& s, std::string_view key) {
  if (key == keys::kBlurRadius) return s.blurRadius.get();
  if (key == keys::kShakeSensitivity) return rawValue(s.shakeSensitivity.get());
  if (key == keys::kBlurMode) return rawValue(s.blurMode.get());
  if (key == keys::kGlobalShortcutModifiers) return s.globalShortcutModifiers.get();
  if (key == keys::kGrainIntensity) return s.grainIntensity.get();
  if (key == keys::kTintOpacity) return s.tintOpacity.get();
  if (key == keys::kIsActive) return s.isActive.get();
  if (key == keys::kTintColor) return archiveColor(s.tintColor.get());
  if (key == keys::kGlobalShortcutKeyCode && s.globalShortcutKeyCode.get())
    return *s.globalShortcutKeyCode.get();
  if (key != keys::kExcludedAppBundleIDs) return std::nullopt;
  DefaultsArray ids;
  for (const auto& id : s.excludedAppBundleIDs.get()) ids.emplace_back(id);
  return ids;
}

// Each case: the stored value, what loads, and whether the log names the key as not usable (a
// value that is there but unusable is; an absent or merely empty one is not). Numbers outside a
// slider's range load at its nearer end; NaN and non-numbers load the default.
TEST(SettingsManager, LoadingFallsBackPerKey) {
  const auto tint = *archiveColor(Color::srgb(0.25, 0.5, 0.75, 1));
  const auto accent = *archiveColor(accentColor());
  const double kNaN = std::numeric_limits<double>::quiet_NaN();
  const double kInf = std::numeric_limits<double>::infinity();
  const DefaultsArray finder{"com.apple.finder"};
  const std::string tooLong(kMaxBundleIDBytes + 1, 'x');
  const std::vector<std::tuple<const char*, DefaultsValue, Value, bool>> cases = {
      {keys::kBlurRadius, 0, 0.0, false},
      {keys::kBlurRadius, 100, 100.0, false},
      {keys::kBlurRadius, 250, 100.0, true},
      {keys::kBlurRadius, 1e308, 100.0, true},
      {keys::kBlurRadius, -5, 0.0, true},
      {keys::kBlurRadius, -kInf, 0.0, true},
      {keys::kBlurRadius, kNaN, 70.0, true},
      {keys::kBlurRadius, "x", 70.0, true},
      {keys::kBlurRadius, true, 70.0, true},
      {keys::kGrainIntensity, 0.25, 0.25, false},
      {keys::kGrainIntensity, 0.9, 0.5, true},
      {keys::kGrainIntensity, -0.1, 0.0, true},
      {keys::kGrainIntensity, "0.5", 0.0, true},
      {keys::kTintOpacity, 0.6, 0.6, false},
      {keys::kTintOpacity, 1e308, 0.6, true},
      {keys::kTintOpacity, kNaN, 0.0, true},
      {keys::kTintOpacity, DefaultsArray{0.5}, 0.0, true},
      {keys::kShakeSensitivity, "high", "high", false},
      {keys::kShakeSensitivity, "High", "medium", true},
      {keys::kShakeSensitivity, 2, "medium", true},
      {keys::kBlurMode, "ambient", "ambient", false},
      {keys::kBlurMode, "Ambient", "deep", true},
      {keys::kExcludedAppBundleIDs, DefaultsArray{}, DefaultsArray{}, false},
      {keys::kExcludedAppBundleIDs, DefaultsArray{"b", "a", "b"}, DefaultsArray{"a", "b"}, false},
      {keys::kExcludedAppBundleIDs, DefaultsArray{"a", tooLong}, DefaultsArray{"a"}, true},
      {keys::kExcludedAppBundleIDs, DefaultsArray{"a", 1}, finder, true},
      {keys::kExcludedAppBundleIDs, "a", finder, true},
      {keys::kGlobalShortcutKeyCode, 0, std::nullopt, false},
      {keys::kGlobalShortcutKeyCode, -5, std::nullopt, false},
      {keys::kGlobalShortcutKeyCode, 1, 1, false},
      {keys::kGlobalShortcutKeyCode, int64_t{4294967295}, int64_t{4294967295}, false},
      {keys::kGlobalShortcutKeyCode, int64_t{4294967296}, std::nullopt, true},
      {keys::kGlobalShortcutKeyCode, 12.7, 12, false},
      {keys::kGlobalShortcutKeyCode, kNaN, std::nullopt, false},
      {keys::kGlobalShortcutModifiers, -1, 0, true},
      {keys::kGlobalShortcutModifiers, int64_t{1} << 32, 0, true},
      {keys::kTintColor, tint, tint, false},
      {keys::kTintColor, bytes("\x01\x02garbage"), accent, true},
      {keys::kTintColor, std::string(tint.begin(), tint.end()), accent, true},
      {keys::kIsActive, 1, true, false},
      {keys::kIsActive, "true", false, false},
  };
  testing::LogCapture log;
  for (size_t i = 0; i < cases.size(); ++i) {
    const auto& [key, stored, expected, logged] = cases[i];
    const size_t before = log.messages().size();
    InMemoryDefaultsStore store({{key, stored}});
    FakeLoginItems login;
    EXPECT_EQ(loaded(SettingsManager(store, login), key), expected) << key << " case " << i;
    const auto lines = log.messages();
    ASSERT_EQ(lines.size(), before + logged) << key << " case " << i;
    if (logged) {
      EXPECT_EQ(
          lines.back().rfind(std::string("[Settings] stored \"") + key + "\" is not usable", 0), 0u)
          << lines.back();
    }
  }
  EXPECT_EQ(log.messages()[0], "[Settings] stored \"blurIntensity\" is not usable; using 100.0");
}

// Assigning writes the right key with the right type, also when the value does not change, and
// only after the property holds the new value; subscribers see it before the store does. What the
// desktop refuses (the login item) or the archive cannot hold (a pattern colour) still changes the
// setting the user sees.
TEST(SettingsManager, EveryAssignmentWritesThroughAfterStoring) {
  InMemoryDefaultsStore store;
  FakeLoginItems login;
  login.succeed = false;
  SettingsManager s(store, login);
  const Color tint = Color::deviceRGB(1, 0, 0, 0.5);
  const std::set<std::string> unsorted{"b", "a"};
  const DefaultsArray sorted{"a", "b"};
  const std::vector<std::tuple<const char*, std::function<void()>, Value>> cases = {
      {keys::kIsActive, [&] { s.isActive = true; }, true},
      {keys::kBlurRadius, [&] { s.blurRadius = 12.5; }, 12.5},
      {keys::kShakeSensitivity, [&] { s.shakeSensitivity = ShakeSensitivity::low; }, "low"},
      {keys::kExcludedAppBundleIDs, [&] { s.excludedAppBundleIDs = unsorted; }, sorted},
      {keys::kLaunchAtLogin, [&] { s.launchAtLogin = false; }, false},
      {keys::kLaunchAtLogin, [&] { s.launchAtLogin = true; }, true},
      {keys::kGlobalShortcutKeyCode, [&] { s.globalShortcutKeyCode = 49u; }, 49},
      {keys::kGlobalShortcutModifiers, [&] { s.globalShortcutModifiers = 0x100000u; }, 0x100000},
      {keys::kBlurMode, [&] { s.blurMode = BlurMode::ambient; }, "ambient"},
      {keys::kGrainIntensity, [&] { s.grainIntensity = 0.25; }, 0.25},
      {keys::kTintOpacity, [&] { s.tintOpacity = 0.5; }, 0.5},
      {keys::kTintColor, [&] { s.tintColor = tint; }, *archiveColor(tint)},
      {keys::kIsGrayscale, [&] { s.isGrayscale = true; }, true},
      {keys::kAutoHideDockAndMenuBar, [&] { s.autoHideDockAndMenuBar = true; }, true},
      {keys::kGlobalShortcutKeyCode, [&] { s.globalShortcutKeyCode = std::nullopt; }, std::nullopt},
  };
  for (const auto& [key, assign, expected] : cases) {
    SCOPED_TRACE(key);
    for (int round = 0; round < 2; ++round) {  // the second assigns the value it already has
      int willChange = 0;
      auto token = s.objectWillChange.subscribe([&] { ++willChange; });
      const size_t writes = store.writeCount();
      assign();
      EXPECT_EQ(store.writeCount(), writes + 1);
      EXPECT_EQ(willChange, 1);
      EXPECT_EQ(store.objectForKey(key), expected);
    }
  }
  EXPECT_TRUE(s.launchAtLogin.get());  // although the desktop refused the registration
  login.calls.erase(std::unique(login.calls.begin(), login.calls.end()), login.calls.end());
  EXPECT_EQ(login.calls, (std::vector<std::string>{"unregister", "register"}));
  const Color pattern{0, 0, 0, 1, ColorSpace::pattern};
  s.tintColor = pattern;
  EXPECT_EQ(s.tintColor.get(), pattern);
  EXPECT_EQ(SettingsManager(store, login).tintColor.get(), tint);  // the next launch

  // Order: the subscriber sees the new value while the store still has the old one; the store is
  // written once the property holds the new value.
  std::vector<std::string> order;
  auto sub = s.blurRadius.subscribe([&](double v) {
    order.push_back("deliver " + std::to_string(v) + " stored " +
                    std::to_string(store.doubleForKey(keys::kBlurRadius)));
  });
  store.onWrite = [&](std::string_view) {
    order.push_back("write, property " + std::to_string(s.blurRadius.get()));
  };
  order.clear();
  s.blurRadius = 30.0;
  EXPECT_EQ(order, (std::vector<std::string>{"deliver 30.000000 stored 12.500000",
                                             "write, property 30.000000"}));
}

TEST(ColorArchive, RoundTripsEveryNumericSpaceAndRejectsAnythingElse) {
  for (const Color c : {Color::srgb(0.1, 0.2, 0.3, 0.4), Color::deviceRGB(1, 0.5, 0, 1),
                        Color::grayscale(0.3, 0.9), Color::srgb(-0.1, 1.2, 0.5, 1)}) {
    const auto data = archiveColor(c);
    ASSERT_TRUE(data);
    EXPECT_EQ(unarchiveColor(*data), c);
  }
  EXPECT_FALSE(archiveColor(Color{0, 0, 0, 1, ColorSpace::pattern}));
  EXPECT_FALSE(archiveColor(Color::srgb(std::numeric_limits<double>::infinity(), 0, 0)));
  for (const char* bad :
       {"", "not json", "[]", R"({"kind":"color","version":1,"space":"sRGB"})",
        R"({"kind":"color","version":2,"space":"sRGB","components":[0,0,0,1]})",
        R"({"kind":"color","version":1,"space":"cmyk","components":[0,0,0,1]})",
        R"({"kind":"color","version":1,"space":"sRGB","components":[0,0,"1",1]})",
        R"({"kind":"color","version":1,"space":"sRGB","components":[0,0,1e999,1]})"})
    EXPECT_EQ(unarchiveColor(bytes(bad)), std::nullopt) << bad;
}

}  // namespace
}  // namespace dunelo
