#include "engine/run.h"

#include <gtest/gtest.h>

#include "engine/board_fixture.h"

namespace {

using namespace engine;

class DrivenRun : public ::testing::Test {
 protected:
  void SetUp() override {
    run.entry_txid = engine_test::kZeroTxid;
    run.callbacks.tick_count = [this] { return clock; };
    run.callbacks.cache_score = [this](int64_t score, const std::string& txid) {
      calls.push_back("cache " + std::to_string(score) + " '" + txid + "'");
    };
  }

  void at(uint64_t tick) {
    clock = tick;
    run_tick(run);
  }

  uint64_t clock = 50000;  // the tick count is never 0 on a real machine
  RunRecord run;
  std::vector<std::string> calls;
};

// A stalled window catches up in one tick, up to the game over and no further. A restart must
// leave nothing behind: a stale tape, clock or score txid would be signed into the next record.
TEST_F(DrivenRun, game_over_ends_the_run_once_and_a_restart_begins_afresh) {
  start_run(run);
  apply_action(run, 99);  // not an action code: ignored, not recorded
  at(50000 + 3600000);
  ASSERT_EQ(run.arcade_state, ArcadeState::GameOver);
  EXPECT_EQ(run.final_score, run.game.score);
  EXPECT_TRUE(run.record_flash);
  ASSERT_EQ(run.tape.size(), 1u);
  EXPECT_EQ(run.tape[0], (TapeEntry{static_cast<uint32_t>(run.sim_clock), RunEnd}));
  EXPECT_EQ(calls, (std::vector<std::string>{"cache " + std::to_string(run.final_score) + " ''"}));
  const uint64_t ended = run.sim_clock;
  apply_action(run, MoveLeft);
  at(clock + 100000);
  end_run(run);
  EXPECT_EQ(run.tape.size(), 1u);
  EXPECT_EQ(run.sim_clock, ended);
  EXPECT_EQ(calls.size(), 1u);

  run.score_txid = "old";
  start_run(run);
  EXPECT_TRUE(run.tape.empty());
  EXPECT_EQ(run.score_txid, "");
  EXPECT_FALSE(run.record_flash);
  at(clock + 48);
  EXPECT_EQ(run.sim_clock, 48u);
}

// A pause begun at tick 0 still counts, and a second pause request (a companion window opened
// during a P pause) keeps the first start.
TEST_F(DrivenRun, every_pause_is_taken_out_of_the_run_in_full) {
  clock = 0;
  start_run(run);
  toggle_pause(run);
  clock = 10000;
  apply_action(run, RotateCW);
  run_tick(run);
  toggle_pause(run);
  at(10000 + 48);
  EXPECT_EQ(run.sim_clock, 48u);
  EXPECT_TRUE(run.tape.empty());

  pause_run(run);
  clock += 5000;
  pause_run(run);
  clock += 5000;
  resume_run(run);
  at(clock + 32);
  EXPECT_EQ(run.sim_clock, 80u);
}

// From the 200000th record on, actions still act but are not recorded, and no RunEnd is added.
TEST_F(DrivenRun, full_tape_still_plays_but_records_nothing_more) {
  start_run(run);
  for (size_t i = 0; i < kTapeLimit; ++i) apply_action(run, i % 2 ? MoveRight : MoveLeft);
  ASSERT_EQ(run.tape.size(), kTapeLimit);
  const int32_t x = run.game.piece_x;
  apply_action(run, MoveLeft);
  EXPECT_EQ(run.game.piece_x, x - 1);
  at(clock + 3600000);
  EXPECT_EQ(run.arcade_state, ArcadeState::GameOver);
  EXPECT_EQ(run.tape.size(), kTapeLimit);
  EXPECT_NE(run.tape.back().action, RunEnd);
}

}  // namespace
