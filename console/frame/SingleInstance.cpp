#include "console/frame/SingleInstance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace {
const QByteArray kActivate = "activate\n";
}

QString SingleInstanceKey(const QString& title) {
  QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
  if (display.isEmpty()) display = qEnvironmentVariable("DISPLAY");
  // Hashed: the title is Chinese and a socket name has to stay short and plain.
  const QByteArray id = (title + '|' + QString::number(::getuid()) + '|' + display).toUtf8();
  return QStringLiteral("gmconsole-") +
         QString::fromLatin1(QCryptographicHash::hash(id, QCryptographicHash::Sha1).toHex().left(20));
}

TSingleInstance::TSingleInstance(const QString& title, QObject* parent)
    : QObject(parent), FKey(SingleInstanceKey(title)) {}

TSingleInstance::~TSingleInstance() = default;

bool TSingleInstance::ActivateExisting(int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(FKey);
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write(kActivate);
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  // The first instance closes the socket once it has read the request.
  socket.waitForDisconnected(timeoutMs);
  return true;
}

bool TSingleInstance::Listen() {
  FServer = new QLocalServer(this);
  FServer->setSocketOptions(QLocalServer::UserAccessOption);
  if (!FServer->listen(FKey)) {
    // Nobody answered on it (ActivateExisting came first), so it is a crashed instance's.
    QLocalServer::removeServer(FKey);
    if (!FServer->listen(FKey)) return false;
  }
  connect(FServer, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = FServer->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->readAll().contains("activate")) return;
        socket->disconnectFromServer();
        emit activationRequested();
      });
      // A peer that connects and says nothing is dropped after a while.
      QTimer::singleShot(5000, socket, [socket] { socket->abort(); });
    }
  });
  return true;
}
