#include "ui/board_window.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>

#include "korb/session.h"
#include "ui/avatar.h"
#include "ui/button.h"
#include "ui/fonts.h"
#include "ui/palette.h"
#include "ui/placement.h"
#include "ui/replay_window.h"
#include "ui/well_painter.h"

namespace ui {
namespace {

constexpr QRgb kGold = 0xE8C448;
constexpr QRgb kVerifiedGreen = 0x58B048;
constexpr QRgb kMismatchRed = 0xDC4030;
constexpr QRgb kUncheckedGrey = 0x6A5C44;
// Rows scroll up until the last one ends this far above the Close button's top.
constexpr int kRowsViewBottom = 788;
constexpr int kScrollBarWidth = 12;

QPointer<BoardWindow>& open_board() {
  static QPointer<BoardWindow> window;
  return window;
}

QRect verdict_mark_rect(int width, int row_y) {
  return QRect(width - 33, row_y + 20, 10, 10);
}

void draw_verdict_mark(QPainter& painter, const QRect& r, engine::RunVerdict verdict) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(Qt::NoBrush);
  switch (verdict) {
    case engine::RunVerdict::verified:
      painter.setPen(QPen(QColor(kVerifiedGreen), 2.2, Qt::SolidLine, Qt::RoundCap));
      painter.drawPolyline(
          QPolygonF({QPointF(r.left(), r.center().y()), QPointF(r.left() + 3.5, r.bottom()),
                     QPointF(r.right() + 1, r.top())}));
      break;
    case engine::RunVerdict::mismatch:
      painter.setPen(QPen(QColor(kMismatchRed), 2.2, Qt::SolidLine, Qt::RoundCap));
      painter.drawLine(QPointF(r.topLeft()), QPointF(r.bottomRight()) + QPointF(1, 1));
      painter.drawLine(QPointF(r.left(), r.bottom() + 1), QPointF(r.right() + 1, r.top()));
      break;
    case engine::RunVerdict::no_tape:
      painter.setPen(QPen(QColor(kUncheckedGrey), 1.5));
      painter.drawEllipse(QRectF(r).adjusted(1, 1, -1, -1));
      break;
  }
  painter.restore();
}

}  // namespace

QString verdict_text(const arcade::BoardRow& row) {
  const QString note = QString::fromStdString(row.replay_note);
  switch (row.replay) {
    case engine::RunVerdict::verified:
      return QStringLiteral(
          "Replay verified: the tape replays from the entry txid to game over at this score.");
    case engine::RunVerdict::mismatch:
      return QStringLiteral("Replay mismatch: ") + (note.isEmpty() ? QStringLiteral("?") : note) +
             QStringLiteral(". The row keeps its place on the board.");
    case engine::RunVerdict::no_tape:
      break;
  }
  if (row.pubkey.empty() && row.entry.empty()) {
    return QStringLiteral("Not checked: a score kept on this computer carries no tape.");
  }
  return QStringLiteral("Not checked: ") + (note.isEmpty() ? QStringLiteral("no tape") : note) +
         QStringLiteral(".");
}

BoardWindow::BoardWindow(QWidget* owner, arcade::BoardResult board, std::string me,
                         const AppImages* images)
    : CompanionWindow(owner, QStringLiteral("Weekly top scores"), kBoardWidth, kBoardHeight,
                      images),
      board_(std::move(board)),
      me_(std::move(me)),
      images_(images) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  scroll_ = new QScrollBar(Qt::Vertical, this);
  scroll_->setGeometry(kBoardWidth - kScrollBarWidth - 3, 4, kScrollBarWidth, kRowsViewBottom - 4);
  style_scroll_bar(scroll_);
  scroll_->setRange(0, max_scroll());
  scroll_->setSingleStep(kBoardRowPitch);
  scroll_->setPageStep(kRowsViewBottom - rows_top());
  scroll_->setVisible(max_scroll() > 0);
  connect(scroll_, &QScrollBar::valueChanged, this, [this] { update(); });
  close_ = create_button(this, QStringLiteral("Close"), kBoardCloseId, 400, 796, 110, 34);
  connect(close_, &PaintedButton::clicked, this, &QWidget::close);
}

bool BoardWindow::shows_best() const {
  return board_.has_best && board_.best.score >= 1;
}

int BoardWindow::rows_top() const {
  // The best row block (title, row, rule) ends at 46 + 54 + 24 = 124.
  return (shows_best() ? 46 + kBoardRowPitch + 24 : 16) + 80;
}

