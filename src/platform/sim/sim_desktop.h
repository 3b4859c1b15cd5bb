// An in-memory desktop on a virtual clock, so that every component can be tested against the
// same platform behaviour without a display server.
//
// One model holds the applications, their windows, a single front-to-back stacking order (which
// also holds Dunelo's overlay windows, so ordering an overlay below a window really moves it in
// the stack), the screens, the permissions and the faults a test wants to inject. Each platform
// capability is a view of that model (`desktop.workspace()`, `desktop.accessibility()`, ...).
//
// Tests drive it like a user and the system would (launch and activate applications, open, move,
// focus and close windows, plug screens in, grant permissions, press hot keys) and inspect what
// Dunelo did (where its overlays sit in the stack, their alpha and layers at the current virtual
// instant, scripts run, URLs opened).
//
// Notifications (application activation, window changes, screen changes) are delivered the way
// the desktop delivers them: posted to the main queue, so they run on the next `runUntilIdle()` or
// `advance()`, and only if their registration still exists at that moment. Hot-key presses are
// delivered synchronously by `pressHotKey`, as the test is the main thread's event loop.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/bitmap.h"
#include "core/cancellable.h"
#include "core/color.h"
#include "core/geometry.h"
#include "core/weak_ptr.h"
#include "platform/accessibility.h"
#include "platform/application_aliases.h"
#include "platform/displays.h"
#include "platform/hot_keys.h"
#include "platform/login_items.h"
#include "platform/overlay_surface.h"
#include "platform/script_runner.h"
#include "platform/sim/animated_value.h"
#include "platform/sim/sim_mouse_monitors.h"
#include "platform/sim/virtual_scheduler.h"
#include "platform/updater.h"
#include "platform/window_list.h"
#include "platform/workspace.h"

namespace dunelo::sim {

// Dunelo's own process on the simulated desktop unless a test picks another.
inline constexpr ProcessID kDefaultSelfPID = 4242;
inline constexpr const char* kSelfBundleID = "app.dunelo.Dunelo";
// The settings page the simulated desktop offers for granting screen capture.
inline constexpr const char* kScreenCaptureSettingsURL =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture";

// How a window opens.
struct WindowOptions {
  // Becomes its application's focused window (notifying that application's observers).
  bool focus = true;
  // A desktop element (the wallpaper, desktop icons): always at the back of the stack and left
  // out of the window list.
  bool desktopElement = false;
};

// A field of a window-list entry that a test makes missing or unreadable.
enum class WindowListFault {
  ownerPID,
  bounds,  // the whole bounds record
  x,
  y,
  width,
  height,
  windowNumber,
};

// Every operation an overlay surface offers, for call counting.
enum class SurfaceCall {
  orderFront,
  orderOut,
  orderBelow,
  setAlpha,
  setFrame,
  setMaterial,
  setTintGeometry,
  setTint,
  setGrayscaleLayer,
  setGrayscaleOpacity,
  setGrainLayer,
  setGrainOpacity,
};

// What an overlay surface looks like at one virtual instant.
struct OverlaySnapshot {
  WindowNumber windowNumber = 0;
  ScreenInfo screen;  // the screen it was created for
  Rect frame;         // bottom-left-origin space
  bool onScreen = false;

  double alpha = 1.0;        // at the current instant (mid-animation values included)
  double targetAlpha = 1.0;  // where the latest alpha change is going
  Animation alphaAnimation = Animation::none();  // of the latest alpha change

  std::optional<BlurMaterial> material;  // none until set

  std::optional<GradientGeometry> tintGeometry;  // none until set
  std::vector<Color> tintColors;                 // at the current instant
  std::vector<Color> targetTintColors;
  double tintOpacity = 0;  // at the current instant
  double targetTintOpacity = 0;
  Animation tintAnimation = Animation::none();  // of the latest tint change

  std::optional<Color> grayscaleColor;
  BlendMode grayscaleBlend = BlendMode::normal;
  float grayscaleOpacity = 0;

  std::shared_ptr<const Bitmap> grainImage;
  double grainContentsScale = 1.0;
  BlendMode grainBlend = BlendMode::normal;
  float grainOpacity = 0;

