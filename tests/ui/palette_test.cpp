// The colour blend every painted surface shades with: integer division per channel, a weight
// outside 0..255 held at the nearer end; and piece colours only for values a piece has.
#include "ui/palette.h"

#include <gtest/gtest.h>

TEST(palette, blend_divides_each_channel_down_and_holds_the_weight_in_range) {
  const struct {
    QRgb a, b;
    int t;
    QRgb expected;
  } cases[] = {
      {0x785014, 0xE89420, 90, 0x9F6818},  // a hot button's gradient top
      {0xE89420, 0xFFFFFF, 90, 0xF0B96E},  // an I cell's light edge
      {0xE89420, 0x000000, 90, 0x965F14},  // and its dark edge
      {0x123456, 0xABCDEF, -40, 0x123456}, {0x123456, 0xABCDEF, 400, 0xABCDEF},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ui::blend(QColor(c.a), QColor(c.b), c.t).rgb() & 0xFFFFFF, c.expected) << c.t;
  }
  EXPECT_FALSE(ui::piece_colour(0) || ui::piece_colour(8) || ui::piece_colour(0xFFFFFFFFu));
  EXPECT_EQ(ui::piece_colour(7)->rgb() & 0xFFFFFF, 0xE8A858u);  // L
}