int BoardWindow::row_top(int index) const {
  return index == kBestRow ? 46 : rows_top() + kBoardRowPitch * index;
}

int BoardWindow::content_bottom() const {
  return row_top(static_cast<int>(board_.rows.size()));
}

int BoardWindow::max_scroll() const {
  return std::max(0, content_bottom() - kRowsViewBottom);
}

int BoardWindow::scroll_offset() const {
  return scroll_->value();
}

const arcade::BoardRow* BoardWindow::row(int index) const {
  if (index == kBestRow) return shows_best() ? &board_.best : nullptr;
  if (index < 0 || static_cast<size_t>(index) >= board_.rows.size()) return nullptr;
  return &board_.rows[static_cast<size_t>(index)];
}

int BoardWindow::row_at(const QPoint& point) const {
  // The Close button's strip never selects a row scrolled under it.
  if (point.y() >= kRowsViewBottom && max_scroll() > 0) return kNoRow;
  const int y = point.y() + scroll_offset();
  if (point.x() < 20 || point.x() >= width() - 20) return kNoRow;
  const int first = shows_best() ? kBestRow : 0;
  for (int i = first; row(i) != nullptr; ++i) {
    const int top = row_top(i);
    if (y >= top && y < top + 50) return i;
  }
  return kNoRow;
}

QString BoardWindow::tooltip_at(const QPoint& point) const {
  const int index = row_at(point);
  const arcade::BoardRow* hit = row(index);
  if (hit == nullptr) return {};
  // The mark and the score beside it both answer.
  const int top = row_top(index) - scroll_offset();
  const QRect area(width() - 152, top, 132, 50);
  return area.contains(point) ? verdict_text(*hit) : QString();
}

bool BoardWindow::watch(int index) {
  const arcade::BoardRow* chosen = row(index);
  if (chosen == nullptr || chosen->tape.empty()) return false;
  // The viewer belongs to the main window, so the next board load does not close it.
  QWidget* owner = parentWidget() != nullptr ? parentWidget() : this;
  return open_replay_window(owner, *chosen, images_) != nullptr;
}

int BoardWindow::draw_row(QPainter& painter, int y, const QString& label, const QColor& frame,
                          const QColor& score, bool best, const arcade::BoardRow& row) const {
  const UiFonts& fonts = ui_fonts();
  const int w = width();
  const std::string name = arcade::display_name(row);
  const bool mine = !me_.empty() && me_ == name;
  const QRect r = ltrb(20, y, w - 20, y + 50);
  const QColor panel(kPanel);
  painter.fillRect(r, best   ? blend(panel, QColor(kGold), 28)
                      : mine ? blend(panel, QColor(kOrange), 40)
                             : panel);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal pen = best ? 2.0 : 1.0;
  painter.setPen(QPen(frame, pen));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(QRectF(r).adjusted(pen / 2, pen / 2, -pen / 2, -pen / 2), 5, 5);
  painter.restore();
  int x = 36;
  if (!label.isEmpty()) {
    painter.setFont(fonts.title);
    draw_line(painter, ltrb(30, y, 62, y + 50), Qt::AlignCenter, frame, label);
    x = 68;
  }
  draw_avatar(painter, x, y + 4, name);
  const QRect name_rect = ltrb(x + 52, y, w - 160, y + 50);
  painter.setFont(fonts.body);
  draw_line(painter, name_rect, Qt::AlignLeft | Qt::AlignVCenter, QColor(kCream),
            elided(fonts.body, QString::fromStdString(name), name_rect.width()));
  painter.setFont(fonts.stats);
  draw_line(painter, ltrb(w - 152, y, w - 36, y + 50), Qt::AlignRight | Qt::AlignVCenter, score,
            QString::number(static_cast<qlonglong>(row.score)));
  draw_verdict_mark(painter, verdict_mark_rect(w, y), row.replay);
  return y + kBoardRowPitch;
}

