// The fixed tables of the falling-block rules: piece shapes, rotation kicks and line scores.
// They are part of the rules; changing any entry changes every recorded run's outcome.
#pragma once

#include <array>
#include <cstdint>

namespace engine {

inline constexpr int kWellColumns = 10;
inline constexpr int kWellRows = 20;
inline constexpr int kWellCells = kWellColumns * kWellRows;
inline constexpr int kPieceTypes = 7;
inline constexpr int kRotations = 4;

struct CellOffset {
  int8_t dx;
  int8_t dy;
};

using PieceCells = std::array<CellOffset, 4>;

// PieceShapes[type][rotation]: four cell offsets from the top-left corner of the piece's 4x4 box.
// Rotation r + 1 is the clockwise turn of rotation r.
extern const std::array<std::array<PieceCells, kRotations>, kPieceTypes> PieceShapes;

// Tried in this order when rotating, the same list for every piece and both directions.
extern const std::array<CellOffset, 7> KickOffsets;

// Points for clearing 0..4 rows at once, before the height multiplier.
extern const std::array<int64_t, 5> LineScores;

}  // namespace engine
