#include "platform/gnome/shell_connection.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

#include "core/debug_log.h"

namespace dunelo::gnome {
namespace {

constexpr const char* kShellService = "org.gnome.Shell";
constexpr const char* kShellPath = "/org/gnome/Shell";
constexpr const char* kExtensionsInterface = "org.gnome.Shell.Extensions";
constexpr int kCallTimeoutMs = 1000;

// GNOME Shell's extension states.
constexpr int kStateEnabled = 1;
constexpr int kStateDisabled = 2;
constexpr int kStateError = 3;
constexpr int kStateOutOfDate = 4;

template <class Record, class Read>
std::optional<std::vector<Record>> parseArray(const QVariant& argument, const char* signature,
                                              Read read) {
  if (!argument.canConvert<QDBusArgument>()) return std::nullopt;
  const auto arg = argument.value<QDBusArgument>();
  if (arg.currentSignature() != QLatin1String(signature)) return std::nullopt;
  std::vector<Record> records;
  arg.beginArray();
  while (!arg.atEnd()) {
    Record r;
    arg.beginStructure();
    read(arg, r);
    arg.endStructure();
    records.push_back(std::move(r));
  }
  arg.endArray();
  return records;
}

}  // namespace

std::optional<std::vector<WindowRecord>> parseWindows(const QVariant& argument) {
  return parseArray<WindowRecord>(
      argument, "a(tisssiiiiu)", [](const QDBusArgument& a, WindowRecord& w) {
        qulonglong id = 0;
        int pid = 0;
        QString appID, appName, wmClass;
        uint flags = 0;
        a >> id >> pid >> appID >> appName >> wmClass >> w.x >> w.y >> w.width >> w.height >> flags;
        w.id = id;
        w.pid = pid > 0 ? pid : 0;
        w.appID = appID.toStdString();
        w.appName = appName.toStdString();
        w.wmClass = wmClass.toStdString();
        w.flags = flags;
      });
}

std::optional<std::vector<MonitorRecord>> parseMonitors(const QVariant& argument) {
  return parseArray<MonitorRecord>(argument, "a(iiiid)",
                                   [](const QDBusArgument& a, MonitorRecord& m) {
                                     a >> m.x >> m.y >> m.width >> m.height >> m.scale;
                                   });
}

ShellConnection::ShellConnection(std::optional<QDBusConnection> bus)
    : bus_(bus ? *bus : QDBusConnection::sessionBus()) {
  if (!bus_.isConnected()) {
    debugLog("[GnomeShell] no session bus: " + bus_.lastError().message().toStdString());
    return;
  }
  watcher_ = std::make_unique<QDBusServiceWatcher>(QString::fromLatin1(kShellBusName), bus_,
                                                   QDBusServiceWatcher::WatchForOwnerChange);
  connect(watcher_.get(), &QDBusServiceWatcher::serviceOwnerChanged, this,
          [this](const QString&, const QString&, const QString& newOwner) {
            onOwnerChanged(newOwner);
          });
  const QString service = QString::fromLatin1(kShellBusName);
  const QString path = QString::fromLatin1(kShellObjectPath);
  const QString iface = QString::fromLatin1(kShellInterface);
  bus_.connect(service, path, iface, QStringLiteral("WindowsChanged"), this,
               SLOT(onWindowsChanged(QDBusMessage)));
  bus_.connect(service, path, iface, QStringLiteral("MonitorsChanged"), this,
               SLOT(onMonitorsChanged(QDBusMessage)));
  bus_.connect(service, path, iface, QStringLiteral("AcceleratorActivated"), this,
               SLOT(onAccelerator(QDBusMessage)));
  bus_.connect(service, path, iface, QStringLiteral("PointerMoved"), this,
               SLOT(onPointer(QDBusMessage)));
  bus_.connect(service, path, iface, QStringLiteral("IndicatorActivated"), this,
               SLOT(onIndicator(QDBusMessage)));
  const auto owner = bus_.interface()->serviceOwner(service);
  if (owner.isValid()) onOwnerChanged(owner.value());
}

ShellConnection::~ShellConnection() = default;

void ShellConnection::onOwnerChanged(const QString& newOwner) {
  if (newOwner == owner_) return;
  owner_ = newOwner;
  const bool wasReady = ready_;
  ready_ = !newOwner.isEmpty() && reload();
  if (!ready_) state_ = ShellState{};
  if (wasReady || ready_) {
    debugLog(ready_ ? "[GnomeShell] the Dunelo extension is running"
                    : "[GnomeShell] the Dunelo extension went away");
    presence.send(ready_);
    stateChanged.send(true);
  }
}

bool ShellConnection::reload() {
  QDBusMessage get = QDBusMessage::createMethodCall(
      QString::fromLatin1(kShellBusName), QString::fromLatin1(kShellObjectPath),
      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get << QString::fromLatin1(kShellInterface) << QStringLiteral("Version");
  const QDBusMessage version = bus_.call(get, QDBus::Block, kCallTimeoutMs);
  const uint v = version.type() == QDBusMessage::ReplyMessage && !version.arguments().isEmpty()
                     ? version.arguments().first().value<QDBusVariant>().variant().toUInt()
                     : 0;
  if (v != kShellInterfaceVersion) {
    debugLog("[GnomeShell] the Dunelo extension speaks version " + std::to_string(v) +
             " of its interface, this Dunelo " + std::to_string(kShellInterfaceVersion) +
             "; log out and back in to load the installed extension");
    return false;
  }
  const auto reply = call("GetState", {});
  if (!reply || reply->arguments().size() != 4) return false;
  const QVariantList args = reply->arguments();
  auto windows = parseWindows(args[0]);
  auto monitors = parseMonitors(args[2]);
  if (!windows || !monitors) {
    debugLog("[GnomeShell] the extension's state could not be read");
    return false;
  }
  state_.windows = std::move(*windows);
  state_.focus = args[1].toULongLong();
  state_.monitors = std::move(*monitors);
  state_.prefersDark = args[3].toBool();
  return true;
}

void ShellConnection::onWindowsChanged(const QDBusMessage& message) {
  if (!ready_ || message.service() != owner_ || message.arguments().size() != 2) return;
  auto windows = parseWindows(message.arguments()[0]);
  if (!windows) return;
  state_.windows = std::move(*windows);
  state_.focus = message.arguments()[1].toULongLong();
  stateChanged.send(false);
}

void ShellConnection::onMonitorsChanged(const QDBusMessage& message) {
  if (!ready_ || message.service() != owner_ || message.arguments().size() != 2) return;
  auto monitors = parseMonitors(message.arguments()[0]);
  if (!monitors) return;
  state_.monitors = std::move(*monitors);
  state_.prefersDark = message.arguments()[1].toBool();
  stateChanged.send(true);
}

void ShellConnection::onAccelerator(const QDBusMessage& message) {
  if (!ready_ || message.service() != owner_ || message.arguments().size() != 1) return;
  acceleratorActivated.send(message.arguments()[0].toUInt());
}

void ShellConnection::onPointer(const QDBusMessage& message) {
  if (!ready_ || message.service() != owner_ || message.arguments().size() != 3) return;
  const QVariantList& a = message.arguments();
  pointerMoved.send(PointerMotion{a[0].toDouble(), a[1].toDouble(), a[2].toUInt()});
}

void ShellConnection::onIndicator(const QDBusMessage& message) {
  if (!ready_ || message.service() != owner_ || message.arguments().size() != 4) return;
  const QVariantList& a = message.arguments();
  indicatorActivated.send(Rect(a[0].toInt(), a[1].toInt(), a[2].toInt(), a[3].toInt()));
}

void ShellConnection::adoptStateForTesting(ShellState state, bool monitorsChanged) {
  const bool appeared = !ready_;
  ready_ = true;
  state_ = std::move(state);
  if (appeared) presence.send(true);
  stateChanged.send(monitorsChanged);
}

void ShellConnection::send(const char* method, const QVariantList& args) {
  if (!ready_ || owner_.isEmpty()) return;
  QDBusMessage m = QDBusMessage::createMethodCall(owner_, QString::fromLatin1(kShellObjectPath),
                                                  QString::fromLatin1(kShellInterface),
                                                  QString::fromLatin1(method));
  m.setArguments(args);
  auto* watch = new QDBusPendingCallWatcher(bus_.asyncCall(m), this);
  connect(watch, &QDBusPendingCallWatcher::finished, this,
          [this, name = std::string(method)](QDBusPendingCallWatcher* w) {
            if (w->isError() && !loggedSendFailure_) {
              // Once: a broken extension would otherwise fill the log sixty times a second.
              loggedSendFailure_ = true;
              debugLog("[GnomeShell] " + name + " failed: " + w->error().message().toStdString());
            }
            w->deleteLater();
          });
}

std::optional<QDBusMessage> ShellConnection::call(const char* method, const QVariantList& args) {
  if (owner_.isEmpty()) return std::nullopt;
  QDBusMessage m = QDBusMessage::createMethodCall(owner_, QString::fromLatin1(kShellObjectPath),
                                                  QString::fromLatin1(kShellInterface),
                                                  QString::fromLatin1(method));
  m.setArguments(args);
  QDBusMessage reply = bus_.call(m, QDBus::Block, kCallTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage) {
    debugLog(std::string("[GnomeShell] ") + method +
             " failed: " + reply.errorMessage().toStdString());
    return std::nullopt;
  }
  return reply;
}

std::optional<QVariantMap> ShellConnection::extensionInfo() {
  if (!bus_.isConnected() ||
      !bus_.interface()->isServiceRegistered(QString::fromLatin1(kShellService)).value())
    return std::nullopt;
  QDBusMessage m = QDBusMessage::createMethodCall(
      QString::fromLatin1(kShellService), QString::fromLatin1(kShellPath),
      QString::fromLatin1(kExtensionsInterface), QStringLiteral("GetExtensionInfo"));
  m << QString::fromLatin1(kExtensionUUID);
  const QDBusMessage reply = bus_.call(m, QDBus::Block, kCallTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
    return QVariantMap{};
  QVariantMap info;
  reply.arguments().first().value<QDBusArgument>() >> info;
  return info;
}

ExtensionStatus ShellConnection::extensionStatus() {
  const auto info = extensionInfo();
  if (!info) return ExtensionStatus::noShell;
  if (info->isEmpty()) return ExtensionStatus::unknown;
  switch (static_cast<int>(info->value(QStringLiteral("state")).toDouble())) {
    case kStateEnabled:
      return ExtensionStatus::enabled;
    case kStateError:
      return ExtensionStatus::failed;
    case kStateOutOfDate:
      return ExtensionStatus::outOfDate;
    case kStateDisabled:
    default:
      return ExtensionStatus::disabled;
  }
}

std::string ShellConnection::extensionError() {
  const auto info = extensionInfo();
  return info ? info->value(QStringLiteral("error")).toString().toStdString() : std::string();
}

bool ShellConnection::enableExtension() {
  QDBusMessage m = QDBusMessage::createMethodCall(
      QString::fromLatin1(kShellService), QString::fromLatin1(kShellPath),
      QString::fromLatin1(kExtensionsInterface), QStringLiteral("EnableExtension"));
  m << QString::fromLatin1(kExtensionUUID);
  const QDBusMessage reply = bus_.call(m, QDBus::Block, kCallTimeoutMs);
  return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
         reply.arguments().first().toBool();
}

}  // namespace dunelo::gnome
