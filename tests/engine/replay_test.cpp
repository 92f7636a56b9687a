#include "engine/replay.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>

#include "engine/board_fixture.h"
#include "engine/random_player.h"
#include "engine/tape.h"
#include "mangle.h"

namespace {

using namespace engine;

// A run played through the run layer by the test player, on a driven clock that jitters, stalls
// and pauses.
engine_test::RecordedRun play_randomly(std::mt19937& random) {
  std::string entry(64, '0');
  for (char& c : entry) c = "0123456789abcdef"[random() % 16];
  engine_test::PlayerStyle style;
  style.noise = 30;
  style.stray_percent = 8;
  style.pause_percent = 2;
  style.stall_percent = 2;
  style.fast_drop_percent = 70;
  return engine_test::record_run(entry, random, style);
}

// The promise behind every recorded score: the entry txid and the serialised tape alone rebuild
// the run exactly, however the window's clock jittered, stalled or paused while it was played;
// and so does the viewer's replay, taken a stretch of random length at a time.
TEST(replay, recorded_random_play_replays_identically) {
  const uint32_t seed = test_mangle::seed();
  SCOPED_TRACE("OSTAKKA_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  int64_t total_lines = 0;
  for (int game = 0; game < 300; ++game) {
    SCOPED_TRACE("game " + std::to_string(game));
    const engine_test::RecordedRun recorded = play_randomly(random);
    const RunRecord& run = recorded.run;
    TapeHeader header;
    InputTape tape;
    std::string error;
    ASSERT_TRUE(parse_tape(tape_hex(run.tape_header, run.tape), header, tape, error)) << error;
    ReplayResult result;
    ASSERT_TRUE(replay_tape(run.entry_txid, tape, result, error)) << error;
    EXPECT_EQ(result.game.piece_id_plane, run.game.piece_id_plane);
    EXPECT_EQ(result.game.score, run.game.score);
    EXPECT_EQ(result.ticks, run.sim_clock);
    EXPECT_EQ(result.pieces, deal_pieces(seed_from_txid(run.entry_txid), 2 + recorded.spawns));
    total_lines += run.game.lines;

    ReplayCursor cursor;
    begin_replay(cursor, run.entry_txid);
    for (uint64_t until = 0; !cursor.ended && until < result.ticks + 1000;) {
      until += random() % 400;
      ASSERT_TRUE(advance_replay(cursor, tape, until)) << cursor.error;
    }
    ASSERT_TRUE(cursor.ended);
    EXPECT_EQ(cursor.result.game.piece_id_plane, run.game.piece_id_plane);
    EXPECT_EQ(cursor.result.game.score, run.game.score);
    EXPECT_EQ(cursor.result.pieces, result.pieces);
  }
  EXPECT_GT(total_lines, 0) << "the random player never cleared a row; the test lost its teeth";
}

// A real run: 375 actions with single, double and triple clears, clears at height 0 and 1, a
// clear completed by a cascade, and game over. Its outcome below was worked out by a separate
// implementation of the rules written only from their text, so a change to any rule (deal, kicks,
// gravity timing, cascade, scoring) shows here even though recording and replay share this code.
TEST(replay, known_tape_gives_the_known_run) {
  const std::string entry = "1821210a3c6462fad15d9faefc9fa862386c916fe04dd8594371b4f89fd67be4";
  const std::string hex =
      "0101000000007701000040000000026000000002800000000290000000020001000003700100000370010000"
      "02f00100000530020000044002000003900200000340030000037003000003d0030000032004000003400900"
      "0003d009000003100a000003f00a000003e00b000002c017000002c017000001c017000002c017000006c017"
      "000003e018000004f01800000430190000023019000002e019000003001a000006101a000003801a000003c0"
      "1a000003e01a000004f01a000004001b000001201b000001601b000001701b000006a01b000003901c000002"
      "901c000002c01c000002e01c000006401d000003701d000003b01d000005e01d000001201e000001301e0000"
      "01901e000003d01e000003001f000003201f000003c020000003c02000000340210000038021000003d02100"
      "0003402200000260220000014023000003a0230000038030000003c030000004e030000001e0300000065031"
      "0000039031000004d031000004103200000140320000018032000001a032000002d032000001903300000360"
      "340000062035000005403500000480350000048035000002803500000670360000049036000004b036000005"
      "e03600000400370000042037000002403700000250370000029037000002a037000002603800000390380000"
      "03a038000003803900000350400000038041000003205000000150500000038050000002a050000002e05000"
      "0002305100000370510000038051000003a051000003b0510000061052000003505200000460520000047052"
      "000002a052000002b05200000680530000049053000006b053000004e053000001f053000001205400000180"
      "540000048054000004c054000001d05400000110550000016055000003d05500000300560000035056000003"
      "905600000300570000032057000003305700000380570000039058000003c058000003005900000310590000"
      "0410590000018059000003a059000003d059000003205a000003605a000003905a000003f05a000003105b00"
      "0003905b000003d067000004d067000002d067000002d0670000022068000003a068000003a068000003f068"
      "00000300690000034069000003b069000003e069000003f069000003106a000003a06a000003b06a000003f0"
      "6a000004206b000001a06b000003d06b000003706c000006706c000003906c000003d06c000001d06c000002"
      "106d000001506d000001806d000001b06d000006106e000003306e000003606e000004906e000004b06e0000"
      "02b06e000002d06e000006f06e000003f06e000002f06e000001306f000003806f000004a06f000004c06f00"
      "0006c06f000003f06f000005f06f000004107000000380700000018070000001a07000000170710000039071"
      "000003e07100000520720000042072000003e072000003b073000003507400000350750000030076000003c0"
      "76000003f076000004207700000160770000047077000002b077000006f0770000037078000004a078000004"
      "c078000003f078000004f0780000010079000002407900000160790000016079000001a079000003407a0000"
      "03607a000003907a000003b07a000003807b000003007c000003307c000004707c000004707c000004707c00"
      "0002707c000002807c000006907c000006f07c000003207d000003507d000001a0840000039085000003d086"
      "00000310870000036087000003d0870000030088000004008800000440880000044088000002408800000260"
      "88000002a088000002c088000005f08800000420890000026089000006808b000004a08b000002b08b000002"
      "208c000003e08c000003208d000003508d000001508d000002808d000005b08d000004f08d000003508e0000"
      "03608e000003c08f000003e08f000003c090000003609100000270910000037091000004a091000002c09100"
      "0002e09100000220920000024092000006609200000660920000038092000001c092000004d0920000040093"
      "000004309300000230930000066093000003b093000003f093000004009400000440940000046094000001a0"
      "9400000620950000036095000004809500000490950000049095000002d09500000210960000061096000002"
      "2096000002209600000290960000030098000002409800000470980000047098000002a098000002d0980000"
      "06a099000002c099000002009a000006c09a000004d09a000004509b000002809b000001009c000003109c00"
      "0003309c000003609c000003809e000003809e000003b09e000002c09e000001e09e000003409f000003b09f"
      "000003f09f00000420a000000160a000000180a000000190a0000001a0a000000660a100000290a1000004b0"
      "a1000002f0a100000300a3000003b0a3000003e0a300000310a500000390a5000003e0a500000340a6000003"
      "70a600000600a700000420a700000240a700000250a700000290a7000002a0a700000610a800000520ab0000"
      "0430ab00000460ab00000460ab00000160ab00000170ab000006c0ab000001f0ab000002f0ab00000310ac00"
      "000340b900000470b9000001a0b9000001e0b900000100ba00000160ba000003e04a0100ff";
  EXPECT_EQ(tape_hash(hex), "cc1856df700c051460301810f9f22ab01ae8da56c0ce83ab1632d7b12f485757");
  TapeHeader header;
  InputTape tape;
  std::string error;
  ASSERT_TRUE(parse_tape(hex, header, tape, error)) << error;
  ReplayResult result;
  ASSERT_TRUE(replay_tape(entry, tape, result, error)) << error;
  EXPECT_EQ(result.game.score, 1554);
  EXPECT_EQ(result.game.lines, 10);
  EXPECT_EQ(result.game.height, 1);
  EXPECT_EQ(result.ticks, 84704u);
  EXPECT_EQ(result.game.next_serial, 47);
  EXPECT_EQ(result.pieces.size(), 48u);
  EXPECT_EQ(result.game.piece_type, 1);
  EXPECT_EQ(result.game.next_type, 6);
  EXPECT_EQ(
      engine_test::board_rows(result.game, kWellRows, true),
      (engine_test::Rows{"..........", "....44....", "...44.....", "....3.....", "...333....",
                         "...55.....", "....55....", "...1111...", ".....7....", "...777....",
                         "....44....", "...44.....", "....22.5..", "663.2255..", "6333335..1",
                         ".223344311", "6.77755221", "6.7..55221", "666..35544", "111133344."}));
}

class TamperedTape : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 random(7);
    recorded = play_randomly(random);
    tape = recorded.run.tape;
    ASSERT_GE(tape.size(), 10u);
  }

