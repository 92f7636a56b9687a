// Avatars: pictures from the network decode only when they are a small PNG, JPEG, GIF or WebP;
// anything else, however it is broken or inflated, leaves the badge with the name's initial.
#include "ui/avatar.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QPainter>
#include <random>

#include "tests/ui/ui_test_support.h"
#include "ui/palette.h"

namespace {

using ui_test::rgb;

std::string encode(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, format)) << format;
  return bytes.toStdString();
}

QImage red_square(int side) {
  QImage image(side, side, QImage::Format_RGB32);
  image.fill(QColor(0xD02010));
  return image;
}

uint32_t crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (const unsigned char c : bytes) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// A real PNG whose header announces width x height, with a correct checksum so decoders believe it.
std::string png_claiming(uint32_t width, uint32_t height) {
  std::string png = encode(red_square(4), "png");
  for (int i = 0; i < 4; ++i) {
    png[16 + i] = static_cast<char>(width >> (24 - 8 * i));
    png[20 + i] = static_cast<char>(height >> (24 - 8 * i));
  }
  const uint32_t crc = crc32(png.substr(12, 17));
  for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
  return png;
}

QImage paint_avatar(const std::string& name) {
  QImage image(60, 60, QImage::Format_RGB32);
  image.fill(QColor(ui::kBackground));
  QPainter painter(&image);
  ui::draw_avatar(painter, 10, 10, name);
  return image;
}

}  // namespace

TEST(avatar, the_four_web_formats_decode_to_the_drawn_size) {
  ui_test::application();
  for (const char* format : {"png", "jpeg", "webp"}) {
    SCOPED_TRACE(format);
    const QImage image = ui::decode_avatar(encode(red_square(300), format));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(ui::kAvatarSize, ui::kAvatarSize));
    const QColor centre = image.pixelColor(19, 19);
    EXPECT_NEAR(centre.red(), 0xD0, 12);
    EXPECT_NEAR(centre.green(), 0x20, 12);
  }
  // Qt writes no GIF, so this one is a 1 x 1 GIF89a spelled out byte by byte.
  const std::string gif(
      "GIF89a\x01\x00\x01\x00\x80\x00\x00\xD0\x20\x10\x00\x00\x00"
      "!\xF9\x04\x00\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00"
      "\x02\x02\x44\x01\x00;",
      43);
  EXPECT_FALSE(ui::decode_avatar(gif).isNull());
}

// Every one of these came from someone's profile; none may crash, allocate without bound, or
// become a picture.
TEST(avatar, hostile_bodies_are_no_picture) {
  ui_test::application();
  const std::string png = encode(red_square(64), "png");
  std::mt19937 random(7);
  std::string noise(4096, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  std::string huge = png;
  huge.resize(10u * 1024u * 1024u, 'x');
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"truncated PNG", png.substr(0, png.size() / 2)},
      {"20000 x 20000 header", png_claiming(20000, 20000)},
      {"random bytes", noise},
      {"10 MB body", huge},
      {"SVG (not a format we read)",
       "<svg xmlns='http://www.w3.org/2000/svg' width='9' height='9'><rect width='9' "
       "height='9'/></svg>"},
      {"too short", png.substr(0, 20)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(ui::decode_avatar(c.bytes).isNull());
  }
  // The claimed-size check is what refuses the header above, not a broken checksum.
  EXPECT_FALSE(ui::decode_avatar(png_claiming(4, 4)).isNull());
}

TEST(avatar, picture_or_initial_badge_inside_the_bronze_ring) {
  ui_test::application();
  ui::build_avatar_bitmaps({{"pic", encode(red_square(80), "webp")},
                            {"broken", encode(red_square(80), "png").substr(0, 60)}});
  EXPECT_EQ(ui::avatar_bitmap_count(), 1u);
  const QImage picture = paint_avatar("pic");
  EXPECT_NEAR(qRed(picture.pixel(29, 29)), 0xD0, 12);
  EXPECT_EQ(rgb(picture, 11, 11), ui::kBackground) << "the corner lies outside the circle";
  EXPECT_GT(ui_test::count_near(picture, QRect(10, 10, 38, 38), ui::kBronze, 40), 20);

  // A name that begins in lower case shows its letter upper-cased; an undecodable picture shows
  // the badge exactly as no picture does.
  const QImage lower = paint_avatar("alice");
  EXPECT_EQ(lower, paint_avatar("Alice"));
  EXPECT_NE(lower, paint_avatar("blice"));
  EXPECT_EQ(rgb(lower, 16, 29), 0x241A0Au);
  EXPECT_GT(ui_test::count_near(lower, QRect(18, 18, 22, 22), ui::kCream, 30), 15);
  EXPECT_NE(paint_avatar(""), paint_avatar("broken"));
  ui::release_avatar_bitmaps();
  EXPECT_EQ(ui::avatar_bitmap_count(), 0u);
  EXPECT_NE(paint_avatar("pic"), picture);
}
