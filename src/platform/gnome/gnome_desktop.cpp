#include "platform/gnome/gnome_desktop.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>

#include "core/debug_log.h"
#include "platform/window_change_notifier.h"

namespace dunelo::gnome {
namespace {

const std::string kEnableCommand = std::string("gnome-extensions enable ") + kExtensionUUID;

}  // namespace

// ---- Workspace ----

GnomeWorkspace::GnomeWorkspace(ShellConnection& shell,
                               std::function<bool(const std::string&)> openURL)
    : shell_(shell), openURL_(std::move(openURL)) {
  if (auto app = frontmostApplication()) lastActivePID_ = app->pid;
  stateToken_ = shell_.stateChanged.subscribe([this](const bool&) { onStateChanged(); });
}

void GnomeWorkspace::onStateChanged() {
  auto app = frontmostApplication();
  if (!app) return;  // nothing focused (the overview, a shell menu): the last application stays
  if (lastActivePID_ == app->pid) return;
  lastActivePID_ = app->pid;
  activations_.send(*app);
}

ActivationPolicy GnomeWorkspace::policyOf(ProcessID pid) const {
  bool any = false;
  for (const WindowRecord& w : shell_.state().windows) {
    if (w.pid != pid) continue;
    any = true;
    if ((w.flags & kWindowNormal) && !(w.flags & kWindowSkipTaskbar))
      return ActivationPolicy::regular;
  }
  return any ? ActivationPolicy::accessory : ActivationPolicy::prohibited;
}

std::optional<RunningApplication> GnomeWorkspace::frontmostApplication() const {
  const WindowRecord* focus = shell_.state().focusedWindow();
  if (!focus || focus->pid <= 0) return std::nullopt;
  return applicationOf(*focus, policyOf(focus->pid));
}

std::vector<RunningApplication> GnomeWorkspace::runningApplications() const {
  std::vector<RunningApplication> apps;
  std::set<ProcessID> seen;
  for (const WindowRecord& w : shell_.state().windows) {
    if (w.pid <= 0 || (w.flags & kWindowDesktop) || !seen.insert(w.pid).second) continue;
    apps.push_back(applicationOf(w, policyOf(w.pid)));
  }
  return apps;
}

Cancellable GnomeWorkspace::observeActivations(
    std::function<void(const RunningApplication&)> handler) {
  return activations_.subscribe(std::move(handler));
}

bool GnomeWorkspace::openURL(const std::string& url) {
  return openURL_ && openURL_(url);
}

// ---- Accessibility ----

class GnomeAccessibility::Observer final : public WindowChangeNotifier {
 public:
  Observer(GnomeAccessibility& owner, ProcessID pid, std::function<void(std::string_view)> callback)
      : WindowChangeNotifier(std::move(callback)), owner_(owner), pid_(pid) {
    remember();
    // The owner's subject: it outlives no owner, so `owner_` is valid whenever this runs.
    token_ = owner_.changes_.subscribe([this](const bool&) { onStateChanged(); });
  }

 private:
  void onStateChanged() {
    const auto window = focused_;
    const auto frame = frame_;
    remember();
    if (focused_ != window) {
      // Also when the focused window closed and the application has no other: the tracker must
      // not keep the frame of a window that is gone.
      focusChanged();
      return;
    }
    if (frame && frame_) frameChanged(frame->origin != frame_->origin, frame->size != frame_->size);
  }
  void remember() {
    focused_ = owner_.focusedWindow(pid_);
    frame_ = focused_ ? owner_.frame(*focused_) : std::nullopt;
  }

