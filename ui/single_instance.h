// One window per user for the game ("OrbweaveOStakkaShell") and for the Korb wallet application
// ("OrbweaveKorbShell"): the first instance listens on a local socket in a folder private to the
// user (korb::platform::instance_socket_path); a later launch (or a game looking for its wallet)
// connects, writes "raise\n" and the first instance brings its window to the front. Names below
// are full socket paths unless said otherwise.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <string>

namespace ui {

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

// How a program that runs once per user starts: a running instance was asked to show itself (the
// new one should exit 0), or this one now holds the name, or the name could not be had (it runs
// anyway, and a later launch may open a second window).
enum class InstanceClaim { raised_running, claimed, unclaimed };

// Asks the running instance of `instance_name` (a window class name) to raise itself; when none
// answers, makes `server` listen under the name. Needs the application object.
[[nodiscard]] InstanceClaim claim_single_instance(SingleInstanceServer& server,
                                                  const std::string& instance_name);

}  // namespace ui
