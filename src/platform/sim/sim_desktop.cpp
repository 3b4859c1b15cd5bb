#include "platform/sim/sim_desktop.h"

#include <algorithm>
#include <cassert>
#include <utility>

namespace dunelo::sim {

// ---- Capability views -------------------------------------------------------------------------
//
// Each view reaches into the one model. Tokens, observers and surfaces hold the desktop weakly:
// a component that outlives the desktop in a test tears down without touching freed memory.

class SimWorkspace final : public Workspace {
 public:
  explicit SimWorkspace(SimDesktop& d) : d_(d) {}

  std::optional<RunningApplication> frontmostApplication() const override {
    if (!d_.frontmost_) return std::nullopt;
    const auto* app = d_.findApp(*d_.frontmost_);
    if (!app) return std::nullopt;
    return app->info;
  }

  std::vector<RunningApplication> runningApplications() const override {
    std::vector<RunningApplication> out;
    out.reserve(d_.apps_.size());
    for (const auto& app : d_.apps_) out.push_back(app.info);
    return out;
  }

  Cancellable observeActivations(std::function<void(const RunningApplication&)> handler) override {
    const uint64_t id = d_.nextRegistration_++;
    d_.activationObservers_.emplace(id, std::move(handler));
    return Cancellable([weak = d_.weakFactory_.getWeakPtr(), id] {
      if (weak) weak->activationObservers_.erase(id);
    });
  }

  bool openURL(const std::string& url) override {
    if (d_.failOpenURL_) return false;
    d_.openedURLs_.push_back(url);
    return true;
  }

 private:
  SimDesktop& d_;
};

class SimWindowChangeObserver final : public WindowChangeObserver {
 public:
  SimWindowChangeObserver(WeakPtr<SimDesktop> desktop, uint64_t id)
      : desktop_(std::move(desktop)), id_(id) {}
  ~SimWindowChangeObserver() override {
    if (desktop_) desktop_->windowObservers_.erase(id_);
  }

  bool addNotification(std::string_view name) override {
    if (!desktop_) return false;
    SimDesktop& d = *desktop_;
    auto it = d.windowObservers_.find(id_);
    if (it == d.windowObservers_.end()) return false;
    const auto* app = d.findApp(it->second.pid);
    // Without trust the desktop refuses every registration, as it refuses every read.
    if (!app || !d.trusted_) return false;
    if (app->unsupportedNotifications.count(std::string(name))) return false;
    it->second.notifications.emplace_back(name);
    return true;
  }

 private:
  WeakPtr<SimDesktop> desktop_;
  uint64_t id_;
};

class SimAccessibility final : public Accessibility {
 public:
  explicit SimAccessibility(SimDesktop& d) : d_(d) {}

  std::optional<WindowRef> focusedWindow(ProcessID pid) override {
    if (!d_.trusted_) return std::nullopt;
    const auto* app = d_.findApp(pid);
    if (!app || app->failFocusedWindowRead || !app->focusedWindow) return std::nullopt;
    return static_cast<WindowRef>(*app->focusedWindow);
  }

  std::optional<Point> windowPosition(WindowRef ref) override {
    const auto* w = readableWindow(ref);
    if (!w || w->failPosition) return std::nullopt;
    return w->accessibilityFrame.value_or(w->frame).origin;
  }

  std::optional<Size> windowSize(WindowRef ref) override {
    const auto* w = readableWindow(ref);
    if (!w || w->failSize) return std::nullopt;
    return w->accessibilityFrame.value_or(w->frame).size;
  }

  std::unique_ptr<WindowChangeObserver> createObserver(
      ProcessID pid, std::function<void(std::string_view)> callback) override {
    const auto* app = d_.findApp(pid);
    if (!app || app->failObserverCreation || d_.failAllObservers_) return nullptr;
    const uint64_t id = d_.nextRegistration_++;
    d_.windowObservers_.emplace(id, SimDesktop::WindowObserver{pid, std::move(callback), {}});
    return std::make_unique<SimWindowChangeObserver>(d_.weakFactory_.getWeakPtr(), id);
  }

  bool canReadFocusedApplication() override {
    return d_.trusted_ && !d_.failSystemWideRead_ && d_.frontmost_.has_value();
  }

  PermissionHelp trustHelp() override {
    return {"Allow Dunelo under Privacy & Security, Accessibility.", "", ""};
  }

