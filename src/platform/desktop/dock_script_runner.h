// Runs Dunelo's dock scripts (read the dock preference, set auto-hide to true / false) on Linux
// desktops, where no scripting service understands them: each is mapped to the desktop's own
// switches for its dock or panels.
//
//   GNOME (dash-to-dock, Ubuntu Dock)  gsettings, schema org.gnome.shell.extensions.dash-to-dock:
//                                      read dock-fixed and autohide; hide = dock-fixed false +
//                                      autohide true
//   KDE Plasma                         the plasmashell scripting interface over D-Bus
//                                      (dbus-send): each panel's hiding; hide = "autohide"
//   Xfce                               xfconf-query, channel xfce4-panel: each panel's
//                                      autohide-behavior; hide = 2 (always)
//
// The read script records what it found in a snapshot ("gnome", "dock-fixed=true", ...; "kde",
// "<panel id>=<hiding>", ...; "xfce", "<panel number>=<behavior>", "=" alone when the panel has
// no setting of its own); the hide script acts on the panels of that snapshot only, and the show
// script puts back exactly what it holds (an Xfce setting that was not there is removed again).
// A snapshot is checked entry by entry before anything in it reaches a tool.
//
// The desktop to read is taken from XDG_CURRENT_DESKTOP; the other two scripts act on the
// snapshot's desktop. Scripts run on a worker thread, one at a time, without a shell; each has one
// deadline for all its tools, and each tool runs in a process group that goes with it. Anything
// else (another desktop, a missing tool or schema, a failing command, a deadline that passed, a
// script that is not one of the three) comes back as a failed script whose message says why.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/scheduler.h"
#include "platform/desktop/background_queue.h"
#include "platform/desktop/command_runner.h"
#include "platform/script_runner.h"

namespace dunelo {

class DockScriptRunner final : public ScriptRunner {
 public:
  // Seconds a script may take in all, whatever the number of panels.
  static constexpr double kScriptDeadline = 5.0;

  // `currentDesktop` is an XDG_CURRENT_DESKTOP value ("ubuntu:GNOME", "KDE", "XFCE", ...);
  // completions are handed to `mainThread`.
  DockScriptRunner(CommandRunner commands, std::string currentDesktop, Scheduler& mainThread,
                   double scriptDeadline = kScriptDeadline);
  // For this process's PATH and XDG_CURRENT_DESKTOP.
  static std::unique_ptr<DockScriptRunner> forThisProcess(Scheduler& mainThread);

  void run(std::string_view source, DockSnapshot snapshot, Completion done) override;
  ScriptOutcome restoreBeforeExit(const DockSnapshot& snapshot, double seconds) override;

  // One script on the calling thread, within `deadline` (what the worker runs).
  ScriptOutcome runNow(std::string_view source, const DockSnapshot& snapshot,
                       const Deadline& deadline) const;

 private:
  CommandRunner commands_;
  std::string currentDesktop_;
  double scriptDeadline_;
  BackgroundQueue queue_;  // last: its worker uses everything above
};

}  // namespace dunelo
