// The well against its measurements: frame rings and bevels at their pixels, the exact pixels of
// solid and outline cells, the clear flash in both phases, the falling piece and its landing
// preview, the side panel, every overlay, the cell size rule, and a crisp well at twice the
// pixel density. Texts are checked by colour within their rectangles, not glyph by glyph.
#include "ui/well_painter.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <random>

#include "engine/engine.h"
#include "tests/ui/ui_test_support.h"
#include "ui/palette.h"

namespace {

using engine::ArcadeState;
using ui_test::count_near;
using ui_test::pixel;

constexpr QRgb kBoardFloor = 0x060402;

QImage paint(const ui::WellView& view, QSize size = {760, 720}, qreal ratio = 1) {
  ui_test::application();
  QImage image(size * ratio, QImage::Format_RGB32);
  image.setDevicePixelRatio(ratio);
  QPainter painter(&image);
  ui::paint_well(painter, size, view);
  return image;
}

void set_cell(engine::GameState& game, int x, int y, uint32_t value) {
  game.cell_plane[static_cast<size_t>(y * engine::kWellColumns + x)] = value;
}

QColor c(QRgb value) {
  return QColor(value);
}

// Top-left pixel of board cell (x, y) at cell size 32.
QPoint cell_origin(int x, int y, int cell = 32) {
  return {18 + x * cell, 14 + y * cell};
}

}  // namespace

TEST(well_painter, frame_rings_and_bevels_sit_at_their_pixels) {
  // Board B is (18, 14) to (338, 654) exclusive at cell 32; rows and columns through its middle
  // cross every ring. The bevels own the first ring pixel on each side of B + 8 and B + 1.
  engine::GameState game;
  const QImage image = paint({.game = game});
  struct Case {
    int offset;  // pixels outside B's left edge (and, mirrored, right edge)
    QRgb left, right;
  };
  const Case cases[] = {
      {11, ui::kBackground, ui::kBackground},
      {10, 0x160C02, 0x160C02},
      {9, 0x382006, 0x382006},
      {8, 0xFFE496, 0x382006},
      {7, 0xA86C18, 0xA86C18},
      {6, 0xA86C18, 0xA86C18},
      {5, 0xC48C28, 0xC48C28},
      {4, 0xC48C28, 0xC48C28},
      {3, 0xA86C18, 0xA86C18},
      {2, 0x603A0C, 0x603A0C},
      {1, 0xFFE496, 0x382006},
      {0, kBoardFloor, kBoardFloor},
  };
  const int mid_y = 334;
  const int mid_x = 178;
  for (const Case& k : cases) {
    // Offset 0 is B's own first column or row.
    const int left = 18 - k.offset;
    const int right = 337 + k.offset;
    const int top = 14 - k.offset;
    const int bottom = 653 + k.offset;
    EXPECT_EQ(pixel(image, left, mid_y), c(k.left)) << "left, offset " << k.offset;
    EXPECT_EQ(pixel(image, right, mid_y), c(k.right)) << "right, offset " << k.offset;
    EXPECT_EQ(pixel(image, mid_x, top), c(k.left)) << "top, offset " << k.offset;
    EXPECT_EQ(pixel(image, mid_x, bottom), c(k.right)) << "bottom, offset " << k.offset;
  }
  // The dark line owns the top-right corner of a bevel, the light line the bottom-left.
  EXPECT_EQ(pixel(image, 345, 6), c(0x382006));
  EXPECT_EQ(pixel(image, 10, 661), c(0xFFE496));
}

TEST(well_painter, solid_and_outline_cells_have_their_exact_pixels) {
  // A 32-pixel cell covers 31 x 31 pixels and leaves a one-pixel gap right and below. Solid: the
  // light edge down the left and along the top (it owns the bottom-left pixel), the dark edge
  // down the right and along the bottom (it owns the top-right pixel). Outline: one darker
  // border, nothing inside.
  ui_test::application();
  const QColor colour(0x488CC4);
  const QColor light = ui::blend(colour, Qt::white, 90);
  const QColor dark = ui::blend(colour, Qt::black, 90);
  const QColor rim = ui::blend(colour, Qt::black, 80);
  const QColor back(ui::kBackground);
  QImage image(120, 60, QImage::Format_RGB32);
  image.fill(back);
  {
    QPainter painter(&image);
    ui::draw_cell(painter, 10, 10, 32, colour, ui::CellStyle::Solid);
    ui::draw_cell(painter, 60, 10, 32, colour, ui::CellStyle::Outline);
  }
  struct Case {
    int x, y;
    QColor expected;
  };
  const Case solid[] = {
      {10, 10, light}, {10, 40, light}, {39, 10, light},  {40, 10, dark},   {40, 39, dark},
      {40, 40, dark},  {11, 40, dark},  {25, 25, colour}, {11, 11, colour}, {39, 39, colour},
      {41, 25, back},  {25, 41, back},  {9, 25, back},    {25, 9, back},
  };
  for (const Case& k : solid) EXPECT_EQ(pixel(image, k.x, k.y), k.expected) << k.x << "," << k.y;
  const Case outline[] = {
      {60, 10, rim}, {90, 10, rim}, {60, 40, rim},  {90, 40, rim},  {75, 10, rim},  {60, 25, rim},
      {75, 40, rim}, {90, 25, rim}, {75, 25, back}, {61, 11, back}, {91, 25, back}, {75, 41, back},
  };
  for (const Case& k : outline) EXPECT_EQ(pixel(image, k.x, k.y), k.expected) << k.x << "," << k.y;
}

