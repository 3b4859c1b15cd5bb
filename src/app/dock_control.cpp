#include "app/dock_control.h"

#include <string>
#include <utility>

#include "app/run_apple_script.h"
#include "settings/settings_manager.h"

namespace dunelo {

DockControl::DockControl(ScriptRunner& runner, DefaultsStore& defaults)
    : runner_(runner), defaults_(defaults) {
  // Anything but a list of strings was not written here; it is ignored and replaced by the next
  // hide.
  if (const auto stored = defaults_.arrayForKey(settings_keys::kDockRestoreState)) {
    DockSnapshot snapshot;
    for (const auto& entry : *stored) {
      const auto* text = entry.getIf<std::string>();
      if (!text) return;
      snapshot.push_back(*text);
    }
    if (!snapshot.empty()) remembered_ = std::move(snapshot);
  }
}

DockControl::~DockControl() {
  restoreBeforeExit();
}

void DockControl::restoreBeforeExit() {
  if (!remembered_) return;
  if (!logScriptFailure(runner_.restoreBeforeExit(*remembered_, kExitDeadline))) {
    forget();
  } else {
    remembered_.reset();  // kept in the file for the next start; not tried again in this run
  }
}

void DockControl::hide() {
  wantHidden_ = true;
  ++requests_;
  if (remembered_) {
    runAppleScript(runner_, kHideDockScript, *remembered_, {});
    return;
  }
  if (reading_) return;  // the read in progress hides the dock once it is done
  reading_ = true;
  runAppleScript(runner_, kReadDockScript, {},
                 [weak = weakFactory_.getWeakPtr()](const std::optional<ScriptOutcome>& outcome) {
                   DockControl* self = weak.get();
                   if (!self) return;
                   self->reading_ = false;
                   // What cannot be put back is not changed.
                   if (!outcome || outcome->error || outcome->snapshot.empty()) return;
                   if (!self->wantHidden_) return;
                   self->remember(outcome->snapshot);
                   runAppleScript(self->runner_, kHideDockScript, outcome->snapshot, {});
                 });
}

void DockControl::show() {
  wantHidden_ = false;
  const uint64_t request = ++requests_;
  if (!remembered_) return;
  runAppleScript(runner_, kShowDockScript, *remembered_,
                 [weak = weakFactory_.getWeakPtr(), request](const auto& outcome) {
                   DockControl* self = weak.get();
                   // A failed restore keeps the settings for the next try (at the latest on the
                   // way out or at the next start); a hide since then needs them again.
                   if (!self || !outcome || outcome->error || self->requests_ != request) return;
                   self->forget();
                 });
}

void DockControl::remember(const DockSnapshot& snapshot) {
  remembered_ = snapshot;
  DefaultsArray stored;
  for (const auto& entry : snapshot) stored.emplace_back(entry);
  defaults_.setObject(settings_keys::kDockRestoreState, DefaultsValue(std::move(stored)));
  // The record is what repairs the dock after a crash, so it is on disk before anything is hidden.
  defaults_.flush();
}

void DockControl::forget() {
  remembered_.reset();
  defaults_.removeObject(settings_keys::kDockRestoreState);
}

}  // namespace dunelo