void BoardWindow::paintEvent(QPaintEvent*) {
  const UiFonts& fonts = ui_fonts();
  const int w = width();
  QPainter painter(this);
  painter.fillRect(rect(), QColor(kBackground));
  painter.translate(0, -scroll_offset());
  const QColor gold(kGold);
  const QColor bronze(kBronze);
  int y0 = 16;
  if (shows_best()) {
    painter.setFont(fonts.title);
    draw_line(painter, ltrb(28, 16, w - 28, 42), Qt::AlignLeft | Qt::AlignTop, gold,
              elided(fonts.title, QStringLiteral("Highest Score Ever"), w - 56));
    const int b = draw_row(painter, 46, QString(), gold, gold, true, board_.best);
    painter.fillRect(ltrb(28, b + 10, w - 28, b + 11), bronze);
    y0 = b + 24;
  }
  painter.setFont(fonts.small);
  draw_line(
      painter, ltrb(28, y0, w - 28, y0 + 24), Qt::AlignLeft | Qt::AlignTop, QColor(kAmber),
      elided(fonts.small, QStringLiteral("Pot accumulates until Saturday noon, UK time."), w - 56));
  painter.setFont(fonts.title);
  draw_line(painter, ltrb(28, y0 + 26, w - 28, y0 + 62), Qt::AlignLeft | Qt::AlignTop,
            QColor(kCream),
            elided(fonts.title, QStringLiteral("Top scores for this week."), w - 56));
  painter.fillRect(ltrb(28, y0 + 66, w - 28, y0 + 67), bronze);
  int y = y0 + 80;
  for (size_t i = 0; i < board_.rows.size(); ++i) {
    const bool first = i == 0;
    y = draw_row(painter, y, QString::number(static_cast<qulonglong>(i + 1)), first ? gold : bronze,
                 first ? gold : QColor(kOrange), false, board_.rows[i]);
  }
  if (board_.rows.empty()) {
    const QString message = board_.message.empty() ? QStringLiteral("No scores posted yet.")
                                                   : QString::fromStdString(board_.message);
    painter.setFont(fonts.body);
    draw_line(painter, ltrb(28, y0 + 80, w - 28, y0 + 120), Qt::AlignLeft | Qt::AlignTop,
              QColor(kAmber), message);
  }
  if (max_scroll() > 0) {
    // A footer behind the Close button, so rows scroll out of sight under it instead of showing
    // through around it.
    painter.resetTransform();
    painter.fillRect(ltrb(0, kRowsViewBottom + 2, w, height()), QColor(kBackground));
  }
}

void BoardWindow::wheelEvent(QWheelEvent* event) {
  const int notches = event->angleDelta().y() / 120;
  scroll_->setValue(scroll_->value() - notches * kBoardRowPitch);
  event->accept();
}

void BoardWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Down:
      scroll_->triggerAction(QAbstractSlider::SliderSingleStepAdd);
      return;
    case Qt::Key_Up:
      scroll_->triggerAction(QAbstractSlider::SliderSingleStepSub);
      return;
    case Qt::Key_PageDown:
    case Qt::Key_Space:
      scroll_->triggerAction(QAbstractSlider::SliderPageStepAdd);
      return;
    case Qt::Key_PageUp:
      scroll_->triggerAction(QAbstractSlider::SliderPageStepSub);
      return;
    case Qt::Key_Home:
      scroll_->setValue(0);
      return;
    case Qt::Key_End:
      scroll_->setValue(scroll_->maximum());
      return;
    default:
      CompanionWindow::keyPressEvent(event);
  }
}

void BoardWindow::mouseDoubleClickEvent(QMouseEvent* event) {
  watch(row_at(event->position().toPoint()));
}

void BoardWindow::contextMenuEvent(QContextMenuEvent* event) {
  const int index = row_at(event->pos());
  const arcade::BoardRow* hit = row(index);
  if (hit == nullptr) return;
  auto* menu = new QMenu(this);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  QAction* action = menu->addAction(QStringLiteral("Watch replay"));
  action->setEnabled(!hit->tape.empty());
  connect(action, &QAction::triggered, this, [this, index] { watch(index); });
  menu->popup(event->globalPos());
}

bool BoardWindow::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const QString text = tooltip_at(help->pos());
    if (text.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(help->globalPos(), text, this);
    }
    return true;
  }
  return CompanionWindow::event(event);
}

std::string own_board_name() {
  return korb::is_connected() ? session_handle() : std::string();
}

BoardWindow* open_board_window(QWidget* main, const arcade::BoardResult& board,
                               const std::string& me, const AppImages* images) {
  QPointer<BoardWindow>& slot = open_board();
  // Every load shows fresh data in a new window: the old one goes at once, not at the next turn
  // of the event loop, so there is never a moment with two.
  delete slot.data();
  slot = new BoardWindow(main, board, me, images);
  if (main != nullptr) place_beside_main(slot, main, kBoardWidth, kBoardHeight);
  raise_window(slot);
  return slot;
}

BoardWindow* board_window() {
  return open_board();
}

}  // namespace ui
