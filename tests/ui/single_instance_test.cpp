// One window per user: a second launch (or a game looking for its wallet) writes "raise\n" to the
// running one and leaves; a socket left behind by a crashed instance does not block the next
// start. Two real processes meeting here are tested with the game (tests/app/startup_test).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <fstream>
#include <functional>
#include <random>

#include "korb/connect.h"
#include "korb/platform.h"
#include "tests/ui/ui_test_support.h"
#include "ui/single_instance.h"

namespace {

using ui_test::application;

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
  EXPECT_TRUE(ui::is_raise_request("raise\n"));
  EXPECT_TRUE(ui::is_raise_request("hello\nraise\r\n"));
  EXPECT_FALSE(ui::is_raise_request("raise"));
  EXPECT_FALSE(ui::is_raise_request("raiser\n"));
  EXPECT_FALSE(ui::is_raise_request(""));
  EXPECT_FALSE(ui::is_raise_request("\n\n"));
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
    const bool raise = ui::is_raise_request(received);
    if (!received.contains('\n')) {
      EXPECT_FALSE(raise);
    }
    EXPECT_EQ(ui::is_raise_request(received + "\nraise\n"), true);
  }
}

// The running instance hears a client's raise request; a second claim of the same name finds
// the first and asks it to raise instead of listening itself.
TEST(single_instance, second_claim_raises_the_first) {
  application();
  ui_test::ScopedDataDir dir;
  ui::SingleInstanceServer first;
  ASSERT_EQ(ui::claim_single_instance(first, "OrbweaveOStakkaShell"), ui::InstanceClaim::claimed);
  int raised = 0;
  QObject::connect(&first, &ui::SingleInstanceServer::raise_requested, [&raised] { ++raised; });
  ui::SingleInstanceServer second;
  EXPECT_FALSE(second.listen(
      QString::fromStdString(korb::platform::instance_socket_path("OrbweaveOStakkaShell"))));
  EXPECT_EQ(ui::claim_single_instance(second, "OrbweaveOStakkaShell"),
            ui::InstanceClaim::raised_running);
  process_events_until([&] { return raised > 0; }, 5000);
  EXPECT_EQ(raised, 1);
}

// A game looking for its wallet application uses the bridge's plain socket client, not Qt; the
// window must hear it all the same.
TEST(single_instance, the_game_side_launcher_raises_the_window) {
  application();
  ui_test::ScopedDataDir dir;
  ui::SingleInstanceServer server;
  ASSERT_TRUE(server.listen(korb_socket()));
  int raised = 0;
  QObject::connect(&server, &ui::SingleInstanceServer::raise_requested, [&raised] { ++raised; });
  EXPECT_TRUE(korb::launch_korb());
  process_events_until([&] { return raised > 0; }, 5000);
  EXPECT_EQ(raised, 1);
}

// A crashed instance leaves its socket file behind; nobody answers on it, so the next
// instance takes the name over.
TEST(single_instance, stale_socket_is_taken_over) {
  application();
  ui_test::ScopedDataDir dir;
  const QString name = "KorbStaleTest";
  {
    QLocalServer crashed;
    crashed.setSocketOptions(QLocalServer::UserAccessOption);
    ASSERT_TRUE(crashed.listen(name));
    const std::string path = crashed.fullServerName().toStdString();
    crashed.close();
    std::ofstream(path) << "";  // what a crash leaves: the name still taken on disk
  }
  EXPECT_FALSE(ui::ask_running_instance_to_raise(name));
  ui::SingleInstanceServer server;
  EXPECT_TRUE(server.listen(name));
}

}  // namespace
