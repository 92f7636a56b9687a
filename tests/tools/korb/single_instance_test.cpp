// One Korb window per user: a second launch (or a game) writes "raise\n" to the running one and
// leaves; a socket left behind by a crashed instance does not block the next start.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <atomic>
#include <functional>
#include <random>
#include <thread>

#include "korb/atomic_file.h"
#include "korb/connect.h"
#include "korb/platform.h"
#include "tools/korb/korb_test_support.h"
#include "tools/korb/single_instance.h"

namespace {

QCoreApplication& application() {
  static int argc = 1;
  static char name[] = "single_instance_test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* app = new QCoreApplication(argc, argv);
  return *app;
}

// Where korb's window listens: the private folder of the test's data directory.
QString korb_socket() {
  return QString::fromStdString(korb::platform::instance_socket_path(korb::korb_instance_name));
}

bool process_events_until(const std::function<bool()>& condition, int timeout_ms) {
  QElapsedTimer timer;
  timer.start();
  while (!condition() && timer.elapsed() < timeout_ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return condition();
}

TEST(single_instance, only_complete_raise_lines_count) {
  EXPECT_TRUE(korb_app::is_raise_request("raise\n"));
  EXPECT_TRUE(korb_app::is_raise_request("hello\nraise\r\n"));
  EXPECT_FALSE(korb_app::is_raise_request("raise"));
  EXPECT_FALSE(korb_app::is_raise_request("raiser\n"));
  EXPECT_FALSE(korb_app::is_raise_request(""));
  EXPECT_FALSE(korb_app::is_raise_request("\n\n"));
}

// Whatever a local client sends, the check answers, and text without a line end never counts:
// the rest of a request may still be on its way.
TEST(single_instance, random_bytes_are_judged_safely) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> byte(0, 255), length(0, 80);
  for (int round = 0; round < 20000; ++round) {
    QByteArray received(length(random), '\0');
    for (char& c : received) c = static_cast<char>(byte(random));
    if (round % 2 == 0) received.replace('\n', 'x');
    const bool raise = korb_app::is_raise_request(received);
    if (!received.contains('\n')) {
      EXPECT_FALSE(raise);
    }
    EXPECT_EQ(korb_app::is_raise_request(received + "\nraise\n"), true);
  }
}

// The running instance hears the raise request of a client, and a second `korb` without
// arguments hands over to it and exits 0 instead of opening a window of its own.
TEST(single_instance, second_launch_raises_the_first_and_exits) {
  application();
  korb_test::TempDataDir dir;  // the socket lives in the test's own data folder
  korb_app::SingleInstanceServer server;
  ASSERT_TRUE(server.listen(korb_socket()));
  int raised = 0;
  QObject::connect(&server, &korb_app::SingleInstanceServer::raise_requested,
                   [&raised] { ++raised; });

  korb_app::SingleInstanceServer rival;
  EXPECT_FALSE(rival.listen(korb_socket()));

  std::atomic<bool> done{false};
  korb_test::RunResult second;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::thread launch([&] {
    second = korb_test::run_korb({}, std::chrono::seconds(20));
    done = true;
  });
  process_events_until([&] { return done.load(); }, 25000);
  launch.join();
  EXPECT_EQ(second.exit_code, 0) << second.err;
  process_events_until([&] { return raised > 0; }, 2000);
  EXPECT_EQ(raised, 1);
}

// A game looking for its wallet application uses the bridge's plain socket client, not Qt; the
// window must hear it all the same.
TEST(single_instance, the_game_side_launcher_raises_the_window) {
  application();
  korb_test::TempDataDir dir;
  korb_app::SingleInstanceServer server;
  ASSERT_TRUE(server.listen(korb_socket()));
  int raised = 0;
  QObject::connect(&server, &korb_app::SingleInstanceServer::raise_requested,
                   [&raised] { ++raised; });
  EXPECT_TRUE(korb::launch_korb());
  process_events_until([&] { return raised > 0; }, 5000);
  EXPECT_EQ(raised, 1);
}

// A crashed instance leaves its socket file behind; nobody answers on it, so the next
// instance takes the name over.
TEST(single_instance, stale_socket_is_taken_over) {
  application();
  korb_test::TempDataDir dir;
  const QString name = "KorbStaleTest";
  {
    QLocalServer crashed;
    crashed.setSocketOptions(QLocalServer::UserAccessOption);
    ASSERT_TRUE(crashed.listen(name));
    const std::string path = crashed.fullServerName().toStdString();
    crashed.close();
    korb_test::write_text(path, "");  // what a crash leaves: the name still taken on disk
  }
  EXPECT_FALSE(korb_app::ask_running_instance_to_raise(name));
  korb_app::SingleInstanceServer server;
  EXPECT_TRUE(server.listen(name));
}

}  // namespace