  bool isProcessTrusted(bool prompt) override {
    if (prompt && !d_.trusted_) {
      ++d_.trustPrompts_;
      if (d_.grantOnPrompt_) d_.trusted_ = true;
      return false;  // the answer reflects the state before the user acted on the prompt
    }
    return d_.trusted_;
  }

 private:
  // Window elements are readable while the window exists (on screen or not) and trust holds.
  const SimDesktop::Window* readableWindow(WindowRef ref) const {
    if (!d_.trusted_) return nullptr;
    return d_.findWindow(static_cast<WindowNumber>(ref));
  }

  SimDesktop& d_;
};

class SimWindowList final : public WindowList {
 public:
  explicit SimWindowList(SimDesktop& d) : d_(d) {}

  std::optional<std::vector<WindowListEntry>> onScreenWindows() override {
    if (!d_.windowListAvailable_) return std::nullopt;
    std::vector<WindowListEntry> out;
    out.reserve(d_.stack_.size());
    for (WindowNumber n : d_.stack_) {
      Rect frame;
      ProcessID owner = d_.selfPID_;
      std::set<WindowListFault> noFaults;
      const std::set<WindowListFault>* faults = &noFaults;
      if (const auto* w = d_.findWindow(n)) {
        if (w->desktopElement) continue;
        frame = w->frame;
        owner = w->owner;
        faults = &w->faults;
      } else {
        frame = d_.overlayFrameTopLeft(d_.overlays_.at(n));
      }
      auto has = [&](WindowListFault f) { return faults->count(f) != 0; };
      WindowListEntry e;
      if (!has(WindowListFault::ownerPID)) e.ownerPID = owner;
      if (!has(WindowListFault::windowNumber)) e.windowNumber = n;
      if (!has(WindowListFault::bounds)) {
        WindowBounds b;
        if (!has(WindowListFault::x)) b.x = frame.origin.x;
        if (!has(WindowListFault::y)) b.y = frame.origin.y;
        if (!has(WindowListFault::width)) b.width = frame.size.width;
        if (!has(WindowListFault::height)) b.height = frame.size.height;
        e.bounds = b;
      }
      out.push_back(e);
    }
    return out;
  }

  Cancellable observeChanges(std::function<void()> handler) override {
    const uint64_t id = d_.nextRegistration_++;
    d_.windowListObservers_.emplace(id, std::move(handler));
    return Cancellable([weak = d_.weakFactory_.getWeakPtr(), id] {
      if (weak) weak->windowListObservers_.erase(id);
    });
  }

  bool screenCapturePreflight() override { return d_.screenCapturePreflight_; }
  PermissionHelp screenCaptureHelp() override {
    return {"Allow Dunelo under Privacy & Security, Screen Recording.", "",
            kScreenCaptureSettingsURL};
  }

 private:
  SimDesktop& d_;
};

class SimDisplays final : public Displays {
 public:
  explicit SimDisplays(SimDesktop& d) : d_(d) {}

  std::vector<ScreenInfo> screens() const override { return d_.screens_; }

  Cancellable observeChanges(std::function<void()> handler) override {
    const uint64_t id = d_.nextRegistration_++;
    d_.screenObservers_.emplace(id, std::move(handler));
    return Cancellable([weak = d_.weakFactory_.getWeakPtr(), id] {
      if (weak) weak->screenObservers_.erase(id);
    });
  }

 private:
  SimDesktop& d_;
};

class SimOverlaySurface final : public OverlaySurface {
 public:
  SimOverlaySurface(WeakPtr<SimDesktop> desktop, WindowNumber number)
      : desktop_(std::move(desktop)), number_(number) {}
  ~SimOverlaySurface() override {
    if (!desktop_) return;
    desktop_->removeFromStack(number_);
    desktop_->overlays_.erase(number_);
  }

  void orderFront() override {
    if (!record(SurfaceCall::orderFront)) return;
    desktop_->removeFromStack(number_);
    desktop_->insertAtFront(number_);
  }

  void orderOut() override {
    if (!record(SurfaceCall::orderOut)) return;
    desktop_->removeFromStack(number_);
  }

  void orderBelow(WindowNumber window) override {
    auto* o = record(SurfaceCall::orderBelow);
    if (!o) return;
    o->lastOrderedBelow = window;
    SimDesktop& d = *desktop_;
    if (window == number_) return;
    if (std::find(d.stack_.begin(), d.stack_.end(), window) == d.stack_.end()) return;
    d.removeFromStack(number_);
    d.insertBelow(number_, window);
  }

  void setAlpha(double alpha, Animation animation) override {
    if (auto* o = record(SurfaceCall::setAlpha)) o->alpha.set(alpha, animation, desktop_->now());
  }

