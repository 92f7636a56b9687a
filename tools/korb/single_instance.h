// One Korb window per user: the first instance listens on the local socket "OrbweaveKorbShell"
// (at korb::platform::instance_socket_path, a folder private to the user); a later launch (or a
// game looking for its wallet) connects, writes "raise\n" and the first instance brings its
// window to the front. Names below are full socket paths.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace korb_app {

// The line a client writes to ask the running instance to show itself.
inline constexpr char raise_line[] = "raise\n";

// True when a running instance took the request to raise itself.
[[nodiscard]] bool ask_running_instance_to_raise(const QString& name);

// True when the bytes a client sent hold the raise request (a full line "raise").
[[nodiscard]] bool is_raise_request(const QByteArray& received);

class SingleInstanceServer : public QObject {
  Q_OBJECT

 public:
  explicit SingleInstanceServer(QObject* parent = nullptr);

  // Starts listening under `name`. A socket file left behind by a crashed instance (nobody
  // answers on it) is removed first. False when the name cannot be taken.
  [[nodiscard]] bool listen(const QString& name);

 signals:
  void raise_requested();

 private:
  void on_new_connection();

  QLocalServer server_;
};

}  // namespace korb_app
