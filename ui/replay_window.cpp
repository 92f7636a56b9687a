#include "ui/replay_window.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <algorithm>

#include "ui/button.h"
#include "ui/fonts.h"
#include "ui/palette.h"
#include "ui/well_painter.h"
#include "ui/well_widget.h"

namespace ui {
namespace {

constexpr QRgb kMismatchRed = 0xDC4030;
// A window stalled longer than this (a dragged window, a suspended laptop) resumes where it was
// rather than jumping ahead.
constexpr uint64_t kLongestStepMs = 250;
constexpr int kProgressTop = 664;

QString clock_text(uint64_t ms) {
  const uint64_t seconds = ms / 1000;
  return QString::asprintf("%llu:%02llu", static_cast<unsigned long long>(seconds / 60),
                           static_cast<unsigned long long>(seconds % 60));
}

}  // namespace

ReplayWindow::ReplayWindow(QWidget* owner, const arcade::BoardRow& row, const AppImages* images,
                           TickSource ticks)
    : CompanionWindow(
          owner, QStringLiteral("Replay - ") + QString::fromStdString(arcade::display_name(row)),
          kReplayWidth, kReplayHeight, images),
      row_(row),
      ticks_(ticks ? std::move(ticks) : TickSource(tick_count_ms)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  if (!row_.tape.empty()) length_ = row_.tape.back().time;
  well_ = new WellWidget(
      [this] {
        const bool over = cursor_.ended;
        WellView view{cursor_.result.game};
        // The end shows the run's final counters under the on-chain banner, as its player saw it
        // once recorded.
        view.arcade_state = over ? engine::ArcadeState::Recorded : engine::ArcadeState::Playing;
        view.final_score = cursor_.result.game.score;
        view.cell = kReplayCell;
        view.tick = ticks_();
        return view;
      },
      this);
  well_->setGeometry(16, 40, 10 * kReplayCell + 296, 20 * kReplayCell + 52);

  pause_ = create_button(this, QStringLiteral("Pause"), kReplayPauseId, 16, 704, 100, 34);
  const struct {
    const char* text;
    int id, x, speed;
  } speeds[] = {{"1x", kReplaySpeed1Id, 124, 1},
                {"4x", kReplaySpeed4Id, 192, 4},
                {"16x", kReplaySpeed16Id, 260, 16}};
  for (const auto& s : speeds) {
    PaintedButton* b = create_button(this, s.text, s.id, s.x, 704, 60, 34);
    connect(b, &PaintedButton::clicked, this, [this, speed = s.speed] { set_speed(speed); });
  }
  PaintedButton* again =
      create_button(this, QStringLiteral("Restart"), kReplayRestartId, 328, 704, 100, 34);
  PaintedButton* close =
      create_button(this, QStringLiteral("Close"), kReplayCloseId, 482, 704, 110, 34);
  connect(pause_, &PaintedButton::clicked, this, [this] { set_paused(!paused_); });
  connect(again, &PaintedButton::clicked, this, &ReplayWindow::restart);
  connect(close, &PaintedButton::clicked, this, &QWidget::close);

  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(16);
  connect(&timer_, &QTimer::timeout, this, &ReplayWindow::step);
  restart();
}

PaintedButton* ReplayWindow::button(int id) const {
  for (PaintedButton* b : findChildren<PaintedButton*>()) {
    if (b->id() == id) return b;
  }
  return nullptr;
}

void ReplayWindow::restart() {
  engine::begin_replay(cursor_, row_.entry);
  position_ = 0;
  last_tick_ = ticks_();
  set_paused(false);
}

void ReplayWindow::set_speed(int speed) {
  speed_ = std::clamp(speed, 1, 16);
  update();
}

void ReplayWindow::set_paused(bool paused) {
  paused_ = paused;
  pause_->set_text(paused ? QStringLiteral("Play") : QStringLiteral("Pause"));
  last_tick_ = ticks_();
  if (paused || finished()) {
    timer_.stop();
  } else {
    timer_.start();
  }
  update();
  well_->update();  // its own widget: the window's update does not reach it on screen
}

void ReplayWindow::step() {
  const uint64_t now = ticks_();
  const uint64_t passed = std::min(now - std::min(now, last_tick_), kLongestStepMs);
  last_tick_ = now;
  if (paused_ || finished()) return;
  position_ = std::min(position_ + passed * static_cast<uint64_t>(speed_), length_);
  (void)engine::advance_replay(cursor_, row_.tape, position_);
  if (finished()) timer_.stop();
  update();
  well_->update();
}

QString ReplayWindow::time_line() const {
  QString text = clock_text(position_) + QStringLiteral(" / ") + clock_text(length_) +
                 QStringLiteral("   ") + QString::number(speed_) + QStringLiteral("x");
  if (paused_) text += QStringLiteral("   paused");
  if (cursor_.ended) text += QStringLiteral("   end of run");
  return text;
}

void ReplayWindow::paintEvent(QPaintEvent*) {
  const UiFonts& fonts = ui_fonts();
  const int w = width();
  QPainter painter(this);
  painter.fillRect(rect(), QColor(kBackground));
  painter.setFont(fonts.body);
  const QString name = QString::fromStdString(arcade::display_name(row_));
  draw_line(painter, ltrb(16, 8, w - 16, 34), Qt::AlignLeft | Qt::AlignVCenter, QColor(kCream),
            elided(fonts.body,
                   name + QStringLiteral("   score ") +
                       QString::number(static_cast<qlonglong>(row_.score)),
                   w - 32));

  // The progress bar over the run's length, then the clock and speed (or why the replay stopped).
  const QRect bar(16, kProgressTop, w - 32, 10);
  painter.fillRect(bar, QColor(kPanel));
  const double done = length_ == 0 ? 1.0 : static_cast<double>(position_) / length_;
  painter.fillRect(QRect(bar.left(), bar.top(), static_cast<int>(bar.width() * done), bar.height()),
                   QColor(kOrange));
  draw_bevel(painter, bar, QColor(kBronze), QColor(kBronze));
  painter.setFont(fonts.small);
  if (cursor_.failed) {
    draw_line(
        painter, ltrb(16, kProgressTop + 14, w - 16, kProgressTop + 34),
        Qt::AlignLeft | Qt::AlignVCenter, QColor(kMismatchRed),
        elided(fonts.small,
               QStringLiteral("The tape stops here: ") + QString::fromStdString(cursor_.error),
               w - 32));
  } else {
    draw_line(painter, ltrb(16, kProgressTop + 14, w - 16, kProgressTop + 34),
              Qt::AlignLeft | Qt::AlignVCenter, QColor(kAmber), time_line());
  }
}

void ReplayWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_P:
      set_paused(!paused_);
      return;
    case Qt::Key_1:
      set_speed(1);
      return;
    case Qt::Key_4:
      set_speed(4);
      return;
    case Qt::Key_6:
      set_speed(16);
      return;
    case Qt::Key_R:
      restart();
      return;
    default:
      CompanionWindow::keyPressEvent(event);
  }
}

bool any_replay_window_open() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (qobject_cast<ReplayWindow*>(window) != nullptr && window->isVisible()) return true;
  }
  return false;
}

ReplayWindow* open_replay_window(QWidget* owner, const arcade::BoardRow& row,
                                 const AppImages* images) {
  if (row.tape.empty()) return nullptr;
  auto* window = new ReplayWindow(owner, row, images);
  raise_window(window);
  return window;
}

}  // namespace ui
