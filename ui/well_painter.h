// The well: the golden frame, the locked cells, the landing preview and the falling piece, the
// flashing rows of a clear, the side panel and the overlays of each arcade state.
//
// Everything here paints from a plain view handed in by the caller and changes nothing: the main
// window hands in the player's run, a replay viewer can hand in any other game. Time comes in as
// a tick count so the flash phases can be held still.
#pragma once

#include <QRect>
#include <cstdint>

#include "engine/engine.h"
#include "engine/run.h"

class QColor;
class QPainter;
class QString;

namespace ui {

// What one paint of the well reads.
struct WellView {
  const engine::GameState& game;
  engine::ArcadeState arcade_state = engine::ArcadeState::Idle;
  int64_t final_score = 0;  // shown instead of the live score in GameOver and Recorded
  int cell = kDefaultCell;  // cell width and height in pixels
  uint64_t tick = 0;        // milliseconds; picks the flash and banner phases

  static constexpr int kDefaultCell = 32;  // before the window's first layout
};

enum class CellStyle { Solid, Outline };

// A rectangle given the Windows way, (left, top, right, bottom) with right and bottom outside, as
// the windows' measurements are written down.
[[nodiscard]] QRect ltrb(int left, int top, int right, int bottom);

// The two-tone edge of a solid cell, the frame and the companion windows' cards: light down the
// left edge and along the top, dark down the right edge and along the bottom. The light line owns
// the bottom-left pixel, the dark one the top-right pixel.
void draw_bevel(QPainter& painter, const QRect& r, const QColor& light, const QColor& dark);

// One line of text in colour, placed in rect by the Qt alignment flags.
void draw_line(QPainter& painter, const QRect& rect, int flags, const QColor& colour,
               const QString& text);

// Board rectangle B: left 18, top 14, ten cells wide, twenty cells high.
[[nodiscard]] QRect board_rect(int cell);

// Where the main window puts the well in a client area of width x height.
[[nodiscard]] QRect well_rect_for_client(int width, int height);

// The cell size a well of this size gets: the board and a 296-pixel panel must fit across, the
// board and 52 pixels of frame down, and a cell is never below 18 pixels.
[[nodiscard]] int cell_size_for_well(int well_width, int well_height);

// 1 in the bright phase of a clear flash (50 ms phases), else 0.
[[nodiscard]] int flash_phase(uint64_t tick);
// 1 in the bright phase of the game-over banner (220 ms phases), else 0.
[[nodiscard]] int banner_phase(uint64_t tick);

// One cell of cell x cell pixels at (x, y), leaving a one-pixel gap to the right and below. Solid
// cells carry a light top-left edge and a dark bottom-right edge; outline cells are a darkened
// border only.
void draw_cell(QPainter& painter, int x, int y, int cell, const QColor& colour, CellStyle style);

// The whole well over whatever the painter already holds; the caller fills the background first
// (paint_well does both).
void draw_game(QPainter& painter, const WellView& view);

// Fills size with the background colour and draws the well: one complete frame.
void paint_well(QPainter& painter, const QSize& size, const WellView& view);

}  // namespace ui
