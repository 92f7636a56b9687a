#include "engine/cascade.h"

#include <array>

namespace engine {
namespace {

// One 10-bit mask per row; bit x is column x.
using RowMasks = std::array<uint16_t, kWellRows>;

// A group is a four-way connected set of cells sharing one piece serial; it is supported when one
// of its cells sits in the bottom row or on an occupied cell of another group. Vertically adjacent
// cells of one serial always belong to the same group, so "another group" below is simply
// "another serial", and support can be seen per cell and then spread through each group.
// Fills `supported` with every cell of a supported group and answers whether any group floats.
// Cells without a serial never belong to a group and never float.
bool mark_supported(const GameState& game, RowMasks& supported, RowMasks& grouped) {
  const auto& cells = game.cell_plane;
  const auto& ids = game.piece_id_plane;
  RowMasks occupied{};
  RowMasks same_below{};  // bit x: this cell and the one below share a serial
  RowMasks same_right{};  // bit x: this cell and the one to its right share a serial
  supported.fill(0);
  grouped.fill(0);
  // Skip the empty rows at the top; on a typical board that is most of the well.
  int first = 0;
  for (; first < kWellRows; ++first) {
    uint32_t any = 0;
    for (int x = 0; x < kWellColumns; ++x)
      any |= cells[static_cast<size_t>(first * kWellColumns + x)];
    if (any != 0) break;
  }
  if (first == kWellRows) return false;
  for (int y = first; y < kWellRows; ++y) {
    const size_t row = static_cast<size_t>(y * kWellColumns);
    unsigned occ = 0, grp = 0, below = 0, right = 0;
    for (size_t x = 0; x < kWellColumns; ++x) {
      const uint32_t id = ids[row + x];
      occ |= static_cast<unsigned>(cells[row + x] != 0) << x;
      grp |= static_cast<unsigned>(cells[row + x] != 0 && id != 0) << x;
      if (y + 1 < kWellRows)
        below |= static_cast<unsigned>(id != 0 && id == ids[row + kWellColumns + x]) << x;
      if (x + 1 < kWellColumns)
        right |= static_cast<unsigned>(id != 0 && id == ids[row + x + 1]) << x;
    }
    occupied[static_cast<size_t>(y)] = static_cast<uint16_t>(occ);
    grouped[static_cast<size_t>(y)] = static_cast<uint16_t>(grp);
    same_below[static_cast<size_t>(y)] = static_cast<uint16_t>(below);
    same_right[static_cast<size_t>(y)] = static_cast<uint16_t>(right);
  }
  const size_t bottom = kWellRows - 1;
  supported[bottom] = grouped[bottom];
  for (size_t y = static_cast<size_t>(first); y < bottom; ++y) {
    supported[y] = static_cast<uint16_t>(grouped[y] & occupied[y + 1] & ~same_below[y]);
  }
  // Spread support through each group: up, down and sideways along shared serials, until stable.
  // Pieces are at most four cells across, so this settles in a few passes.
  for (bool changed = true; changed;) {
    changed = false;
    for (size_t y = static_cast<size_t>(first); y <= bottom; ++y) {
      unsigned s = supported[y];
      if (y < bottom) s |= supported[y + 1] & same_below[y];
      if (y > static_cast<size_t>(first)) s |= supported[y - 1] & same_below[y - 1];
      for (unsigned grown = s;; s = grown) {
        grown = s | ((s & same_right[y]) << 1) | ((s >> 1) & same_right[y]);
        if (grown == s) break;
      }
      if (s != supported[y]) {
        supported[y] = static_cast<uint16_t>(s);
        changed = true;
      }
    }
  }
  for (size_t y = static_cast<size_t>(first); y <= bottom; ++y) {
    if (grouped[y] & ~supported[y]) return true;
  }
  return false;
}

}  // namespace

void settle(GameState& game, uint64_t now) {
  game.fast_drop = 0;
  RowMasks supported;
  RowMasks grouped;
  if (mark_supported(game, supported, grouped)) {
    game.cascading = 1;
    game.cascade_deadline = now;
    if (game.hooks.on_drop) game.hooks.on_drop();
    return;
  }
  check_lines(game, now);
}

bool cascade_step(GameState& game) {
  RowMasks supported;
  RowMasks grouped;
  if (!mark_supported(game, supported, grouped)) return false;
  // All floating groups move one row at once. Working from the bottom up, each floating cell's
  // destination is empty or was just vacated by a floating cell of its own group; the bottom row
  // is always supported, so nothing moves out of the well.
  for (int y = kWellRows - 2; y >= 0; --y) {
    const unsigned floating = grouped[static_cast<size_t>(y)] & ~supported[static_cast<size_t>(y)];
    if (floating == 0) continue;
    for (int x = 0; x < kWellColumns; ++x) {
      if (!(floating >> x & 1u)) continue;
      const size_t i = static_cast<size_t>(y * kWellColumns + x);
      game.cell_plane[i + kWellColumns] = game.cell_plane[i];
      game.piece_id_plane[i + kWellColumns] = game.piece_id_plane[i];
      game.cell_plane[i] = 0;
      game.piece_id_plane[i] = 0;
    }
  }
  return true;
}

}  // namespace engine
