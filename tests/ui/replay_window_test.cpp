// The replay viewer: a recorded run, watched at each speed, ends on exactly the recorded score
// and lines, after exactly the run's length divided by the speed; pause holds it, restart begins
// again, and the player's own run is never touched. A board row opens it by a double click.
#include "ui/replay_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <random>

#include "engine/random_player.h"
#include "tests/ui/ui_test_support.h"
#include "ui/board_window.h"
#include "ui/button.h"
#include "ui/palette.h"
#include "ui/well_widget.h"

namespace {

// A run recorded through the run layer by the test player, as a verified board row.
arcade::BoardRow recorded_row(engine::RunRecord& run) {
  std::mt19937 random(2024);
  uint64_t clock = 1;
  size_t spawns = 0;
  run.entry_txid = "5e1b0d7c2a9f48e3b6c1d0a7f2e9b8c3d4a5f6e7d8c9b0a1f2e3d4c5b6a79801";
  run.callbacks.tick_count = [&clock] { return clock; };
  run.hooks.on_lock = [&spawns] { ++spawns; };
  engine::start_run(run);
  engine_test::PlayerStyle style;
  style.noise = 20;
  engine_test::play_run(run, clock, spawns, random, style);
  run.callbacks = {};
  run.hooks = {};
  arcade::BoardRow row;
  row.handle = "watcher";
  row.entry = run.entry_txid;
  row.tape = run.tape;
  row.score = run.final_score;
  return row;
}

}  // namespace

TEST(replay_window, every_speed_ends_on_the_recorded_score_after_length_over_speed) {
  ui_test::application();
  engine::RunRecord run;
  const arcade::BoardRow row = recorded_row(run);
  ASSERT_EQ(run.arcade_state, engine::ArcadeState::GameOver);
  ASSERT_GT(run.game.lines, 0) << "the run should clear rows for the check to mean much";
  // What the player's own run holds must be exactly what it held before any viewer ran.
  engine::RunRecord& own = engine::current_run();
  own.game.score = 777;
  own.arcade_state = engine::ArcadeState::Playing;

  for (int speed : {1, 4, 16}) {
    SCOPED_TRACE(speed);
    uint64_t clock = 5000;
    ui::ReplayWindow window(nullptr, row, nullptr, [&clock] { return clock; });
    window.set_speed(speed);
    ASSERT_EQ(window.run_length(), row.tape.back().time);
    const uint64_t per_step = 16u * static_cast<uint64_t>(speed);
    const uint64_t expected_steps = (window.run_length() + per_step - 1) / per_step;
    uint64_t steps = 0;
    while (!window.finished() && steps <= expected_steps) {
      clock += 16;
      window.step();
      ++steps;
      if (steps == expected_steps / 2) {
        // A pause of a minute moves nothing.
        window.set_paused(true);
        const uint64_t held = window.position();
        clock += 60000;
        window.step();
        EXPECT_EQ(window.position(), held);
        window.set_paused(false);
      }
    }
    EXPECT_EQ(steps, expected_steps);
    ASSERT_TRUE(window.cursor().ended) << window.cursor().error;
    EXPECT_EQ(window.cursor().result.game.score, row.score);
    EXPECT_EQ(window.cursor().result.game.lines, run.game.lines);
    EXPECT_EQ(window.cursor().result.game.cell_plane, run.game.cell_plane);
    window.restart();
    EXPECT_EQ(window.position(), 0u);
    EXPECT_EQ(window.cursor().result.game.score, 0);
  }
  EXPECT_EQ(own.game.score, 777);
  EXPECT_EQ(own.arcade_state, engine::ArcadeState::Playing);
}

TEST(replay_window, the_bar_fills_and_a_broken_tape_says_where_it_stops) {
  ui_test::application();
  engine::RunRecord run;
  arcade::BoardRow row = recorded_row(run);
  uint64_t clock = 0;
  ui::ReplayWindow window(nullptr, row, nullptr, [&clock] { return clock; });
  QTest::mouseClick(window.button(ui::kReplaySpeed16Id), Qt::LeftButton);
  QCoreApplication::processEvents();
  EXPECT_EQ(window.speed(), 16);
  while (!window.finished()) {
    clock += 200;
    window.step();
  }
  QImage image = window.grab().toImage();
  EXPECT_EQ(ui_test::rgb(image, 20, 668), ui::kOrange);
  EXPECT_EQ(ui_test::rgb(image, 588, 668), ui::kOrange);

  // The same run with its last moves cut off: it stops, and says why in red, short of the end.
  row.tape.resize(row.tape.size() / 2);
  ui::ReplayWindow broken(nullptr, row, nullptr, [&clock] { return clock; });
  broken.set_speed(16);
  for (int i = 0; i < 2000 && !broken.finished(); ++i) {
    clock += 200;
    broken.step();
  }
  EXPECT_TRUE(broken.cursor().failed);
  image = broken.grab().toImage();
  EXPECT_GT(ui_test::count_near(image, QRect(16, 678, 400, 20), 0xDC4030, 30), 10);
}

// On screen the well is its own widget: every step must repaint it, not only the time line, or
// the viewer shows the first piece until the end of the run.
TEST(replay_window, the_well_repaints_as_the_replay_moves) {
  ui_test::application();
  engine::RunRecord run;
  const arcade::BoardRow row = recorded_row(run);
  uint64_t clock = 0;
  ui::ReplayWindow window(nullptr, row, nullptr, [&clock] { return clock; });
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  auto* well = window.findChild<ui::WellWidget*>();
  ASSERT_NE(well, nullptr);
  struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint) ++paints;
      return false;
    }
  } counter;
  well->installEventFilter(&counter);
  QCoreApplication::processEvents();
  counter.paints = 0;
  clock += 200;
  window.step();
  QCoreApplication::processEvents();
  EXPECT_GE(counter.paints, 1);
}

TEST(replay_window, a_board_row_with_a_tape_opens_a_viewer_on_double_click) {
  ui_test::application();
  engine::RunRecord run;
  arcade::BoardResult board;
  board.rows.push_back(recorded_row(run));
  board.rows.push_back(board.rows[0]);
  board.rows[1].tape.clear();
  board.rows[1].replay = engine::RunVerdict::no_tape;
  ui::BoardWindow window(nullptr, board, "", nullptr);
  const auto viewers = [] {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
      n += qobject_cast<ui::ReplayWindow*>(w) != nullptr;
    return n;
  };
  const int before = viewers();
  QTest::mouseDClick(&window, Qt::LeftButton, {}, QPoint(300, 96 + 54 + 25));
  EXPECT_EQ(viewers(), before) << "a row without a tape has nothing to watch";
  QTest::mouseDClick(&window, Qt::LeftButton, {}, QPoint(300, 96 + 25));
  EXPECT_EQ(viewers(), before + 1);
}
