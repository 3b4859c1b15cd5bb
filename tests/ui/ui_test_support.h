// A settings store, a permission checker and a desktop to put the view models on.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/login_items.h"
#include "platform/workspace.h"
#include "settings/in_memory_defaults_store.h"
#include "settings/settings_manager.h"
#include "system/permission_checker.h"
#include "ui/desktop_entries.h"
#include "ui/popover_model.h"

namespace dunelo::test {

class FakeLoginItems final : public LoginItems {
 public:
  bool registerApp() override { return true; }
  bool unregisterApp() override { return true; }
};

class FakeWorkspace final : public Workspace {
 public:
  std::vector<RunningApplication> running;
  std::optional<RunningApplication> frontmostApplication() const override {
    if (running.empty()) return std::nullopt;
    return running.front();
  }
  std::vector<RunningApplication> runningApplications() const override { return running; }
  Cancellable observeActivations(std::function<void(const RunningApplication&)>) override {
    return {};
  }
  bool openURL(const std::string&) override { return true; }
};

// Installed applications by identifier.
class FakeLookup final : public ApplicationLookup {
 public:
  std::map<std::string, InstalledApp> installed;
  std::optional<InstalledApp> find(const std::string& id) const override {
    auto it = installed.find(id);
    if (it == installed.end()) return std::nullopt;
    return it->second;
  }
};

inline RunningApplication app(std::string name, std::optional<std::string> id,
                              ActivationPolicy policy = ActivationPolicy::regular) {
  static ProcessID nextPid = 100;
  return RunningApplication{nextPid++, std::move(id), std::move(name), policy};
}

// Lets queued notifications (the coalesced `changed`) reach the views.
inline void settle() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

struct Desk {
  InMemoryDefaultsStore defaults;
  FakeLoginItems loginItems;
  FakeWorkspace workspace;
  FakeLookup lookup;
  std::optional<SettingsManager> settings;
  PermissionChecker permissions;
  int updateChecks = 0;
  int quits = 0;
  std::optional<PopoverModel> model;

  explicit Desk(bool granted = true) {
    settings.emplace(defaults, loginItems);
    lookup.installed["com.apple.finder"] = {"Files", "system-file-manager"};
    setPermissions(granted, granted);
  }
  void setPermissions(bool screenRecording, bool accessibility) {
    permissions.sr = screenRecording;
    permissions.ax = accessibility;
    permissions.refresh();
  }
  PopoverModel& makeModel(bool withUpdates = true) {
    std::function<void()> updates;
    if (withUpdates) updates = [this] { ++updateChecks; };
    model.emplace(*settings, permissions, lookup, workspace, updates, [this] { ++quits; });
    return *model;
  }
};

}  // namespace dunelo::test
