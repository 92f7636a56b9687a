// The well widget paints exactly what the painter draws for the view its owner hands in, asked
// afresh at each paint, so the flash moves on when the owner's tick does.
#include "ui/well_widget.h"

#include <gtest/gtest.h>

#include <QPainter>

#include "tests/ui/ui_test_support.h"

TEST(well_widget, paints_the_view_it_is_handed_at_each_paint) {
  ui_test::application();
  engine::GameState game;
  for (int x = 0; x < 10; ++x) game.cell_plane[static_cast<size_t>(190 + x)] = 3;
  game.clearing = 1;
  game.clear_rows[0] = 19;
  game.clear_count = 1;
  uint64_t tick = 50;
  const auto view = [&] {
    return ui::WellView{.game = game, .arcade_state = engine::ArcadeState::Playing, .tick = tick};
  };
  ui::WellWidget well(view);
  well.resize(700, 700);
  EXPECT_TRUE(well.testAttribute(Qt::WA_OpaquePaintEvent));
  QImage expected(700, 700, QImage::Format_RGB32);
  {
    QPainter painter(&expected);
    ui::paint_well(painter, expected.size(), view());
  }
  EXPECT_EQ(well.grab().toImage().convertToFormat(QImage::Format_RGB32), expected);
  tick = 0;
  EXPECT_EQ(ui_test::rgb(well.grab().toImage(), 40, 14 + 19 * 32 + 10), 0xFFC440u);
}
