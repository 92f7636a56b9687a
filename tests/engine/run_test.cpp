#include "engine/run.h"

#include <gtest/gtest.h>

#include "engine/board_fixture.h"

namespace {

using namespace engine;
using engine_test::kZeroTxid;

// A run whose tick clock the test moves by hand, with every call out recorded.
class DrivenRun : public ::testing::Test {
 protected:
  void SetUp() override {
    run.entry_txid = kZeroTxid;
    run.callbacks.tick_count = [this] { return clock; };
    run.callbacks.start_timer = [this] { calls.push_back("timer"); };
    run.callbacks.set_run_buttons_enabled = [this](bool on) {
      calls.push_back(on ? "buttons on" : "buttons off");
    };
    run.callbacks.focus_window = [this] { calls.push_back("focus"); };
    run.callbacks.show_status = [this](const std::string& text) { calls.push_back(text); };
    run.callbacks.play_game_over_sound = [this] { calls.push_back("sound"); };
    run.callbacks.cache_score = [this](int64_t score, const std::string& txid) {
      calls.push_back("cache " + std::to_string(score) + " '" + txid + "'");
    };
    run.callbacks.redraw_well = [this] { calls.push_back("redraw"); };
  }

  // A second, callback-free run on the same txid whose clock reads `other_clock`.
  static RunRecord started_twin(const uint64_t& other_clock) {
    RunRecord twin;
    twin.entry_txid = kZeroTxid;
    twin.callbacks.tick_count = [&other_clock] { return other_clock; };
    start_run(twin);
    return twin;
  }

  void at(uint64_t tick) {
    clock = tick;
    run_tick(run);
  }

