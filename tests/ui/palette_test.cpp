// The colour blend every painted surface shades with: integer division per channel, and a weight
// outside 0..255 held at the nearer end instead of wrapping a channel.
#include "ui/palette.h"

#include <gtest/gtest.h>

namespace {

QColor rgb(QRgb value) {
  return QColor(value);
}

}  // namespace

TEST(palette, blend_divides_each_channel_down) {
  struct Case {
    QRgb a, b;
    int t;
    QRgb expected;
  };
  const Case cases[] = {
      {0x785014, 0xE89420, 90, 0x9F6818},  // the hot gradient top of a button
      {0x0E0A04, 0xE89420, 70, 0x492F0B},  // the hot gradient bottom
      {0xE89420, 0xFFFFFF, 90, 0xF0B96E},  // a solid I cell's light edge
      {0xE89420, 0x000000, 90, 0x965F14},  // and its dark edge
      {0x123456, 0xABCDEF, 0, 0x123456},   {0x123456, 0xABCDEF, 255, 0xABCDEF},
      {0x123456, 0xABCDEF, -40, 0x123456}, {0x123456, 0xABCDEF, 400, 0xABCDEF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ui::blend(rgb(c.a), rgb(c.b), c.t).rgb() & 0xFFFFFF, c.expected)
        << std::hex << c.a << " " << c.b << " " << std::dec << c.t;
  }
}

TEST(palette, only_piece_values_have_a_colour) {
  EXPECT_FALSE(ui::piece_colour(0));
  EXPECT_EQ(ui::piece_colour(1)->rgb() & 0xFFFFFF, 0xE89420u);  // I
  EXPECT_EQ(ui::piece_colour(7)->rgb() & 0xFFFFFF, 0xE8A858u);  // L
  EXPECT_FALSE(ui::piece_colour(8));
  EXPECT_FALSE(ui::piece_colour(0xFFFFFFFFu));
}
