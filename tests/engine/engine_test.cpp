#include "engine/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <limits>
#include <random>

#include "engine/board_fixture.h"

namespace {

using namespace engine;
using engine_test::game_with_piece;
using engine_test::kZeroTxid;
using engine_test::set_board;

// Runs engine steps from `from` (exclusive) to `to` (inclusive), 16 ms apart.
void step_through(GameState& game, uint64_t from, uint64_t to) {
  for (uint64_t now = from + kStepMs; now <= to; now += kStepMs) engine_step(game, now);
}

// Every copy of the game must deal the same pieces for the same entry txid, or recorded scores
// cannot be checked. The zero txid is the published reference.
TEST(seed, zero_txid_deals_the_reference_sequence) {
  const uint32_t seed = seed_from_txid(kZeroTxid);
  EXPECT_EQ(seed, 3512459360u);
  EXPECT_EQ(deal_pieces(seed, 14),
            (std::vector<int32_t>{5, 3, 4, 2, 6, 1, 0, 6, 0, 1, 3, 5, 4, 2}));
  GameState game;
  new_game(game, seed);
  EXPECT_EQ(game.piece_type, 5);  // bag[6] of the first shuffle
  EXPECT_EQ(game.next_type, 3);
  EXPECT_EQ(game.bag_count, 5);
  EXPECT_EQ(game.lives, 1);
  EXPECT_EQ(game.gravity_deadline, 800u);
}

// The txid text may arrive padded or in upper case; neither may change the seed.
TEST(seed, ignores_surrounding_space_and_case) {
  const std::string upper = "00000000000000000000000000000000000000000000000000000000000000AB";
  EXPECT_EQ(seed_from_txid("  " + upper + "\n"), 1791002990u);
  std::string lower = upper;
  std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
  EXPECT_EQ(seed_from_txid(lower), 1791002990u);
  EXPECT_NE(seed_from_txid(lower), seed_from_txid(kZeroTxid));
}

// Each bag of seven is a permutation of all seven pieces, whatever the seed.
TEST(bag, every_bag_holds_each_piece_once) {
  for (uint32_t seed = 1; seed <= 200; ++seed) {
    const std::vector<int32_t> dealt = deal_pieces(seed * 2654435761u, 70);
    for (size_t bag = 0; bag < dealt.size(); bag += 7) {
      std::vector<int32_t> sorted(dealt.begin() + static_cast<long>(bag),
                                  dealt.begin() + static_cast<long>(bag + 7));
      std::sort(sorted.begin(), sorted.end());
      ASSERT_EQ(sorted, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6})) << "seed " << seed;
    }
  }
}

// The draw throws away outputs from the top of the generator's range, where r mod n would favour
// small values, and accepts the very top when it maps evenly. Both cases are rare (a few outputs
// in four billion), so ordinary seeds never reach them; these generator positions were found by
// search. Any other reduction, or a missed boundary, deals different pieces here.
TEST(bag, draw_rejects_the_uneven_top_of_the_range) {
  struct Case {
    uint32_t seed;
    unsigned long long skip;  // outputs to pass before the shuffle starts
    uint32_t top_output;      // the rare output the shuffle meets
    std::array<int32_t, 7> bag;
    int32_t dealt;
    unsigned long long used;  // outputs the shuffle takes
  };
  const Case cases[] = {
      // The sixth draw (from 0..6) meets 4294967292: thrown away, the next output is used.
      {5257882, 26, 4294967292u, {1, 4, 2, 6, 0, 5, 3}, 3, 7},
      // The first draw (from 0..1) meets 4294967295: 2^32 splits evenly in two, so it is kept.
      {2429903, 836, 4294967295u, {3, 1, 5, 2, 6, 4, 0}, 0, 6},
  };
  for (const Case& c : cases) {
    std::mt19937 probe(c.seed);
    probe.discard(c.skip + (c.used == 7 ? 5 : 0));
    ASSERT_EQ(probe(), c.top_output) << "seed " << c.seed;

    GameState game;
    game.generator.seed(c.seed);
    game.generator.discard(c.skip);
    EXPECT_EQ(next_from_bag(game), c.dealt) << "seed " << c.seed;
    EXPECT_EQ(game.bag, c.bag) << "seed " << c.seed;
    std::mt19937 expected(c.seed);
    expected.discard(c.skip + c.used);
    EXPECT_TRUE(game.generator == expected) << "seed " << c.seed;
  }
}

