// Dunelo's end of the session-bus link to its GNOME Shell extension.
//
// Keeps the last desktop state the extension reported (so that ordering passes cost no round
// trips), announces changes of it, passes on the extension's events, and sends the
// overlay, hot-key and pointer requests without waiting for their replies. The extension may come
// and go (it is turned off and on, or GNOME Shell restarts): `presence` announces each change, and
// whoever asked the extension for something asks again when it is back, since a new extension
// instance starts empty.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <memory>
#include <optional>
#include <string>

#include "core/subject.h"
#include "platform/gnome/shell_protocol.h"

class QDBusServiceWatcher;

namespace dunelo::gnome {

// What GNOME Shell knows of the extension.
enum class ExtensionStatus {
  noShell,    // GNOME Shell is not on the session bus
  unknown,    // the shell has not loaded it: not installed, or installed since the login
  enabled,    // running (it may still be starting)
  disabled,   // loaded and turned off
  failed,     // it raised an error while starting
  outOfDate,  // it does not list this GNOME Shell version
};

struct PointerMotion {
  double dx = 0;
  double dy = 0;
  uint32_t buttons = 0;  // a mouse button was held
};

class ShellConnection final : public QObject {
  Q_OBJECT
 public:
  // Uses `bus`; the session bus when not given.
  explicit ShellConnection(std::optional<QDBusConnection> bus = std::nullopt);
  ~ShellConnection() override;

  // Whether the extension runs and speaks this version of the interface. The first answer is
  // had before the constructor returns.
  bool isReady() const { return ready_; }
  const ShellState& state() const { return state_; }

  // Fired after the state (windows, focus, monitors, appearance) changed; with `true` when the
  // monitors or the appearance did.
  Subject<bool> stateChanged;
  // Fired when the extension appears (true) or goes away (false).
  Subject<bool> presence;
  Subject<uint32_t> acceleratorActivated;
  Subject<PointerMotion> pointerMoved;
  Subject<Rect> indicatorActivated;  // the button's rectangle in stage pixels, top-left space

  // A request whose reply nobody waits for; a failure is logged.
  void send(const char* method, const QVariantList& args);
  // A request answered at once (at most a second's wait); none on failure.
  std::optional<QDBusMessage> call(const char* method, const QVariantList& args);

  // Asks GNOME Shell about the extension, and to turn it on.
  ExtensionStatus extensionStatus();
  std::string extensionError();
  bool enableExtension();

  QDBusConnection& bus() { return bus_; }

  // Tests without a bus: takes `state` as the extension's latest report, with the extension
  // present, and announces it as a real report would.
  void adoptStateForTesting(ShellState state, bool monitorsChanged);

 private Q_SLOTS:
  void onWindowsChanged(const QDBusMessage& message);
  void onMonitorsChanged(const QDBusMessage& message);
  void onAccelerator(const QDBusMessage& message);
  void onPointer(const QDBusMessage& message);
  void onIndicator(const QDBusMessage& message);

 private:
  void onOwnerChanged(const QString& newOwner);
  // Reads the whole state from the extension; false when it cannot be had.
  bool reload();
  std::optional<QVariantMap> extensionInfo();

  QDBusConnection bus_;
  std::unique_ptr<QDBusServiceWatcher> watcher_;
  bool ready_ = false;
  ShellState state_;
  QString owner_;
  bool loggedSendFailure_ = false;
};

// Parsing of the extension's messages, exposed for tests: none when the arguments do not have
// the interface's types.
std::optional<std::vector<WindowRecord>> parseWindows(const QVariant& argument);
std::optional<std::vector<MonitorRecord>> parseMonitors(const QVariant& argument);

}  // namespace dunelo::gnome
