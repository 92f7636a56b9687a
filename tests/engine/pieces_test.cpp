#include "engine/pieces.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

namespace {

using namespace engine;
using Cells = std::set<std::pair<int, int>>;

Cells cells_of(int type, int rotation) {
  Cells cells;
  for (const CellOffset& cell :
       PieceShapes[static_cast<size_t>(type)][static_cast<size_t>(rotation)]) {
    cells.insert({cell.dx, cell.dy});
  }
  return cells;
}

// A mistyped cell anywhere in the table breaks one of these turns: the I piece turns in a 4 x 4
// box, the others in 3 x 3, and the O piece looks the same in every rotation.
TEST(pieces, each_rotation_is_the_clockwise_turn_of_the_one_before) {
  for (int type = 0; type < kPieceTypes; ++type) {
    const int box = type == 0 ? 4 : 3;
    for (int rotation = 0; rotation < kRotations; ++rotation) {
      const Cells cells = cells_of(type, rotation);
      ASSERT_EQ(cells.size(), 4u) << "type " << type << " rotation " << rotation;
      Cells turned;
      for (const auto& [dx, dy] : cells) turned.insert({box - 1 - dy, dx});
      EXPECT_EQ(type == 1 ? cells : turned, cells_of(type, (rotation + 1) % kRotations))
          << "type " << type << " rotation " << rotation;
    }
  }
}

}  // namespace