  std::optional<WindowNumber> lastOrderedBelow;  // argument of the latest orderBelow
};

// One login-item call, in order.
enum class LoginItemCall { registerApp, unregisterApp };

// One registered hot key.
struct RegisteredHotKey {
  uint32_t keyCode = 0;
  uint32_t modifiers = 0;
  HotKeyID id;
  friend bool operator==(const RegisteredHotKey&, const RegisteredHotKey&) = default;
};

class SimDesktop {
 public:
  // Owns its own virtual clock.
  explicit SimDesktop(ProcessID selfPID = kDefaultSelfPID);
  // Runs on a clock the test owns (which must outlive the desktop).
  explicit SimDesktop(VirtualScheduler& scheduler, ProcessID selfPID = kDefaultSelfPID);
  ~SimDesktop();
  SimDesktop(const SimDesktop&) = delete;
  SimDesktop& operator=(const SimDesktop&) = delete;

  // ---- The capabilities, as the components take them ----
  VirtualScheduler& scheduler() { return *scheduler_; }
  Workspace& workspace() { return *workspace_; }
  Accessibility& accessibility() { return *accessibility_; }
  WindowList& windowList() { return *windowList_; }
  Displays& displays() { return *displays_; }
  OverlaySurfaceFactory& overlaySurfaces() { return *overlaySurfaces_; }
  HotKeys& hotKeys() { return *hotKeys_; }
  ScriptRunner& scriptRunner() { return *scriptRunner_; }
  Updater& updater() { return *updater_; }
  LoginItems& loginItems() { return *loginItems_; }
  ApplicationAliases& applicationAliases() { return *aliases_; }
  // Also the driver of pointer movement (moveOverOtherApp, moveOverOwnWindow, ...).
  SimMouseMonitors& mouseMonitors() { return *mouseMonitors_; }
  ProcessID selfPID() const { return selfPID_; }

  // ---- Clock ----
  void advance(double seconds) { scheduler_->advance(seconds); }
  void runUntilIdle() { scheduler_->runUntilIdle(); }
  double now() const { return scheduler_->uptime(); }

  // ---- Screens (each change posts one screen-change notification) ----
  void addScreen(const ScreenInfo& screen);
  void removeScreen(size_t index);
  void reconfigureScreen(size_t index, const ScreenInfo& screen);
  void setScreens(std::vector<ScreenInfo> screens);
  const std::vector<ScreenInfo>& screens() const { return screens_; }

  // ---- Applications ----
  // Starts an application with the next free process id; it is not activated.
  ProcessID launchApp(std::optional<std::string> bundleID, std::string localizedName = "",
                      ActivationPolicy policy = ActivationPolicy::regular);
  // Starts an application with the given process id (which must be free).
  ProcessID launchApp(const RunningApplication& app);
  // Ends an application: its windows close and its observers stop receiving. When it was
  // frontmost, no application is frontmost afterwards.
  void quitApp(ProcessID pid);
  // Makes the application frontmost, raises its on-screen windows (keeping their order) above
  // all others, and posts the activation notification. Activating the frontmost application again
  // changes nothing and notifies nobody.
  void activate(ProcessID pid);
  // No application is frontmost (as between the quit of one and the activation of another).
  void clearFrontmost();
  std::optional<ProcessID> frontmostPID() const { return frontmost_; }

  // ---- Windows (application windows; frames in the top-left-origin space) ----
  // Opens an on-screen window at the front of the stack.
  WindowNumber openWindow(ProcessID pid, const Rect& frame, WindowOptions options = {});
  // Removes the window. If it was its application's focused window, the application's frontmost
  // remaining on-screen window (if any) becomes focused and the focus notifications are posted.
  void closeWindow(WindowNumber window);
  // Takes the window off screen (minimised, hidden) or puts it back at the front. A focused
  // window taken off screen passes the focus on as closing does.
  void setWindowOnScreen(WindowNumber window, bool onScreen);
  void moveWindow(WindowNumber window, Point topLeft);          // posts "AXMoved"
  void resizeWindow(WindowNumber window, Size size);            // posts "AXResized"
  void setWindowFrame(WindowNumber window, const Rect& frame);  // both, when each changed
  // Makes the window its application's focused window and raises it to the front; posts
  // "AXFocusedWindowChanged" then "AXMainWindowChanged". Does not change the frontmost app.
  void focusWindow(WindowNumber window);
  // The user clicks the window: its application is activated (if it was not frontmost) and the
  // window is focused and raised.
  void clickWindow(WindowNumber window);
  // The application has no focused window any more (posts the two focus notifications).
  void clearFocusedWindow(ProcessID pid);
  // Stacking only; no accessibility notification (the window list reports it).
  void raiseWindow(WindowNumber window);
  void lowerWindow(WindowNumber window);  // to the back, in front of desktop elements
  std::optional<WindowNumber> focusedWindowOf(ProcessID pid) const;
  std::optional<Rect> windowFrame(WindowNumber window) const;  // top-left space; overlays too

