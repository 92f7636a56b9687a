// The art is made from code: the committed PNG files and the SVG icon are exactly what the
// shapes draw today (run tools/art/make-art after changing them), and the app image's blocks are
// bright enough to survive the game's dark-to-transparent rule.
#include "tools/art/art_scene.h"

#include <gtest/gtest.h>

#include <QFile>

#include "tests/ui/ui_test_support.h"
#include "ui/app_image.h"

namespace {

QString resource(const QString& name) {
  return QString(OSTAKKA_SOURCE_DIR) + "/resources/" + name;
}

// Pixels equal within one step per channel, so a rounding change in the rasteriser does not
// pass for an edit of the art.
int differing_pixels(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return -1;
  const QImage x = a.convertToFormat(QImage::Format_ARGB32);
  const QImage y = b.convertToFormat(QImage::Format_ARGB32);
  int count = 0;
  for (int j = 0; j < x.height(); ++j) {
    for (int i = 0; i < x.width(); ++i) {
      const QRgb p = x.pixel(i, j);
      const QRgb q = y.pixel(i, j);
      if (std::abs(qRed(p) - qRed(q)) > 1 || std::abs(qGreen(p) - qGreen(q)) > 1 ||
          std::abs(qBlue(p) - qBlue(q)) > 1 || std::abs(qAlpha(p) - qAlpha(q)) > 1) {
        ++count;
      }
    }
  }
  return count;
}

}  // namespace

TEST(art_scene, committed_files_match_what_the_code_draws) {
  ui_test::application();
  EXPECT_EQ(differing_pixels(QImage(resource("app_image.png")),
                             art::render(art::app_image_shapes(), 256)),
            0);
  EXPECT_EQ(differing_pixels(QImage(resource("icon101.png")), art::render(art::icon_shapes(), 32)),
            0);
  for (int n : art::kIconSizes) {
    const QString path =
        resource(QString("icons/hicolor/%1x%1/apps/%2.png").arg(n).arg(art::kIconName));
    EXPECT_EQ(differing_pixels(QImage(path), art::render(art::icon_shapes(), n)), 0) << n;
  }
  QFile svg(resource(QString("icons/hicolor/scalable/apps/%1.svg").arg(art::kIconName)));
  ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(svg.readAll()), art::to_svg(art::icon_shapes()));
}

TEST(art_scene, the_blocks_survive_the_transparency_rule) {
  // Everything that is not the background is art; at most the antialiased rim of a shape may
  // be dark enough to vanish.
  ui_test::application();
  const QImage image = art::render(art::app_image_shapes(), 256);
  const QImage cleared = ui::clear_dark_pixels(image);
  int art_pixels = 0;
  int lost = 0;
  int background_kept = 0;
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      if ((image.pixel(x, y) & 0xFFFFFF) == 0x0A0804) {
        background_kept += qAlpha(cleared.pixel(x, y)) == 0 ? 0 : 1;
        continue;
      }
      ++art_pixels;
      lost += qAlpha(cleared.pixel(x, y)) == 0 ? 1 : 0;
    }
  }
  EXPECT_EQ(background_kept, 0);
  EXPECT_GT(art_pixels, 256 * 256 / 3);
  EXPECT_LT(lost, art_pixels / 100);
}
