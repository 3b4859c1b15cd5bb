// Runs Dunelo's two dock scripts ("set autohide of dock preferences to true / false") on Linux
// desktops, where no scripting service understands them: each is mapped to the desktop's own
// switch for its dock or panels.
//
//   GNOME (dash-to-dock, Ubuntu Dock)  gsettings, schema org.gnome.shell.extensions.dash-to-dock:
//                                      hide = dock-fixed false + autohide true; show = dock-fixed
//                                      true
//   KDE Plasma                         the plasmashell scripting interface over D-Bus
//                                      (dbus-send): every panel's hiding = "autohide" / "none"
//   Xfce                               xfconf-query, channel xfce4-panel: every panel's
//                                      autohide-behavior = 2 (always) / 0 (never)
//
// The desktop is taken from XDG_CURRENT_DESKTOP. Tools run synchronously, without a shell, each
// limited in time. Anything else (another desktop, a missing tool or schema, a failing command, a
// script that is not one of the two) comes back as a failed script whose error message says why.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/desktop/command_runner.h"
#include "platform/script_runner.h"

namespace dunelo {

class DockScriptRunner final : public ScriptRunner {
 public:
  // `currentDesktop` is an XDG_CURRENT_DESKTOP value ("ubuntu:GNOME", "KDE", "XFCE", ...).
  DockScriptRunner(CommandRunner commands, std::string currentDesktop, double commandTimeout = 5.0);
  // For this process's PATH and XDG_CURRENT_DESKTOP.
  static DockScriptRunner forThisProcess();

  std::optional<ScriptOutcome> run(std::string_view source) override;

 private:
  // Each returns an error message, or none on success.
  std::optional<std::string> setGnomeDock(bool autohide);
  std::optional<std::string> setPlasmaPanels(bool autohide);
  std::optional<std::string> setXfcePanels(bool autohide);
  // Runs one command; an error message unless it exited with status 0.
  std::optional<std::string> runChecked(const std::vector<std::string>& argv,
                                        std::string* output = nullptr);

  CommandRunner commands_;
  std::string currentDesktop_;
  double commandTimeout_;
};

}  // namespace dunelo