TEST(well_painter, a_clear_flashes_its_rows_and_frames_the_board_in_the_bright_phase) {
  engine::GameState game;
  for (int x = 0; x < engine::kWellColumns; ++x) set_cell(game, x, 19, 1);
  set_cell(game, 4, 18, 6);
  game.clearing = 1;
  game.clear_rows[0] = 19;
  game.clear_count = 1;
  const QPoint flashing = cell_origin(2, 19) + QPoint(15, 15);
  const QPoint steady = cell_origin(4, 18) + QPoint(15, 15);
  struct Case {
    uint64_t tick;
    QRgb row, frame;
  };
  // 0..49 ms is the dim phase, 50..99 the bright one; the frame is B's border, three pixels
  // wide across its outline, drawn over the inner bevel.
  const Case cases[] = {{0, 0xFFC440, 0xFFE496},
                        {49, 0xFFC440, 0xFFE496},
                        {50, 0xFFF8DC, 0xFFD250},
                        {149, 0xFFC440, 0xFFE496},
                        {150, 0xFFF8DC, 0xFFD250}};
  for (const Case& k : cases) {
    const QImage image =
        paint({.game = game, .arcade_state = ArcadeState::Playing, .tick = k.tick});
    EXPECT_EQ(pixel(image, flashing.x(), flashing.y()), c(k.row)) << k.tick;
    EXPECT_EQ(pixel(image, steady.x(), steady.y()), c(0x488CC4)) << k.tick;
    EXPECT_EQ(pixel(image, 17, 300), c(k.frame)) << k.tick;
  }
  const QImage bright = paint({.game = game, .arcade_state = ArcadeState::Playing, .tick = 50});
  EXPECT_EQ(pixel(bright, 19, 300), c(0xFFD250));
  EXPECT_EQ(pixel(bright, 20, 300), c(kBoardFloor));
  EXPECT_EQ(pixel(bright, 16, 300), c(0x603A0C));
}

TEST(well_painter, the_falling_piece_lands_where_the_engine_would_put_it) {
  // A T at (3, 0) over a floor of one locked cell under column 4: the preview stops on it.
  engine::GameState game;
  game.piece_type = 2;
  game.piece_x = 3;
  game.piece_y = 0;
  set_cell(game, 4, 19, 2);
  const QColor t(0xC46018);
  const QColor rim = ui::blend(t, Qt::black, 80);
  const QImage image = paint({.game = game, .arcade_state = ArcadeState::Playing});
  // Piece cells (4, 0), (3, 1), (4, 1), (5, 1); it lands one row above the locked cell, so
  // its preview holds (4, 17), (3, 18), (4, 18), (5, 18).
  EXPECT_EQ(pixel(image, cell_origin(4, 0).x() + 15, cell_origin(4, 0).y() + 15), t);
  EXPECT_EQ(pixel(image, cell_origin(5, 1).x() + 15, cell_origin(5, 1).y() + 15), t);
  for (QPoint cell : {QPoint(4, 17), QPoint(3, 18), QPoint(5, 18)}) {
    const QPoint o = cell_origin(cell.x(), cell.y());
    EXPECT_EQ(pixel(image, o.x(), o.y() + 15), rim) << cell.x() << "," << cell.y();
    EXPECT_EQ(pixel(image, o.x() + 15, o.y() + 15), c(kBoardFloor));
  }
  EXPECT_EQ(pixel(image, cell_origin(3, 19).x() + 15, cell_origin(3, 19).y()), c(kBoardFloor));

  // Neither piece nor preview while rows cascade, after the run, or outside a run.
  engine::GameState cascading = game;
  cascading.cascading = 1;
  for (const ui::WellView view :
       {ui::WellView{.game = cascading, .arcade_state = ArcadeState::Playing},
        ui::WellView{.game = game, .arcade_state = ArcadeState::Recorded}}) {
    const QImage hidden = paint(view);
    EXPECT_EQ(pixel(hidden, cell_origin(4, 1).x() + 15, cell_origin(4, 1).y() + 15),
              c(kBoardFloor));
    EXPECT_EQ(pixel(hidden, cell_origin(4, 17).x(), cell_origin(4, 17).y() + 15), c(kBoardFloor));
  }

  // A piece poking above the well shows only its cells in row 0 and below: the frame above the
  // board keeps its colours.
  engine::GameState high = game;
  high.piece_y = -1;
  const QImage poking = paint({.game = high, .arcade_state = ArcadeState::Playing});
  EXPECT_EQ(pixel(poking, cell_origin(4, 0).x() + 15, 6), c(0xFFE496));
  EXPECT_EQ(pixel(poking, cell_origin(4, 0).x() + 15, 12), c(0x603A0C));
  EXPECT_EQ(pixel(poking, cell_origin(4, 0).x() + 15, cell_origin(4, 0).y() + 15), t);
}

