// A settings store, a permission checker and a desktop to put the view models on.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/sim/sim_desktop.h"
#include "settings/in_memory_defaults_store.h"
#include "settings/settings_manager.h"
#include "system/permission_checker.h"
#include "ui/desktop_entries.h"
#include "ui/popover_model.h"

// Readable QStrings in test failures.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace dunelo::test {

// Installed applications by identifier, and identifiers that stand for another one.
class FakeLookup final : public ApplicationLookup {
 public:
  std::map<std::string, InstalledApp> installed;
  std::map<std::string, std::string> aliases;
  std::optional<InstalledApp> find(const std::string& id) const override {
    auto it = installed.find(aliasOf(id).value_or(id));
    if (it == installed.end()) return std::nullopt;
    return it->second;
  }
  std::optional<std::string> aliasOf(const std::string& id) const override {
    auto it = aliases.find(id);
    if (it == aliases.end()) return std::nullopt;
    return it->second;
  }
};

inline RunningApplication app(std::string name, std::optional<std::string> id,
                              ActivationPolicy policy = ActivationPolicy::regular) {
  return RunningApplication{0, std::move(id), std::move(name), policy};
}

// How many runs of consecutive values lie above (below) `threshold` in a closed ring of samples.
inline int runsWhere(const std::vector<double>& ring, const std::function<bool(double)>& in) {
  int runs = 0;
  for (size_t i = 0; i < ring.size(); ++i)
    if (in(ring[i]) && !in(ring[(i + ring.size() - 1) % ring.size()])) ++runs;
  return runs;
}
inline int runsAbove(const std::vector<double>& ring, double threshold) {
  return runsWhere(ring, [threshold](double v) { return v > threshold; });
}
inline int runsBelow(const std::vector<double>& ring, double threshold) {
  return runsWhere(ring, [threshold](double v) { return v < threshold; });
}

// Lets queued notifications (the coalesced `changed`) reach the views.
inline void settle() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// A settings store and a permission checker over the simulated desktop, and the panel's model.
struct Desk {
  sim::SimDesktop sim;
  InMemoryDefaultsStore defaults;
  FakeLookup lookup;
  std::optional<SettingsManager> settings;
  std::optional<PermissionChecker> permissions;
  int quits = 0;
  std::optional<PopoverModel> model;

  explicit Desk(bool granted = true) {
    settings.emplace(defaults, sim.loginItems());
    permissions.emplace(defaults, sim.windowList(), sim.accessibility(), sim.workspace(),
                        sim.selfPID());
    lookup.aliases["com.apple.finder"] = "org.gnome.Nautilus";
    lookup.installed["org.gnome.Nautilus"] = {"Files", "system-file-manager"};
    setPermissions(granted, granted);
  }
  // What the desktop would answer; the flags change on the next refresh.
  void grant(bool screenRecording, bool accessibility) {
    sim.setScreenCapturePreflight(screenRecording);
    sim.setAccessibilityTrusted(accessibility);
  }
  void setPermissions(bool screenRecording, bool accessibility) {
    grant(screenRecording, accessibility);
    permissions->refresh();
  }
  void launch(const std::vector<RunningApplication>& apps) {
    for (const auto& a : apps) sim.launchApp(a.bundleID, a.localizedName, a.activationPolicy);
  }
  PopoverModel& makeModel() {
    model.emplace(
        *settings, *permissions, lookup, sim.workspace(),
        [this] { sim.updater().checkForUpdates(); }, [this] { ++quits; });
    return *model;
  }
};

}  // namespace dunelo::test