  // ---- Permissions ----
  void setAccessibilityTrusted(bool trusted);
  void setScreenCapturePreflight(bool allowed);
  bool accessibilityTrusted() const { return trusted_; }
  // With `grant`, a trust query with prompt grants the permission (the user clicked "allow").
  void setGrantOnTrustPrompt(bool grant) { grantOnPrompt_ = grant; }
  int trustPromptCount() const { return trustPrompts_; }

  // ---- Application aliases ----
  // The stored identity `storedID` stands for the application `id` here (none: for itself).
  void setApplicationAlias(const std::string& storedID, std::optional<std::string> id);

  // ---- Failure injection ----
  void failFocusedWindowRead(ProcessID pid, bool fail = true);
  void failPositionRead(WindowNumber window, bool fail = true);
  void failSizeRead(WindowNumber window, bool fail = true);
  // Accessibility reports `frame` (top-left space) for the window instead of its real frame, as
  // applications whose idea of their frame differs slightly from the window server's do; none
  // goes back to the real frame. The window list keeps the real bounds.
  void setAccessibilityFrame(WindowNumber window, std::optional<Rect> frame);
  void failObserverCreation(ProcessID pid, bool fail = true);
  void failAllObserverCreation(bool fail = true) { failAllObservers_ = fail; }
  // The application does not support this notification: adding it answers false.
  void failNotification(ProcessID pid, std::string name, bool fail = true);
  // Reading the focused application fails even when it would work.
  void failSystemWideFocusRead(bool fail = true) { failSystemWideRead_ = fail; }
  void setWindowListAvailable(bool available) { windowListAvailable_ = available; }
  // Makes the given fields of the window's list entry missing; an empty list clears them.
  void setWindowListFaults(WindowNumber window, std::set<WindowListFault> faults);
  void refuseHotKey(uint32_t keyCode, uint32_t modifiers, bool refuse = true);
  void failPressHandlerInstall(bool fail = true) { failPressHandler_ = fail; }
  // Scripts fail; with a message, the error record carries it under kScriptErrorMessageKey.
  void failScripts(std::optional<std::string> message);
  void failScriptCreation(bool fail = true) { failScriptCreation_ = fail; }
  void succeedScripts() { scriptFailure_.reset(); }
  // What every script reports as the dock's own settings (the read script's result).
  void setDockSnapshot(DockSnapshot snapshot) { dockSnapshot_ = std::move(snapshot); }
  void failOpenURL(bool fail = true) { failOpenURL_ = fail; }
  void failLoginItems(bool fail = true) { failLoginItems_ = fail; }

  // ---- Hot keys ----
  // Delivers one press of the combination to the installed press handlers, newest first, until
  // one answers kHandled. None when the combination is not registered or no handler is installed.
  std::optional<int32_t> pressHotKey(uint32_t keyCode, uint32_t modifiers);
  std::vector<RegisteredHotKey> registeredHotKeys() const;
  size_t pressHandlerCount() const { return pressHandlers_.size(); }
  const std::vector<int32_t>& hotKeyStatuses() const { return hotKeyStatuses_; }