TEST(well_painter, the_side_panel_shows_next_block_counters_and_footnotes) {
  // Before the first run: the I piece next, the counters, the two footnotes. P = 10 x cell.
  engine::GameState game;
  const QImage image = paint({.game = game});
  const int p = 320;
  EXPECT_GT(count_near(image, QRect(p + 62, 26, 204, 36), c(ui::kOrange), 8), 40) << "NEXT BLOCK";
  for (int dx = 0; dx < 4; ++dx) {
    EXPECT_EQ(pixel(image, p + 70 + 32 * dx + 15, 66 + 32 + 15), c(0xE89420)) << dx;
  }
  const int first = 4 * 32 + 90;
  for (int line = 0; line < 4; ++line) {
    EXPECT_GT(count_near(image, QRect(p + 62, first + 28 * line, 204, 26), c(ui::kCream), 8), 30)
        << "counter line " << line;
  }
  const int notes = first + 3 * 28 + 40;
  EXPECT_GT(count_near(image, QRect(p + 62, notes, 204, 20), c(ui::kAmber), 8), 20);
  EXPECT_GT(count_near(image, QRect(p + 62, notes + 20, 204, 20), c(ui::kAmber), 8), 20);
  EXPECT_EQ(count_near(image, QRect(p + 62, notes + 42, 204, 60), c(ui::kAmber), 40), 0);
}

TEST(well_painter, counters_show_the_final_score_after_the_run_and_one_life_while_idle) {
  // Compared as pixel regions: the same text in the same place draws the same pixels.
  const auto region = [](const QImage& image, int line) {
    return image.copy(QRect(382, 4 * 32 + 90 + 28 * line, 204, 26));
  };
  engine::GameState live;
  live.score = 777;
  live.lives = 1;
  const QImage playing = paint({.game = live, .arcade_state = ArcadeState::Playing});
  engine::GameState other = live;
  other.score = 5;
  for (ArcadeState over : {ArcadeState::GameOver, ArcadeState::Recorded}) {
    const QImage finished = paint({.game = other, .arcade_state = over, .final_score = 777});
    EXPECT_EQ(region(finished, 0), region(playing, 0));
  }
  const QImage still_playing =
      paint({.game = other, .arcade_state = ArcadeState::Playing, .final_score = 777});
  EXPECT_NE(region(still_playing, 0), region(playing, 0)) << "a run in play shows its live score";

  engine::GameState spent = live;
  spent.lives = 0;
  EXPECT_EQ(region(paint({.game = spent}), 3), region(playing, 3));
  EXPECT_NE(region(paint({.game = spent, .arcade_state = ArcadeState::Playing}), 3),
            region(playing, 3));
}

TEST(well_painter, each_arcade_state_draws_its_overlay) {
  engine::GameState game;
  const QRect centre(18, 14 + 320 - 30, 320, 60);
  struct Case {
    ArcadeState state;
    bool paused;
    bool banner;
  };
  const Case cases[] = {{ArcadeState::Idle, false, true},
                        {ArcadeState::Playing, false, false},
                        {ArcadeState::Playing, true, true},
                        {ArcadeState::Recorded, false, true}};
  QImage idle;
  for (const Case& k : cases) {
    game.paused = k.paused ? 1 : 0;
    const QImage image = paint({.game = game, .arcade_state = k.state});
    const int orange = count_near(image, centre, c(ui::kOrange), 8);
    if (k.banner) {
      EXPECT_GT(orange, 60) << static_cast<int>(k.state) << " paused " << k.paused;
    } else {
      EXPECT_EQ(orange, 0) << "a run in play shows no overlay";
    }
    if (k.state == ArcadeState::Idle) idle = image;
    if (k.state == ArcadeState::Recorded) {
      EXPECT_NE(image.copy(centre), idle.copy(centre));
    }
  }
}

