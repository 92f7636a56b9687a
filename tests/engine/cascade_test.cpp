#include "engine/cascade.h"

#include <gtest/gtest.h>

#include "engine/board_fixture.h"

namespace {

using namespace engine;
using engine_test::board_rows;
using engine_test::kZeroTxid;
using engine_test::set_board;
using Rows = std::vector<std::string>;

GameState game_on(const Rows& rows) {
  GameState game;
  new_game(game, seed_from_txid(kZeroTxid));
  set_board(game, rows);
  return game;
}

// Steps from `now` until no clear or cascade is under way; returns the time reached.
uint64_t run_until_quiet(GameState& game, uint64_t now) {
  do {
    now += kStepMs;
    engine_step(game, now);
  } while ((game.clearing || game.cascading) && now < 100000);
  return now;
}

// Groups are told apart by connectivity of one serial, not by serial alone: a piece cut in two by
// a clear falls as two pieces, the upper half coming to rest on the lower.
TEST(cascade, split_piece_falls_as_two_groups) {
  GameState game = game_on({"B.........", "BAAAAAAAAA", "B.........", ".........."});
  check_lines(game, 0);
  ASSERT_TRUE(game.clearing);
  run_until_quiet(game, 0);
  EXPECT_EQ(board_rows(game, 4), (Rows{"..........", "..........", "B.........", "B........."}));
  EXPECT_EQ(game.lines, 1);
}

// Two pieces of the same colour that touch stay separate: the unsupported one falls.
TEST(cascade, touching_pieces_of_one_colour_do_not_merge) {
  GameState game = game_on({".CJ.......", ".C........", ".C........"});
  ASSERT_EQ(game.cell_plane[17 * 10 + 1], game.cell_plane[17 * 10 + 2]);  // same colour
  int drops = 0;
  game.hooks.on_drop = [&drops] { ++drops; };
  settle(game, 0);
  EXPECT_TRUE(game.cascading);
  EXPECT_EQ(drops, 1);
  run_until_quiet(game, 0);
  EXPECT_EQ(board_rows(game, 3), (Rows{".C........", ".C........", ".CJ......."}));
}

// An overhang left by a clear falls as a rigid piece until any one of its cells rests on
// something, even though other cells still hang over empty space.
TEST(cascade, overhang_falls_until_one_cell_rests) {
  GameState game = game_on({".EEE......", "..E.......", "CCCCCCCCCC", "...F......", "...G......"});
  check_lines(game, 0);
  run_until_quiet(game, 0);
  EXPECT_EQ(board_rows(game, 5),
            (Rows{"..........", "..........", ".EEE......", "..EF......", "...G......"}));
  EXPECT_FALSE(cascade_step(game));
}

// All floating groups move in the same step, one row per tick.
TEST(cascade, floating_groups_move_together_one_row_per_step) {
  GameState game = game_on({"B...C.....", "..........", ".........."});
  EXPECT_TRUE(cascade_step(game));
  EXPECT_EQ(board_rows(game, 3), (Rows{"..........", "B...C.....", ".........."}));
  settle(game, 0);
  ASSERT_TRUE(game.cascading);
  engine_step(game, 16);  // the cascade deadline was "now": first step right away
  EXPECT_EQ(board_rows(game, 3), (Rows{"..........", "..........", "B...C....."}));
  EXPECT_EQ(game.cascade_deadline, 16u + kFastStepMs);
}

// A cascade that completes a row starts a second clear, scored on its own with the height the
// first clear reached.
TEST(cascade, chained_clear_scores_with_the_new_height) {
  GameState game = game_on({".........D", "CCCCCCCCCC", "AAAAAAAAA."});
  game.score = 960;
  game.height = 0;
  int clears = 0;
  game.hooks.on_lines = [&clears](int) { ++clears; };
  check_lines(game, 0);
  uint64_t now = run_until_quiet(game, 0);
  EXPECT_EQ(clears, 2);
  EXPECT_EQ(game.lines, 2);
  EXPECT_EQ(game.score, 960 + 40 + 40 * 2);
  EXPECT_EQ(game.height, 1);
  EXPECT_EQ(board_rows(game, 3), (Rows{"..........", "..........", ".........."}));
  EXPECT_FALSE(game.game_over);
  EXPECT_GT(now, 2 * kClearFlashMs);
}

}  // namespace
