// The game's art, drawn from code: a golden well with a stack of blocks and a T piece falling
// into the one gap. One list of shapes feeds both the PNG files and the scalable SVG icon, so the
// two cannot drift apart.
#pragma once

#include <QImage>
#include <QPolygonF>
#include <QRectF>
#include <QString>
#include <vector>

namespace art {

// All coordinates are in a 256 x 256 design square.
inline constexpr int kDesignSize = 256;

struct Shape {
  QPolygonF points;  // used when radius is 0
  QRectF rect;       // a rounded rectangle when radius is above 0
  double radius = 0;
  QRgb colour = 0;
};

// The art on the game's own dark background: the app image, whose dark pixels the game makes
// transparent when it loads it.
[[nodiscard]] std::vector<Shape> app_image_shapes();

// The desktop icon: the art on a rounded bronze-rimmed tile, for any background.
[[nodiscard]] std::vector<Shape> icon_shapes();

// The shapes painted into an n x n image (transparent where no shape is).
[[nodiscard]] QImage render(const std::vector<Shape>& shapes, int n);

// The shapes as an SVG document with a 256 x 256 view box.
[[nodiscard]] QString to_svg(const std::vector<Shape>& shapes);

// The desktop file id, also the name of every installed icon.
inline constexpr char kIconName[] = "io.orbweave.OStakka";

// The sizes of the PNG desktop icons.
inline constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

}  // namespace art
