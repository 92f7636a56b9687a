// The board's round player pictures: the downloaded bytes decoded once after each board load, and
// each picture drawn in a 38-pixel circle with a bronze ring, or a badge with the name's initial
// when there is no picture.
//
// The bytes come from any web address a profile names, so decoding trusts nothing: only PNG,
// JPEG, GIF and WebP are read, the body and the picture's size are capped before any pixel is
// decoded, and every failure simply leaves the badge.
#pragma once

#include <QImage>
#include <cstddef>
#include <map>
#include <string>

class QPainter;

namespace ui {

inline constexpr int kAvatarSize = 38;
// A picture wider or taller than this is refused before decoding: a small header can announce a
// picture of gigabytes, and a small body can hold a picture that takes the window thread long to
// decode (about 50 ms at this side).
inline constexpr int kAvatarMaxSide = 2048;
// What Qt's decoders may allocate for one picture, in megabytes.
inline constexpr int kAvatarAllocationLimitMb = 64;

// The picture in bytes as a premultiplied ARGB image scaled to fit 38 x 38 pixels at the given
// device pixel ratio, or a null image when the bytes are no picture we read.
[[nodiscard]] QImage decode_avatar(const std::string& bytes, qreal pixel_ratio = 1.0);

// Window thread: replaces every decoded picture with those decoded from `bytes` (display name to
// the picture's raw bytes, as the board load leaves them).
void build_avatar_bitmaps(const std::map<std::string, std::string>& bytes);
// Window thread: forgets every decoded picture (the main window's end).
void release_avatar_bitmaps();
// How many pictures are held, for the tests.
[[nodiscard]] std::size_t avatar_bitmap_count();

// The avatar of `name` in the 38 x 38 box at (x, y): the picture clipped to the circle, else a
// dark disc with the name's first character upper-cased ("?" for no name); then the bronze ring.
void draw_avatar(QPainter& painter, int x, int y, const std::string& name);

}  // namespace ui
