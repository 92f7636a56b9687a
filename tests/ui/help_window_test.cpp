// The help sheet: header band, the three cards with their titles and lines, the six key caps and
// Close.
#include "ui/help_window.h"

#include <gtest/gtest.h>

#include "tests/ui/ui_test_support.h"
#include "ui/button.h"
#include "ui/palette.h"

namespace {

using ui_test::count_near;
using ui_test::rgb;

constexpr QRgb kCard = 0x120E08, kCap = 0x241A0A, kHeader = 0x100C06;

}  // namespace

TEST(help_window, cards_caps_and_lines_sit_where_the_sheet_puts_them) {
  ui_test::application();
  ui::HelpWindow window(nullptr, nullptr);
  const QImage image = window.grab().toImage();
  EXPECT_EQ(rgb(image, 700, 10), kHeader);
  EXPECT_EQ(rgb(image, 700, 80), ui::kBackground);
  EXPECT_GT(count_near(image, QRect(84, 16, 130, 36), ui::kCream), 40) << "O-Stakka";
  EXPECT_GT(count_near(image, QRect(200, 26, 200, 26), ui::kAmber), 20) << "Orbweave Arcade";

  // Each card: its fill, its orange title, its lines (cream) exactly as many as it has.
  const struct { int top, bottom, lines; } cards[] = {{88, 348, 0}, {364, 556, 5}, {572, 820, 7}};
  for (const auto& card : cards) {
    SCOPED_TRACE(card.top);
    EXPECT_EQ(rgb(image, 700, card.top + 30), kCard);
    EXPECT_EQ(rgb(image, 700, card.bottom + 6), ui::kBackground);
    EXPECT_GT(count_near(image, QRect(42, card.top + 14, 200, 26), ui::kOrange, 20), 40);
    const int y0 = card.top + 57;
    for (int i = 0; i <= card.lines && card.lines > 0; ++i) {
      const int cream = count_near(image, QRect(44, y0 + 24 * i, 300, 22), ui::kCream, 40);
      EXPECT_EQ(cream > 5, i < card.lines) << "line " << i;
    }
  }
  for (int k = 0; k < 6; ++k) {
    const int y = 88 + 57 + 32 * k;
    EXPECT_EQ(rgb(image, 50, y + 4), kCap) << "cap " << k;
    EXPECT_EQ(rgb(image, 50, y + 28), kCard) << "gap under cap " << k;
    EXPECT_GT(count_near(image, QRect(210, y, 200, 26), ui::kCream, 40), 5) << "description " << k;
  }
  const auto* close = window.findChild<ui::PaintedButton*>();
  ASSERT_NE(close, nullptr);
  EXPECT_EQ(close->geometry(), QRect(584, 836, 120, 36));
  EXPECT_EQ(close->id(), ui::kHelpCloseId);
}
