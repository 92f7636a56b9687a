// The app image and icons: the dark background goes transparent at exactly the threshold, the
// icons come with their fallbacks in order, a bad or oversized file reads as no image, and the
// header band carries the image in its place.
#include "ui/app_image.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <random>

#include "tests/ui/ui_test_support.h"
#include "tests/wallet/random_seed.h"
#include "ui/palette.h"

using ui_test::rgb;

TEST(app_image, pixels_below_38_in_every_channel_turn_transparent) {
  const QRgb colours[] = {0x000000, 0x252525, 0x260000, 0x002600, 0x000026, 0xE89420};
  const bool kept[] = {false, false, true, true, true, true};
  QImage image(6, 1, QImage::Format_RGB32);
  for (int i = 0; i < 6; ++i) image.setPixel(i, 0, colours[i]);
  const QImage cleared = ui::clear_dark_pixels(image);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(qAlpha(cleared.pixel(i, 0)), kept[i] ? 255 : 0) << i;
    EXPECT_EQ(cleared.pixel(i, 0) & 0xFFFFFF, kept[i] ? colours[i] : 0u) << i;
  }
}

TEST(app_image, icons_come_from_the_image_then_icon_101_then_the_stock_icon) {
  ui_test::application();
  const ui::AppImages shipped = ui::load_app_images();
  ASSERT_FALSE(shipped.image.isNull());
  EXPECT_EQ(qAlpha(shipped.image.pixel(0, 0)), 0) << "the dark corner is gone";
  EXPECT_EQ(shipped.icon32.size(), QSize(32, 32));
  EXPECT_EQ(shipped.icon16.size(), QSize(16, 16));
  EXPECT_EQ(qAlpha(shipped.icon16.toImage().pixel(0, 0)), 0);

  const ui::AppImages from_icon = ui::load_app_images(":/missing.png");
  EXPECT_TRUE(from_icon.image.isNull() && from_icon.icon16.isNull());
  EXPECT_EQ(from_icon.icon32.toImage(), ui::icon_image(QImage(ui::kAppIconPath), 32));
  const ui::AppImages stock = ui::load_app_images(":/missing.png", ":/missing-too.png");
  EXPECT_FALSE(stock.icon32.isNull() || stock.icon.isNull());
}

TEST(app_image, unreadable_or_oversized_files_read_as_no_image) {
  ui_test::application();
  QTemporaryDir dir;
  ASSERT_TRUE(QImage(4097, 1, QImage::Format_RGB32).save(dir.filePath("big.png")));
  ASSERT_TRUE(QImage(4096, 1, QImage::Format_RGB32).save(dir.filePath("ok.png")));
  EXPECT_TRUE(ui::load_app_image(dir.filePath("big.png")).isNull());
  EXPECT_FALSE(ui::load_app_image(dir.filePath("ok.png")).isNull());

  // Random bytes behind a PNG signature read as no image; a PNG cut short may keep the rows that
  // arrived (the reader is lenient) but never more. Neither crashes. OSTAKKA_TEST_SEED repeats a
  // run.
  std::mt19937 random(static_cast<uint32_t>(wallet_test::test_seed()));
  SCOPED_TRACE(wallet_test::seed_note());
  QByteArray png;
  QBuffer buffer(&png);
  ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) &&
              QImage(64, 64, QImage::Format_RGB32).save(&buffer, "PNG"));
  for (int round = 0; round < 40; ++round) {
    QByteArray bytes = png.left(round % 2 ? 8 : static_cast<int>(random() % png.size()));
    for (int i = 0; round % 2 && i < static_cast<int>(random() % 400); ++i)
      bytes += static_cast<char>(random());
    QFile file(dir.filePath(QString("fuzz%1.png").arg(round)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    const QImage image = ui::load_app_image(file.fileName());
    EXPECT_TRUE(image.isNull() || (round % 2 == 0 && image.size() == QSize(64, 64))) << round;
  }
}

TEST(app_image, the_main_header_band_carries_the_image) {
  ui_test::application();
  QImage image(400, 120, QImage::Format_RGB32);
  {
    QPainter painter(&image);
    ui::draw_main_background(painter, image.size(), ui::load_app_image());
  }
  EXPECT_EQ(rgb(image, 300, 85), ui::kHeader);
  EXPECT_EQ(rgb(image, 300, 86), ui::kBackground);
  EXPECT_EQ(rgb(image, 12, 8), ui::kHeader) << "the image's own corner is transparent";
  int art = 0;
  for (int y = 0; y < 86; ++y) {
    for (int x = 0; x < 100; ++x) art += rgb(image, x, y) != ui::kHeader;
    EXPECT_EQ(rgb(image, 11, y), ui::kHeader);
    EXPECT_EQ(rgb(image, 80, y), ui::kHeader) << "nothing beyond the 68-pixel square";
  }
  EXPECT_GT(art, 68 * 68 / 3);
}