  GnomeAccessibility& owner_;
  ProcessID pid_;
  std::optional<WindowRef> focused_;
  std::optional<Rect> frame_;
  Cancellable token_;
};

GnomeAccessibility::GnomeAccessibility(ShellConnection& shell, SessionKind session,
                                       std::vector<std::string> extensionDirs)
    : shell_(shell), session_(session), extensionDirs_(std::move(extensionDirs)) {
  stateToken_ = shell_.stateChanged.subscribe([this](const bool&) { onStateChanged(); });
  onStateChanged();
}

GnomeAccessibility::~GnomeAccessibility() = default;

void GnomeAccessibility::onStateChanged() {
  const ShellState& state = shell_.state();
  if (const WindowRecord* focus = state.focusedWindow(); focus && focus->pid > 0)
    lastFocusedByPID_[focus->pid] = focus->id;
  std::erase_if(lastFocusedByPID_, [&](const auto& kv) { return !state.window(kv.second); });
  changes_.send(true);
}

std::optional<WindowRef> GnomeAccessibility::focusedWindow(ProcessID pid) {
  const ShellState& state = shell_.state();
  if (const WindowRecord* focus = state.focusedWindow(); focus && focus->pid == pid)
    return focus->id;
  if (auto it = lastFocusedByPID_.find(pid);
      it != lastFocusedByPID_.end() && state.window(it->second))
    return it->second;
  for (const WindowRecord& w : state.windows) {  // front to back: the topmost first
    if (w.pid == pid && pid > 0) return w.id;
  }
  return std::nullopt;
}

std::optional<Rect> GnomeAccessibility::frame(WindowRef window) const {
  const ShellState& state = shell_.state();
  const WindowRecord* w = state.window(window);
  if (!w) return std::nullopt;
  return StageSpace::of(state.monitors).topLeftRect(*w);
}

std::optional<Point> GnomeAccessibility::windowPosition(WindowRef window) {
  auto r = frame(window);
  if (!r) return std::nullopt;
  return r->origin;
}

std::optional<Size> GnomeAccessibility::windowSize(WindowRef window) {
  auto r = frame(window);
  if (!r) return std::nullopt;
  return r->size;
}

std::unique_ptr<WindowChangeObserver> GnomeAccessibility::createObserver(
    ProcessID pid, std::function<void(std::string_view)> callback) {
  if (pid <= 0 || !callback || !shell_.isReady()) return nullptr;
  return std::make_unique<Observer>(*this, pid, std::move(callback));
}

bool GnomeAccessibility::canReadFocusedApplication() {
  const WindowRecord* focus = shell_.state().focusedWindow();
  return shell_.isReady() && focus && focus->pid > 0;
}

bool GnomeAccessibility::isProcessTrusted(bool prompt) {
  if (shell_.isReady()) return true;
  if (!prompt) return false;
  if (session_ == SessionKind::gnomeWayland &&
      shell_.extensionStatus() == ExtensionStatus::disabled && shell_.enableExtension()) {
    debugLog("[GnomeShell] turned the Dunelo extension on");
    return false;  // it reports itself on the bus shortly; the next refresh sees it
  }
  debugLog("[GnomeShell] " + oneLine(trustHelp()));
  return false;
}

PermissionHelp GnomeAccessibility::trustHelp() {
  if (shell_.isReady()) return {};
  const ExtensionStatus status =
      session_ == SessionKind::gnomeWayland ? shell_.extensionStatus() : ExtensionStatus::noShell;
  return extensionHelp(session_, status, isExtensionInstalled(extensionDirs_, kExtensionUUID),
                       status == ExtensionStatus::failed ? shell_.extensionError() : "");
}

PermissionHelp extensionHelp(SessionKind session, ExtensionStatus status, bool installed,
                             const std::string& error) {
  if (session == SessionKind::otherWayland || status == ExtensionStatus::noShell) {
    return {
        "Dunelo cannot see or arrange the windows of this Wayland desktop. Log in to a GNOME "
        "session, or to an X11 session, to use it.",
        "", ""};
  }
  switch (status) {
    case ExtensionStatus::unknown:
      if (installed) {
        return {
            "GNOME Shell loads the Dunelo extension at login. Log out and back in once, then "
            "turn it on:",
            kEnableCommand, ""};
      }
      return {
          "The Dunelo GNOME Shell extension is not installed. Reinstall Dunelo, log out and "
          "back in, then turn it on:",
          kEnableCommand, ""};
    case ExtensionStatus::disabled:
      return {
          "The Dunelo GNOME Shell extension is turned off. Click Grant next to Accessibility, "
          "or run:",
          kEnableCommand, ""};
    case ExtensionStatus::failed:
      return {"GNOME Shell could not start the Dunelo extension" +
                  (error.empty() ? std::string(".") : ": " + error + ".") +
                  " Reinstall Dunelo and log out and back in.",
              "", ""};
    case ExtensionStatus::outOfDate:
      return {"The Dunelo extension does not support this GNOME Shell version.", "", ""};
    case ExtensionStatus::enabled:
      return {
          "The Dunelo extension is from another Dunelo version. Log out and back in to load "
          "the installed one.",
          "", ""};
    case ExtensionStatus::noShell:
      break;
  }
  return {};
}

std::string oneLine(const PermissionHelp& help) {
  std::string text = help.text + (help.command.empty() ? "" : " " + help.command);
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

bool isExtensionInstalled(const std::vector<std::string>& dirs, const std::string& uuid) {
  struct stat st {};
  return std::any_of(dirs.begin(), dirs.end(), [&](const std::string& dir) {
    return ::stat((dir + "/" + uuid + "/metadata.json").c_str(), &st) == 0;
  });
}

std::vector<std::string> extensionSearchDirs() {
  std::vector<std::string> dirs;
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  if (dataHome && dataHome[0] == '/') {
    dirs.push_back(dataHome);
  } else if (home && home[0] == '/') {
    dirs.push_back(std::string(home) + "/.local/share");
  }
  const char* dataDirs = std::getenv("XDG_DATA_DIRS");
  std::istringstream list(dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share");
  for (std::string dir; std::getline(list, dir, ':');) {
    if (!dir.empty() && dir[0] == '/') dirs.push_back(dir);
  }
  for (auto& d : dirs) d += "/gnome-shell/extensions";
  return dirs;
}

// ---- Window list ----

std::optional<std::vector<WindowListEntry>> GnomeWindowList::onScreenWindows() {
  if (!shell_.isReady()) return std::nullopt;
  const ShellState& state = shell_.state();
  const StageSpace space = StageSpace::of(state.monitors);
  std::vector<WindowListEntry> entries;
  entries.reserve(state.windows.size());
  for (const WindowRecord& w : state.windows) {
    if (w.flags & kWindowDesktop) continue;
    const Rect r = space.topLeftRect(w);
    WindowListEntry e;
    if (w.pid > 0) e.ownerPID = w.pid;
    e.bounds = WindowBounds{r.origin.x, r.origin.y, r.size.width, r.size.height};
    e.windowNumber = static_cast<WindowNumber>(w.id);
    entries.push_back(e);
  }
  return entries;
}

// ---- Displays ----

GnomeDisplays::GnomeDisplays(ShellConnection& shell)
    : shell_(shell), last_(shell.state().monitors) {
  stateToken_ = shell_.stateChanged.subscribe([this](const bool& monitors) {
    if (!monitors || shell_.state().monitors == last_) return;
    last_ = shell_.state().monitors;
    changed_.send(0);
  });
}

Cancellable GnomeDisplays::observeChanges(std::function<void()> handler) {
  return changed_.subscribe([handler = std::move(handler)](const int&) { handler(); });
}

}  // namespace dunelo::gnome