  void setFrame(const Rect& frame) override {
    if (auto* o = record(SurfaceCall::setFrame)) o->frame = frame;
  }

  void setMaterial(BlurMaterial material) override {
    if (auto* o = record(SurfaceCall::setMaterial)) o->material = material;
  }

  void setTintGeometry(const GradientGeometry& geometry) override {
    if (auto* o = record(SurfaceCall::setTintGeometry)) o->tintGeometry = geometry;
  }

  void setTint(const std::vector<Color>& colors, float opacity, Animation animation) override {
    auto* o = record(SurfaceCall::setTint);
    if (!o) return;
    const double now = desktop_->now();
    o->tintColors.set(colors, animation, now);
    o->tintOpacity.set(opacity, animation, now);
  }

  void setGrayscaleLayer(const Color& color, BlendMode blend) override {
    auto* o = record(SurfaceCall::setGrayscaleLayer);
    if (!o) return;
    o->grayscaleColor = color;
    o->grayscaleBlend = blend;
  }

  void setGrayscaleOpacity(float opacity) override {
    if (auto* o = record(SurfaceCall::setGrayscaleOpacity)) o->grayscaleOpacity = opacity;
  }

  void setGrainLayer(std::shared_ptr<const Bitmap> image, double contentsScale,
                     BlendMode blend) override {
    auto* o = record(SurfaceCall::setGrainLayer);
    if (!o) return;
    o->grainImage = std::move(image);
    o->grainContentsScale = contentsScale;
    o->grainBlend = blend;
  }

  void setGrainOpacity(float opacity) override {
    if (auto* o = record(SurfaceCall::setGrainOpacity)) o->grainOpacity = opacity;
  }

 private:
  // Counts the call and returns the overlay's record; null once the desktop is gone.
  SimDesktop::Overlay* record(SurfaceCall call) {
    if (!desktop_) return nullptr;
    return &desktop_->overlayRecord(number_, call);
  }

  WeakPtr<SimDesktop> desktop_;
  WindowNumber number_;
};

class SimOverlaySurfaceFactory final : public OverlaySurfaceFactory {
 public:
  explicit SimOverlaySurfaceFactory(SimDesktop& d) : d_(d) {}

  std::unique_ptr<OverlaySurface> createSurface(const ScreenInfo& screen) override {
    const WindowNumber n = d_.nextWindowNumber_++;
    SimDesktop::Overlay o;
    o.screen = screen;
    o.frame = screen.frame;
    d_.overlays_.emplace(n, std::move(o));
    ++d_.overlaysCreated_;
    return std::make_unique<SimOverlaySurface>(d_.weakFactory_.getWeakPtr(), n);
  }

 private:
  SimDesktop& d_;
};

class SimHotKeys final : public HotKeys {
 public:
  explicit SimHotKeys(SimDesktop& d) : d_(d) {}

  Cancellable installPressHandler(std::function<int32_t(const HotKeyID&)> handler) override {
    if (d_.failPressHandler_) return {};
    const uint64_t id = d_.nextRegistration_++;
    d_.pressHandlers_.emplace(id, std::move(handler));
    return Cancellable([weak = d_.weakFactory_.getWeakPtr(), id] {
      if (weak) weak->pressHandlers_.erase(id);
    });
  }

  Cancellable registerHotKey(uint32_t keyCode, uint32_t modifiers, HotKeyID hotKeyID) override {
    if (d_.refusedHotKeys_.count({keyCode, modifiers})) return {};
    for (const auto& [id, reg] : d_.hotKeyRegistrations_) {
      if (reg.keyCode == keyCode && reg.modifiers == modifiers) return {};  // already held
    }
    const uint64_t id = d_.nextRegistration_++;
    d_.hotKeyRegistrations_.emplace(id, RegisteredHotKey{keyCode, modifiers, hotKeyID});
    return Cancellable([weak = d_.weakFactory_.getWeakPtr(), id] {
      if (weak) weak->hotKeyRegistrations_.erase(id);
    });
  }

 private:
  SimDesktop& d_;
};

class SimScriptRunner final : public ScriptRunner {
 public:
  explicit SimScriptRunner(SimDesktop& d) : d_(d) {}

  void run(std::string_view source, DockSnapshot snapshot, Completion done) override {
    d_.scheduler().post([this, weak = d_.weakFactory_.getWeakPtr(), source = std::string(source),
                         snapshot = std::move(snapshot), done = std::move(done)]() mutable {
      if (!weak) return;
      done(outcome(std::move(source), std::move(snapshot)));
    });
  }

