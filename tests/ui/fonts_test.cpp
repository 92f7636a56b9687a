// The eight fonts resolve to a face of their own fallback list with the given cell height (ascent
// plus descent) and weight. Without the explicit list "Consolas" becomes whatever the system
// matches (DejaVu Sans Mono here) instead of Inconsolata; with an em size in place of the cell
// height every text outgrows the rectangle measured for it.
#include "ui/fonts.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>

#include "tests/ui/ui_test_support.h"

TEST(fonts, each_resolves_within_its_fallbacks_at_its_cell_height_and_weight) {
  ui_test::application();
  const ui::UiFonts& f = ui::ui_fonts();
  const struct {
    const QFont& font;
    int cell_height, weight;
  } cases[] = {{f.button, 18, 400}, {f.small, 16, 400},   {f.title, 28, 700},  {f.stats, 22, 600},
               {f.body, 18, 400},   {f.heading, 32, 700}, {f.banner, 72, 900}, {f.large, 40, 700}};
  for (const auto& c : cases) {
    const QFontInfo info(c.font);
    EXPECT_TRUE(c.font.families().contains(info.family())) << info.family().toStdString();
    EXPECT_NEAR(QFontMetrics(c.font).ascent() + QFontMetrics(c.font).descent(), c.cell_height, 1);
    EXPECT_EQ(c.font.weight(), c.weight);
  }
  EXPECT_EQ(QFontInfo(f.stats).family(), "Inconsolata");
}
