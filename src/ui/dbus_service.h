// Dunelo on the session bus: the well-known name io.dunelo.Dunelo with the object
// /io/dunelo/Dunelo, whose interface io.dunelo.Dunelo offers what the command line offers.
//
//   Toggle()           switch on or off, as the power button does
//   SetActive(b)       switch on (true) or off (false); the state already in effect is left alone
//   ShowPanel()        open the settings panel
//   Quit()             quit Dunelo
//   Active (b, read)   the on/off intent; org.freedesktop.DBus.Properties.PropertiesChanged is
//                      sent at every change
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include "system/remote_control.h"
#include "core/cancellable.h"

namespace dunelo {

class DBusService final : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "io.dunelo.Dunelo")
  Q_PROPERTY(bool Active READ isActive)

 public:
  static constexpr const char* kServiceName = "io.dunelo.Dunelo";
  static constexpr const char* kInterfaceName = "io.dunelo.Dunelo";
  static constexpr const char* kObjectPath = "/io/dunelo/Dunelo";

  // Publishes `control` (which must outlive this object) on `connection`. Without a bus, or when
  // the name is taken, Dunelo goes on without it and the debug log says why.
  explicit DBusService(RemoteControl& control,
                       QDBusConnection connection = QDBusConnection::sessionBus());
  ~DBusService() override;

  bool isPublished() const { return published_; }
  bool isActive() const { return control_.isActive(); }

 public Q_SLOTS:
  void Toggle();
  void SetActive(bool active);
  void ShowPanel();
  void Quit();

 private:
  void announce(bool active);

  RemoteControl& control_;
  QDBusConnection connection_;
  bool published_ = false;
  Cancellable watch_;
};

}  // namespace dunelo
