#include "ui/single_instance.h"

#include <QLocalSocket>
#include <QVariant>

#include "korb/platform.h"

namespace ui {
namespace {

// Bounds for talking to another instance: a live one answers at once; a dead socket file must
// not hold up the start.
constexpr int connect_timeout_ms = 500;
constexpr int write_timeout_ms = 500;
// A client sends one short line; anything longer is not ours.
constexpr qint64 max_request_bytes = 64;

}  // namespace

bool ask_running_instance_to_raise(const QString& name) {
  QLocalSocket socket;
  socket.connectToServer(name);
  if (!socket.waitForConnected(connect_timeout_ms)) return false;
  socket.write(raise_line);
  const bool written = socket.waitForBytesWritten(write_timeout_ms);
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) {
    socket.waitForDisconnected(write_timeout_ms);
  }
  return written;
}

bool is_raise_request(const QByteArray& received) {
  // Only complete lines count, so a request still arriving is never mistaken for another.
  const qsizetype end = received.lastIndexOf('\n');
  if (end < 0) return false;
  for (const QByteArray& line : received.left(end).split('\n')) {
    if (line.trimmed() == "raise") return true;
  }
  return false;
}

SingleInstanceServer::SingleInstanceServer(QObject* parent) : QObject(parent) {
  connect(&server_, &QLocalServer::newConnection, this, &SingleInstanceServer::on_new_connection);
}

bool SingleInstanceServer::listen(const QString& name) {
  // Listening with access options replaces an existing socket file without complaint, so ask
  // first: someone answers, a real instance runs; nobody answers, a crashed one left its file.
  QLocalSocket probe;
  probe.connectToServer(name);
  if (probe.waitForConnected(connect_timeout_ms)) return false;
  QLocalServer::removeServer(name);
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  return server_.listen(name);
}

void SingleInstanceServer::on_new_connection() {
  while (QLocalSocket* client = server_.nextPendingConnection()) {
    connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    auto read_request = [this, client] {
      QByteArray received = client->property("received").toByteArray();
      received += client->read(max_request_bytes - received.size());
      client->setProperty("received", received);
      if (is_raise_request(received)) {
        emit raise_requested();
        client->disconnectFromServer();
      } else if (received.size() >= max_request_bytes || received.contains('\n')) {
        client->disconnectFromServer();
      }
    };
    connect(client, &QLocalSocket::readyRead, this, read_request);
    // A quick client may have written and left before we got here.
    if (client->bytesAvailable() > 0) read_request();
  }
}

InstanceClaim claim_single_instance(SingleInstanceServer& server,
                                    const std::string& instance_name) {
  // A full path in a folder only this user can enter: nobody else can take the name first.
  const std::string path = korb::platform::instance_socket_path(instance_name);
  if (path.empty()) return InstanceClaim::unclaimed;
  const QString name = QString::fromStdString(path);
  if (ask_running_instance_to_raise(name)) return InstanceClaim::raised_running;
  return server.listen(name) ? InstanceClaim::claimed : InstanceClaim::unclaimed;
}

}  // namespace ui
