#include "ui/single_instance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <unistd.h>

namespace dunelo {

namespace {
constexpr int kConnectTimeoutMs = 500;
}

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent), name_(std::move(name)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName() {
  // $XDG_RUNTIME_DIR is private to the user; /tmp with the uid in the name where it is unset.
  QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!dir.startsWith(u'/')) dir = QStringLiteral("/tmp");
  return dir + QStringLiteral("/dunelo-") + QString::number(getuid()) + QStringLiteral(".sock");
}

bool SingleInstance::claim() {
  {
    QLocalSocket probe;
    probe.connectToServer(name_);
    if (probe.waitForConnected(kConnectTimeoutMs)) {
      probe.write("show\n");
      probe.waitForBytesWritten(kConnectTimeoutMs);
      probe.disconnectFromServer();
      return false;
    }
  }
  // Nobody answers: whatever is at the name is left over from an instance that died.
  QLocalServer::removeServer(name_);
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(name_)) {
    // Without the server a second start cannot reach this one; Dunelo still runs.
    server_.reset();
    return true;
  }
  connect(server_.get(), &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* client = server_->nextPendingConnection()) {
      connect(client, &QLocalSocket::readyRead, this, [this, client] {
        if (client->readAll().contains("show")) Q_EMIT activationRequested();
        client->disconnectFromServer();
      });
      connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    }
  });
  return true;
}

}  // namespace dunelo
