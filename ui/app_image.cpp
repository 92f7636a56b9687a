#include "ui/app_image.h"

#include <QApplication>
#include <QImageReader>
#include <QPainter>
#include <QStyle>
#include <algorithm>

#include "ui/palette.h"

namespace ui {
namespace {

constexpr int kLargestSide = 4096;

// A bounded read: the size is checked before any pixel memory is set aside.
QImage read_image(const QString& path) {
  QImageReader reader(path);
  reader.setAllocationLimit(64);
  const QSize size = reader.size();
  if (!size.isValid() || size.width() > kLargestSide || size.height() > kLargestSide) return {};
  QImage image;
  if (!reader.read(&image)) return {};
  return image;
}

}  // namespace

QImage clear_dark_pixels(const QImage& image) {
  QImage out = image.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < out.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x) {
      const QRgb p = row[x];
      if (std::max({qRed(p), qGreen(p), qBlue(p)}) < kDarkLimit) row[x] = qRgba(0, 0, 0, 0);
    }
  }
  return out;
}

QImage load_app_image(const QString& path) {
  const QImage image = read_image(path);
  return image.isNull() ? image : clear_dark_pixels(image);
}

QImage icon_image(const QImage& image, int n) {
  QImage icon(n, n, QImage::Format_ARGB32_Premultiplied);
  icon.fill(Qt::transparent);
  if (image.isNull() || n < 1) return icon;
  // Scaling in one smooth step averages the source pixels, which keeps the 16-pixel icon from
  // sparkling the way a single bilinear sample per pixel would.
  const QImage scaled = image.scaled(n, n, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  QPainter painter(&icon);
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter.drawImage(0, 0, scaled);
  return icon;
}

AppImages load_app_images(const QString& image_path, const QString& icon_path) {
  AppImages images;
  images.image = load_app_image(image_path);
  if (!images.image.isNull()) {
    images.icon32 = QPixmap::fromImage(icon_image(images.image, 32));
    images.icon16 = QPixmap::fromImage(icon_image(images.image, 16));
  } else {
    const QImage fallback = read_image(icon_path);
    if (!fallback.isNull()) {
      images.icon32 = QPixmap::fromImage(icon_image(fallback, 32));
    } else {
      const QIcon stock = QIcon::fromTheme(
          "application-x-executable", QApplication::style()->standardIcon(QStyle::SP_DesktopIcon));
      images.icon32 = stock.pixmap(32, 32);
    }
  }
  images.icon.addPixmap(images.icon32);
  if (!images.icon16.isNull()) images.icon.addPixmap(images.icon16);
  return images;
}

void draw_app_image(QPainter& painter, const QImage& image, const QRect& target) {
  if (image.isNull()) return;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  painter.drawImage(target, image);
  painter.restore();
}

void draw_main_background(QPainter& painter, const QSize& client, const QImage& image) {
  painter.fillRect(QRect(QPoint(0, 0), client), QColor(kBackground));
  painter.fillRect(QRect(0, 0, client.width(), kHeaderBandBottom), QColor(kHeader));
  draw_app_image(painter, image, QRect(12, 8, 68, 68));
}

}  // namespace ui
