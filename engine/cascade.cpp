#include "engine/cascade.h"

#include <array>

namespace engine {
namespace {

struct Group {
  uint32_t value = 0;   // the start cell's cell-plane value
  uint32_t serial = 0;  // the piece serial every cell shares
  int16_t first = 0;    // index of its first cell in FloatingGroups::cells
  int16_t count = 0;
};

// Every floating group of the well; at most 200 cells in all, so fixed arrays suffice.
struct FloatingGroups {
  std::array<Group, kWellCells> groups;
  std::array<int16_t, kWellCells> cells;  // cell indices, grouped
  int group_count = 0;
  int cell_count = 0;
};

// Finds the floating groups, bottom row first and left to right within a row. With stop_at_first
// the search ends at the first floating group found (settle only needs to know whether any is).
void find_floating(const GameState& game, FloatingGroups& out, bool stop_at_first) {
  std::array<int16_t, kWellCells> group_of;
  group_of.fill(-1);
  std::array<int16_t, kWellCells> members;
  std::array<int16_t, kWellCells> stack;
  int16_t next_group = 0;
  out.group_count = 0;
  out.cell_count = 0;

  for (int y = kWellRows - 1; y >= 0; --y) {
    for (int x = 0; x < kWellColumns; ++x) {
      const int start = y * kWellColumns + x;
      const uint32_t serial = game.piece_id_plane[static_cast<size_t>(start)];
      if (game.cell_plane[static_cast<size_t>(start)] == 0 || serial == 0 ||
          group_of[static_cast<size_t>(start)] >= 0) {
        continue;
      }
      const int16_t id = next_group++;
      int member_count = 0;
      int top = 0;
      stack[static_cast<size_t>(top++)] = static_cast<int16_t>(start);
      group_of[static_cast<size_t>(start)] = id;
      while (top > 0) {
        const int cell = stack[static_cast<size_t>(--top)];
        members[static_cast<size_t>(member_count++)] = static_cast<int16_t>(cell);
        const int cx = cell % kWellColumns;
        const int cy = cell / kWellColumns;
        // Neighbours below, above, right, left.
        const int neighbours[4] = {cy + 1 < kWellRows ? cell + kWellColumns : -1,
                                   cy > 0 ? cell - kWellColumns : -1,
                                   cx + 1 < kWellColumns ? cell + 1 : -1, cx > 0 ? cell - 1 : -1};
        for (const int n : neighbours) {
          if (n < 0 || group_of[static_cast<size_t>(n)] >= 0 ||
              game.piece_id_plane[static_cast<size_t>(n)] != serial) {
            continue;
          }
          group_of[static_cast<size_t>(n)] = id;
          stack[static_cast<size_t>(top++)] = static_cast<int16_t>(n);
        }
      }
      bool supported = false;
      for (int i = 0; i < member_count && !supported; ++i) {
        const int cell = members[static_cast<size_t>(i)];
        if (cell / kWellColumns == kWellRows - 1) {
          supported = true;
        } else {
          const size_t below = static_cast<size_t>(cell + kWellColumns);
          supported = game.cell_plane[below] != 0 && group_of[below] != id;
        }
      }
      if (supported) continue;
      Group& group = out.groups[static_cast<size_t>(out.group_count++)];
      group.value = game.cell_plane[static_cast<size_t>(start)];
      group.serial = serial;
      group.first = static_cast<int16_t>(out.cell_count);
      group.count = static_cast<int16_t>(member_count);
      for (int i = 0; i < member_count; ++i) {
        out.cells[static_cast<size_t>(out.cell_count++)] = members[static_cast<size_t>(i)];
      }
      if (stop_at_first) return;
    }
  }
}

}  // namespace

void settle(GameState& game, uint64_t now) {
  game.fast_drop = 0;
  FloatingGroups floating;
  find_floating(game, floating, true);
  if (floating.group_count > 0) {
    game.cascading = 1;
    game.cascade_deadline = now;
    if (game.hooks.on_drop) game.hooks.on_drop();
    return;
  }
  check_lines(game, now);
}

bool cascade_step(GameState& game) {
  FloatingGroups floating;
  find_floating(game, floating, false);
  if (floating.group_count == 0) return false;
  // Empty every floating cell first, then write them one row lower: all groups move at once, so
  // a group never lands on a cell another group is just leaving.
  for (int i = 0; i < floating.cell_count; ++i) {
    const size_t cell = static_cast<size_t>(floating.cells[static_cast<size_t>(i)]);
    game.cell_plane[cell] = 0;
    game.piece_id_plane[cell] = 0;
  }
  for (int g = 0; g < floating.group_count; ++g) {
    const Group& group = floating.groups[static_cast<size_t>(g)];
    for (int i = group.first; i < group.first + group.count; ++i) {
      const size_t below =
          static_cast<size_t>(floating.cells[static_cast<size_t>(i)] + kWellColumns);
      game.cell_plane[below] = group.value;
      game.piece_id_plane[below] = group.serial;
    }
  }
  return true;
}

}  // namespace engine
