// The well widget paints exactly what the painter draws for the view its owner hands in, fresh
// at every paint: the flash moves on when the owner's tick does.
#include "ui/well_widget.h"

#include <gtest/gtest.h>

#include <QPainter>

#include "tests/ui/ui_test_support.h"
#include "ui/palette.h"

TEST(well_widget, paints_the_view_it_is_handed_at_each_paint) {
  ui_test::application();
  engine::GameState game;
  for (int x = 0; x < engine::kWellColumns; ++x) game.cell_plane[static_cast<size_t>(190 + x)] = 3;
  game.clearing = 1;
  game.clear_rows[0] = 19;
  game.clear_count = 1;
  uint64_t tick = 50;
  int views = 0;
  ui::WellWidget well([&] {
    ++views;
    return ui::WellView{.game = game, .arcade_state = engine::ArcadeState::Playing, .tick = tick};
  });
  well.resize(700, 700);
  EXPECT_TRUE(well.testAttribute(Qt::WA_OpaquePaintEvent));

  const QImage bright = well.grab().toImage().convertToFormat(QImage::Format_RGB32);
  QImage expected(700, 700, QImage::Format_RGB32);
  {
    QPainter painter(&expected);
    ui::paint_well(painter, expected.size(),
                   {.game = game, .arcade_state = engine::ArcadeState::Playing, .tick = 50});
  }
  EXPECT_EQ(bright, expected);

  tick = 0;
  const QImage dim = well.grab().toImage();
  EXPECT_EQ(views, 2);
  EXPECT_EQ(QColor(dim.pixel(40, 14 + 19 * 32 + 10)), QColor(0xFFC440));
  EXPECT_EQ(QColor(bright.pixel(40, 14 + 19 * 32 + 10)), QColor(0xFFF8DC));
}