TEST(gravity, interval_shrinks_with_height_down_to_92_ms) {
  const std::pair<int64_t, uint64_t> table[] = {{0, 800},  {1, 774}, {10, 577}, {30, 301},
                                                {60, 113}, {66, 93}, {67, 92},  {500, 92}};
  for (const auto& [height, interval] : table) {
    EXPECT_EQ(gravity_interval(height * 1000 + 999), interval) << "height " << height;
  }
}

// Gravity moves one row per interval for a point each; a fast drop moves one row per tick for two
// points and locks at the bottom without waiting.
TEST(gravity, falls_per_interval_and_fast_drop_per_tick) {
  GameState game;
  new_game(game, seed_from_txid(kZeroTxid));
  step_through(game, 0, 784);
  EXPECT_EQ(game.piece_y, 0);
  step_through(game, 784, 800);
  EXPECT_EQ(game.piece_y, 1);
  EXPECT_EQ(game.score, 1);
  EXPECT_EQ(game.gravity_deadline, 1600u);

  int drops = 0;
  game.hooks.on_drop = [&drops] { ++drops; };
  apply_to_game(game, FastDrop, 800);
  apply_to_game(game, FastDrop, 800);  // a second press changes nothing
  EXPECT_EQ(drops, 1);
  step_through(game, 800, 800 + 17 * 16);  // J rotation 0 rests at row 18
  EXPECT_EQ(game.piece_y, 18);
  EXPECT_EQ(game.score, 1 + 2 * 17);
  EXPECT_TRUE(game.fast_drop);
  step_through(game, 1072, 1088);
  EXPECT_FALSE(game.fast_drop);
  EXPECT_EQ(engine_test::board_rows(game, 2),
            (std::vector<std::string>{"...A......", "...AAA...."}));
  EXPECT_EQ(game.piece_type, 3);  // the next piece has spawned
}

// Soft drop scores at once, so the height and the next gravity interval follow immediately; it
// does not push the gravity deadline back.
TEST(gravity, soft_drop_at_999_raises_height_and_speed) {
  GameState game;
  new_game(game, seed_from_txid(kZeroTxid));
  game.score = 999;
  apply_to_game(game, SoftDrop, 0);
  EXPECT_EQ(game.score, 1000);
  EXPECT_EQ(game.height, 1);
  EXPECT_EQ(game.piece_y, 1);
  EXPECT_EQ(game.gravity_deadline, 800u);
  step_through(game, 784, 800);
  EXPECT_EQ(game.gravity_deadline, 800u + 774u);
}

// The I piece's box may stick out of the well as long as its cells do not; a blocked turn next to
// the wall takes the (-1, 0) kick to column -1.
TEST(rotation, i_piece_against_left_wall_kicks_to_column_minus_one) {
  GameState game = game_with_piece(0, 2, 0, 16);  // flat in row 18, columns 0..3
  set_board(game, {".A........"});
  int turns = 0;
  game.hooks.on_rotate = [&turns] { ++turns; };
  rotate_piece(game, 1);
  EXPECT_EQ(game.rotation, 3);
  EXPECT_EQ(game.piece_x, -1);
  EXPECT_EQ(game.piece_y, 16);
  EXPECT_EQ(turns, 1);
  apply_to_game(game, MoveLeft, 0);  // its cells are against the wall now
  EXPECT_EQ(game.piece_x, -1);
}

// Kicks are tried in their fixed order: a turn that fits only one row up uses (0, -1) before the
// two-column kicks, and one that fits only one row down uses the last kick (0, +1).
TEST(rotation, kicks_up_and_down_in_order) {
  GameState up = game_with_piece(2, 0, 4, 17);  // T resting on three cells
  set_board(up, {"....AAA..."});
  rotate_piece(up, 1);
  EXPECT_EQ(up.rotation, 1);
  EXPECT_EQ(up.piece_x, 4);
  EXPECT_EQ(up.piece_y, 16);

  GameState down = game_with_piece(0, 0, 3, 10);  // flat I in row 11 under a roof
  set_board(down, {"...AAAAA..", "..........", "..........", "..........", "..........",
                   "..........", "..........", "..........", "..........", ".........."});
  rotate_piece(down, 1);
  EXPECT_EQ(down.rotation, 1);
  EXPECT_EQ(down.piece_x, 3);
  EXPECT_EQ(down.piece_y, 11);
}

