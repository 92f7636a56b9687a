#include "engine/cascade.h"

#include <gtest/gtest.h>

#include "engine/board_fixture.h"

namespace {

using namespace engine;
using engine_test::board_rows;
using engine_test::game_on;
using engine_test::Rows;

// Each clear's score is multiplied by the height + 1 it finds.
TEST(cascade, settles_each_group_as_a_rigid_piece) {
  const struct {
    const char* name;
    Rows before, after;
    int lines;
    int64_t score;  // from 960: each clear scores with the height the one before reached
  } cases[] = {
      // Groups are told apart by connectivity of one serial, not by serial alone: a piece cut in
      // two by a clear falls as two pieces, the upper half coming to rest on the lower.
      {"split piece",
       {"B.........", "BAAAAAAAAA", "B.........", ".........."},
       {"..........", "..........", "B.........", "B........."},
       1,
       1000},
      {"touching pieces of one colour do not merge",
       {".CJ.......", ".C........", ".C........"},
       {".C........", ".C........", ".CJ......."},
       0,
       960},
      // An overhang falls until any one of its cells rests, though others still hang over space.
      {"overhang",
       {".EEE......", "..E.......", "CCCCCCCCCC", "...F......", "...G......"},
       {"..........", "..........", ".EEE......", "..EF......", "...G......"},
       1,
       1000},
      // At most four rows clear at once; the fifth waits for the check after the clear.
      {"five full rows",
       {"BBBBBBBBBB", "CCCCCCCCCC", "DDDDDDDDDD", "EEEEEEEEEE", "FFFFFFFFFF"},
       Rows(5, ".........."),
       5,
       960 + 1200 + 40 * 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GameState game = game_on(c.before);
    game.score = 960;
    settle(game, 0);
    for (uint64_t now = kStepMs; (game.clearing || game.cascading) && now < 100000; now += kStepMs)
      engine_step(game, now);
    EXPECT_EQ(board_rows(game, static_cast<int>(c.after.size())), c.after);
    EXPECT_EQ(game.lines, c.lines);
    EXPECT_EQ(game.score, c.score);
    EXPECT_FALSE(cascade_step(game));
  }
}

}  // namespace
