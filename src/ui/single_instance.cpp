#include "ui/single_instance.h"

#include <unistd.h>

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <vector>

#include "core/debug_log.h"
#include "platform/desktop/private_directory.h"

namespace dunelo {

namespace {

// Longer lines are not requests; the connection is dropped.
constexpr qint64 kMaxRequest = 64;

QByteArray line(std::string_view word) {
  return QByteArray(word.data(), static_cast<qsizetype>(word.size())) + '\n';
}

}  // namespace

SingleInstance::SingleInstance(QString name, int replyTimeoutMs, QObject* parent)
    : QObject(parent), name_(std::move(name)), replyTimeoutMs_(replyTimeoutMs) {}

SingleInstance::~SingleInstance() {
  serve(nullptr);
  // The clients close with the server; none of their signals may reach this half-destroyed object.
  if (server_)
    for (QLocalSocket* client : server_->findChildren<QLocalSocket*>())
      QObject::disconnect(client, nullptr, this, nullptr);
  server_.reset();
}

QString SingleInstance::defaultName(bool log) {
  const uid_t uid = getuid();
  const RuntimeDirectory dir = findRuntimeDirectory(uid);
  if (log)
    for (const std::string& note : dir.notes)
      debugLog("[SingleInstance] not using " + note + " for the instance socket");
  if (dir.path.empty()) return {};
  return QString::fromStdString(dir.path) + QStringLiteral("/dunelo-") + QString::number(uid) +
         QStringLiteral(".sock");
}

bool SingleInstance::claim() {
  if (name_.isEmpty()) {
    debugLog(
        "[SingleInstance] no private directory for the instance socket; a second start "
        "and the command line cannot reach this Dunelo");
    return true;
  }
  switch (send(name_, RemoteCommand::ShowPanel, {}, replyTimeoutMs_)) {
    case Outcome::Answered:
      return false;
    case Outcome::NotRunning:
      break;  // whatever is at the name is left over from an instance that ended
    case Outcome::NoAnswer:
      debugLog("[SingleInstance] " + name_.toStdString() + " does not answer; taking it over");
      break;
    case Outcome::NotUnderstood:
      debugLog("[SingleInstance] " + name_.toStdString() +
               " gave no usable answer; taking it over");
      break;
  }
  // The directory is this user's alone, so removing what is at the name harms nobody else.
  QLocalServer::removeServer(name_);
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(name_)) {
    debugLog("[SingleInstance] cannot listen at " + name_.toStdString() + ": " +
             server_->errorString().toStdString());
    server_.reset();  // without the server Dunelo still runs; it just cannot be reached
  }
  return true;
}

void SingleInstance::serve(RemoteControl* control) {
  control_ = control;
  if (!control) {
    std::vector<QLocalSocket*> watchers;
    for (const auto& [client, token] : watches_) watchers.push_back(client);
    watches_.clear();
    for (QLocalSocket* client : watchers) client->abort();
    return;
  }
  if (!server_) return;
  connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstance::acceptPending,
          Qt::UniqueConnection);
  acceptPending();
}

void SingleInstance::acceptPending() {
  while (QLocalSocket* client = server_->nextPendingConnection()) accept(client);
}

void SingleInstance::accept(QLocalSocket* client) {
  connect(client, &QLocalSocket::readyRead, this, [this, client] { handle(client); });
  connect(client, &QLocalSocket::disconnected, this, [this, client] { drop(client); });
  // A request may have been read, or the client gone, before anyone listened for it.
  if (client->bytesAvailable() > 0) handle(client);
  if (client->state() == QLocalSocket::UnconnectedState) drop(client);
}

void SingleInstance::handle(QLocalSocket* client) {
  if (!control_) return;
  if (watches_.contains(client)) {
    client->readAll();  // a watcher has nothing more to ask
    return;
  }
  if (!client->canReadLine()) {
    if (client->bytesAvailable() > kMaxRequest) client->abort();
    return;
  }
  const QByteArray request = client->readLine(kMaxRequest + 1).trimmed();
  const auto command =
      parseRequestWord(std::string_view(request.constData(), static_cast<size_t>(request.size())));
  if (!command) {
    client->write("unknown\n");
    client->disconnectFromServer();
    return;
  }
  if (*command == RemoteCommand::Watch) {
    watches_[client] = control_->watch([client](bool active) {
      client->write(line(stateWord(active)));
      client->flush();
    });
    return;
  }
  // Opening the panel and quitting leave the state as it is: answer first, so the asker does not
  // wait for the panel to load, and the answer is out before the program ends.
  const bool answerFirst = *command == RemoteCommand::ShowPanel || *command == RemoteCommand::Quit;
  if (answerFirst) {
    client->write(line(stateWord(control_->isActive())));
    client->flush();
  }
  const bool active = control_->perform(*command);
  if (!answerFirst) client->write(line(stateWord(active)));
  // The asker of a quit hears the connection close when this process has ended.
  if (*command != RemoteCommand::Quit) client->disconnectFromServer();
}

void SingleInstance::drop(QLocalSocket* client) {
  watches_.erase(client);
  client->deleteLater();
}

SingleInstance::Outcome SingleInstance::send(const QString& name, RemoteCommand command,
                                             const std::function<void(bool)>& onState,
                                             int timeoutMs) {
  if (name.isEmpty()) return Outcome::NotRunning;
  QLocalSocket socket;
  socket.connectToServer(name);
  if (!socket.waitForConnected(timeoutMs)) {
    // A listener whose queue is full keeps the connection pending until the time-out.
    return socket.error() == QLocalSocket::SocketTimeoutError ? Outcome::NoAnswer
                                                              : Outcome::NotRunning;
  }
  socket.write(line(requestWord(command)));
  socket.flush();

  QDeadlineTimer deadline(timeoutMs);
  bool answered = false;
  for (;;) {
    while (socket.canReadLine()) {
      const QByteArray answer = socket.readLine(kMaxRequest + 1).trimmed();
      if (answer != "on" && answer != "off") return Outcome::NotUnderstood;
      if (onState) onState(answer == "on");
      answered = true;
      if (command != RemoteCommand::Watch) break;
    }
    if (answered && command != RemoteCommand::Watch) break;
    if (socket.state() != QLocalSocket::ConnectedState && !socket.canReadLine())
      return answered ? Outcome::Answered : Outcome::NotUnderstood;
    // A watch waits for changes as long as the instance runs.
    const int wait = answered ? -1 : static_cast<int>(deadline.remainingTime());
    if (!socket.waitForReadyRead(wait) && socket.state() == QLocalSocket::ConnectedState)
      return Outcome::NoAnswer;
  }
  // The instance closes the connection of a quit when it has ended.
  if (command == RemoteCommand::Quit && socket.state() == QLocalSocket::ConnectedState)
    socket.waitForDisconnected(timeoutMs);
  return Outcome::Answered;
}

}  // namespace dunelo
