// The art is made from code: the committed PNG files and the SVG icon are what the shapes draw
// today (run tools/art/make-art after changing them), and the app image's blocks are bright
// enough to survive the game's dark-to-transparent rule.
#include "tools/art/art_scene.h"

#include <gtest/gtest.h>

#include <QFile>

#include "tests/ui/ui_test_support.h"
#include "ui/app_image.h"

namespace {

QString resource(const QString& name) {
  return QString(OSTAKKA_SOURCE_DIR) + "/resources/" + name;
}

// Pixels further apart than one step on any channel, so a rounding change in the rasteriser does
// not pass for an edit of the art.
int differing_pixels(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return -1;
  int count = 0;
  for (int j = 0; j < a.height(); ++j) {
    for (int i = 0; i < a.width(); ++i) {
      const QRgb p = a.pixel(i, j), q = b.pixel(i, j);
      count += std::abs(qRed(p) - qRed(q)) > 1 || std::abs(qGreen(p) - qGreen(q)) > 1 ||
               std::abs(qBlue(p) - qBlue(q)) > 1 || std::abs(qAlpha(p) - qAlpha(q)) > 1;
    }
  }
  return count;
}

}  // namespace

TEST(art_scene, committed_files_match_what_the_code_draws) {
  ui_test::application();
  const QImage app_image = art::render(art::app_image_shapes(), 256);
  EXPECT_EQ(differing_pixels(QImage(resource("app_image.png")), app_image), 0);
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

  // All but the background is art; at most the antialiased rims of shapes may vanish.
  const QImage cleared = ui::clear_dark_pixels(app_image);
  int art = 0, lost = 0, background_kept = 0;
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      const bool background = (app_image.pixel(x, y) & 0xFFFFFF) == 0x0A0804;
      const bool gone = qAlpha(cleared.pixel(x, y)) == 0;
      art += !background;
      lost += !background && gone;
      background_kept += background && !gone;
    }
  }
  EXPECT_EQ(background_kept, 0);
  EXPECT_GT(art, 256 * 256 / 3);
  EXPECT_LT(lost, art / 100);
}
