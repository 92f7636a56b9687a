#include "ui/avatar.h"

#include <QBuffer>
#include <QByteArray>
#include <QFont>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>

#include "arcade/identity.h"
#include "ui/palette.h"

namespace ui {
namespace {

// Window thread only, like every widget, so it needs no lock.
std::map<std::string, QImage>& bitmaps() {
  static auto* cache = new std::map<std::string, QImage>;
  return *cache;
}

bool readable_format(const QByteArray& format) {
  return format == "png" || format == "jpeg" || format == "gif" || format == "webp";
}

QFont badge_font() {
  QFont font;
  font.setFamilies({"Segoe UI", "Noto Sans", "DejaVu Sans"});
  font.setBold(true);
  font.setPixelSize(qRound(kAvatarSize / 2.2));
  return font;
}

}  // namespace

QImage decode_avatar(const std::string& bytes, qreal pixel_ratio) {
  if (bytes.size() < arcade::kMinAvatarBytes || bytes.size() > arcade::kMaxAvatarBytes) return {};
  QImageReader::setAllocationLimit(kAvatarAllocationLimitMb);
  QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  if (!buffer.open(QIODevice::ReadOnly)) return {};
  QImageReader reader(&buffer);
  reader.setDecideFormatFromContent(true);
  if (!readable_format(reader.format())) return {};
  const QSize size = reader.size();
  if (!size.isValid() || size.isEmpty() || size.width() > kAvatarMaxSide ||
      size.height() > kAvatarMaxSide) {
    return {};
  }
  QImage image;
  if (!reader.read(&image) || image.isNull() || image.width() == 0) return {};
  const int side = qRound(kAvatarSize * qMax<qreal>(pixel_ratio, 1.0));
  // Kept at the drawn size: a board of 21 pictures then holds a few hundred kilobytes whatever
  // the players uploaded, and each paint only copies pixels.
  // A large picture is first thinned to four times the drawn size by picking pixels, which costs
  // next to nothing; the smooth scaling after it then works on a small picture.
  if (image.width() > 4 * side || image.height() > 4 * side) {
    image = image.scaled(4 * side, 4 * side, Qt::IgnoreAspectRatio, Qt::FastTransformation);
  }
  image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
              .scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  image.setDevicePixelRatio(qMax<qreal>(pixel_ratio, 1.0));
  return image;
}

void build_avatar_bitmaps(const std::map<std::string, std::string>& bytes) {
  std::map<std::string, QImage>& cache = bitmaps();
  cache.clear();
  for (const auto& [name, body] : bytes) {
    QImage image = decode_avatar(body, 2.0);
    if (!image.isNull()) cache[name] = std::move(image);
  }
}

void release_avatar_bitmaps() {
  bitmaps().clear();
}

std::size_t avatar_bitmap_count() {
  return bitmaps().size();
}

void draw_avatar(QPainter& painter, int x, int y, const std::string& name) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const QRect box(x, y, kAvatarSize, kAvatarSize);
  QPainterPath circle;
  circle.addEllipse(QRectF(box));
  painter.setClipPath(circle, Qt::IntersectClip);
  const auto found = bitmaps().find(name);
  if (found != bitmaps().end()) {
    painter.drawImage(QRectF(box), found->second);
  } else {
    painter.fillPath(circle, QColor(0x241A0A));
    const QString text = QString::fromStdString(name);
    // One character, so a name that starts outside the basic plane keeps its surrogate pair.
    const QString initial = text.isEmpty()
                                ? QStringLiteral("?")
                                : text.left(text.at(0).isHighSurrogate() ? 2 : 1).toUpper();
    static const QFont font = badge_font();
    painter.setFont(font);
    painter.setPen(QColor(kCream));
    painter.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, initial);
  }
  painter.restore();
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(kBronze), 1.4));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(QRectF(x, y, kAvatarSize - 1, kAvatarSize - 1));
  painter.restore();
}

}  // namespace ui
