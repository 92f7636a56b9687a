#include "ui/palette.h"

#include <algorithm>
#include <array>

namespace ui {

QColor blend(const QColor& a, const QColor& b, int t) {
  t = std::clamp(t, 0, 255);
  const auto mix = [t](int x, int y) { return std::clamp((x * (255 - t) + y * t) / 255, 0, 255); };
  return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
}

std::optional<QColor> piece_colour(uint32_t cell_value) {
  // I, O, T, S, Z, J, L.
  static constexpr std::array<QRgb, 7> colours = {0xE89420, 0xF6C440, 0xC46018, 0xA8C448,
                                                  0xC44030, 0x488CC4, 0xE8A858};
  if (cell_value < 1 || cell_value > colours.size()) return std::nullopt;
  return QColor(colours[cell_value - 1]);
}

}  // namespace ui
