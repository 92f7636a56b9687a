// '.' is empty and each letter one locked piece: A = serial 1, and colour (letter - 'A') % 7 + 1.
#pragma once

#include <string>
#include <vector>

#include "engine/engine.h"

namespace engine_test {

using Rows = std::vector<std::string>;

inline constexpr const char* kZeroTxid =
    "0000000000000000000000000000000000000000000000000000000000000000";

inline void set_board(engine::GameState& game, const Rows& rows) {
  game.cell_plane.fill(0);
  game.piece_id_plane.fill(0);
  const int top = engine::kWellRows - static_cast<int>(rows.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    for (int x = 0; x < engine::kWellColumns; ++x) {
      const char c = rows[r][static_cast<size_t>(x)];
      if (c == '.') continue;
      const size_t index =
          static_cast<size_t>((top + static_cast<int>(r)) * engine::kWellColumns + x);
      game.cell_plane[index] = static_cast<uint32_t>((c - 'A') % 7 + 1);
      game.piece_id_plane[index] = static_cast<uint32_t>(c - 'A' + 1);
    }
  }
}

// The bottom `count` rows, each cell as the letter of its piece serial.
inline Rows board_rows(const engine::GameState& game, int count) {
  Rows rows;
  for (int y = engine::kWellRows - count; y < engine::kWellRows; ++y) {
    std::string row(engine::kWellColumns, '.');
    for (int x = 0; x < engine::kWellColumns; ++x) {
      const size_t i = static_cast<size_t>(y * engine::kWellColumns + x);
      const uint32_t serial = game.piece_id_plane[i];
      if (serial != 0) row[static_cast<size_t>(x)] = static_cast<char>('@' + serial);
    }
    rows.push_back(row);
  }
  return rows;
}

inline engine::GameState game_on(const Rows& rows) {
  engine::GameState game;
  engine::new_game(game, engine::seed_from_txid(kZeroTxid));
  set_board(game, rows);
  return game;
}

inline engine::GameState game_with_piece(int type, int rotation, int x, int y,
                                         const Rows& rows = {}) {
  engine::GameState game = game_on(rows);
  game.piece_type = type;
  game.rotation = rotation;
  game.piece_x = x;
  game.piece_y = y;
  return game;
}

}  // namespace engine_test
