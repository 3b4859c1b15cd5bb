// One Dunelo per user session. A second start hands over to the running instance, which opens
// its panel; on a desktop without a tray this is how the user reaches the settings.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QLocalServer;

namespace dunelo {

class SingleInstance final : public QObject {
  Q_OBJECT
 public:
  // `name` identifies the instance; the default is per user.
  explicit SingleInstance(QString name = defaultName(), QObject* parent = nullptr);
  ~SingleInstance() override;

  // True when this process is now the instance. False when another one runs: it has been asked
  // to show its panel and this process should exit.
  bool claim();

  static QString defaultName();

 Q_SIGNALS:
  void activationRequested();

 private:
  QString name_;
  std::unique_ptr<QLocalServer> server_;
};

}  // namespace dunelo
