#include "tools/art/art_scene.h"

#include <QPainter>

#include "ui/palette.h"

namespace art {
namespace {

// The game's own colours, so the art matches the well it stands for.
constexpr QRgb kBackground = ui::kBackground;
constexpr QRgb kWellGold = 0xE8B040;  // the frame's bright ring
constexpr QRgb kWellBronze = ui::kBronze;
constexpr QRgb kWellLight = 0xFFE496;  // the frame's bevel light
constexpr QRgb kWellDark = 0x603A0C;
constexpr QRgb kTileFill = 0x1A1208;

QRgb piece(int type) {
  return ui::piece_colour(static_cast<uint32_t>(type + 1))->rgb();
}

QRgb blend(QRgb a, QRgb b, int t) {
  return ui::blend(QColor(a), QColor(b), t).rgb();
}

Shape polygon(std::initializer_list<QPointF> points, QRgb colour) {
  return Shape{QPolygonF(points), {}, 0, colour};
}

Shape box(double x, double y, double w, double h, QRgb colour) {
  return polygon({{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}}, colour);
}

// A block with mitred bevels: light top-left, dark bottom-right, the face between.
void bevelled(std::vector<Shape>& out, double x, double y, double w, double h, double edge,
              QRgb face, QRgb light, QRgb dark) {
  out.push_back(polygon({{x, y},
                         {x + w, y},
                         {x + w - edge, y + edge},
                         {x + edge, y + edge},
                         {x + edge, y + h - edge},
                         {x, y + h}},
                        light));
  out.push_back(polygon({{x + w, y},
                         {x + w, y + h},
                         {x, y + h},
                         {x + edge, y + h - edge},
                         {x + w - edge, y + h - edge},
                         {x + w - edge, y + edge}},
                        dark));
  out.push_back(box(x + edge, y + edge, w - 2 * edge, h - 2 * edge, face));
}

// The well's inside runs from x = 38 to 218 (four columns of 45) down to the floor at y = 220.
constexpr double kCell = 45;
constexpr double kInsideLeft = 38;
constexpr double kFloor = 220;
constexpr double kGap = 3;

void block(std::vector<Shape>& out, double column, double top, QRgb colour) {
  bevelled(out, kInsideLeft + column * kCell + kGap / 2, top + kGap / 2, kCell - kGap, kCell - kGap,
           6, colour, blend(colour, 0xFFFFFF, 90), blend(colour, 0x000000, 90));
}

void stacked(std::vector<Shape>& out, int column, int row, QRgb colour) {
  block(out, column, kFloor - (row + 1) * kCell, colour);
}

std::vector<Shape> scene() {
  std::vector<Shape> out;
  // The well: two walls and the floor, bronze edged, gold faced.
  bevelled(out, 20, 74, 18, 164, 4, kWellGold, kWellLight, kWellDark);
  bevelled(out, 218, 74, 18, 164, 4, kWellGold, kWellLight, kWellDark);
  bevelled(out, 20, 220, 216, 18, 4, kWellGold, kWellLight, kWellDark);
  out.push_back(box(38, 220, 180, 2, kWellBronze));

  // The stack, with one gap left in the second row.
  stacked(out, 0, 0, piece(6));
  stacked(out, 0, 1, piece(6));
  stacked(out, 1, 0, piece(0));
  stacked(out, 2, 0, piece(1));
  stacked(out, 3, 0, piece(1));
  stacked(out, 2, 1, piece(1));
  stacked(out, 3, 1, piece(1));

  // The T piece on its way into the gap, with the fading trail of its fall above it.
  const double bar_top = 30;
  for (int column = 0; column < 3; ++column) {
    const double left = kInsideLeft + column * kCell + kGap / 2;
    out.push_back(box(left, 4, kCell - kGap, 7, blend(piece(2), kBackground, 200)));
    out.push_back(box(left, 15, kCell - kGap, 10, blend(piece(2), kBackground, 140)));
  }
  for (int column = 0; column < 3; ++column) block(out, column, bar_top, piece(2));
  block(out, 1, bar_top + kCell, piece(2));
  return out;
}

QString hex(QRgb colour) {
  return QString::asprintf("#%06X", colour & 0xFFFFFF);
}

void draw(QPainter& painter, const Shape& shape) {
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(shape.colour));
  if (shape.radius > 0) {
    painter.drawRoundedRect(shape.rect, shape.radius, shape.radius);
  } else {
    painter.drawPolygon(shape.points);
  }
}

}  // namespace

std::vector<Shape> app_image_shapes() {
  std::vector<Shape> out{box(0, 0, kDesignSize, kDesignSize, kBackground)};
  for (Shape& shape : scene()) out.push_back(std::move(shape));
  return out;
}

std::vector<Shape> icon_shapes() {
  std::vector<Shape> out{
      Shape{{}, QRectF(4, 4, 248, 248), 44, kWellBronze},
      Shape{{}, QRectF(10, 10, 236, 236), 39, kTileFill},
  };
  // The art shrunk about the centre to sit inside the tile's rim.
  constexpr double kScale = 0.8;
  constexpr double kShift = kDesignSize * (1 - kScale) / 2;
  for (Shape shape : scene()) {
    for (QPointF& p : shape.points) p = p * kScale + QPointF(kShift, kShift);
    out.push_back(std::move(shape));
  }
  return out;
}

QImage render(const std::vector<Shape>& shapes, int n) {
  QImage image(n, n, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.scale(static_cast<double>(n) / kDesignSize, static_cast<double>(n) / kDesignSize);
  for (const Shape& shape : shapes) draw(painter, shape);
  return image;
}

QString to_svg(const std::vector<Shape>& shapes) {
  QString svg = QStringLiteral(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
      "viewBox=\"0 0 256 256\">\n");
  for (const Shape& shape : shapes) {
    if (shape.radius > 0) {
      svg += QString::asprintf(
          "  <rect x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" rx=\"%g\" fill=\"%s\"/>\n",
          shape.rect.x(), shape.rect.y(), shape.rect.width(), shape.rect.height(), shape.radius,
          qPrintable(hex(shape.colour)));
      continue;
    }
    QString points;
    for (const QPointF& p : shape.points) {
      if (!points.isEmpty()) points += ' ';
      points += QString::asprintf("%g,%g", p.x(), p.y());
    }
    svg += QString::asprintf("  <polygon points=\"%s\" fill=\"%s\"/>\n", qPrintable(points),
                             qPrintable(hex(shape.colour)));
  }
  svg += "</svg>\n";
  return svg;
}

}  // namespace art
