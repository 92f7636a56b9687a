#include "ui/fonts.h"

#include <QFontMetricsF>
#include <QStringList>
#include <algorithm>

namespace ui {
namespace {

enum class Face { Sans, Serif, Mono };

QFont make_font(Face face, int pixel_height, int weight) {
  static const QStringList sans = {"Segoe UI", "Noto Sans", "DejaVu Sans"};
  static const QStringList serif = {"Georgia", "Noto Serif", "DejaVu Serif"};
  // Qt does not map Consolas to Inconsolata by itself, so the fallback is named here.
  static const QStringList mono = {"Consolas", "Inconsolata", "DejaVu Sans Mono"};
  QFont font;
  font.setFamilies(face == Face::Sans ? sans : face == Face::Serif ? serif : mono);
  font.setStyleHint(face == Face::Mono    ? QFont::Monospace
                    : face == Face::Serif ? QFont::Serif
                                          : QFont::SansSerif);
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setStyleStrategy(QFont::PreferAntialias);
  // The heights are cell heights (ascent plus descent), the way the rectangles the texts sit in
  // were measured. Faces differ in how tall their cell is for a given em size, so the em size is
  // taken from the face that actually resolved.
  font.setPixelSize(100);
  const QFontMetricsF metrics(font);
  const qreal cell = metrics.ascent() + metrics.descent();
  const int em = cell > 0 ? qRound(pixel_height * 100 / cell) : pixel_height;
  font.setPixelSize(std::max(em, 1));
  return font;
}

}  // namespace

const UiFonts& ui_fonts() {
  // Never destroyed: a font released after the application object is gone can touch freed font
  // caches at exit.
  static const UiFonts* fonts = new UiFonts{
      make_font(Face::Sans, 18, 400),  make_font(Face::Sans, 16, 400),
      make_font(Face::Serif, 28, 700), make_font(Face::Mono, 22, 600),
      make_font(Face::Sans, 18, 400),  make_font(Face::Serif, 32, 700),
      make_font(Face::Sans, 72, 900),  make_font(Face::Sans, 40, 700),
  };
  return *fonts;
}

}  // namespace ui
