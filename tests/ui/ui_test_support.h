// Shared pieces of the ui tests: one application object for the process and the pixel
// questions the tests ask of grabbed images.
#pragma once

#include <QApplication>
#include <QColor>
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

inline QColor pixel(const QImage& image, int x, int y) {
  return QColor(image.pixel(x, y));
}

// How many pixels of rect lie within tolerance of colour on every channel. Text is checked this
// way: antialiased glyphs reach their full colour only in their strokes, and where those strokes
// fall depends on the font installed.
inline int count_near(const QImage& image, const QRect& rect, const QColor& colour,
                      int tolerance = 24) {
  int count = 0;
  const QRect r = rect.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y) {
    for (int x = r.left(); x <= r.right(); ++x) {
      const QColor p(image.pixel(x, y));
      if (std::abs(p.red() - colour.red()) <= tolerance &&
          std::abs(p.green() - colour.green()) <= tolerance &&
          std::abs(p.blue() - colour.blue()) <= tolerance) {
        ++count;
      }
    }
  }
  return count;
}

}  // namespace ui_test
