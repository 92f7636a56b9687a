// The app image and icons: the dark background goes transparent at exactly the threshold, the
// icons come in their sizes with the fallbacks in order, a bad or oversized file reads as no
// image, and the header band carries the image in its place.
#include "ui/app_image.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <random>

#include "tests/ui/ui_test_support.h"
#include "ui/palette.h"

using ui_test::pixel;

TEST(app_image, pixels_darker_than_38_in_every_channel_turn_transparent) {
  struct Case {
    QRgb colour;
    bool kept;
  };
  const Case cases[] = {{0x000000, false}, {0x0A0804, false}, {0x252525, false}, {0x260000, true},
                        {0x002600, true},  {0x000026, true},  {0x25FF25, true},  {0xE89420, true}};
  QImage image(static_cast<int>(std::size(cases)), 1, QImage::Format_RGB32);
  for (int i = 0; i < image.width(); ++i) image.setPixel(i, 0, cases[i].colour);
  const QImage cleared = ui::clear_dark_pixels(image);
  for (int i = 0; i < image.width(); ++i) {
    EXPECT_EQ(qAlpha(cleared.pixel(i, 0)), cases[i].kept ? 255 : 0) << std::hex << cases[i].colour;
    if (cases[i].kept) {
      EXPECT_EQ(cleared.pixel(i, 0) & 0xFFFFFF, cases[i].colour);
    }
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
  const QImage icon = shipped.icon32.toImage();
  int opaque = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) opaque += qAlpha(icon.pixel(x, y)) == 255 ? 1 : 0;
  EXPECT_GT(opaque, 150) << "the blocks survive the transparency rule";

  const ui::AppImages from_icon = ui::load_app_images(":/missing.png");
  EXPECT_TRUE(from_icon.image.isNull());
  EXPECT_TRUE(from_icon.icon16.isNull());
  ASSERT_EQ(from_icon.icon32.size(), QSize(32, 32));
  EXPECT_EQ(from_icon.icon32.toImage(), ui::icon_image(QImage(ui::kAppIconPath), 32));

  const ui::AppImages stock = ui::load_app_images(":/missing.png", ":/missing-too.png");
  EXPECT_FALSE(stock.icon32.isNull());
  EXPECT_FALSE(stock.icon.isNull());
}

TEST(app_image, unreadable_or_oversized_files_read_as_no_image) {
  ui_test::application();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString big = dir.filePath("big.png");
  ASSERT_TRUE(QImage(4097, 1, QImage::Format_RGB32).save(big));
  EXPECT_TRUE(ui::load_app_image(big).isNull());
  const QString ok = dir.filePath("ok.png");
  ASSERT_TRUE(QImage(4096, 1, QImage::Format_RGB32).save(ok));
  EXPECT_FALSE(ui::load_app_image(ok).isNull());

  // Random bytes behind a PNG signature read as no image; a real PNG cut short may keep the rows
  // that arrived (the PNG reader is lenient) but never anything larger. Neither crashes.
  const uint32_t seed = std::random_device{}();
  std::mt19937 random(seed);
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  QByteArray png;
  {
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImage(64, 64, QImage::Format_RGB32).save(&buffer, "PNG");
  }
  for (int round = 0; round < 40; ++round) {
    QByteArray bytes = round % 2 == 0
                           ? png.left(static_cast<int>(random() % png.size()))
                           : png.left(8) + QByteArray(static_cast<int>(random() % 400), '\0');
    if (round % 2 == 1) {
      for (int i = 8; i < bytes.size(); ++i) bytes[i] = static_cast<char>(random());
    }
    const QString path = dir.filePath(QString("fuzz%1.png").arg(round));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    const QImage image = ui::load_app_image(path);
    if (round % 2 == 1) {
      EXPECT_TRUE(image.isNull()) << round;
    } else {
      EXPECT_TRUE(image.isNull() || image.size() == QSize(64, 64)) << round;
    }
  }
}

TEST(app_image, the_main_header_band_carries_the_image) {
  ui_test::application();
  const QImage art = ui::load_app_image();
  QImage image(400, 120, QImage::Format_RGB32);
  {
    QPainter painter(&image);
    ui::draw_main_background(painter, image.size(), art);
  }
  EXPECT_EQ(pixel(image, 300, 0), QColor(ui::kHeader));
  EXPECT_EQ(pixel(image, 300, 85), QColor(ui::kHeader));
  EXPECT_EQ(pixel(image, 300, 86), QColor(ui::kBackground));
  EXPECT_EQ(pixel(image, 11, 40), QColor(ui::kHeader));
  EXPECT_EQ(pixel(image, 12, 8), QColor(ui::kHeader)) << "the image's own corner is transparent";
  int art_pixels = 0;
  for (int y = 8; y < 76; ++y)
    for (int x = 12; x < 80; ++x) art_pixels += pixel(image, x, y) != QColor(ui::kHeader) ? 1 : 0;
  EXPECT_GT(art_pixels, 68 * 68 / 3);
  for (int y = 0; y < 86; ++y) {
    EXPECT_EQ(pixel(image, 80, y), QColor(ui::kHeader)) << "nothing right of the 68-pixel square";
  }
}