  engine_test::RecordedRun recorded;
  InputTape tape;
};

// Each broken rule is refused at the record that breaks it, with its own reason: the records
// before it replay as recorded, so the replay must reach it and name it exactly.
TEST_F(TamperedTape, each_broken_rule_is_refused_at_its_record) {
  const uint32_t end = tape.back().time;
  const size_t last = tape.size() - 1;
  size_t later = 2;  // a record after one at 16 ms or more, so time can go back before it
  while (tape[later - 1].time < 16) ++later;
  const uint32_t back = tape[later - 1].time - 16;
  const auto at = [](size_t index, uint32_t time) {
    return "record " + std::to_string(index + 1) + " at " + std::to_string(time) + " ms: ";
  };
  const auto refusal = [this](const InputTape& damaged) {
    ReplayResult result;
    std::string error;
    EXPECT_FALSE(replay_tape(recorded.run.entry_txid, damaged, result, error));
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

// A recorded run is verified only in the one form the game writes; anything else with a readable
// tape is a mismatch, and a tape that does not decode is no tape at all.
TEST_F(TamperedTape, recorded_runs_are_checked_in_their_canonical_form) {
  const std::string entry = recorded.run.entry_txid;
  const int64_t score = recorded.run.final_score;
  const std::string hex = tape_hex(TapeHeader{}, tape);
  const std::string odd_header = tape_hex(TapeHeader{1, 0, 3}, tape);
  std::string upper = entry;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const struct {
    std::string entry, tape, hash;
    int64_t score;
    RunVerdict verdict;
  } cases[] = {
      {entry, hex, tape_hash(hex), score, RunVerdict::verified},
      {entry, hex, tape_hash(hex), score + 1, RunVerdict::mismatch},
      {entry, odd_header, tape_hash(odd_header), score, RunVerdict::mismatch},
      {upper, hex, tape_hash(hex), score, RunVerdict::mismatch},
      {entry + " ", hex, tape_hash(hex), score, RunVerdict::mismatch},
      {entry, hex, tape_hash(odd_header), score, RunVerdict::mismatch},
      {entry, hex, "", score, RunVerdict::mismatch},
      {entry, "", tape_hash(""), score, RunVerdict::no_tape},
      {entry, hex.substr(1), tape_hash(hex), score, RunVerdict::no_tape},
      {entry, "02" + hex.substr(2), tape_hash(hex), score, RunVerdict::no_tape},
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

TEST(replay, txid_check) {
  EXPECT_TRUE(is_txid(" ABCDEF0000000000000000000000000000000000000000000000000000000000\n"));
  EXPECT_FALSE(is_txid("g000000000000000000000000000000000000000000000000000000000000000"));
  EXPECT_FALSE(is_txid(std::string(65, '0')));
}

}  // namespace