  // ---- Records of what Dunelo asked for ----
  // Scripts in the order they completed (they complete on the next turn of the scheduler);
  // kRestoredBeforeExit stands for ScriptRunner::restoreBeforeExit.
  static constexpr const char* kRestoredBeforeExit = "(restore before exit)";
  const std::vector<std::string>& scriptsRun() const { return scriptsRun_; }
  // The snapshot each of those scripts was given.
  const std::vector<DockSnapshot>& scriptSnapshots() const { return scriptSnapshots_; }
  const std::vector<std::string>& openedURLs() const { return openedURLs_; }
  const std::vector<LoginItemCall>& loginItemCalls() const { return loginItemCalls_; }
  bool isLoginItemRegistered() const { return loginItemRegistered_; }
  int updaterStartCount() const { return updaterStarts_; }
  int updateCheckCount() const { return updateChecks_; }

  // ---- Registrations ----
  size_t activationObserverCount() const { return activationObservers_.size(); }
  size_t screenObserverCount() const { return screenObservers_.size(); }
  size_t windowListObserverCount() const { return windowListObservers_.size(); }
  // Live window-change observers of an application, and the notifications they added (in order).
  size_t windowObserverCount(ProcessID pid) const;
  std::vector<std::string> observedNotifications(ProcessID pid) const;

  // ---- Stacking and overlays ----
  // On-screen windows, front to back, overlays and desktop elements included.
  std::vector<WindowNumber> stackingOrder() const { return stack_; }
  bool isOverlay(WindowNumber window) const { return overlays_.count(window) != 0; }
  // The window directly above `window` in the stack; none when it is frontmost or off screen.
  std::optional<WindowNumber> windowAbove(WindowNumber window) const;
  // The nearest window above the overlay that is not another overlay: the window the overlay
  // sits directly below (overlays of other screens between them do not count, as they do not
  // overlap). None when nothing but overlays is above it, or it is off screen.
  std::optional<WindowNumber> directlyBelow(WindowNumber overlay) const;
  // Live overlay surfaces, in creation order.
  std::vector<WindowNumber> overlays() const;
  size_t overlayCount() const { return overlays_.size(); }
  // The overlay at the current instant; none once it is destroyed.
  std::optional<OverlaySnapshot> overlay(WindowNumber overlay) const;
  int callCount(WindowNumber overlay, SurfaceCall call) const;
  // Overlay surfaces created so far, destroyed ones included.
  int overlaysCreated() const { return overlaysCreated_; }

 private:
  friend class SimWorkspace;
  friend class SimAccessibility;
  friend class SimWindowChangeObserver;
  friend class SimWindowList;
  friend class SimDisplays;
  friend class SimOverlaySurfaceFactory;
  friend class SimOverlaySurface;
  friend class SimHotKeys;
  friend class SimScriptRunner;
  friend class SimUpdater;
  friend class SimLoginItems;
  friend class SimApplicationAliases;

  struct Window {
    WindowNumber number = 0;
    ProcessID owner = 0;
    Rect frame;  // top-left-origin space
    bool onScreen = true;
    bool desktopElement = false;
    bool failPosition = false;
    bool failSize = false;
    std::set<WindowListFault> faults;
    std::optional<Rect> accessibilityFrame;  // what Accessibility reports instead of `frame`
  };
  struct App {
    RunningApplication info;
    std::optional<WindowNumber> focusedWindow;
    bool failFocusedWindowRead = false;
    bool failObserverCreation = false;
    std::set<std::string> unsupportedNotifications;
  };
  struct WindowObserver {
    ProcessID pid = 0;
    std::function<void(std::string_view)> callback;
    std::vector<std::string> notifications;
  };
  struct Overlay {
    ScreenInfo screen;
    Rect frame;  // bottom-left-origin space
    AnimatedScalar alpha{1.0};
    std::optional<BlurMaterial> material;
    std::optional<GradientGeometry> tintGeometry;
    AnimatedColors tintColors;
    AnimatedScalar tintOpacity{0.0};
    std::optional<Color> grayscaleColor;
    BlendMode grayscaleBlend = BlendMode::normal;
    float grayscaleOpacity = 0;
    std::shared_ptr<const Bitmap> grainImage;
    double grainContentsScale = 1.0;
    BlendMode grainBlend = BlendMode::normal;
    float grainOpacity = 0;
    std::optional<WindowNumber> lastOrderedBelow;
    std::map<SurfaceCall, int> calls;
  };

