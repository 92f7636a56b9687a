#include "ui/well_painter.h"

#include <QColor>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <array>
#include <deque>
#include <mutex>

#include "engine/pieces.h"
#include "ui/fonts.h"
#include "ui/palette.h"

namespace ui {
namespace {

constexpr int kBoardLeft = 18;
constexpr int kBoardTop = 14;
// A cell size far beyond any screen would only overflow the pixel arithmetic.
constexpr int kLargestCell = 1000;

const QColor kWhite(Qt::white);
const QColor kBlack(Qt::black);

// A border of the given width centred on the outline of r, as a wide pen strokes a rectangle.
void draw_centred_border(QPainter& painter, const QRect& r, int width, const QColor& colour) {
  const int before = width / 2;
  const QRect outer = r.adjusted(-before, -before, before, before);
  painter.fillRect(outer.left(), outer.top(), outer.width(), width, colour);
  painter.fillRect(outer.left(), outer.bottom() - width + 1, outer.width(), width, colour);
  painter.fillRect(outer.left(), outer.top(), width, outer.height(), colour);
  painter.fillRect(outer.right() - width + 1, outer.top(), width, outer.height(), colour);
}

// The area between outer and inner (inner lies within outer), as four bands.
void fill_band(QPainter& painter, const QRect& outer, const QRect& inner, const QColor& colour) {
  painter.fillRect(QRect(outer.left(), outer.top(), outer.width(), inner.top() - outer.top()),
                   colour);
  painter.fillRect(
      QRect(outer.left(), inner.bottom() + 1, outer.width(), outer.bottom() - inner.bottom()),
      colour);
  painter.fillRect(QRect(outer.left(), inner.top(), inner.left() - outer.left(), inner.height()),
                   colour);
  painter.fillRect(
      QRect(inner.right() + 1, inner.top(), outer.right() - inner.right(), inner.height()), colour);
}

// The frame is a stack of ever smaller filled rectangles; each shows only as the band its inner
// neighbour leaves, so only those bands are filled and no pixel is written twice.
void draw_frame(QPainter& painter, const QRect& board) {
  struct Ring {
    int grow;
    QRgb colour;
  };
  static constexpr std::array<Ring, 9> rings = {{{10, 0x160C02},
                                                 {9, 0x382006},
                                                 {8, 0xE8B040},
                                                 {7, 0xA86C18},
                                                 {5, 0xC48C28},
                                                 {3, 0xA86C18},
                                                 {2, 0x603A0C},
                                                 {1, 0x160C02},
                                                 {0, 0x060402}}};
  for (size_t i = 0; i + 1 < rings.size(); ++i) {
    const int outer = rings[i].grow;
    const int inner = rings[i + 1].grow;
    fill_band(painter, board.adjusted(-outer, -outer, outer, outer),
              board.adjusted(-inner, -inner, inner, inner), QColor(rings[i].colour));
  }
  painter.fillRect(board, QColor(rings.back().colour));
  const QColor light(0xFFE496);
  const QColor dark(0x382006);
  draw_bevel(painter, board.adjusted(-8, -8, 8, 8), light, dark);
  draw_bevel(painter, board.adjusted(-1, -1, 1, 1), light, dark);
}

bool on_board(int x, int y) {
  return x >= 0 && x < engine::kWellColumns && y >= 0 && y < engine::kWellRows;
}

void draw_board_cell(QPainter& painter, int x, int y, int cell, const QColor& colour,
                     CellStyle style) {
  // Cells above the top row (a piece that has just spawned) are not drawn.
  if (!on_board(x, y)) return;
  draw_cell(painter, kBoardLeft + x * cell, kBoardTop + y * cell, cell, colour, style);
}

void draw_locked_cells(QPainter& painter, const WellView& view) {
  const engine::GameState& game = view.game;
  std::array<bool, engine::kWellRows> flashing{};
  if (game.clearing) {
    const int count = std::clamp(game.clear_count, 0, static_cast<int>(game.clear_rows.size()));
    for (int i = 0; i < count; ++i) {
      const int row = game.clear_rows[static_cast<size_t>(i)];
      if (row >= 0 && row < engine::kWellRows) flashing[static_cast<size_t>(row)] = true;
    }
  }
  const QColor flash = flash_phase(view.tick) == 1 ? QColor(0xFFF8DC) : QColor(0xFFC440);
  for (int y = 0; y < engine::kWellRows; ++y) {
    for (int x = 0; x < engine::kWellColumns; ++x) {
      const auto colour =
          piece_colour(game.cell_plane[static_cast<size_t>(y * engine::kWellColumns + x)]);
      if (!colour) continue;
      draw_board_cell(painter, x, y, view.cell, flashing[static_cast<size_t>(y)] ? flash : *colour,
                      CellStyle::Solid);
    }
  }
}

bool valid_piece(int type, int rotation) {
  return type >= 0 && type < engine::kPieceTypes && rotation >= 0 && rotation < engine::kRotations;
}

void draw_falling_piece(QPainter& painter, const WellView& view) {
  const engine::GameState& game = view.game;
  if (view.arcade_state != engine::ArcadeState::Playing || game.clearing || game.cascading) return;
  if (!valid_piece(game.piece_type, game.rotation)) return;
  // No engine step puts a piece further out than its 4 x 4 box; a record that claims otherwise
  // is not drawn rather than trusted in the arithmetic below.
  if (game.piece_x < -4 || game.piece_x > engine::kWellColumns || game.piece_y < -4 ||
      game.piece_y > engine::kWellRows) {
    return;
  }
  const auto colour = piece_colour(static_cast<uint32_t>(game.piece_type + 1));
  const engine::PieceCells& cells =
      engine::PieceShapes[static_cast<size_t>(game.piece_type)][static_cast<size_t>(game.rotation)];
  // The landing preview uses the engine's own fit rule, so it shows exactly where a fast drop
  // would lock. The bound only guards against a state no engine step produces.
  int landing = game.piece_y;
  for (int step = 0; step <= engine::kWellRows + 4; ++step) {
    if (!engine::piece_fits(game, game.piece_type, game.rotation, game.piece_x, landing + 1)) break;
    ++landing;
  }
  for (const engine::CellOffset& c : cells) {
    draw_board_cell(painter, game.piece_x + c.dx, landing + c.dy, view.cell, *colour,
                    CellStyle::Outline);
  }
  for (const engine::CellOffset& c : cells) {
    draw_board_cell(painter, game.piece_x + c.dx, game.piece_y + c.dy, view.cell, *colour,
                    CellStyle::Solid);
  }
}

void draw_side_panel(QPainter& painter, const WellView& view, const QRect& board) {
  const UiFonts& fonts = ui_fonts();
  const engine::GameState& game = view.game;
  const int panel = 10 * view.cell;
  const int left = panel + 62;
  const int right = panel + 266;
  constexpr int kTopLeft = Qt::AlignLeft | Qt::AlignTop;

  painter.setFont(fonts.title);
  draw_line(painter, ltrb(left, 26, right, 62), kTopLeft, QColor(kOrange), "NEXT BLOCK");

  const int preview = std::min(view.cell, 34);
  if (valid_piece(game.next_type, 0)) {
    const auto colour = piece_colour(static_cast<uint32_t>(game.next_type + 1));
    for (const engine::CellOffset& c :
         engine::PieceShapes[static_cast<size_t>(game.next_type)][0]) {
      draw_cell(painter, panel + 70 + preview * c.dx, 66 + preview * c.dy, preview, *colour,
                CellStyle::Solid);
    }
  }

  const bool finished = view.arcade_state == engine::ArcadeState::GameOver ||
                        view.arcade_state == engine::ArcadeState::Recorded;
  const long long score = finished ? view.final_score : game.score;
  const int lives = view.arcade_state == engine::ArcadeState::Idle ? 1 : game.lives;
  const QString lines[] = {
      QString::asprintf("Score   %lld", score),
      QString::asprintf("Lines   %d", game.lines),
      QString::asprintf("Height  %d", game.height),
      QString::asprintf("Lives   %d", lives),
  };
  painter.setFont(fonts.stats);
  int top = 4 * preview + 90;
  for (const QString& line : lines) {
    draw_line(painter, ltrb(left, top, right, board.bottom() + 1), kTopLeft, QColor(kCream), line);
    top += 28;
  }
  top += 40 - 28;
  painter.setFont(fonts.small);
  draw_line(painter, ltrb(left, top, right, board.bottom() + 1), kTopLeft, QColor(kAmber),
            "Enter  2000 house + 3000 pot");
  draw_line(painter, ltrb(left, top + 20, right, board.bottom() + 1), kTopLeft, QColor(kAmber),
            "Record  1 sat on the watch");
}

// The font for a line of the game-over box: as given, or smaller when the text would not fit
// the box with a margin each side. The box narrows with the cells, and at the smallest window
// "GAME OVER" would otherwise lose its first and last letters.
QFont fitted_font(const QFont& font, const QString& text, int width) {
  const int available = width - 2 * 12;
  const int advance = QFontMetrics(font).horizontalAdvance(text);
  if (advance <= available || available < 1 || font.pixelSize() < 1) return font;
  QFont smaller = font;
  smaller.setPixelSize(std::max(1, font.pixelSize() * available / advance));
  return smaller;
}

// A line of the game-over box: a dark halo drawn at every offset up to two pixels away, then
// the text itself on top. That is 25 draws of large text, glyphs Qt renders as outlines rather
// than from its glyph cache, so each line is drawn once into an image and the image reused; the
// texts change only with the final score and the flash phase.
QImage haloed_image(const QFont& font, const QSize& size, qreal ratio, const QColor& colour,
                    const QString& text) {
  struct Entry {
    QFont font;
    QSize size;
    qreal ratio;
    QRgb colour;
    QString text;
    QImage image;
  };
  static std::mutex halo_cache_mutex;
  static std::deque<Entry> cache;
  constexpr size_t kEntries = 16;
  std::lock_guard lock(halo_cache_mutex);
  for (const Entry& e : cache) {
    if (e.size == size && e.ratio == ratio && e.colour == colour.rgb() && e.text == text &&
        e.font == font) {
      return e.image;
    }
  }
  constexpr int kHalo = 2;
  QImage image((size + QSize(2 * kHalo, 2 * kHalo)) * ratio, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(ratio);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setFont(font);
    const QRect rect(QPoint(kHalo, kHalo), size);
    constexpr int kFlags = Qt::AlignCenter | Qt::TextSingleLine;
    painter.setPen(QColor(0x140000));
    for (int dy = -kHalo; dy <= kHalo; ++dy) {
      for (int dx = -kHalo; dx <= kHalo; ++dx) {
        if (dx != 0 || dy != 0) painter.drawText(rect.translated(dx, dy), kFlags, text);
      }
    }
    painter.setPen(colour);
    painter.drawText(rect, kFlags, text);
  }
  if (cache.size() >= kEntries) cache.pop_front();
  cache.push_back({font, size, ratio, colour.rgb(), text, image});
  return image;
}

void draw_haloed_line(QPainter& painter, const QFont& font, const QRect& rect, const QColor& colour,
                      const QString& text) {
  if (rect.width() < 1 || rect.height() < 1) return;
  const qreal ratio = painter.device() ? painter.device()->devicePixelRatio() : 1.0;
  const QImage image =
      haloed_image(fitted_font(font, text, rect.width()), rect.size(), ratio, colour, text);
  painter.drawImage(rect.topLeft() - QPoint(2, 2), image);
}

void draw_game_over_box(QPainter& painter, const WellView& view, const QRect& board) {
  const UiFonts& fonts = ui_fonts();
  const int middle = (board.top() + board.bottom() + 1) / 2;
  const QRect box = ltrb(board.left() + 24, middle - 130, board.right() + 1 - 24, middle + 150);
  painter.fillRect(box, QColor(0x120404));
  draw_centred_border(painter, box, 2, QColor(0xB41818));

  const bool bright = banner_phase(view.tick) == 1;
  const int l = box.left();
  const int r = box.right() + 1;
  const int t = box.top();
  draw_haloed_line(painter, fonts.banner, ltrb(l, t + 12, r, t + 102),
                   bright ? QColor(0xFF2424) : QColor(0xB00808), "GAME OVER");
  draw_haloed_line(painter, fonts.large, ltrb(l, t + 106, r, t + 162), QColor(0xFFF4DC),
                   QString::asprintf("Score  %lld", static_cast<long long>(view.final_score)));
  draw_haloed_line(painter, fonts.large, ltrb(l, t + 170, r, t + 218),
                   bright ? QColor(0xFFC440) : QColor(kOrange), "Click  Record score");
}

void draw_overlay(QPainter& painter, const WellView& view, const QRect& board) {
  const char* banner = nullptr;
  switch (view.arcade_state) {
    case engine::ArcadeState::Idle:
      banner = "INSERT 5000 SATS";
      break;
    case engine::ArcadeState::Playing:
      if (view.game.paused) banner = "PAUSED";
      break;
    case engine::ArcadeState::Recorded:
      banner = "SCORE ON-CHAIN";
      break;
    case engine::ArcadeState::GameOver:
      draw_game_over_box(painter, view, board);
      return;
  }
  if (banner == nullptr) return;
  // The same dark halo as the game-over lines: a paused or recorded board is full of blocks in
  // the banner's own orange, and bare text over them cannot be read.
  draw_haloed_line(painter, ui_fonts().title, board, QColor(kOrange), banner);
}

}  // namespace

QRect ltrb(int left, int top, int right, int bottom) {
  return QRect(left, top, right - left, bottom - top);
}

void draw_bevel(QPainter& painter, const QRect& r, const QColor& light, const QColor& dark) {
  if (r.width() < 1 || r.height() < 1) return;
  painter.fillRect(r.left(), r.top(), 1, r.height(), light);
  painter.fillRect(r.left(), r.top(), r.width() - 1, 1, light);
  painter.fillRect(r.right(), r.top(), 1, r.height() - 1, dark);
  painter.fillRect(r.left() + 1, r.bottom(), r.width() - 1, 1, dark);
}

void draw_line(QPainter& painter, const QRect& rect, int flags, const QColor& colour,
               const QString& text) {
  painter.setPen(colour);
  painter.drawText(rect, flags | Qt::TextSingleLine, text);
}

QRect board_rect(int cell) {
  return QRect(kBoardLeft, kBoardTop, 10 * cell, 20 * cell);
}

QRect well_rect_for_client(int width, int height) {
  return QRect(16, 178, std::max(width - 32, 400), std::max(height - 256, 200));
}

int cell_size_for_well(int well_width, int well_height) {
  return std::min(std::max((well_width - 296) / 10, 18), std::max((well_height - 52) / 20, 18));
}

int flash_phase(uint64_t tick) {
  return static_cast<int>((tick / 50) % 2);
}

int banner_phase(uint64_t tick) {
  return static_cast<int>((tick / 220) % 2);
}

void draw_cell(QPainter& painter, int x, int y, int cell, const QColor& colour, CellStyle style) {
  const QRect r(x, y, cell - 1, cell - 1);
  if (r.width() < 1 || r.height() < 1) return;
  if (style == CellStyle::Solid) {
    painter.fillRect(r, colour);
    draw_bevel(painter, r, blend(colour, kWhite, 90), blend(colour, kBlack, 90));
  } else {
    draw_centred_border(painter, r, 1, blend(colour, kBlack, 80));
  }
}

void draw_game(QPainter& painter, const WellView& view) {
  WellView clamped = view;
  clamped.cell = std::clamp(view.cell, 1, kLargestCell);
  const QRect board = board_rect(clamped.cell);

  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  draw_frame(painter, board);
  draw_locked_cells(painter, clamped);
  draw_falling_piece(painter, clamped);
  if (clamped.game.clearing && flash_phase(clamped.tick) == 1) {
    draw_centred_border(painter, board, 3, QColor(0xFFD250));
  }
  painter.setRenderHint(QPainter::TextAntialiasing, true);
  draw_side_panel(painter, clamped, board);
  draw_overlay(painter, clamped, board);
  painter.restore();
}

void paint_well(QPainter& painter, const QSize& size, const WellView& view) {
  if (size.width() < 1 || size.height() < 1) return;
  // The frame paints every pixel inside its outer edge, so the background goes around it only.
  const QRect all(QPoint(0, 0), size);
  const int cell = std::clamp(view.cell, 1, kLargestCell);
  const QRect frame = board_rect(cell).adjusted(-10, -10, 10, 10).intersected(all);
  if (frame.isEmpty()) {
    painter.fillRect(all, QColor(kBackground));
  } else {
    fill_band(painter, all, frame, QColor(kBackground));
  }
  draw_game(painter, view);
}

}  // namespace ui
