// Dunelo's session-bus interface on a private bus of the test's own.
#include "ui/dbus_service.h"

#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QProcess>
#include <QTest>

#include "ui/ui_test_support.h"

namespace dunelo {
namespace {

// A session bus that lives as long as the test.
class PrivateBus {
 public:
  PrivateBus() {
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address")});
    if (daemon_.waitForReadyRead(10000)) address_ = QString::fromUtf8(daemon_.readLine().trimmed());
  }
  ~PrivateBus() {
    daemon_.terminate();
    daemon_.waitForFinished(5000);
  }
  // A new connection of its own (a separate client of the bus).
  QDBusConnection connect(const QString& name) const {
    return QDBusConnection::connectToBus(address_, name);
  }
  const QString& address() const { return address_; }

 private:
  QProcess daemon_;
  QString address_;
};

// Records the PropertiesChanged signals the client connection receives.
class ChangeRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QDBusMessage> signals_;
 public Q_SLOTS:
  void record(const QDBusMessage& message) { signals_.append(message); }
};

// Calls without blocking the loop: the service answers from this very thread.
QDBusMessage call(QDBusConnection& client, const QString& interface, const char* method,
                  const QVariantList& args = {}) {
  QDBusMessage message = QDBusMessage::createMethodCall(
      DBusService::kServiceName, DBusService::kObjectPath, interface, QString::fromLatin1(method));
  message.setArguments(args);
  QDBusPendingCall pending = client.asyncCall(message);
  if (!QTest::qWaitFor([&] { return pending.isFinished(); }, 5000)) return {};
  return pending.reply();
}

TEST(DBusService, OffersTheCommandsAndTheActiveProperty) {
  PrivateBus bus;
  ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon must be installed";
  test::Desk desk;
  int panels = 0, quits = 0;
  RemoteControl control(
      *desk.settings, [&] { ++panels; }, [&] { ++quits; });
  auto service = std::make_unique<DBusService>(control, bus.connect("dunelo"));
  ASSERT_TRUE(service->isPublished());

  QDBusConnection client = bus.connect("client");
  const QString dunelo = QString::fromLatin1(DBusService::kInterfaceName);
  const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
  ChangeRecorder changes;
  ASSERT_TRUE(client.connect(DBusService::kServiceName, DBusService::kObjectPath, properties,
                             QStringLiteral("PropertiesChanged"), &changes,
                             SLOT(record(QDBusMessage))));
  const auto active = [&] {
    const QDBusMessage reply = call(client, properties, "Get", {dunelo, QStringLiteral("Active")});
    return reply.type() == QDBusMessage::ReplyMessage &&
           qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant().toBool();
  };
  const auto succeeds = [&](const char* method, const QVariantList& args = {}) {
    return call(client, dunelo, method, args).type() == QDBusMessage::ReplyMessage;
  };

  EXPECT_FALSE(active());
  EXPECT_TRUE(succeeds("SetActive", {true}));
  EXPECT_TRUE(desk.settings->isActive.get());
  EXPECT_TRUE(active());
  EXPECT_TRUE(succeeds("SetActive", {true}));  // no change, no signal
  EXPECT_TRUE(succeeds("Toggle"));
  EXPECT_FALSE(active());
  EXPECT_TRUE(succeeds("ShowPanel"));
  EXPECT_TRUE(succeeds("Quit"));
  EXPECT_EQ(std::make_pair(panels, quits), std::make_pair(1, 1));
  EXPECT_FALSE(call(client, properties, "Set",
                    {dunelo, QStringLiteral("Active"), QVariant::fromValue(QDBusVariant(true))})
                   .type() == QDBusMessage::ReplyMessage)
      << "read-only";
  // In order: a repeated "on" would come second.
  ASSERT_TRUE(QTest::qWaitFor([&] { return changes.signals_.size() >= 2; }, 5000));
  for (int i = 0; i < 2; ++i) {
    const QList<QVariant> args = changes.signals_[i].arguments();
    EXPECT_EQ(args.value(0).toString(), dunelo);
    EXPECT_EQ(qdbus_cast<QVariantMap>(args.value(1)),
              (QVariantMap{{QStringLiteral("Active"), i == 0}}));
  }

  // One owner of the name at a time; the name goes with its owner.
  EXPECT_FALSE(DBusService(control, bus.connect("second")).isPublished());
  EXPECT_TRUE(succeeds("Toggle"));
  service.reset();
  EXPECT_FALSE(client.interface()->isServiceRegistered(DBusService::kServiceName).value());
  // Without a bus Dunelo carries on.
  EXPECT_FALSE(DBusService(control, QDBusConnection::connectToBus(
                                        QStringLiteral("unix:path=/nonexistent"), "none"))
                   .isPublished());
}

}  // namespace
}  // namespace dunelo

#include "dbus_service_test.moc"
