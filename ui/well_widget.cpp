#include "ui/well_widget.h"

#include <QPainter>

#include "ui/palette.h"

namespace ui {

WellWidget::WellWidget(ViewSource source, QWidget* parent)
    : QWidget(parent), source_(std::move(source)) {
  // Every pixel is painted each time, so Qt need not clear first; its backing store already
  // double-buffers, which keeps the 16 ms redraws free of flicker.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
}

void WellWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!source_) {
    painter.fillRect(rect(), QColor(kBackground));
    return;
  }
  paint_well(painter, size(), source_());
}

}  // namespace ui
