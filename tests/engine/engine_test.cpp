#include "engine/engine.h"

#include <gtest/gtest.h>

#include <limits>

#include "engine/board_fixture.h"

namespace {

using namespace engine;
using engine_test::game_on;
using engine_test::game_with_piece;
using engine_test::Rows;

// Every copy must deal the same pieces for an entry txid, or recorded scores cannot be checked.
TEST(seed, zero_txid_deals_the_reference_sequence) {
  const uint32_t seed = seed_from_txid(engine_test::kZeroTxid);
  EXPECT_EQ(seed, 3512459360u);
  EXPECT_EQ(deal_pieces(seed, 14),
            (std::vector<int32_t>{5, 3, 4, 2, 6, 1, 0, 6, 0, 1, 3, 5, 4, 2}));
}

TEST(gravity, interval_shrinks_with_height_down_to_92_ms) {
  const std::pair<int64_t, uint64_t> table[] = {{0, 800},  {1, 774}, {10, 577}, {30, 301},
                                                {60, 113}, {66, 93}, {67, 92},  {500, 92}};
  for (const auto& [height, interval] : table) {
    EXPECT_EQ(gravity_interval(height * 1000 + 999), interval) << "height " << height;
  }
}

// Kicks are tried in their fixed order; the I piece's box may stick out of the well as long as
// its cells do not.
TEST(rotation, kicks_in_order_or_not_at_all) {
  const auto roof = [](bool blocked) {
    Rows rows(10, "..........");
    rows[0] = "...AAAAA..";
    if (blocked) rows[4] = ".....A....";
    return rows;
  };
  const struct {
    int type, rotation, x, y;
    Rows board;
    int direction, want_rotation, want_x, want_y;
  } cases[] = {
      {0, 2, 0, 16, {".A........"}, 1, 3, -1, 16},  // flat I against the left wall
      {2, 0, 4, 17, {"....AAA..."}, 1, 1, 4, 16},   // T resting on three cells
      {0, 0, 3, 10, roof(false), 1, 1, 3, 11},      // flat I under a roof
      {0, 0, 3, 10, roof(true), 1, 0, 3, 10},       // ... with no room below either
      {1, 0, 3, 5, {}, -1, 3, 3, 5},                // O turns counter-clockwise like any piece
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.type) + " at " + std::to_string(c.x));
    GameState game = game_with_piece(c.type, c.rotation, c.x, c.y, c.board);
    int turns = 0;
    game.hooks.on_rotate = [&turns] { ++turns; };
    rotate_piece(game, c.direction);
    EXPECT_EQ(game.rotation, c.want_rotation);
    EXPECT_EQ(game.piece_x, c.want_x);
    EXPECT_EQ(game.piece_y, c.want_y);
    EXPECT_EQ(turns, c.want_rotation != c.rotation ? 1 : 0);
  }
}

// A piece can move and lock partly above the well; the cells above are lost and play goes on.
TEST(lock, above_the_well_drops_hidden_cells_and_play_continues) {
  GameState game = game_with_piece(0, 1, -1, -2, Rows(18, "A........."));
  apply_to_game(game, MoveLeft, 0);
  const int32_t serial = game.next_serial;
  apply_to_game(game, SoftDrop, 0);  // cannot move down: locks at once
  EXPECT_EQ(game.cell_plane[0], 1u);
  EXPECT_EQ(game.piece_id_plane[10], static_cast<uint32_t>(serial));
  EXPECT_FALSE(game.game_over);
}

// A long run's score grows geometrically; it must stop at the top of its range, not wrap.
TEST(scoring, saturates_instead_of_wrapping) {
  GameState game = game_on({"BBBBBBBBBB"});
  game.score = std::numeric_limits<int64_t>::max() - 5000;
  game.height = std::numeric_limits<int32_t>::max();
  check_lines(game, 0);
  for (uint64_t now = kStepMs; now <= 288; now += kStepMs) engine_step(game, now);
  EXPECT_EQ(game.score, std::numeric_limits<int64_t>::max());
  EXPECT_EQ(game.height, std::numeric_limits<int32_t>::max());
}

// The next piece is an S; a full column 5 blocks it in the top row alone, which must collide
// like any other row.
TEST(game_over, blocked_spawn_takes_the_only_life) {
  GameState game = game_on(Rows(20, ".....A...."));
  game.fast_drop = 1;
  check_lines(game, 64);
  EXPECT_TRUE(game.game_over);
  EXPECT_EQ(game.lives, 0);
  EXPECT_FALSE(game.fast_drop);
  EXPECT_EQ(game.piece_type, 3);
}

// The window drops keys during a clear or cascade, but a crafted tape may hold them: they must
// not act.
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
  }
}

}  // namespace
