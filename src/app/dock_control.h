// Hides the desktop's dock for the coordinator, and puts back exactly what was there before.
//
// Before its first hide it reads the dock's own settings (each panel's, where there are several)
// and stores them under "dockRestoreState" in the settings file; only once they are stored does
// anything change. A show puts them back and removes the key. Kept in the file, they survive a
// crash or kill -9: a later start finds them (`hasRememberedDock`) and the coordinator restores
// them. A dock whose settings could not be read is never touched.
//
// Scripts run away from the main thread (see ScriptRunner); their failures are logged. The last
// request wins: a show issued while the read is still running means nothing is hidden.
//
// Destroying the control puts a hidden dock back (restoreBeforeExit). Every way out of the program
// (the panel's Quit, SIGTERM and SIGINT, the end of the session or of the X server) ends the main
// loop and destroys the coordinator, and with it this control; where a toolkit ends the process
// itself, the program calls restoreBeforeExit first.
#pragma once

#include <cstdint>
#include <optional>

#include "core/weak_ptr.h"
#include "platform/script_runner.h"
#include "settings/defaults_store.h"

namespace dunelo {

class DockControl {
 public:
  static constexpr double kExitDeadline = 2.0;

  // Both must outlive the control.
  DockControl(ScriptRunner& runner, DefaultsStore& defaults);
  ~DockControl();
  DockControl(const DockControl&) = delete;
  DockControl& operator=(const DockControl&) = delete;

  // True while the settings file holds dock settings that have not been put back: Dunelo hid the
  // dock, in this run or in an earlier one that did not end normally.
  bool hasRememberedDock() const { return remembered_.has_value(); }

  // Hides the dock (again: the user may have shown it in the meantime).
  void hide();
  // Puts back the remembered settings; nothing when there are none.
  void show();
  // Puts back the remembered settings at once, on the calling thread (queued scripts are dropped),
  // blocking for at most kExitDeadline seconds: the way out. Later calls find nothing to do.
  void restoreBeforeExit();

 private:
  void remember(const DockSnapshot& snapshot);
  void forget();

  ScriptRunner& runner_;
  DefaultsStore& defaults_;
  std::optional<DockSnapshot> remembered_;  // mirrors the settings key
  bool wantHidden_ = false;                 // the last request
  bool reading_ = false;
  uint64_t requests_ = 0;  // counts hide and show requests
  WeakPtrFactory<DockControl> weakFactory_{this};
};

}  // namespace dunelo
