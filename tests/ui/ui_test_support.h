// Shared pieces of the ui tests: one application object and the pixel questions asked of images.
#pragma once

#include <QApplication>
#include <QImage>
#include <QRect>
#include <cstdlib>

namespace ui_test {

inline QApplication& application() {
  static int argc = 1;
  static char name[] = "ui_test";
  static char* argv[] = {name, nullptr};
  // Never destroyed: Qt's own thread storage must outlive it at process exit.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// The colour at (x, y) as 0xRRGGBB.
inline QRgb rgb(const QImage& image, int x, int y) {
  return image.pixel(x, y) & 0xFFFFFF;
}

// How many pixels of rect are within tolerance of colour on every channel. Texts are checked this
// way: antialiased glyphs reach their full colour only inside their strokes, and where those fall
// depends on the installed font.
inline int count_near(const QImage& image, const QRect& rect, QRgb colour, int tolerance = 10) {
  int count = 0;
  const QRect r = rect.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y) {
    for (int x = r.left(); x <= r.right(); ++x) {
      const QRgb p = image.pixel(x, y);
      count += std::abs(qRed(p) - qRed(colour)) <= tolerance &&
               std::abs(qGreen(p) - qGreen(colour)) <= tolerance &&
               std::abs(qBlue(p) - qBlue(colour)) <= tolerance;
    }
  }
  return count;
}

}  // namespace ui_test
