#include "engine/engine.h"

#include <openssl/sha.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "engine/cascade.h"

namespace engine {
namespace {

// Uniform draw from 0..n-1 by rejection, exactly as the deal sequence requires: any other way of
// reducing the generator output would deal different pieces for the same seed.
uint32_t uniform_below(std::mt19937& generator, uint32_t n) {
  constexpr uint32_t kMax = std::numeric_limits<uint32_t>::max();
  for (;;) {
    const uint32_t r = static_cast<uint32_t>(generator());
    if (r / n < kMax / n || kMax % n == n - 1) return r % n;
  }
}

// Clears multiply by the height, which follows the score, so a long run's score grows
// geometrically; it stops at the largest 64-bit value instead of wrapping negative, and the
// height stops at the largest 32-bit value.
void add_score(GameState& game, int64_t points) {
  constexpr int64_t kMaxScore = std::numeric_limits<int64_t>::max();
  game.score = points > kMaxScore - game.score ? kMaxScore : game.score + points;
  game.height = static_cast<int32_t>(
      std::min<int64_t>(game.score / 1000, std::numeric_limits<int32_t>::max()));
}

void complete_clear(GameState& game, uint64_t now) {
  for (int32_t i = 0; i < game.clear_count; ++i) {
    const int32_t row = game.clear_rows[static_cast<size_t>(i)];
    for (int32_t x = 0; x < kWellColumns; ++x) {
      const size_t index = static_cast<size_t>(row * kWellColumns + x);
      game.cell_plane[index] = 0;
      game.piece_id_plane[index] = 0;
    }
  }
  const int32_t count = game.clear_count_copy;
  game.clear_count = 0;
  game.clear_count_copy = 0;
  game.clearing = 0;
  game.lines += count;
  add_score(game, LineScores[static_cast<size_t>(std::min(count, 4))] *
                      (static_cast<int64_t>(game.height) + 1));
  settle(game, now);
}

bool row_full(const GameState& game, int32_t row) {
  const auto begin = game.cell_plane.begin() + row * kWellColumns;
  return std::all_of(begin, begin + kWellColumns, [](uint32_t cell) { return cell != 0; });
}

}  // namespace

uint32_t seed_from_txid(std::string_view entry_txid) {
  size_t begin = 0;
  size_t end = entry_txid.size();
  while (begin < end && static_cast<unsigned char>(entry_txid[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(entry_txid[end - 1]) <= 32) --end;
  std::string lowered(entry_txid.substr(begin, end - begin));
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(lowered.data()), lowered.size(), digest);
  return static_cast<uint32_t>(digest[0]) | (static_cast<uint32_t>(digest[1]) << 8) |
         (static_cast<uint32_t>(digest[2]) << 16) | (static_cast<uint32_t>(digest[3]) << 24);
}

uint64_t gravity_interval(int64_t score) {
  const int64_t height = score / 1000;
  // From height 67 on the floor of 92 ms holds; stopping early also keeps pow away from huge
  // exponents.
  if (height >= 67) return 92;
  const double interval =
      800.0 * std::pow(0.968, static_cast<double>(std::max<int64_t>(height, 0)));
  return std::max<uint64_t>(static_cast<uint64_t>(interval), 92);
}

void new_game(GameState& game, uint32_t seed) {
  EngineHooks hooks = std::move(game.hooks);
  game = GameState{};
  game.hooks = std::move(hooks);
  game.generator.seed(seed);
  game.lives = 1;
  game.next_type = next_from_bag(game);
  spawn_piece(game, 0);
}

int32_t next_from_bag(GameState& game) {
  if (game.bag_count > 0) {
    --game.bag_count;
    return game.bag[static_cast<size_t>(game.bag_count)];
  }
  for (int32_t i = 0; i < kPieceTypes; ++i) game.bag[static_cast<size_t>(i)] = i;
  for (uint32_t i = 1; i < kPieceTypes; ++i) {
    const uint32_t j = uniform_below(game.generator, i + 1);
    if (j != i) std::swap(game.bag[i], game.bag[j]);
  }
  game.bag_count = kPieceTypes - 1;
  return game.bag[kPieceTypes - 1];
}

void spawn_piece(GameState& game, uint64_t now) {
  game.piece_type = game.next_type;
  game.next_type = next_from_bag(game);
  game.rotation = 0;
  game.piece_x = 3;
  game.piece_y = 0;
  game.gravity_deadline = now + gravity_interval(game.score);
}

bool piece_fits(const GameState& game, int32_t type, int32_t rotation, int32_t x, int32_t y) {
  if (type < 0 || type >= kPieceTypes || rotation < 0 || rotation >= kRotations) return false;
  for (const CellOffset& cell :
       PieceShapes[static_cast<size_t>(type)][static_cast<size_t>(rotation)]) {
    const int32_t cx = x + cell.dx;
    const int32_t cy = y + cell.dy;
    if (cx < 0 || cx >= kWellColumns || cy >= kWellRows) return false;
    if (cy < 0) continue;  // above the well: nothing to collide with
    if (game.cell_plane[static_cast<size_t>(cy * kWellColumns + cx)] != 0) return false;
  }
  return true;
}

void rotate_piece(GameState& game, int32_t direction) {
  const int32_t rotation = ((game.rotation + direction) % kRotations + kRotations) % kRotations;
  for (const CellOffset& kick : KickOffsets) {
    const int32_t x = game.piece_x + kick.dx;
    const int32_t y = game.piece_y + kick.dy;
    if (piece_fits(game, game.piece_type, rotation, x, y)) {
      game.rotation = rotation;
      game.piece_x = x;
      game.piece_y = y;
      if (game.hooks.on_rotate) game.hooks.on_rotate();
      return;
    }
  }
}

void lock_piece(GameState& game, uint64_t now) {
  game.fast_drop = 0;
  const int32_t serial = game.next_serial;
  game.next_serial = serial >= std::numeric_limits<int32_t>::max() ? 1 : std::max(serial + 1, 1);
  const auto& cells =
      PieceShapes[static_cast<size_t>(game.piece_type)][static_cast<size_t>(game.rotation)];
  for (const CellOffset& cell : cells) {
    const int32_t cx = game.piece_x + cell.dx;
    const int32_t cy = game.piece_y + cell.dy;
    // Cells above the well are lost.
    if (cy < 0 || cy >= kWellRows || cx < 0 || cx >= kWellColumns) continue;
    const size_t index = static_cast<size_t>(cy * kWellColumns + cx);
    game.cell_plane[index] = static_cast<uint32_t>(game.piece_type + 1);
    game.piece_id_plane[index] = static_cast<uint32_t>(serial);
  }
  settle(game, now);
}

void check_lines(GameState& game, uint64_t now) {
  game.cascading = 0;
  game.clear_count = 0;
  // At most four rows per clear; a fifth full row is found by the check after the cascade.
  for (int32_t row = 0; row < kWellRows && game.clear_count < 4; ++row) {
    if (row_full(game, row)) game.clear_rows[static_cast<size_t>(game.clear_count++)] = row;
  }
  if (game.clear_count > 0) {
    game.clear_count_copy = game.clear_count;
    game.clear_end = now + kClearFlashMs;
    game.clearing = 1;
    if (game.hooks.on_lines) game.hooks.on_lines(game.clear_count);
    return;
  }
  if (game.hooks.on_lock) game.hooks.on_lock();
  spawn_piece(game, now);
  if (piece_fits(game, game.piece_type, game.rotation, game.piece_x, game.piece_y)) return;
  --game.lives;
  if (game.lives > 0) {
    // A run never has a spare life today; should one exist, it buys an empty well so the
    // blocked piece can fall again.
    game.cell_plane.fill(0);
    game.piece_id_plane.fill(0);
    return;
  }
  game.fast_drop = 0;
  game.cascading = 0;
  game.clearing = 0;
  game.game_over = 1;  // the blocked piece stays as the active piece, in view
}

void engine_step(GameState& game, uint64_t now) {
  if (game.game_over || game.paused) return;
  if (game.clearing) {
    if (now >= game.clear_end && game.clear_count_copy >= 1) complete_clear(game, now);
    return;
  }
  if (game.cascading) {
    if (now >= game.cascade_deadline) {
      if (cascade_step(game)) {
        game.cascade_deadline = now + kFastStepMs;
      } else {
        check_lines(game, now);
      }
    }
    return;
  }
  if (game.fast_drop) {
    if (now >= game.fast_drop_deadline) {
      if (piece_fits(game, game.piece_type, game.rotation, game.piece_x, game.piece_y + 1)) {
        ++game.piece_y;
        add_score(game, 2);
        game.fast_drop_deadline = now + kFastStepMs;
      } else {
        lock_piece(game, now);
      }
    }
    return;
  }
  if (now >= game.gravity_deadline) {
    if (piece_fits(game, game.piece_type, game.rotation, game.piece_x, game.piece_y + 1)) {
      ++game.piece_y;
      add_score(game, 1);
    } else {
      lock_piece(game, now);
    }
    game.gravity_deadline = now + gravity_interval(game.score);
  }
}

void apply_to_game(GameState& game, uint8_t action, uint64_t now) {
  if (game.game_over || game.paused || game.clearing || game.cascading) return;
  switch (action) {
    case MoveLeft:
    case MoveRight: {
      const int32_t x = game.piece_x + (action == MoveLeft ? -1 : 1);
      if (piece_fits(game, game.piece_type, game.rotation, x, game.piece_y)) game.piece_x = x;
      break;
    }
    case SoftDrop:
      if (piece_fits(game, game.piece_type, game.rotation, game.piece_x, game.piece_y + 1)) {
        ++game.piece_y;
        add_score(game, 1);
      } else {
        lock_piece(game, now);
      }
      break;
    case RotateCW:
      rotate_piece(game, 1);
      break;
    case RotateCCW:
      rotate_piece(game, -1);
      break;
    case FastDrop:
      if (game.fast_drop) break;
      game.fast_drop_deadline = now;
      game.fast_drop = 1;
      if (game.hooks.on_drop) game.hooks.on_drop();
      break;
    default:
      break;
  }
}

bool catch_up(GameState& game, uint64_t& sim_clock, uint64_t elapsed) {
  while (sim_clock + kStepMs <= elapsed) {
    if (game.game_over) return true;
    sim_clock += kStepMs;
    engine_step(game, sim_clock);
  }
  return game.game_over != 0;
}

std::vector<int32_t> deal_pieces(uint32_t seed, size_t count) {
  GameState game;
  game.generator.seed(seed);
  std::vector<int32_t> pieces;
  pieces.reserve(count);
  for (size_t i = 0; i < count; ++i) pieces.push_back(next_from_bag(game));
  return pieces;
}

}  // namespace engine
