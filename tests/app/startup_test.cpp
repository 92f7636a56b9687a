// One copy of the game per user: a second start of the real program finds the running copy,
// asks it to come back from the task bar and exits 0 without opening anything of its own.
#include "app/startup.h"

#include <gtest/gtest.h>

#include <QProcess>

#include "tests/app/app_test_support.h"
#include "ui/single_instance.h"

namespace {

bool no_sound(sound::MidiSink&, std::string& error) {
  error = "silent in tests";
  return false;
}

TEST(startup, a_second_copy_raises_the_first_and_exits_0) {
  ui_test::application();
  ui_test::ScopedDataDir dir;
  app_test::point_at_nothing();
  engine::current_run() = engine::RunRecord{};
  app::RunningGame first;
  ASSERT_EQ(app::start_game(first, {.open_sound = no_sound}), app::StartOutcome::run);
  ASSERT_TRUE(first.window->isVisible());
  first.window->showMinimized();
  QCoreApplication::processEvents();
  ASSERT_TRUE(first.window->isMinimized());

  QProcess second;
  second.setProgram(OSTAKKA_BIN_DIR "/ostakka-devnet");
  second.setProcessChannelMode(QProcess::MergedChannels);
  second.start();
  ASSERT_TRUE(second.waitForStarted(10000));
  EXPECT_TRUE(app_test::pump_until([&] { return second.state() == QProcess::NotRunning; }));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0) << second.readAll().toStdString();
  EXPECT_TRUE(app_test::pump_until([&] { return !first.window->isMinimized(); }, 5000));
  EXPECT_TRUE(first.window->isVisible());
  app_test::settle();
}

}  // namespace