  ScriptOutcome restoreBeforeExit(const DockSnapshot& snapshot, double) override {
    return outcome(SimDesktop::kRestoredBeforeExit, snapshot).value_or(ScriptOutcome{});
  }

 private:
  std::optional<ScriptOutcome> outcome(std::string source, DockSnapshot snapshot) {
    if (d_.failScriptCreation_) return std::nullopt;
    d_.scriptsRun_.push_back(std::move(source));
    d_.scriptSnapshots_.push_back(std::move(snapshot));
    ScriptOutcome outcome;
    if (d_.scriptFailure_) {
      std::map<std::string, std::string> error;
      if (*d_.scriptFailure_) error[kScriptErrorMessageKey] = **d_.scriptFailure_;
      outcome.error = std::move(error);
      return outcome;
    }
    outcome.snapshot = d_.dockSnapshot_;
    return outcome;
  }

  SimDesktop& d_;
};

class SimUpdater final : public Updater {
 public:
  explicit SimUpdater(SimDesktop& d) : d_(d) {}
  void start() override { ++d_.updaterStarts_; }
  void checkForUpdates() override { ++d_.updateChecks_; }

 private:
  SimDesktop& d_;
};

class SimLoginItems final : public LoginItems {
 public:
  explicit SimLoginItems(SimDesktop& d) : d_(d) {}

  bool registerApp() override { return change(LoginItemCall::registerApp, true); }
  bool unregisterApp() override { return change(LoginItemCall::unregisterApp, false); }

 private:
  bool change(LoginItemCall call, bool registered) {
    d_.loginItemCalls_.push_back(call);
    if (d_.failLoginItems_) return false;
    d_.loginItemRegistered_ = registered;
    return true;
  }

  SimDesktop& d_;
};

class SimApplicationAliases final : public ApplicationAliases {
 public:
  explicit SimApplicationAliases(SimDesktop& d) : d_(d) {}
  std::optional<std::string> resolve(const std::string& storedID) override {
    auto it = d_.aliasMap_.find(storedID);
    if (it == d_.aliasMap_.end()) return std::nullopt;
    return it->second;
  }