TEST(well_painter, the_game_over_box_flashes_its_banner_and_prompt) {
  engine::GameState game;
  // m = 334; the box runs from (42, 204) to (314, 484) exclusive.
  const QRect box(42, 204, 272, 280);
  struct Case {
    uint64_t tick;
    QRgb banner, prompt, other_banner;
  };
  const Case cases[] = {{0, 0xB00808, 0xE89420, 0xFF2424},
                        {220, 0xFF2424, 0xFFC440, 0xB00808},
                        {439, 0xFF2424, 0xFFC440, 0xB00808},
                        {440, 0xB00808, 0xE89420, 0xFF2424}};
  for (const Case& k : cases) {
    const QImage image = paint(
        {.game = game, .arcade_state = ArcadeState::GameOver, .final_score = 4321, .tick = k.tick});
    EXPECT_EQ(pixel(image, box.left() + 4, box.top() + 4), c(0x120404)) << k.tick;
    EXPECT_EQ(pixel(image, box.left(), box.center().y()), c(0xB41818)) << k.tick;
    EXPECT_EQ(pixel(image, box.left() - 1, box.center().y()), c(0xB41818)) << k.tick;
    const QRect banner(box.left(), box.top() + 12, box.width(), 90);
    EXPECT_GT(count_near(image, banner, c(k.banner), 10), 100) << k.tick;
    EXPECT_EQ(count_near(image, banner, c(k.other_banner), 10), 0) << k.tick;
    EXPECT_GT(count_near(image, banner, c(0x140000), 4), 100) << "the dark halo, " << k.tick;
    const QRect score(box.left(), box.top() + 106, box.width(), 56);
    EXPECT_GT(count_near(image, score, c(0xFFF4DC), 10), 40) << k.tick;
    const QRect prompt(box.left(), box.top() + 170, box.width(), 48);
    EXPECT_GT(count_near(image, prompt, c(k.prompt), 10), 40) << k.tick;
  }
}

TEST(well_painter, cell_size_follows_the_window_and_never_drops_below_18) {
  struct Case {
    int width, height;  // the main window's client area
    QRect well;
    int cell;
  };
  const Case cases[] = {
      {1100, 1220, QRect(16, 178, 1068, 964), 45},  // the default window: height decides
      {1000, 980, QRect(16, 178, 968, 724), 33},    // the minimum tracking size
      {700, 2000, QRect(16, 178, 668, 1744), 37},   // narrow and tall: width decides
      {2560, 1440, QRect(16, 178, 2528, 1184), 56},
      {300, 300, QRect(16, 178, 400, 200), 18},  // below the minimum: the well keeps 400 x 200
  };
  for (const Case& k : cases) {
    const QRect well = ui::well_rect_for_client(k.width, k.height);
    EXPECT_EQ(well, k.well) << k.width << "x" << k.height;
    EXPECT_EQ(ui::cell_size_for_well(well.width(), well.height()), k.cell)
        << k.width << "x" << k.height;
  }
}

TEST(well_painter, the_next_block_preview_keeps_its_cells_between_18_and_34_pixels) {
  engine::GameState game;
  game.next_type = 1;  // O: cells (1, 0), (2, 0), (1, 1), (2, 1)
  for (int cell : {18, 45}) {
    const int s = std::min(cell, 34);
    const int p = 10 * cell;
    const QImage image = paint({.game = game, .cell = cell}, {p + 300, 20 * cell + 60});
    const int left = p + 70 + s;
    EXPECT_EQ(pixel(image, left + s / 2, 66 + s / 2), c(0xF6C440)) << cell;
    EXPECT_EQ(pixel(image, left + s - 2, 66 + s / 2), ui::blend(c(0xF6C440), Qt::black, 90))
        << cell;
    EXPECT_EQ(pixel(image, left + 2 * s - 1, 66 + s / 2), c(ui::kBackground)) << cell;
    EXPECT_EQ(pixel(image, left + s / 2, 66 + 2 * s - 1), c(ui::kBackground)) << cell;
  }
}

