#include "platform/instancechannel.h"
#include <QDataStream>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

namespace platform {

namespace {
constexpr quint32 kMagic = 0x54524e31;      // "TRN1": a message of this program's first channel version
constexpr qint64 kMaxMessage = 256 * 1024;  // a few paths; anything longer is not ours
constexpr char kTaken = 'k';
constexpr auto kVersion = QDataStream::Qt_6_0;
}  // namespace

QString instanceChannelPath(const QString &name) {
  QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (dir.isEmpty()) dir = QDir::tempPath();
  return dir + "/" + name + ".socket";
}

InstanceServer::InstanceServer(const QString &name, QObject *parent)
    : QObject(parent), path_(instanceChannelPath(name)), server_(new QLocalServer(this)) {
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket *s = server_->nextPendingConnection()) {
      connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
      connect(s, &QLocalSocket::readyRead, this, [this, s] { readFrom(s); });
      // A client that never finishes its message is dropped.
      QTimer::singleShot(10000, s, [s] { s->abort(); });
      if (s->bytesAvailable() > 0) readFrom(s);
    }
  });
}

InstanceServer::~InstanceServer() { server_->close(); }

bool InstanceServer::listen() {
  if (server_->isListening()) return true;
  QLocalServer::removeServer(path_);  // left by a copy that died: we hold the lock now
  return server_->listen(path_);
}

void InstanceServer::readFrom(QLocalSocket *socket) {
  if (socket->bytesAvailable() > kMaxMessage) {
    socket->abort();
    return;
  }
  QDataStream in(socket);
  in.setVersion(kVersion);
  in.startTransaction();
  quint32 magic = 0;
  QStringList arguments;
  in >> magic >> arguments;
  if (!in.commitTransaction()) return;  // the rest is still on its way
  if (magic != kMagic) {
    socket->abort();
    return;
  }
  socket->write(&kTaken, 1);
  socket->flush();
  socket->disconnectFromServer();
  // Told after the answer, so that a handler that asks the user something does not keep the sender waiting.
  QTimer::singleShot(0, this, [this, arguments] { emit received(arguments); });
}

bool sendToRunningInstance(const QString &name, const QStringList &arguments, int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(instanceChannelPath(name));
  if (!socket.waitForConnected(timeoutMs)) return false;
  QByteArray message;
  {
    QDataStream out(&message, QIODevice::WriteOnly);
    out.setVersion(kVersion);
    out << kMagic << arguments;
  }
  if (message.size() > kMaxMessage) return false;
  socket.write(message);
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  while (socket.bytesAvailable() < 1)
    if (!socket.waitForReadyRead(timeoutMs)) return false;
  char answer = 0;
  return socket.read(&answer, 1) == 1 && answer == kTaken;
}

}  // namespace platform
