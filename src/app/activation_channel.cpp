#include "app/activation_channel.h"

#include <QLocalServer>
#include <QLocalSocket>

#include "core/log.h"

namespace sorvane {
namespace {

constexpr qint64 kMaxRequestBytes = 64;

}  // namespace

std::string activationSocketPath(const std::string& runtimeFolder) {
  return runtimeFolder + "/" + std::string(kActivationSocketName);
}

ActivationServer::ActivationServer(std::string runtimeFolder)
    : path_(activationSocketPath(runtimeFolder)), server_(std::make_unique<QLocalServer>()) {}

ActivationServer::~ActivationServer() = default;

bool ActivationServer::listen() {
  const QString name = QString::fromStdString(path_);
  QLocalServer::removeServer(name);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(name)) {
    appLog("activation socket unusable path=" + path_ + " error=" + server_->errorString().toStdString());
    return false;
  }
  QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
        if (!socket->canReadLine()) {
          if (socket->bytesAvailable() > kMaxRequestBytes) socket->abort();
          return;
        }
        const QByteArray line = socket->readLine(kMaxRequestBytes).trimmed();
        if (line != "reopen") {
          socket->abort();
          return;
        }
        socket->write("ok\n");
        socket->flush();
        socket->disconnectFromServer();
        // After the reply: showing the dashboard may take a moment.
        if (onReopen) onReopen();
      });
    }
  });
  return true;
}

bool askRunningInstanceToReopen(const std::string& runtimeFolder, std::chrono::milliseconds timeout) {
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(activationSocketPath(runtimeFolder)));
  const int ms = static_cast<int>(timeout.count());
  if (!socket.waitForConnected(ms)) return false;
  socket.write("reopen\n");
  if (!socket.waitForBytesWritten(ms)) return false;
  while (!socket.canReadLine()) {
    if (!socket.waitForReadyRead(ms)) return false;
  }
  return socket.readLine(kMaxRequestBytes).trimmed() == "ok";
}

}  // namespace sorvane