TEST(well_painter, at_twice_the_pixel_density_edges_stay_sharp) {
  // Every line of the well lands on whole device pixels: a cell's one-pixel edge is exactly two
  // device pixels of its own colour, with no blended pixel beside it.
  engine::GameState game;
  set_cell(game, 1, 19, 6);
  const QImage image = paint({.game = game}, {760, 720}, 2);
  const QPoint o = cell_origin(1, 19) * 2;
  const QColor colour(0x488CC4);
  const int y = o.y() + 30;
  EXPECT_EQ(pixel(image, o.x() - 1, y), c(kBoardFloor));
  EXPECT_EQ(pixel(image, o.x(), y), ui::blend(colour, Qt::white, 90));
  EXPECT_EQ(pixel(image, o.x() + 1, y), ui::blend(colour, Qt::white, 90));
  EXPECT_EQ(pixel(image, o.x() + 2, y), colour);
  EXPECT_EQ(pixel(image, o.x() + 59, y), colour);
  EXPECT_EQ(pixel(image, o.x() + 60, y), ui::blend(colour, Qt::black, 90));
  EXPECT_EQ(pixel(image, o.x() + 61, y), ui::blend(colour, Qt::black, 90));
  EXPECT_EQ(pixel(image, o.x() + 62, y), c(kBoardFloor));
  EXPECT_EQ(pixel(image, o.x() + 63, y), c(kBoardFloor));
}

TEST(well_painter, a_scrambled_state_never_paints_outside_its_well) {
  // The replay viewer paints states rebuilt from chain data. Whatever the record holds, the
  // painter stays in bounds (the sanitizer build checks the reads) and leaves the outer frame
  // rings alone. Seed printed so a failure can be repeated.
  const uint32_t seed = std::random_device{}();
  std::mt19937 random(seed);
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  const auto any = [&random](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  for (int round = 0; round < 60; ++round) {
    engine::GameState game;
    for (auto& cell : game.cell_plane) cell = static_cast<uint32_t>(any(0, 9));
    game.piece_type = any(-2, 9);
    game.rotation = any(-2, 5);
    game.piece_x = any(-6, 14);
    game.piece_y = any(-6, 24);
    game.next_type = any(-2, 9);
    game.clearing = static_cast<uint8_t>(any(0, 1));
    game.cascading = static_cast<uint8_t>(any(0, 1));
    game.clear_count = any(-3, 9);
    for (auto& row : game.clear_rows) row = any(-5, 25);
    game.score = any(-1000000, 1000000);
    const QImage image = paint({.game = game,
                                .arcade_state = static_cast<ArcadeState>(any(0, 3)),
                                .tick = static_cast<uint64_t>(any(0, 1000))});
    ASSERT_EQ(pixel(image, 8, 300), c(0x160C02)) << round;
    ASSERT_EQ(pixel(image, 7, 300), c(ui::kBackground)) << round;
    ASSERT_EQ(pixel(image, 347, 300), c(0x160C02)) << round;
    ASSERT_EQ(pixel(image, 178, 663), c(0x160C02)) << round;
    ASSERT_EQ(pixel(image, 178, 664), c(ui::kBackground)) << round;
  }
}

TEST(well_painter, game_over_texts_fit_their_box_at_every_cell_size) {
  // The box narrows with the cells; its lines shrink to fit instead of losing their ends.
  engine::GameState game;
  game.next_type = 3;
  for (int cell : {18, 33, 45, 60}) {
    const QRect board = ui::board_rect(cell);
    const QImage image = paint({.game = game,
                                .arcade_state = ArcadeState::GameOver,
                                .final_score = 9223372036854775807,
                                .cell = cell,
                                .tick = 220},
                               {10 * cell + 300, 20 * cell + 60});
    const int middle = (board.top() + board.bottom() + 1) / 2;
    const QRect box(board.left() + 24, middle - 130, board.width() - 48, 280);
    for (const QRect& edge : {QRect(box.left() + 2, box.top() + 2, 6, box.height() - 4),
                              QRect(box.right() - 7, box.top() + 2, 6, box.height() - 4)}) {
      EXPECT_EQ(count_near(image, edge, c(0xFF2424), 60), 0) << cell;
      EXPECT_EQ(count_near(image, edge, c(0xFFF4DC), 60), 0) << cell;
      EXPECT_EQ(count_near(image, edge, c(0xFFC440), 60), 0) << cell;
    }
    EXPECT_GT(count_near(image, box, c(0xFF2424), 10), 50) << cell;
  }
}
