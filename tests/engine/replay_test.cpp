#include "engine/replay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>

#include "engine/known_run.h"
#include "engine/random_player.h"
#include "engine/tape.h"
#include "mangle.h"

namespace {

using namespace engine;

// The entry txid and the tape alone must rebuild the run exactly, however the clock jittered,
// stalled or paused, and so must the viewer's replay taken a random stretch at a time.
TEST(replay, recorded_random_play_replays_identically) {
  const uint32_t seed = test_mangle::seed();
  SCOPED_TRACE("OSTAKKA_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  const engine_test::PlayerStyle style{.noise = 30,
                                       .stray_percent = 8,
                                       .pause_percent = 2,
                                       .stall_percent = 2,
                                       .fast_drop_percent = 70};
  int64_t total_lines = 0;
  for (int game = 0; game < 300; ++game) {
    SCOPED_TRACE("game " + std::to_string(game));
    RunRecord run;
    uint64_t clock = 1;
    size_t spawns = 0;  // each lock deals one new preview
    run.entry_txid = std::string(64, '0');
    for (char& c : run.entry_txid) c = "0123456789abcdef"[random() % 16];
    run.callbacks.tick_count = [&clock] { return clock; };
    run.hooks.on_lock = [&spawns] { ++spawns; };
    start_run(run);
    engine_test::play_run(run, clock, spawns, random, style);
    ReplayResult result;
    std::string error;
    ASSERT_TRUE(replay_tape(run.entry_txid, run.tape, result, error)) << error;
    EXPECT_EQ(result.game.piece_id_plane, run.game.piece_id_plane);
    EXPECT_EQ(result.game.score, run.game.score);
    EXPECT_EQ(result.ticks, run.sim_clock);
    EXPECT_EQ(result.pieces, deal_pieces(seed_from_txid(run.entry_txid), 2 + spawns));
    total_lines += run.game.lines;

    ReplayCursor cursor;
    begin_replay(cursor, run.entry_txid);
    for (uint64_t until = 0; !cursor.ended && until < result.ticks + 1000;) {
      until += random() % 400;
      ASSERT_TRUE(advance_replay(cursor, run.tape, until)) << cursor.error;
    }
    ASSERT_TRUE(cursor.ended);
    EXPECT_EQ(cursor.result.game.piece_id_plane, run.game.piece_id_plane);
    EXPECT_EQ(cursor.result.game.score, run.game.score);
  }
  EXPECT_GT(total_lines, 0) << "the random player never cleared a row; the test lost its teeth";
}

InputTape known_tape() {
  TapeHeader header;
  InputTape tape;
  std::string error;
  EXPECT_TRUE(parse_tape(engine_test::kKnownTape, header, tape, error)) << error;
  return tape;
}

TEST(replay, each_broken_rule_is_refused_at_its_record) {
  const InputTape tape = known_tape();
  const uint32_t end = tape.back().time;
  const size_t last = tape.size() - 1;
  size_t later = 2;  // a record after one at 16 ms or more, so time can go back before it
  while (tape[later - 1].time < 16) ++later;
  const uint32_t back = tape[later - 1].time - 16;
  const auto at = [](size_t index, uint32_t time) {
    return "record " + std::to_string(index + 1) + " at " + std::to_string(time) + " ms: ";
  };
  const auto refusal = [](const InputTape& damaged) {
    ReplayResult result;
    std::string error;
    EXPECT_FALSE(replay_tape(engine_test::kKnownEntry, damaged, result, error));
    return error;
  };
  const struct {
    size_t index;
    TapeEntry entry;
    bool insert;  // put in before the record at `index` instead of over it
    std::string error;
  } cases[] = {
      {1, {tape[1].time, 9}, false, at(1, tape[1].time) + "unknown action code 9"},
      {1,
       {tape[1].time + 4, tape[1].action},
       false,
       at(1, tape[1].time + 4) + "time is not a multiple of 16 ms"},
      {later,
       {back, tape[later].action},
       false,
       at(later, back) + "time goes back before " + std::to_string(back + 16) + " ms"},
      {3, {tape[3].time, RunEnd}, true, at(3, tape[3].time) + "RunEnd is not the last record"},
      {last,
       {end + 16, RunEnd},
       false,
       at(last, end + 16) + "RunEnd but the game ended at " + std::to_string(end) + " ms"},
      {last,
       {end, MoveLeft},
       true,
       at(last, end) + "action after the game ended at " + std::to_string(end) + " ms"},
  };
  for (const auto& c : cases) {
    InputTape damaged = tape;
    if (c.insert) {
      damaged.insert(damaged.begin() + static_cast<long>(c.index), c.entry);
    } else {
      damaged[c.index] = c.entry;
    }
    EXPECT_EQ(refusal(damaged), c.error);
  }
  EXPECT_EQ(refusal(InputTape(tape.begin(), tape.end() - 1)),
            "tape ends before game over (no RunEnd record)");
  EXPECT_EQ(refusal({{0, RunEnd}}), at(0, 0) + "RunEnd but the game is not over");
}

// A recorded run is verified only in the one form the game writes.
TEST(replay, recorded_runs_are_checked_in_their_canonical_form) {
  const InputTape tape = known_tape();
  const std::string entry = engine_test::kKnownEntry;
  const int64_t score = engine_test::kKnownScore;
  const std::string hex = engine_test::kKnownTape;
  const std::string odd_header = tape_hex(TapeHeader{1, 0, 3}, tape);
  std::string upper = entry;
  std::transform(entry.begin(), entry.end(), upper.begin(), ::toupper);
  const struct {
    std::string entry, tape, hash;
    int64_t score;
    RunVerdict verdict;
  } cases[] = {
      {entry, hex, engine_test::kKnownTapeHash, score, RunVerdict::verified},
      {entry, hex, tape_hash(hex), score + 1, RunVerdict::mismatch},
      {entry, odd_header, tape_hash(odd_header), score, RunVerdict::mismatch},
      {upper, hex, tape_hash(hex), score, RunVerdict::mismatch},
      {entry + " ", hex, tape_hash(hex), score, RunVerdict::mismatch},
      {entry, hex, tape_hash(odd_header), score, RunVerdict::mismatch},
      {entry, "", tape_hash(""), score, RunVerdict::no_tape},
      {entry, hex.substr(1), tape_hash(hex), score, RunVerdict::no_tape},
  };
  for (const auto& c : cases) {
    RunCheck run;
    std::string error;
    EXPECT_EQ(check_recorded_run(c.entry, c.tape, c.hash, c.score, run, error), c.verdict) << error;
    EXPECT_EQ(error.empty(), c.verdict == RunVerdict::verified) << error;
    if (c.verdict == RunVerdict::verified) {
      EXPECT_EQ(run.tape, tape);
    }
  }
}

}  // namespace