  uint64_t clock = 50000;  // the tick count is never 0 on a real machine
  RunRecord run;
  std::vector<std::string> calls;
};

// Starting a run resets everything a previous run left behind and tells the window.
TEST_F(DrivenRun, start_resets_the_run_and_calls_out) {
  run.tape.push_back({5, MoveLeft});
  run.score_txid = "old";
  run.final_score = 77;
  run.record_flash = true;
  int locks = 0;
  run.hooks.on_lock = [&locks] { ++locks; };
  start_run(run);
  EXPECT_EQ(run.arcade_state, ArcadeState::Playing);
  EXPECT_TRUE(run.tape.empty());
  EXPECT_EQ(run.score_txid, "");
  EXPECT_EQ(run.final_score, 0);
  EXPECT_FALSE(run.record_flash);
  EXPECT_EQ(run.game.piece_type, 5);
  EXPECT_EQ(calls, (std::vector<std::string>{"timer", "buttons off", "focus", kRunStartStatus}));
  ASSERT_TRUE(run.game.hooks.on_lock);  // the run's hooks reach the engine
  run.game.hooks.on_lock();
  EXPECT_EQ(locks, 1);
}

// The outcome depends on elapsed time only: a window that stalls for seconds catches up in one
// call and ends exactly where steady 16 ms timer ticks would have.
TEST_F(DrivenRun, stalled_window_catches_up_to_the_same_state) {
  uint64_t steady_clock = 50000;
  RunRecord steady = started_twin(steady_clock);
  start_run(run);
  for (steady_clock = 50000; steady_clock <= 58007; steady_clock += 16) run_tick(steady);
  at(58007);
  EXPECT_EQ(run.sim_clock, 8000u);
  EXPECT_EQ(run.sim_clock, steady.sim_clock);
  EXPECT_EQ(run.game.piece_y, steady.game.piece_y);
  EXPECT_EQ(run.game.score, steady.game.score);
  EXPECT_EQ(run.game.cell_plane, steady.game.cell_plane);
}

// Paused time never reaches the engine or the tape: the same actions at the same sim times give
// the same tape and state whether or not a long pause sat in between, and nothing is recorded
// while paused.
TEST_F(DrivenRun, pause_leaves_sim_clock_and_tape_untouched) {
  uint64_t plain_clock = 50000;
  RunRecord plain = started_twin(plain_clock);
  start_run(run);

  clock = plain_clock = 50000 + 1000;
  apply_action(run, MoveLeft);
  apply_action(plain, MoveLeft);

  clock += 5;
  toggle_pause(run);
  EXPECT_TRUE(run.game.paused);
  clock += 3600000;  // an hour away
  apply_action(run, RotateCW);
  run_tick(run);
  EXPECT_EQ(run.tape.size(), 1u);
  toggle_pause(run);
  EXPECT_FALSE(run.game.paused);

  clock += 2000;
  plain_clock += 5 + 2000;
  apply_action(run, SoftDrop);
  apply_action(plain, SoftDrop);
  EXPECT_EQ(run.sim_clock, plain.sim_clock);
  ASSERT_EQ(run.tape.size(), plain.tape.size());
  for (size_t i = 0; i < run.tape.size(); ++i) {
    EXPECT_EQ(run.tape[i].time, plain.tape[i].time);
    EXPECT_EQ(run.tape[i].action, plain.tape[i].action);
  }
  EXPECT_EQ(run.game.piece_y, plain.game.piece_y);
  EXPECT_EQ(run.game.score, plain.game.score);
}

// A pause begun while the tick count reads 0 (a driven clock may start there) still keeps its
// time away from the run, and a second pause request while paused (a companion window opened
// during a P pause) keeps the first start, so the whole pause is taken out.
TEST_F(DrivenRun, every_pause_is_taken_out_of_the_run_in_full) {
  clock = 0;
  start_run(run);
  toggle_pause(run);
  clock = 10000;
  toggle_pause(run);
  at(10000 + 48);
  EXPECT_EQ(run.sim_clock, 48u);

  pause_run(run);
  clock += 5000;
  pause_run(run);
  clock += 5000;
  resume_run(run);
  at(clock + 32);
  EXPECT_EQ(run.sim_clock, 80u);
}

// A key whose catch-up starts a clear is still recorded (the window could not know), but it has
// no effect; replaying it must have no effect either.
TEST_F(DrivenRun, key_during_clear_is_recorded_without_effect) {
  start_run(run);
  engine_test::set_board(run.game, {"AAAAAAAAAA"});
  check_lines(run.game, 0);
  ASSERT_TRUE(run.game.clearing);
  const GameState before = run.game;
  clock += 100;
  apply_action(run, MoveRight);
  ASSERT_EQ(run.tape.size(), 1u);
  EXPECT_EQ(run.tape[0].time, 96u);
  EXPECT_EQ(run.game.piece_x, before.piece_x);
  EXPECT_TRUE(run.game.clearing);
}

// Game over ends the run once: final score, RunEnd at the moment of game over, the flash flag and
// the calls out; later ticks and keys change nothing.
TEST_F(DrivenRun, game_over_ends_the_run_once) {
  start_run(run);
  calls.clear();
  at(50000 + 3600000);
  ASSERT_EQ(run.arcade_state, ArcadeState::GameOver);
  EXPECT_TRUE(run.game.game_over);
  EXPECT_EQ(run.game.lives, 0);
  EXPECT_EQ(run.final_score, run.game.score);
  EXPECT_GT(run.final_score, 0);
  EXPECT_TRUE(run.record_flash);
  ASSERT_EQ(run.tape.size(), 1u);
  EXPECT_EQ(run.tape[0].action, RunEnd);
  EXPECT_EQ(run.tape[0].time, run.sim_clock);
  EXPECT_LT(run.sim_clock, 3600000u);  // stepping stopped at game over
  EXPECT_EQ(calls, (std::vector<std::string>{"cache " + std::to_string(run.final_score) + " ''",
                                             "buttons on", "sound", kGameOverStatus, "redraw"}));
  const uint64_t ended = run.sim_clock;
  apply_action(run, MoveLeft);
  at(clock + 100000);
  end_run(run);
  EXPECT_EQ(run.tape.size(), 1u);
  EXPECT_EQ(run.sim_clock, ended);
  EXPECT_EQ(calls.size(), 5u);
}

// From the 200000th record on, actions still act but are not recorded, and no RunEnd is added.
TEST_F(DrivenRun, full_tape_still_plays_but_records_nothing_more) {
  start_run(run);
  for (size_t i = 0; i < kTapeLimit; ++i) apply_action(run, i % 2 ? MoveRight : MoveLeft);
  ASSERT_EQ(run.tape.size(), kTapeLimit);
  const int32_t x = run.game.piece_x;
  apply_action(run, MoveLeft);
  EXPECT_EQ(run.game.piece_x, x - 1);
  EXPECT_EQ(run.tape.size(), kTapeLimit);
  at(clock + 3600000);
  EXPECT_EQ(run.arcade_state, ArcadeState::GameOver);
  EXPECT_EQ(run.tape.size(), kTapeLimit);
  EXPECT_NE(run.tape.back().action, RunEnd);
}

// Every call out is optional; a bare record plays a whole run (its clock reads 0, so only keys
// move it).
TEST(run, plays_without_any_callbacks) {
  RunRecord run;
  run.entry_txid = kZeroTxid;
  start_run(run);
  apply_action(run, 99);  // not an action code: ignored, not recorded
  EXPECT_TRUE(run.tape.empty());
  for (int i = 0; i < 400 && run.arcade_state == ArcadeState::Playing; ++i) {
    apply_action(run, SoftDrop);
  }
  EXPECT_EQ(run.arcade_state, ArcadeState::GameOver);
  EXPECT_EQ(run.tape.back().action, RunEnd);
  EXPECT_EQ(run.sim_clock, 0u);
}

}  // namespace
