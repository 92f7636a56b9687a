// The game's colours: the brushes of the windows, the piece colours and the colour blend that the
// well, the buttons and the companion windows all shade with.
#pragma once

#include <QColor>
#include <cstdint>
#include <optional>

namespace ui {

// Brushes of the windows.
inline constexpr QRgb kBackground = 0x0A0804;  // main window, well, companion windows
inline constexpr QRgb kPanel = 0x120E08;       // panels of the report window
inline constexpr QRgb kHeader = 0x100C06;      // header bands

// Text colours shared by statics, panels and buttons.
inline constexpr QRgb kCream = 0xF6E8C8;
inline constexpr QRgb kAmber = 0xA07840;
inline constexpr QRgb kOrange = 0xE89420;
inline constexpr QRgb kBronze = 0xA86C18;

// The main window's header band runs from the top edge down to this y.
inline constexpr int kHeaderBandBottom = 86;

// Each channel (a * (255 - t) + b * t) / 255 with integer division; t outside 0..255 is held at
// the nearer end so a caller's arithmetic slip cannot wrap a channel.
[[nodiscard]] QColor blend(const QColor& a, const QColor& b, int t);

// The colour of a locked cell, indexed by the cell plane value (piece type + 1); nothing for 0 and
// for values no piece has.
[[nodiscard]] std::optional<QColor> piece_colour(uint32_t cell_value);

}  // namespace ui