TEST(rotation, blocked_turn_changes_nothing_and_o_turns_like_any_piece) {
  GameState game = game_with_piece(0, 0, 3, 10);
  set_board(game, {"...AAAAA..", "..........", "..........", "..........", ".....A....",
                   "..........", "..........", "..........", "..........", ".........."});
  int turns = 0;
  game.hooks.on_rotate = [&turns] { ++turns; };
  rotate_piece(game, 1);
  EXPECT_EQ(game.rotation, 0);
  EXPECT_EQ(game.piece_x, 3);
  EXPECT_EQ(game.piece_y, 10);
  EXPECT_EQ(turns, 0);

  GameState o = game_with_piece(1, 0, 3, 5);
  o.hooks.on_rotate = [&turns] { ++turns; };
  rotate_piece(o, -1);
  EXPECT_EQ(o.rotation, 3);
  EXPECT_EQ(turns, 1);
}

// A piece can move and lock partly above the well; the cells above are lost and play goes on.
TEST(lock, above_the_well_drops_hidden_cells_and_play_continues) {
  GameState game = game_with_piece(0, 1, -1, -2);  // vertical I in column 1, rows -2..1
  std::vector<std::string> column(18, "A.........");
  set_board(game, column);  // column 0 filled from row 2 down
  apply_to_game(game, MoveLeft, 0);
  EXPECT_EQ(game.piece_x, -2);  // now in column 0, above the stack
  int locks = 0;
  game.hooks.on_lock = [&locks] { ++locks; };
  const int32_t serial = game.next_serial;
  apply_to_game(game, SoftDrop, 0);  // cannot move down: locks at once
  EXPECT_EQ(locks, 1);
  EXPECT_EQ(game.cell_plane[0], 1u);
  EXPECT_EQ(game.cell_plane[10], 1u);
  EXPECT_EQ(game.piece_id_plane[10], static_cast<uint32_t>(serial));
  EXPECT_EQ(game.next_serial, serial + 1);
  EXPECT_FALSE(game.game_over);
  EXPECT_EQ(game.piece_type, 3);
}

// Serials tell pieces apart in the cascade and 0 means empty, so 0 is never handed out: after the
// largest value the count starts again at 1.
TEST(lock, serial_wraps_to_one_after_the_largest_value) {
  GameState game = game_with_piece(1, 0, 3, 18);  // O piece on the floor, columns 4 and 5
  game.next_serial = std::numeric_limits<int32_t>::max();
  apply_to_game(game, SoftDrop, 0);
  EXPECT_EQ(game.piece_id_plane[19 * 10 + 4], 2147483647u);
  EXPECT_EQ(game.next_serial, 1);
  game.piece_type = 1;
  game.rotation = 0;
  game.piece_x = 6;  // columns 7 and 8
  game.piece_y = 18;
  apply_to_game(game, SoftDrop, 0);
  EXPECT_EQ(game.piece_id_plane[19 * 10 + 7], 1u);
  EXPECT_EQ(game.next_serial, 2);
}

// Four rows score 1200 x (height + 1); a fifth full row waits for the check after the clear and
// then scores with the height the first clear reached. Rows above a cleared row do not move.
TEST(scoring, four_rows_then_the_fifth_with_the_new_height) {
  GameState game;
  new_game(game, seed_from_txid(kZeroTxid));
  set_board(game, {"BBBBBBBBBB", "CCCCCCCCCC", "DDDDDDDDDD", "EEEEEEEEEE", "FFFFFFFFFF"});
  int cleared = 0;
  game.hooks.on_lines = [&cleared](int count) { cleared = count; };
  check_lines(game, 0);
  EXPECT_TRUE(game.clearing);
  EXPECT_EQ(cleared, 4);
  EXPECT_EQ(game.clear_rows, (std::array<int32_t, 4>{15, 16, 17, 18}));
  step_through(game, 0, 272);
  EXPECT_TRUE(game.clearing);  // the flash lasts 280 ms: it ends on the tick at 288
  step_through(game, 272, 288);
  EXPECT_EQ(game.score, 1200);
  EXPECT_EQ(game.height, 1);
  EXPECT_EQ(game.lines, 4);
  EXPECT_TRUE(game.clearing);  // row 19 found by the next check
  EXPECT_EQ(cleared, 1);
  step_through(game, 288, 288 + 288);
  EXPECT_EQ(game.score, 1200 + 40 * 2);
  EXPECT_EQ(game.lines, 5);
  EXPECT_FALSE(game.clearing);
}

