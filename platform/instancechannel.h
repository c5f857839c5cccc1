#pragma once
// The single-instance channel: the copy that holds the instance lock listens on a local socket beside it,
// and a second start whose user chose not to open another copy hands it the folder or file it was given.
#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

namespace platform {

// The socket's path for a program file's name: "<name>.socket" in the folder of its lock
// ($XDG_RUNTIME_DIR, else the temporary folder).
QString instanceChannelPath(const QString &name);

// The running copy's end. Only the lock's holder listens, so a socket left by a crashed copy is removed.
// Only the user's own processes may connect (the socket is the user's alone).
class InstanceServer : public QObject {
  Q_OBJECT
 public:
  explicit InstanceServer(const QString &name, QObject *parent = nullptr);
  ~InstanceServer() override;
  // True when it now listens.
  bool listen();
  QString path() const { return path_; }

 signals:
  // Once for every hand-over, after the sender was told it arrived: the arguments as sent (absolute paths).
  void received(const QStringList &arguments);

 private:
  void readFrom(QLocalSocket *socket);
  QString path_;
  QLocalServer *server_;
};

// The second copy's end: hands `arguments` to the running copy of `name`. True once that copy took them;
// false when none listens or it did not answer within `timeoutMs`.
bool sendToRunningInstance(const QString &name, const QStringList &arguments, int timeoutMs = 5000);

}  // namespace platform
