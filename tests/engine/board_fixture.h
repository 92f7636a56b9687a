// Helpers for engine tests: draw a well from text and read it back.
// In the text '.' is empty and each letter is one locked piece: the letter gives its piece serial
// (A = 1, B = 2, ...) and its colour (type (letter - 'A') % 7, stored as type + 1).
#pragma once

#include <string>
#include <vector>

#include "engine/engine.h"

namespace engine_test {

inline constexpr const char* kZeroTxid =
    "0000000000000000000000000000000000000000000000000000000000000000";

// Lays the rows at the bottom of the well; rows above them stay empty.
inline void set_board(engine::GameState& game, const std::vector<std::string>& rows) {
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

// The bottom `count` rows as letters of their piece serials.
inline std::vector<std::string> board_rows(const engine::GameState& game, int count) {
  std::vector<std::string> rows;
  for (int y = engine::kWellRows - count; y < engine::kWellRows; ++y) {
    std::string row(engine::kWellColumns, '.');
    for (int x = 0; x < engine::kWellColumns; ++x) {
      const uint32_t serial =
          game.piece_id_plane[static_cast<size_t>(y * engine::kWellColumns + x)];
      if (serial != 0) row[static_cast<size_t>(x)] = static_cast<char>('A' + serial - 1);
    }
    rows.push_back(row);
  }
  return rows;
}

// A fresh game on the zero txid with a chosen active piece, away from any deadline.
inline engine::GameState game_with_piece(int type, int rotation, int x, int y) {
  engine::GameState game;
  engine::new_game(game, engine::seed_from_txid(kZeroTxid));
  game.piece_type = type;
  game.rotation = rotation;
  game.piece_x = x;
  game.piece_y = y;
  return game;
}

}  // namespace engine_test
