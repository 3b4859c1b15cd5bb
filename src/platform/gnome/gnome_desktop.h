// The desktop as GNOME Shell reports it through Dunelo's extension: running applications, the
// focused window, the window list and the monitors, all answered from the state the connection
// keeps, so none of them costs a round trip.
//
// - Applications are known by their windows, one per process: the frontmost is the owner of the
//   focused window, and an activation is announced when that process changes (not on a switch
//   between windows of one application). Regular when it has an ordinary window that is not kept
//   off the taskbar.
// - The focused window of the frontmost application is the shell's focus window; for another
//   application the one of its windows focused last, else its topmost. Its frame is the window's
//   frame (without the client-side shadow), the same rectangle the window list reports, so the
//   two match. Observers hear of focus changes within the application and of the focused
//   window's moves and resizes.
// - Trust means the extension runs and speaks this version of the interface. Without it, the
//   window list is unavailable and nothing can be read; `trustHelp` says what to do,
//   and asking with a prompt turns the extension on where GNOME Shell has it loaded but off.
// - Screens are the shell's monitors, the primary first, numbered by their place in that list.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/subject.h"
#include "platform/accessibility.h"
#include "platform/displays.h"
#include "platform/gnome/shell_connection.h"
#include "platform/window_list.h"
#include "platform/workspace.h"

namespace dunelo::gnome {

// Where Dunelo runs, for what it tells the user when it cannot follow the desktop.
enum class SessionKind {
  gnomeWayland,  // GNOME Shell, through the extension
  otherWayland,  // another Wayland compositor: nothing can be followed
};

class GnomeWorkspace final : public Workspace {
 public:
  GnomeWorkspace(ShellConnection& shell, std::function<bool(const std::string&)> openURL);

  std::optional<RunningApplication> frontmostApplication() const override;
  std::vector<RunningApplication> runningApplications() const override;
  [[nodiscard]] Cancellable observeActivations(
      std::function<void(const RunningApplication&)> handler) override;
  bool openURL(const std::string& url) override;

 private:
  ActivationPolicy policyOf(ProcessID pid) const;
  void onStateChanged();

  ShellConnection& shell_;
  std::function<bool(const std::string&)> openURL_;
  std::optional<ProcessID> lastActivePID_;
  Subject<RunningApplication> activations_;
  Cancellable stateToken_;
};

class GnomeAccessibility final : public Accessibility {
 public:
  GnomeAccessibility(ShellConnection& shell, SessionKind session,
                     std::vector<std::string> extensionDirs);
  ~GnomeAccessibility() override;

  std::optional<WindowRef> focusedWindow(ProcessID pid) override;
  std::optional<Point> windowPosition(WindowRef window) override;
  std::optional<Size> windowSize(WindowRef window) override;
  std::unique_ptr<WindowChangeObserver> createObserver(
      ProcessID pid, std::function<void(std::string_view)> callback) override;
  bool canReadFocusedApplication() override;
  bool isProcessTrusted(bool prompt) override;
  // What the user has to do before Dunelo can follow this desktop; empty when nothing.
  PermissionHelp trustHelp() override;

 private:
  class Observer;
  std::optional<Rect> frame(WindowRef window) const;
  void onStateChanged();

  ShellConnection& shell_;
  SessionKind session_;
  std::vector<std::string> extensionDirs_;
  std::map<ProcessID, uint64_t> lastFocusedByPID_;
  Subject<bool> changes_;  // to the observers, after this has seen the change
  Cancellable stateToken_;
};

// Both permissions stand for the extension here, so the window list's help is the accessibility
// side's (`help`, which may be empty).
class GnomeWindowList final : public WindowList {
 public:
  explicit GnomeWindowList(ShellConnection& shell, std::function<PermissionHelp()> help = {})
      : shell_(shell), help_(std::move(help)) {}
  std::optional<std::vector<WindowListEntry>> onScreenWindows() override;
  // Every report of the extension (windows, focus, monitors).
  Cancellable observeChanges(std::function<void()> handler) override {
    return shell_.stateChanged.subscribe(
        [handler = std::move(handler)](const bool&) { handler(); });
  }
  bool screenCapturePreflight() override { return shell_.isReady(); }
  PermissionHelp screenCaptureHelp() override {
    return help_ ? help_() : WindowList::screenCaptureHelp();
  }

 private:
  ShellConnection& shell_;
  std::function<PermissionHelp()> help_;
};

class GnomeDisplays final : public Displays {
 public:
  explicit GnomeDisplays(ShellConnection& shell);
  std::vector<ScreenInfo> screens() const override { return screensOf(shell_.state().monitors); }
  [[nodiscard]] Cancellable observeChanges(std::function<void()> handler) override;

 private:
  ShellConnection& shell_;
  std::vector<MonitorRecord> last_;
  Subject<int> changed_;
  Cancellable stateToken_;
};

// What `trustHelp` says in each case, exposed for tests. `installed` says whether the
// extension's files are where GNOME Shell looks for them.
PermissionHelp extensionHelp(SessionKind session, ExtensionStatus status, bool installed,
                             const std::string& error);
// `help` on one line (its text, then its command), for the debug log.
std::string oneLine(const PermissionHelp& help);
// Whether `uuid` is installed in one of `dirs` (each a gnome-shell/extensions directory).
bool isExtensionInstalled(const std::vector<std::string>& dirs, const std::string& uuid);
// The directories GNOME Shell loads extensions from: $XDG_DATA_HOME then every $XDG_DATA_DIRS
// entry, each with gnome-shell/extensions appended.
std::vector<std::string> extensionSearchDirs();

}  // namespace dunelo::gnome
