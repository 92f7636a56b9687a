// The falling-block engine: one plain record and the operations that advance it.
// Everything here is a pure function of the seed and the calls made, so that an entry txid plus
// an input tape reproduces a run exactly on any machine. No clock, no global random source.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <random>
#include <string_view>
#include <vector>

#include "engine/pieces.h"

namespace engine {

// Called synchronously from inside the engine operations; each may be empty.
struct EngineHooks {
  std::function<void()> on_lock;
  std::function<void(int)> on_lines;  // given the number of full rows
  std::function<void()> on_drop;
  std::function<void()> on_rotate;
};

// Field order is part of the record's definition; keep it.
struct GameState {
  std::array<uint32_t, kWellCells> cell_plane{};      // 0 empty, else piece type + 1
  std::array<uint32_t, kWellCells> piece_id_plane{};  // piece serial of each locked cell
  int32_t next_serial = 1;
  int32_t piece_type = 0;
  int32_t rotation = 0;
  int32_t piece_x = 3;
  int32_t piece_y = 0;
  int32_t next_type = 0;
  std::array<int32_t, kPieceTypes> bag{};
  int32_t bag_count = 0;
  int32_t lives = 1;
  int32_t lines = 0;
  int32_t height = 0;
  int64_t score = 0;
  uint8_t paused = 0;
  uint8_t fast_drop = 0;
  uint8_t cascading = 0;
  uint8_t clearing = 0;
  uint8_t game_over = 0;
  std::array<int32_t, 4> clear_rows{};
  int32_t clear_count = 0;
  int32_t clear_count_copy = 0;
  uint64_t gravity_deadline = 0;
  uint64_t fast_drop_deadline = 0;
  uint64_t cascade_deadline = 0;
  uint64_t clear_end = 0;
  std::mt19937 generator;
  EngineHooks hooks;
};

// The actions a player can take, as stored on the input tape.
enum ActionCode : uint8_t {
  MoveLeft = 1,
  MoveRight = 2,
  SoftDrop = 3,
  RotateCW = 4,
  RotateCCW = 5,
  FastDrop = 6,
  RunEnd = 255,
};

inline constexpr uint64_t kStepMs = 16;
inline constexpr uint64_t kFastStepMs = 12;
inline constexpr uint64_t kClearFlashMs = 280;

// Seed rule: trim bytes <= 32 at both ends, lower-case ASCII, SHA-256, first four bytes
// little-endian.
[[nodiscard]] uint32_t seed_from_txid(std::string_view entry_txid);

// max(floor(800 * 0.968^h), 92) ms for h = score / 1000.
[[nodiscard]] uint64_t gravity_interval(int64_t score);

void new_game(GameState& game, uint32_t seed);
int32_t next_from_bag(GameState& game);
void spawn_piece(GameState& game, uint64_t now);
[[nodiscard]] bool piece_fits(const GameState& game, int32_t type, int32_t rotation, int32_t x,
                              int32_t y);
void rotate_piece(GameState& game, int32_t direction);
void lock_piece(GameState& game, uint64_t now);
void check_lines(GameState& game, uint64_t now);
void engine_step(GameState& game, uint64_t now);

// The effect of one action on the engine once it has been recorded: nothing during a clear or
// cascade, otherwise the move, drop or rotation. Shared by the run layer and the replay so the
// two cannot drift apart.
void apply_to_game(GameState& game, uint8_t action, uint64_t now);

// Steps the engine in 16 ms ticks while sim_clock + 16 <= elapsed, stopping (without advancing)
// as soon as the game is over. Returns true when the game is over.
bool catch_up(GameState& game, uint64_t& sim_clock, uint64_t elapsed);

// The first `count` piece types the bag deals for a seed, in order (active piece first, then the
// preview, then each new preview).
[[nodiscard]] std::vector<int32_t> deal_pieces(uint32_t seed, size_t count);

}  // namespace engine