  void init();
  using Observers = std::map<uint64_t, std::function<void()>>;
  // Screen changes also reach the window list's observers.
  void postScreenChange();
  // Posts one notification to each window-list observer: after any change of the stack, the
  // focus, the frontmost application, or a window's frame or presence.
  void postWindowListChange();
  void post(Observers SimDesktop::*observers);
  void postWindowNotification(ProcessID pid, const std::string& name);
  void postFocusNotifications(ProcessID pid);
  // When `window` was the focused window of `owner`, focus passes to the application's frontmost
  // remaining on-screen window, or to none.
  void moveFocusAwayFrom(ProcessID owner, WindowNumber window);
  void removeFromStack(WindowNumber window);
  void insertAtFront(WindowNumber window);
  void insertBelow(WindowNumber window, WindowNumber above);
  size_t firstDesktopElementIndex() const;
  Window* findWindow(WindowNumber window);
  const Window* findWindow(WindowNumber window) const;
  App* findApp(ProcessID pid);
  const App* findApp(ProcessID pid) const;
  Rect overlayFrameTopLeft(const Overlay& overlay) const;
  Overlay& overlayRecord(WindowNumber window, SurfaceCall call);

  std::unique_ptr<VirtualScheduler> ownedScheduler_;
  VirtualScheduler* scheduler_;
  ProcessID selfPID_;

  std::unique_ptr<Workspace> workspace_;
  std::unique_ptr<Accessibility> accessibility_;
  std::unique_ptr<WindowList> windowList_;
  std::unique_ptr<Displays> displays_;
  std::unique_ptr<OverlaySurfaceFactory> overlaySurfaces_;
  std::unique_ptr<HotKeys> hotKeys_;
  std::unique_ptr<ScriptRunner> scriptRunner_;
  std::unique_ptr<Updater> updater_;
  std::unique_ptr<LoginItems> loginItems_;
  std::unique_ptr<ApplicationAliases> aliases_;
  std::unique_ptr<SimMouseMonitors> mouseMonitors_;

  std::vector<ScreenInfo> screens_;
  std::vector<App> apps_;  // launch order
  std::optional<ProcessID> frontmost_;
  ProcessID nextPID_ = 1000;
  std::map<WindowNumber, Window> windows_;
  std::map<WindowNumber, Overlay> overlays_;
  std::vector<WindowNumber> stack_;  // front to back, on-screen windows only
  WindowNumber nextWindowNumber_ = 100;
  int overlaysCreated_ = 0;

  bool trusted_ = true;
  bool screenCapturePreflight_ = true;
  bool grantOnPrompt_ = false;
  int trustPrompts_ = 0;
  bool failAllObservers_ = false;
  bool failSystemWideRead_ = false;
  bool windowListAvailable_ = true;
  std::map<std::string, std::string> aliasMap_;

  uint64_t nextRegistration_ = 1;
  std::map<uint64_t, std::function<void(const RunningApplication&)>> activationObservers_;
  Observers screenObservers_;
  Observers windowListObservers_;
  std::map<uint64_t, WindowObserver> windowObservers_;

  std::map<uint64_t, std::function<int32_t(const HotKeyID&)>> pressHandlers_;
  std::map<uint64_t, RegisteredHotKey> hotKeyRegistrations_;
  std::set<std::pair<uint32_t, uint32_t>> refusedHotKeys_;
  bool failPressHandler_ = false;
  std::vector<int32_t> hotKeyStatuses_;

  std::vector<std::string> scriptsRun_;
  std::vector<DockSnapshot> scriptSnapshots_;
  std::optional<std::optional<std::string>> scriptFailure_;  // set: fail, with message if any
  bool failScriptCreation_ = false;
  DockSnapshot dockSnapshot_{"sim", "dock=shown"};
  std::vector<std::string> openedURLs_;
  bool failOpenURL_ = false;
  std::vector<LoginItemCall> loginItemCalls_;
  bool loginItemRegistered_ = false;
  bool failLoginItems_ = false;
  int updaterStarts_ = 0;
  int updateChecks_ = 0;

  WeakPtrFactory<SimDesktop> weakFactory_{this};
};

}  // namespace dunelo::sim