// Clears multiply by the height, so a long run's score grows geometrically; it must stop at the
// top of its range rather than wrap negative (and the height with it).
TEST(scoring, saturates_instead_of_wrapping) {
  GameState game;
  new_game(game, seed_from_txid(kZeroTxid));
  set_board(game, {"BBBBBBBBBB"});
  game.score = std::numeric_limits<int64_t>::max() - 5000;
  game.height = static_cast<int32_t>(std::numeric_limits<int32_t>::max());
  check_lines(game, 0);
  step_through(game, 0, 288);
  EXPECT_EQ(game.score, std::numeric_limits<int64_t>::max());
  EXPECT_EQ(game.height, std::numeric_limits<int32_t>::max());
  apply_to_game(game, SoftDrop, 288);
  EXPECT_EQ(game.score, std::numeric_limits<int64_t>::max());
  EXPECT_EQ(gravity_interval(game.score), 92u);

  GameState tall;
  new_game(tall, seed_from_txid(kZeroTxid));
  tall.score = 3000000000000 - 1;  // its height no longer fits 32 bits
  apply_to_game(tall, SoftDrop, 0);
  EXPECT_EQ(tall.height, std::numeric_limits<int32_t>::max());
}

// A fresh game whose column `x` is full to the top, so the next spawn (an S piece at column 3:
// row 0 in columns 4 and 5, row 1 in columns 3 and 4) is blocked.
GameState game_with_full_column(int x = 4) {
  GameState game;
  new_game(game, seed_from_txid(kZeroTxid));
  std::string row(kWellColumns, '.');
  row[static_cast<size_t>(x)] = 'A';
  set_board(game, std::vector<std::string>(20, row));
  return game;
}

// The run has one life: a blocked spawn ends it, clears the phase flags and keeps the blocked
// piece in view; nothing moves afterwards. Column 5 blocks the spawn in row 0 alone, the top row
// of the well, which must collide like any other.
TEST(game_over, blocked_spawn_takes_the_only_life) {
  for (const int column : {4, 5}) {
    GameState game = game_with_full_column(column);
    game.fast_drop = 1;
    int locks = 0;
    game.hooks.on_lock = [&locks] { ++locks; };
    check_lines(game, 64);
    EXPECT_EQ(locks, 1);
    EXPECT_TRUE(game.game_over) << "column " << column;
    EXPECT_EQ(game.lives, 0);
    EXPECT_FALSE(game.fast_drop);
    EXPECT_EQ(game.piece_type, 3);
    EXPECT_EQ(game.piece_y, 0);
    const GameState before = game;
    step_through(game, 64, 5000);
    apply_to_game(game, SoftDrop, 5000);
    EXPECT_EQ(game.score, before.score);
    EXPECT_EQ(game.piece_y, 0);
    EXPECT_EQ(game.cell_plane, before.cell_plane);
  }
}

// A run never has a spare life; should the engine be given one, a blocked spawn spends it on an
// empty well and the blocked piece plays on.
TEST(game_over, a_spare_life_buys_an_empty_well) {
  GameState game = game_with_full_column();
  game.lives = 2;
  check_lines(game, 64);
  EXPECT_FALSE(game.game_over);
  EXPECT_EQ(game.lives, 1);
  EXPECT_EQ(game.cell_plane, (std::array<uint32_t, kWellCells>{}));
  EXPECT_EQ(game.piece_id_plane, (std::array<uint32_t, kWellCells>{}));
  EXPECT_TRUE(piece_fits(game, game.piece_type, game.rotation, game.piece_x, game.piece_y));
}

// Keys that arrive during a clear or cascade are recorded by the run layer but must not act.
TEST(actions, ignored_during_clear_and_cascade) {
  for (const bool clearing : {true, false}) {
    GameState game = game_with_piece(2, 0, 4, 5);
    (clearing ? game.clearing : game.cascading) = 1;
    game.clear_end = game.cascade_deadline = 1000000;
    for (uint8_t action = MoveLeft; action <= FastDrop; ++action) apply_to_game(game, action, 0);
    EXPECT_EQ(game.piece_x, 4);
    EXPECT_EQ(game.piece_y, 5);
    EXPECT_EQ(game.rotation, 0);
    EXPECT_FALSE(game.fast_drop);
    EXPECT_EQ(game.score, 0);
  }
}

}  // namespace
