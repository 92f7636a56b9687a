#include "ui/button.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVariant>
#include <cmath>
#include <numbers>

#include "ui/fonts.h"
#include "ui/palette.h"

namespace ui {
namespace {

constexpr QRgb kGradientTop = 0x785014;
constexpr QRgb kGradientBottom = 0x0E0A04;
constexpr QRgb kAccent = 0xE89420;
constexpr QRgb kRim = 0xA86C18;
constexpr QRgb kText = 0xFFF4DC;
constexpr QRgb kDisabledText = 0xA07840;
constexpr QRgb kFlashLight = 0xFFF4C8;
constexpr qreal kCornerRadius = 7;  // corner ellipses of 14 x 14
constexpr int kLabelLimit = 128;

void draw_gear(QPainter& painter, const QRect& r, const QColor& colour) {
  const int cx = r.left() + r.width() / 2;
  const int cy = r.top() + r.height() / 2;
  // Pixel centres, so the two-pixel strokes sit evenly around the integer coordinates.
  const auto at = [cx, cy](int dx, int dy) { return QPointF(cx + dx + 0.5, cy + dy + 0.5); };
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setPen(QPen(colour, 2));
  for (int spoke = 0; spoke < 8; ++spoke) {
    const double angle = spoke * std::numbers::pi / 4;
    const double cosine = std::cos(angle);
    const double sine = std::sin(angle);
    painter.drawLine(at(static_cast<int>(8 * cosine), static_cast<int>(8 * sine)),
                     at(static_cast<int>(13 * cosine), static_cast<int>(13 * sine)));
  }
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(QRectF(at(-9, -9), at(10, 10)).adjusted(0, 0, -1, -1));
  painter.setBrush(colour);
  painter.drawEllipse(QRectF(at(-4, -4), at(5, 5)).adjusted(0, 0, -1, -1));
  painter.restore();
}

}  // namespace

bool record_flash_lit(bool record_flash, engine::ArcadeState state, uint64_t tick) {
  return record_flash && state == engine::ArcadeState::GameOver && (tick / 280) % 2 == 1;
}

void draw_button(QPainter& painter, const QRect& rect, const QString& text,
                 const ButtonLook& look) {
  if (rect.width() < 1 || rect.height() < 1) return;
  painter.save();
  const QColor fill(look.on_header ? kHeader : kBackground);
  painter.fillRect(rect, fill);

  QColor top(kGradientTop);
  QColor bottom(kGradientBottom);
  if (look.hot) {
    top = blend(top, QColor(kAccent), 90);
    bottom = blend(bottom, QColor(kAccent), 70);
  }
  QColor start = look.pressed ? bottom : top;
  QColor end = look.pressed ? top : bottom;
  if (look.disabled) {
    start = blend(start, fill, 120);
    end = blend(end, fill, 120);
  }
  if (look.flash_lit) {
    start = blend(QColor(kAccent), QColor(kFlashLight), 80);
    end = blend(QColor(kGradientBottom), QColor(kAccent), 80);
  }

  QPainterPath rounded;
  rounded.addRoundedRect(QRectF(rect), kCornerRadius, kCornerRadius);
  painter.setClipPath(rounded);
  const int h = rect.height();
  for (int i = 0; i < h; ++i) {
    const QColor row = h == 1 ? start : blend(start, end, i * 255 / (h - 1));
    painter.fillRect(rect.left(), rect.top() + i, rect.width(), 1, row);
  }
  painter.setClipping(false);

  // The rim runs through pixel centres so its straight edges stay one crisp pixel wide while
  // the corners are smoothed.
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setPen(QPen(QColor(look.hot || look.pressed ? kAccent : kRim), 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(
      QRectF(rect.left() + 0.5, rect.top() + 0.5, rect.width() - 2, rect.height() - 2),
      kCornerRadius, kCornerRadius);

  const QColor label(look.disabled ? kDisabledText : kText);
  const QRect label_rect = look.pressed ? rect.translated(1, 1) : rect;
  if (look.gear) {
    draw_gear(painter, label_rect, label);
  } else {
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setFont(ui_fonts().button);
    painter.setPen(label);
    painter.drawText(label_rect, Qt::AlignCenter | Qt::TextSingleLine, text.left(kLabelLimit));
  }
  painter.restore();
}

PaintedButton::PaintedButton(QWidget* parent, const QString& text, int id)
    : QWidget(parent), id_(id), text_(text) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_Hover, false);
  setMouseTracking(true);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
  setFont(ui_fonts().button);
}

void PaintedButton::set_text(const QString& text) {
  if (text == text_) return;
  text_ = text;
  update();
}

bool PaintedButton::is_hot() const {
  return property(kHotMark).isValid();
}

ButtonLook PaintedButton::look() const {
  ButtonLook look;
  look.hot = is_hot();
  look.pressed = key_pressed_;
  look.disabled = !isEnabled();
  look.gear = id_ == kSettingsButtonId;
  look.on_header = header_band_ && y() < kHeaderBandBottom;
  if (flash_armed_ && flash_armed_()) {
    // The source has already checked the flag and the state; only the phase is left.
    look.flash_lit =
        record_flash_lit(true, engine::ArcadeState::GameOver, ticks_ ? ticks_() : tick_count_ms());
  }
  return look;
}

void PaintedButton::set_hot(bool hot) {
  if (hot == is_hot()) return;
  setProperty(kHotMark, hot ? QVariant(true) : QVariant());
  update();
}

void PaintedButton::post_click() {
  // Queued on this button: if the button is gone before the event loop gets there, the click
  // goes with it.
  QMetaObject::invokeMethod(
      this, [this] { emit clicked(id_); }, Qt::QueuedConnection);
}

void PaintedButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  draw_button(painter, rect(), text_, look());
}

void PaintedButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  // Qt grabs the mouse for the widget under a press until the release, as a capture would.
  set_hot(true);
}

void PaintedButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (rect().contains(event->position().toPoint())) {
    post_click();
  } else {
    set_hot(false);  // released elsewhere: the pointer has left
  }
}

void PaintedButton::mouseMoveEvent(QMouseEvent*) {
  set_hot(true);
}

void PaintedButton::enterEvent(QEnterEvent*) {
  set_hot(true);
}

void PaintedButton::leaveEvent(QEvent*) {
  set_hot(false);
}

void PaintedButton::keyPressEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Space) {
    QWidget::keyPressEvent(event);
    return;
  }
  if (!event->isAutoRepeat() && !key_pressed_) {
    key_pressed_ = true;
    update();
  }
}

void PaintedButton::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Space) {
    QWidget::keyReleaseEvent(event);
    return;
  }
  if (event->isAutoRepeat() || !key_pressed_) return;
  key_pressed_ = false;
  update();
  post_click();
}

void PaintedButton::changeEvent(QEvent* event) {
  // A disabled button gets no mouse events, so a mark left from before would outlive the
  // pointer and show a hot button once it is enabled again.
  if (event->type() == QEvent::EnabledChange && !isEnabled()) {
    setProperty(kHotMark, QVariant());
    key_pressed_ = false;
    update();
  }
  QWidget::changeEvent(event);
}

void PaintedButton::focusOutEvent(QFocusEvent* event) {
  if (key_pressed_) {
    key_pressed_ = false;
    update();
  }
  QWidget::focusOutEvent(event);
}

PaintedButton* create_button(QWidget* parent, const QString& text, int id, int x, int y, int width,
                             int height) {
  auto* button = new PaintedButton(parent, text, id);
  button->setGeometry(x, y, width, height);
  button->show();
  return button;
}

}  // namespace ui
