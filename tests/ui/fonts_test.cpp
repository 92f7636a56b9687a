// The eight fonts resolve to a face of their own fallback list with the given cell height
// (ascent plus descent) and weight. Without the explicit list, "Consolas" quietly becomes
// whatever the system matches (DejaVu Sans Mono here) instead of Inconsolata, and the counters
// change width; with an em size in place of the cell height every text outgrows its rectangle.
#include "ui/fonts.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>

#include "tests/ui/ui_test_support.h"

TEST(fonts, each_resolves_within_its_fallbacks_at_its_size_and_weight) {
  ui_test::application();
  const ui::UiFonts& f = ui::ui_fonts();
  struct Case {
    const char* name;
    const QFont& font;
    int pixels;
    int weight;
  };
  const Case cases[] = {
      {"button", f.button, 18, 400}, {"small", f.small, 16, 400}, {"title", f.title, 28, 700},
      {"stats", f.stats, 22, 600},   {"body", f.body, 18, 400},   {"heading", f.heading, 32, 700},
      {"banner", f.banner, 72, 900}, {"large", f.large, 40, 700},
  };
  for (const Case& c : cases) {
    const QFontInfo info(c.font);
    EXPECT_TRUE(c.font.families().contains(info.family()))
        << c.name << " resolved to " << info.family().toStdString();
    const QFontMetrics metrics(c.font);
    EXPECT_NEAR(metrics.ascent() + metrics.descent(), c.pixels, 1) << c.name;
    EXPECT_EQ(c.font.weight(), c.weight) << c.name;
  }
  // The monospace counters land on Inconsolata on a Debian desktop with the project's fonts.
  EXPECT_EQ(QFontInfo(f.stats).family(), "Inconsolata");
}