 private:
  SimDesktop& d_;
};

// ---- The model ---------------------------------------------------------------------------------

SimDesktop::SimDesktop(ProcessID selfPID)
    : ownedScheduler_(std::make_unique<VirtualScheduler>()),
      scheduler_(ownedScheduler_.get()),
      selfPID_(selfPID) {
  init();
}

SimDesktop::SimDesktop(VirtualScheduler& scheduler, ProcessID selfPID)
    : scheduler_(&scheduler), selfPID_(selfPID) {
  init();
}

SimDesktop::~SimDesktop() = default;

void SimDesktop::init() {
  workspace_ = std::make_unique<SimWorkspace>(*this);
  accessibility_ = std::make_unique<SimAccessibility>(*this);
  windowList_ = std::make_unique<SimWindowList>(*this);
  displays_ = std::make_unique<SimDisplays>(*this);
  overlaySurfaces_ = std::make_unique<SimOverlaySurfaceFactory>(*this);
  hotKeys_ = std::make_unique<SimHotKeys>(*this);
  scriptRunner_ = std::make_unique<SimScriptRunner>(*this);
  updater_ = std::make_unique<SimUpdater>(*this);
  loginItems_ = std::make_unique<SimLoginItems>(*this);
  aliases_ = std::make_unique<SimApplicationAliases>(*this);
  mouseMonitors_ = std::make_unique<SimMouseMonitors>();
  // Dunelo itself runs on the desktop: an accessory application (no taskbar entry).
  apps_.push_back(
      App{RunningApplication{selfPID_, kSelfBundleID, "Dunelo", ActivationPolicy::accessory},
          std::nullopt,
          false,
          false,
          {}});
}

// ---- Screens

void SimDesktop::addScreen(const ScreenInfo& screen) {
  screens_.push_back(screen);
  postScreenChange();
}

void SimDesktop::removeScreen(size_t index) {
  assert(index < screens_.size() && "no such screen");
  screens_.erase(screens_.begin() + static_cast<std::ptrdiff_t>(index));
  postScreenChange();
}

void SimDesktop::reconfigureScreen(size_t index, const ScreenInfo& screen) {
  assert(index < screens_.size() && "no such screen");
  screens_[index] = screen;
  postScreenChange();
}

void SimDesktop::setScreens(std::vector<ScreenInfo> screens) {
  screens_ = std::move(screens);
  postScreenChange();
}

void SimDesktop::postScreenChange() {
  post(&SimDesktop::screenObservers_);
  postWindowListChange();
}

void SimDesktop::postWindowListChange() {
  post(&SimDesktop::windowListObservers_);
}

void SimDesktop::post(Observers SimDesktop::*observers) {
  // One posted task per registration, each re-checking that its registration still exists.
  for (const auto& [id, handler] : this->*observers) {
    scheduler_->post([weak = weakFactory_.getWeakPtr(), observers, id = id] {
      if (!weak) return;
      auto it = ((*weak).*observers).find(id);
      if (it == ((*weak).*observers).end()) return;
      auto handler = it->second;  // the handler may cancel its own registration
      handler();
    });
  }
}

// ---- Applications

ProcessID SimDesktop::launchApp(std::optional<std::string> bundleID, std::string localizedName,
                                ActivationPolicy policy) {
  while (findApp(nextPID_)) ++nextPID_;
  return launchApp(
      RunningApplication{nextPID_++, std::move(bundleID), std::move(localizedName), policy});
}

ProcessID SimDesktop::launchApp(const RunningApplication& app) {
  assert(!findApp(app.pid) && "process id already in use");
  apps_.push_back(App{app, std::nullopt, false, false, {}});
  return app.pid;
}

void SimDesktop::quitApp(ProcessID pid) {
  assert(pid != selfPID_ && "Dunelo's own process does not quit on the desktop");
  std::vector<WindowNumber> owned;
  for (const auto& [n, w] : windows_) {
    if (w.owner == pid) owned.push_back(n);
  }
  for (WindowNumber n : owned) {
    removeFromStack(n);
    windows_.erase(n);
  }
  std::erase_if(windowObservers_, [pid](const auto& entry) { return entry.second.pid == pid; });
  std::erase_if(apps_, [pid](const App& a) { return a.info.pid == pid; });
  if (frontmost_ == pid) frontmost_.reset();
  postWindowListChange();
}

void SimDesktop::activate(ProcessID pid) {
  const App* app = findApp(pid);
  assert(app && "activating an application that is not running");
  if (!app || frontmost_ == pid) return;
  frontmost_ = pid;
  // Raise the application's windows as a block, keeping their relative order.
  std::vector<WindowNumber> mine;
  for (WindowNumber n : stack_) {
    const Window* w = findWindow(n);
    const bool owned = w ? (w->owner == pid && !w->desktopElement) : pid == selfPID_;
    if (owned) mine.push_back(n);
  }
  for (WindowNumber n : mine) removeFromStack(n);
  stack_.insert(stack_.begin(), mine.begin(), mine.end());
  postWindowListChange();
  for (const auto& [id, handler] : activationObservers_) {
    scheduler_->post([weak = weakFactory_.getWeakPtr(), id = id, info = app->info] {
      if (!weak) return;
      auto it = weak->activationObservers_.find(id);
      if (it == weak->activationObservers_.end()) return;
      auto handler = it->second;
      handler(info);
    });
  }
}

void SimDesktop::clearFrontmost() {
  frontmost_.reset();
  postWindowListChange();
}

// ---- Windows

WindowNumber SimDesktop::openWindow(ProcessID pid, const Rect& frame, WindowOptions options) {
  App* app = findApp(pid);
  assert(app && "opening a window for an application that is not running");
  const WindowNumber n = nextWindowNumber_++;
  windows_.emplace(
      n, Window{n, pid, frame, true, options.desktopElement, false, false, {}, std::nullopt});
  postWindowListChange();
  if (options.desktopElement) {
    stack_.push_back(n);
    return n;
  }
  insertAtFront(n);
  if (options.focus && app) {
    app->focusedWindow = n;
    postFocusNotifications(pid);
  }
  return n;
}

void SimDesktop::closeWindow(WindowNumber window) {
  Window* w = findWindow(window);
  assert(w && "closing a window that does not exist");
  if (!w) return;
  const ProcessID owner = w->owner;
  removeFromStack(window);
  windows_.erase(window);
  moveFocusAwayFrom(owner, window);
  postWindowListChange();
}

void SimDesktop::moveFocusAwayFrom(ProcessID owner, WindowNumber window) {
  App* app = findApp(owner);
  if (!app || app->focusedWindow != window) return;
  app->focusedWindow.reset();
  for (WindowNumber n : stack_) {
    const Window* other = findWindow(n);
    if (other && other->owner == owner && !other->desktopElement) {
      app->focusedWindow = n;
      break;
    }
  }
  postFocusNotifications(owner);
}

void SimDesktop::setWindowOnScreen(WindowNumber window, bool onScreen) {
  Window* w = findWindow(window);
  assert(w && "no such window");
  if (!w || w->onScreen == onScreen) return;
  w->onScreen = onScreen;
  removeFromStack(window);
  postWindowListChange();
  if (!onScreen) {
    moveFocusAwayFrom(w->owner, window);
    return;
  }
  if (w->desktopElement) {
    stack_.push_back(window);
  } else {
    insertAtFront(window);
  }
}

void SimDesktop::moveWindow(WindowNumber window, Point topLeft) {
  Window* w = findWindow(window);
  assert(w && "no such window");
  if (!w) return;
  w->frame.origin = topLeft;
  postWindowListChange();
  postWindowNotification(w->owner, std::string(kWindowMoved));
}

void SimDesktop::resizeWindow(WindowNumber window, Size size) {
  Window* w = findWindow(window);
  assert(w && "no such window");
  if (!w) return;
  w->frame.size = size;
  postWindowListChange();
  postWindowNotification(w->owner, std::string(kWindowResized));
}

void SimDesktop::setWindowFrame(WindowNumber window, const Rect& frame) {
  Window* w = findWindow(window);
  assert(w && "no such window");
  if (!w) return;
  if (w->frame.origin != frame.origin) moveWindow(window, frame.origin);
  if (w->frame.size != frame.size) resizeWindow(window, frame.size);
}

void SimDesktop::focusWindow(WindowNumber window) {
  Window* w = findWindow(window);
  assert(w && "no such window");
  if (!w) return;
  App* app = findApp(w->owner);
  if (!app) return;
  app->focusedWindow = window;
  if (!w->desktopElement) {
    w->onScreen = true;
    removeFromStack(window);
    insertAtFront(window);
  }
  postFocusNotifications(w->owner);
}

void SimDesktop::clickWindow(WindowNumber window) {
  const Window* w = findWindow(window);
  assert(w && "no such window");
  if (!w) return;
  const ProcessID owner = w->owner;
  activate(owner);
  focusWindow(window);
}

void SimDesktop::clearFocusedWindow(ProcessID pid) {
  App* app = findApp(pid);
  assert(app && "no such application");
  if (!app) return;
  app->focusedWindow.reset();
  postFocusNotifications(pid);
}

void SimDesktop::raiseWindow(WindowNumber window) {
  Window* w = findWindow(window);
  assert(w && "no such window");
  if (!w || !w->onScreen || w->desktopElement) return;
  removeFromStack(window);
  postWindowListChange();
  insertAtFront(window);
}

void SimDesktop::lowerWindow(WindowNumber window) {
  Window* w = findWindow(window);
  assert(w && "no such window");
  if (!w || !w->onScreen || w->desktopElement) return;
  removeFromStack(window);
  postWindowListChange();
  stack_.insert(stack_.begin() + static_cast<std::ptrdiff_t>(firstDesktopElementIndex()), window);
}

std::optional<WindowNumber> SimDesktop::focusedWindowOf(ProcessID pid) const {
  const App* app = findApp(pid);
  if (!app) return std::nullopt;
  return app->focusedWindow;
}

std::optional<Rect> SimDesktop::windowFrame(WindowNumber window) const {
  if (const Window* w = findWindow(window)) return w->frame;
  auto it = overlays_.find(window);
  if (it != overlays_.end()) return overlayFrameTopLeft(it->second);
  return std::nullopt;
}

void SimDesktop::postFocusNotifications(ProcessID pid) {
  postWindowListChange();
  postWindowNotification(pid, std::string(kFocusedWindowChanged));
  postWindowNotification(pid, std::string(kMainWindowChanged));
}

void SimDesktop::postWindowNotification(ProcessID pid, const std::string& name) {
  for (const auto& [id, observer] : windowObservers_) {
    if (observer.pid != pid) continue;
    const auto& added = observer.notifications;
    if (std::find(added.begin(), added.end(), name) == added.end()) continue;
    scheduler_->post([weak = weakFactory_.getWeakPtr(), id = id, name] {
      if (!weak) return;
      auto it = weak->windowObservers_.find(id);
      if (it == weak->windowObservers_.end()) return;
      auto callback = it->second.callback;  // the callback may destroy its observer
      callback(name);
    });
  }
}

// ---- Permissions and faults

void SimDesktop::setAccessibilityTrusted(bool trusted) {
  trusted_ = trusted;
}
void SimDesktop::setScreenCapturePreflight(bool allowed) {
  screenCapturePreflight_ = allowed;
}

void SimDesktop::setApplicationAlias(const std::string& storedID, std::optional<std::string> id) {
  if (id) {
    aliasMap_[storedID] = std::move(*id);
  } else {
    aliasMap_.erase(storedID);
  }
}

void SimDesktop::failFocusedWindowRead(ProcessID pid, bool fail) {
  App* app = findApp(pid);
  assert(app && "no such application");
  if (app) app->failFocusedWindowRead = fail;
}

void SimDesktop::failPositionRead(WindowNumber window, bool fail) {
  Window* w = findWindow(window);
  assert(w && "no such window");
  if (w) w->failPosition = fail;
}

void SimDesktop::failSizeRead(WindowNumber window, bool fail) {
  Window* w = findWindow(window);
  assert(w && "no such window");
  if (w) w->failSize = fail;
}

void SimDesktop::setAccessibilityFrame(WindowNumber window, std::optional<Rect> frame) {
  Window* w = findWindow(window);
  assert(w && "no such window");
  if (w) w->accessibilityFrame = frame;
}

void SimDesktop::failObserverCreation(ProcessID pid, bool fail) {
  App* app = findApp(pid);
  assert(app && "no such application");
  if (app) app->failObserverCreation = fail;
}

void SimDesktop::failNotification(ProcessID pid, std::string name, bool fail) {
  App* app = findApp(pid);
  assert(app && "no such application");
  if (!app) return;
  if (fail) {
    app->unsupportedNotifications.insert(std::move(name));
  } else {
    app->unsupportedNotifications.erase(name);
  }
}

void SimDesktop::setWindowListFaults(WindowNumber window, std::set<WindowListFault> faults) {
  Window* w = findWindow(window);
  assert(w && "no such window");
  if (w) w->faults = std::move(faults);
}

void SimDesktop::refuseHotKey(uint32_t keyCode, uint32_t modifiers, bool refuse) {
  if (refuse) {
    refusedHotKeys_.insert({keyCode, modifiers});
  } else {
    refusedHotKeys_.erase({keyCode, modifiers});
  }
}

void SimDesktop::failScripts(std::optional<std::string> message) {
  scriptFailure_ = std::move(message);
}

// ---- Hot keys

std::optional<int32_t> SimDesktop::pressHotKey(uint32_t keyCode, uint32_t modifiers) {
  std::optional<HotKeyID> id;
  for (const auto& [token, reg] : hotKeyRegistrations_) {
    if (reg.keyCode == keyCode && reg.modifiers == modifiers) id = reg.id;
  }
  if (!id || pressHandlers_.empty()) return std::nullopt;
  // Newest handler first; a handler that does not handle the press passes it on.
  std::vector<uint64_t> order;
  for (auto it = pressHandlers_.rbegin(); it != pressHandlers_.rend(); ++it) {
    order.push_back(it->first);
  }
  int32_t status = HotKeys::kNotHandled;
  for (uint64_t token : order) {
    auto it = pressHandlers_.find(token);
    if (it == pressHandlers_.end()) continue;  // removed by an earlier handler
    auto handler = it->second;
    status = handler(*id);
    if (status == HotKeys::kHandled) break;
  }
  hotKeyStatuses_.push_back(status);
  return status;
}

std::vector<RegisteredHotKey> SimDesktop::registeredHotKeys() const {
  std::vector<RegisteredHotKey> out;
  for (const auto& [token, reg] : hotKeyRegistrations_) out.push_back(reg);
  return out;
}

// ---- Registrations

size_t SimDesktop::windowObserverCount(ProcessID pid) const {
  return static_cast<size_t>(std::count_if(windowObservers_.begin(), windowObservers_.end(),
                                           [pid](const auto& e) { return e.second.pid == pid; }));
}

std::vector<std::string> SimDesktop::observedNotifications(ProcessID pid) const {
  std::vector<std::string> out;
  for (const auto& [id, observer] : windowObservers_) {
    if (observer.pid != pid) continue;
    out.insert(out.end(), observer.notifications.begin(), observer.notifications.end());
  }
  return out;
}

// ---- Stacking and overlays

std::optional<WindowNumber> SimDesktop::windowAbove(WindowNumber window) const {
  auto it = std::find(stack_.begin(), stack_.end(), window);
  if (it == stack_.end() || it == stack_.begin()) return std::nullopt;
  return *(it - 1);
}

std::optional<WindowNumber> SimDesktop::directlyBelow(WindowNumber overlay) const {
  auto it = std::find(stack_.begin(), stack_.end(), overlay);
  if (it == stack_.end()) return std::nullopt;
  while (it != stack_.begin()) {
    --it;
    if (!isOverlay(*it)) return *it;
  }
  return std::nullopt;
}

std::vector<WindowNumber> SimDesktop::overlays() const {
  std::vector<WindowNumber> out;
  for (const auto& [n, o] : overlays_) out.push_back(n);  // numbers grow with creation
  return out;
}

std::optional<OverlaySnapshot> SimDesktop::overlay(WindowNumber overlay) const {
  auto it = overlays_.find(overlay);
  if (it == overlays_.end()) return std::nullopt;
  const Overlay& o = it->second;
  const double t = now();
  OverlaySnapshot s;
  s.windowNumber = overlay;
  s.screen = o.screen;
  s.frame = o.frame;
  s.onScreen = std::find(stack_.begin(), stack_.end(), overlay) != stack_.end();
  s.alpha = o.alpha.value(t);
  s.targetAlpha = o.alpha.target();
  s.alphaAnimation = o.alpha.transition().animation;
  s.material = o.material;
  s.tintGeometry = o.tintGeometry;
  s.tintColors = o.tintColors.value(t);
  s.targetTintColors = o.tintColors.target();
  s.tintOpacity = o.tintOpacity.value(t);
  s.targetTintOpacity = o.tintOpacity.target();
  s.tintAnimation = o.tintOpacity.transition().animation;
  s.grayscaleColor = o.grayscaleColor;
  s.grayscaleBlend = o.grayscaleBlend;
  s.grayscaleOpacity = o.grayscaleOpacity;
  s.grainImage = o.grainImage;
  s.grainContentsScale = o.grainContentsScale;
  s.grainBlend = o.grainBlend;
  s.grainOpacity = o.grainOpacity;
  s.lastOrderedBelow = o.lastOrderedBelow;
  return s;
}

int SimDesktop::callCount(WindowNumber overlay, SurfaceCall call) const {
  auto it = overlays_.find(overlay);
  if (it == overlays_.end()) return 0;
  auto c = it->second.calls.find(call);
  return c == it->second.calls.end() ? 0 : c->second;
}

SimDesktop::Overlay& SimDesktop::overlayRecord(WindowNumber window, SurfaceCall call) {
  Overlay& o = overlays_.at(window);
  ++o.calls[call];
  return o;
}

Rect SimDesktop::overlayFrameTopLeft(const Overlay& overlay) const {
  // Flip about the primary screen (the first in the list), whose top edge is y = 0 there.
  const double primaryHeight = screens_.empty() ? 0 : screens_.front().frame.size.height;
  const Rect& f = overlay.frame;
  return Rect(f.origin.x, primaryHeight - (f.origin.y + f.size.height), f.size.width,
              f.size.height);
}

// ---- Stack helpers

void SimDesktop::removeFromStack(WindowNumber window) {
  std::erase(stack_, window);
}

void SimDesktop::insertAtFront(WindowNumber window) {
  stack_.insert(stack_.begin(), window);
}

void SimDesktop::insertBelow(WindowNumber window, WindowNumber above) {
  auto it = std::find(stack_.begin(), stack_.end(), above);
  assert(it != stack_.end() && "ordering below a window that is not on screen");
  stack_.insert(it + 1, window);
}

size_t SimDesktop::firstDesktopElementIndex() const {
  for (size_t i = 0; i < stack_.size(); ++i) {
    const Window* w = findWindow(stack_[i]);
    if (w && w->desktopElement) return i;
  }
  return stack_.size();
}

SimDesktop::Window* SimDesktop::findWindow(WindowNumber window) {
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : &it->second;
}

const SimDesktop::Window* SimDesktop::findWindow(WindowNumber window) const {
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : &it->second;
}

SimDesktop::App* SimDesktop::findApp(ProcessID pid) {
  auto it =
      std::find_if(apps_.begin(), apps_.end(), [pid](const App& a) { return a.info.pid == pid; });
  return it == apps_.end() ? nullptr : &*it;
}

const SimDesktop::App* SimDesktop::findApp(ProcessID pid) const {
  auto it =
      std::find_if(apps_.begin(), apps_.end(), [pid](const App& a) { return a.info.pid == pid; });
  return it == apps_.end() ? nullptr : &*it;
}

}  // namespace dunelo::sim
