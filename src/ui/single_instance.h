// One Dunelo per user. The instance listens on a local socket in a directory only this user can
// enter; a second start asks it to open its panel and exits, and the command line's commands
// (`dunelo --toggle` and the others) reach it the same way.
//
// The protocol is a line per request (the words of `RemoteCommand`), each answered with the
// on/off intent after it; a watch then gets a line per change until either side closes. Whatever
// does not answer within the time-out is not taken for a running instance.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <memory>

#include "system/remote_control.h"
#include "core/cancellable.h"

class QLocalServer;
class QLocalSocket;

namespace dunelo {

class SingleInstance final : public QObject {
  Q_OBJECT
 public:
  static constexpr int kReplyTimeoutMs = 5000;

  // `name` is the socket's path; empty when no private directory could be found (then this
  // process runs without the channel). `replyTimeoutMs` bounds the wait for an answer.
  explicit SingleInstance(QString name, int replyTimeoutMs = kReplyTimeoutMs,
                          QObject* parent = nullptr);
  ~SingleInstance() override;

  // True when this process is now the instance. False when another one answered: it has been
  // asked to show its panel and this process should exit.
  bool claim();
  // Hands the requests to `control`, also those that arrived before; null stops serving and ends
  // every watch. `control` must outlive its use here.
  void serve(RemoteControl* control);

  const QString& name() const { return name_; }
  // This user's socket path, empty when no private directory is usable; logs the directories it
  // passes over when `log`.
  static QString defaultName(bool log = false);

  enum class Outcome {
    Answered,      // every answer arrived (a watch: and then the instance went away)
    NotRunning,    // nothing listens at the name
    NoAnswer,      // something listens but did not answer in time
    NotUnderstood  // it closed without a usable answer (another program, or an older Dunelo)
  };
  // Sends one request to the instance at `name` and passes each on/off answer to `onState`.
  // After a quit it waits (up to the time-out) for the instance to end; a watch waits for
  // answers until the instance goes away.
  static Outcome send(const QString& name, RemoteCommand command,
                      const std::function<void(bool)>& onState, int timeoutMs = kReplyTimeoutMs);

 private:
  void acceptPending();
  void accept(QLocalSocket* client);
  void handle(QLocalSocket* client);
  void drop(QLocalSocket* client);

  QString name_;
  int replyTimeoutMs_;
  std::unique_ptr<QLocalServer> server_;
  RemoteControl* control_ = nullptr;
  std::map<QLocalSocket*, Cancellable> watches_;
};

}  // namespace dunelo
