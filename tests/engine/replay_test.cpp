#include "engine/replay.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "engine/board_fixture.h"
#include "engine/random_player.h"
#include "engine/tape.h"

namespace {

using namespace engine;

uint32_t test_seed() {
  const char* text = std::getenv("OSTAKKA_SEED");
  return text ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) : std::random_device{}();
}

std::string random_txid(std::mt19937& random) {
  std::string txid(64, '0');
  for (char& c : txid) c = "0123456789abcdef"[random() % 16];
  return txid;
}

// A run played by a random player through the run layer, with a driven clock that jitters,
// stalls and pauses, and the number of pieces it was dealt.
struct RecordedRun {
  RunRecord run;
  uint64_t clock = 1;
  size_t spawns = 0;
};

void play_randomly(RecordedRun& recorded, std::mt19937& random) {
  RunRecord& run = recorded.run;
  run.entry_txid = random_txid(random);
  run.callbacks.tick_count = [&recorded] { return recorded.clock; };
  run.hooks.on_lock = [&recorded] { ++recorded.spawns; };
  start_run(run);
  engine_test::PlayerStyle style;
  style.noise = 30;
  style.stray_percent = 8;
  style.pause_percent = 2;
  style.stall_percent = 2;
  style.fast_drop_percent = 70;
  engine_test::play_run(run, recorded.clock, recorded.spawns, random, style);
}

void expect_same_game(const GameState& replayed, const GameState& recorded) {
  EXPECT_EQ(replayed.cell_plane, recorded.cell_plane);
  EXPECT_EQ(replayed.piece_id_plane, recorded.piece_id_plane);
  EXPECT_EQ(replayed.score, recorded.score);
  EXPECT_EQ(replayed.lines, recorded.lines);
  EXPECT_EQ(replayed.height, recorded.height);
  EXPECT_EQ(replayed.lives, recorded.lives);
  EXPECT_EQ(replayed.next_serial, recorded.next_serial);
  EXPECT_EQ(replayed.piece_type, recorded.piece_type);
  EXPECT_EQ(replayed.rotation, recorded.rotation);
  EXPECT_EQ(replayed.piece_x, recorded.piece_x);
  EXPECT_EQ(replayed.piece_y, recorded.piece_y);
  EXPECT_EQ(replayed.next_type, recorded.next_type);
  EXPECT_EQ(replayed.bag, recorded.bag);
  EXPECT_EQ(replayed.bag_count, recorded.bag_count);
  EXPECT_TRUE(replayed.generator == recorded.generator);
  EXPECT_TRUE(replayed.game_over);
}

// The promise behind every recorded score: the entry txid and the serialised tape alone rebuild
// the run exactly, however the window's clock jittered, stalled or paused while it was played.
TEST(replay, recorded_random_play_replays_identically) {
  const uint32_t seed = test_seed();
  SCOPED_TRACE("OSTAKKA_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  int64_t total_lines = 0;
  for (int game = 0; game < 300; ++game) {
    RecordedRun recorded;
    play_randomly(recorded, random);
    const RunRecord& run = recorded.run;
    ASSERT_EQ(run.arcade_state, ArcadeState::GameOver) << "game " << game;
    TapeHeader header;
    InputTape tape;
    std::string error;
    ASSERT_TRUE(parse_tape(tape_hex(run.tape_header, run.tape), header, tape, error)) << error;
    ReplayResult result;
    ASSERT_TRUE(replay_tape(run.entry_txid, tape, result, error))
        << "game " << game << ": " << error;
    expect_same_game(result.game, run.game);
    EXPECT_EQ(result.ticks, run.sim_clock);
    EXPECT_EQ(result.entries, run.tape.size());
    EXPECT_EQ(result.pieces, deal_pieces(seed_from_txid(run.entry_txid), 2 + recorded.spawns));
    EXPECT_EQ(result.pieces[result.pieces.size() - 2], run.game.piece_type);
    total_lines += run.game.lines;
  }
  EXPECT_GT(total_lines, 0) << "the random player never cleared a row; the test lost its teeth";
}

class TamperedTape : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 random(7);
    play_randomly(recorded, random);
    tape = recorded.run.tape;
    ASSERT_GE(tape.size(), 10u);
    ASSERT_EQ(tape.back().action, RunEnd);
  }

  // Replays `tape` expecting a refusal whose reason mentions `reason`.
  void expect_refused(const std::string& reason) {
    ReplayResult result;
    std::string error;
    EXPECT_FALSE(replay_tape(recorded.run.entry_txid, tape, result, error)) << reason;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
  }

  RecordedRun recorded;
  InputTape tape;
};

// Bad times and unknown codes are covered through the program in tests/tools/replay.
TEST_F(TamperedTape, run_end_must_close_the_tape_at_game_over) {
  InputTape original = tape;
  tape.insert(tape.begin() + 3, TapeEntry{tape[3].time, RunEnd});
  expect_refused("RunEnd is not the last record");

  tape = original;
  tape.pop_back();
  expect_refused("tape ends before game over");

  tape = original;
  tape.back().time += 16;
  expect_refused("RunEnd but the game ended at " + std::to_string(original.back().time));

  tape = original;
  tape.insert(tape.end() - 1, TapeEntry{tape.back().time, MoveLeft});
  expect_refused("action after the game ended");

  tape = {{0, RunEnd}};
  expect_refused("RunEnd but the game is not over");

  tape.assign(kTapeLimit, TapeEntry{0, MoveLeft});
  expect_refused("tape is full");
}

// Random damage to a real tape never crashes or hangs the replay.
TEST_F(TamperedTape, mutated_tapes_never_crash) {
  const uint32_t seed = test_seed();
  SCOPED_TRACE("OSTAKKA_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  const InputTape original = tape;
  int refused = 0;
  for (int round = 0; round < 300; ++round) {
    tape = original;
    for (unsigned n = 1 + random() % 3; n > 0; --n) {
      TapeEntry& entry = tape[random() % tape.size()];
      if (random() % 2) {
        entry.action = static_cast<uint8_t>(random() % 3 ? 1 + random() % 6 : random());
      } else {
        entry.time =
            random() % 2 ? static_cast<uint32_t>(random()) : entry.time + 16 * (random() % 64);
      }
    }
    ReplayResult result;
    std::string error;
    if (!replay_tape(recorded.run.entry_txid, tape, result, error)) {
      ++refused;
      EXPECT_FALSE(error.empty());
    }
  }
  EXPECT_GT(refused, 0);
}

TEST(replay, txid_check) {
  EXPECT_TRUE(is_txid(engine_test::kZeroTxid));
  EXPECT_TRUE(is_txid(" ABCDEF0000000000000000000000000000000000000000000000000000000000\n"));
  EXPECT_FALSE(is_txid("abc"));
  EXPECT_FALSE(is_txid("g000000000000000000000000000000000000000000000000000000000000000"));
  EXPECT_FALSE(is_txid(std::string(65, '0')));
}

}  // namespace
