#include "ui/dbus_service.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QVariantMap>
#include <utility>

#include "core/debug_log.h"

namespace dunelo {

DBusService::DBusService(RemoteControl& control, QDBusConnection connection)
    : control_(control), connection_(std::move(connection)) {
  if (!connection_.isConnected()) {
    debugLog("[DBus] no session bus (" + connection_.lastError().message().toStdString() +
             "); Dunelo is not on the bus");
    return;
  }
  if (!connection_.registerObject(
          QString::fromLatin1(kObjectPath), this,
          QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties)) {
    debugLog("[DBus] cannot register the object " + std::string(kObjectPath));
    return;
  }
  if (!connection_.registerService(QString::fromLatin1(kServiceName))) {
    debugLog("[DBus] cannot own the name " + std::string(kServiceName) + ": " +
             connection_.lastError().message().toStdString());
    connection_.unregisterObject(QString::fromLatin1(kObjectPath));
    return;
  }
  published_ = true;
  bool first = true;
  watch_ = control_.watch([this, first](bool active) mutable {
    if (!std::exchange(first, false)) announce(active);
  });
}

DBusService::~DBusService() {
  watch_.cancel();
  if (!published_) return;
  connection_.unregisterService(QString::fromLatin1(kServiceName));
  connection_.unregisterObject(QString::fromLatin1(kObjectPath));
}

void DBusService::Toggle() {
  control_.toggle();
}
void DBusService::SetActive(bool active) {
  control_.setActive(active);
}
void DBusService::ShowPanel() {
  control_.showPanel();
}
void DBusService::Quit() {
  control_.quit();
}

void DBusService::announce(bool active) {
  QDBusMessage signal = QDBusMessage::createSignal(
      QString::fromLatin1(kObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
      QStringLiteral("PropertiesChanged"));
  signal << QString::fromLatin1(kInterfaceName) << QVariantMap{{QStringLiteral("Active"), active}}
         << QStringList();
  connection_.send(signal);
}

}  // namespace dunelo
