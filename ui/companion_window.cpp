#include "ui/companion_window.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

#include "korb/session.h"
#include "ui/app_image.h"
#include "ui/fonts.h"
#include "ui/palette.h"
#include "ui/well_painter.h"

namespace ui {

CompanionWindow::CompanionWindow(QWidget* owner, const QString& title, int width, int height,
                                 const AppImages* images)
    : QWidget(owner, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(title);
  // A caption and a close box, no sizing frame: the sheets are painted for this one size.
  setFixedSize(width, height);
  if (images != nullptr && !images->icon.isNull()) setWindowIcon(images->icon);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, QColor(kBackground));
  setPalette(colours);
}

void CompanionWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

std::string session_handle() {
  std::string handle = korb::paymail_address();
  const size_t at = handle.find('@');
  if (at != std::string::npos) handle.resize(at);
  return handle;
}

void raise_window(QWidget* window) {
  if (window == nullptr) return;
  window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
  window->show();
  window->raise();
  window->activateWindow();
}

void style_scroll_bar(QScrollBar* bar) {
  bar->setStyleSheet(QStringLiteral(
      "QScrollBar:vertical { background: #0A0804; width: 12px; margin: 0; }"
      "QScrollBar::handle:vertical { background: #A86C18; border-radius: 5px; min-height: 40px; }"
      "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
      "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));
}

QString elided(const QFont& font, const QString& text, int width) {
  return QFontMetrics(font).elidedText(text, Qt::ElideRight, width);
}

void draw_sheet_header(QPainter& painter, int width, const QImage& app_image) {
  const UiFonts& fonts = ui_fonts();
  painter.fillRect(0, 0, width, 72, QColor(kHeader));
  draw_app_image(painter, app_image, QRect(16, 8, 56, 56));
  const QString title = QStringLiteral("O-Stakka");
  painter.setFont(fonts.heading);
  draw_line(painter, ltrb(84, 16, width - 20, 52), Qt::AlignLeft | Qt::AlignTop, QColor(kCream),
            title);
  const int w = QFontMetrics(fonts.heading).horizontalAdvance(title);
  painter.setFont(fonts.body);
  draw_line(painter, ltrb(84 + w + 18, 26, width - 20, 52), Qt::AlignLeft | Qt::AlignTop,
            QColor(kAmber), QStringLiteral("Orbweave Arcade"));
}

void draw_section_card(QPainter& painter, const QRect& box, const QString& title) {
  const QColor card(kPanel);
  const QColor gold_edge(0xE89420);
  const QColor bronze(kBronze);
  const QColor c1 = blend(bronze, gold_edge, 70);
  const QColor c2 = blend(gold_edge, QColor(0xFFF4DC), 80);
  const QColor c3 = blend(bronze, QColor(kBackground), 80);
  const int l = box.left();
  const int t = box.top();
  const int r = box.right() + 1;
  const int b = box.bottom() + 1;
  painter.fillRect(box, card);
  painter.fillRect(ltrb(l, t, r, t + 3), blend(card, c1, 50));
  painter.fillRect(ltrb(l, b - 4, r, b), QColor(kBackground));
  draw_bevel(painter, box, c1, QColor(0x0E0A04));
  draw_bevel(painter, box.adjusted(1, 1, -1, -1), c2, c3);
  painter.setFont(ui_fonts().title);
  draw_line(painter, ltrb(l + 18, t + 14, r - 18, t + 40), Qt::AlignLeft | Qt::AlignTop, gold_edge,
            title);
  painter.fillRect(ltrb(l + 16, t + 44, r - 16, t + 45), blend(bronze, card, 90));
}

void draw_card_lines(QPainter& painter, int x, int y0, int right, const QStringList& lines) {
  painter.setFont(ui_fonts().body);
  int y = y0;
  for (const QString& line : lines) {
    draw_line(painter, ltrb(x, y, right, y + 24), Qt::AlignLeft | Qt::AlignTop, QColor(kCream),
              line);
    y += 24;
  }
}

}  // namespace ui
