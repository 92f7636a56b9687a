#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QPalette>
#include <cstdio>
#include <ctime>

#include "app/app_events.h"
#include "app/arcade_actions.h"
#include "app/companion_windows.h"
#include "app/game_keys.h"
#include "arcade/update_check.h"
#include "korb/session.h"
#include "sound/effects.h"
#include "sound/music.h"
#include "ui/amount_format.h"
#include "ui/fonts.h"
#include "ui/message_box.h"
#include "ui/open_page.h"
#include "ui/palette.h"
#include "ui/placement.h"
#include "wallet/http_client.h"
#include "wallet/unspent.h"

namespace app {
namespace {

constexpr QRgb kPotColour = 0xE89420;
constexpr QRgb kUpdateColour = 0xDC4030;
// The wallet line's width follows its text, measured up to this many characters.
constexpr int kMeasuredWalletChars = 256;
// A move or resize counts as finished once the window has been still this long.
constexpr int kPlacementSettleMs = 500;

// The last settled balance, shown until a look-up answers.
QString balance_line(bool connected) {
  if (!connected) return "Korb balance:  -";
  const int64_t balance = wallet::read_settled_balance();
  if (balance < 0) return QString("Korb balance:  ") + QChar(0x2026);
  return "Korb balance:  " + QString::fromStdString(ui::format_bsv(balance)) + " BSV";
}

// A worker's progress line ends with a line break the status line has no room for.
QString status_line_text(const std::string& line) {
  QString text = QString::fromStdString(line);
  while (text.endsWith('\n') || text.endsWith('\r')) text.chop(1);
  return text;
}

}  // namespace

MainWindow::MainWindow(ui::TickSource ticks, QWidget* parent)
    : QWidget(parent), ticks_(std::move(ticks)) {
  set_app_event_target(this);
  setWindowTitle(kWindowTitle);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(ui::kMainMinWidth, ui::kMainMinHeight);
  setFocusPolicy(Qt::StrongFocus);
  images_ = ui::load_app_images();
  setWindowIcon(images_.icon);
  resize(ui::kMainWidth, ui::kMainHeight);

  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(kGameTimerMs);
  connect(&timer_, &QTimer::timeout, this, &MainWindow::on_timer);
  placement_timer_.setSingleShot(true);
  placement_timer_.setInterval(kPlacementSettleMs);
  connect(&placement_timer_, &QTimer::timeout, this, [this] { ui::save_placement(this); });

  make_controls();
  wire_run();
  refresh_wallet_lines();
  refresh_pot_line();
  start_pot_refresh();
  label(kVersionLineId)->setText(QString::fromStdString(arcade::version_text(update_available_)));
  start_update_check();
  layout_controls();
  setFocus();
}

MainWindow::~MainWindow() {
  shut_down();
}

QLabel* MainWindow::make_label(int id, const QString& text, const QFont& font, QRect rect) {
  auto* label = new QLabel(this);
  // Status texts come from wallets and servers: never read them as markup.
  label->setTextFormat(Qt::PlainText);
  label->setText(text);
  label->setFont(font);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setFocusPolicy(Qt::NoFocus);
  label->setGeometry(rect);
  labels_[id] = label;
  return label;
}

void MainWindow::make_controls() {
  const ui::UiFonts& fonts = ui::ui_fonts();
  well_ = new ui::WellWidget(
      [this] {
        const engine::RunRecord& r = run();
        return ui::WellView{.game = r.game,
                            .arcade_state = r.arcade_state,
                            .final_score = r.final_score,
                            .cell = cell_,
                            .tick = tick()};
      },
      this);
  well_->setGeometry(16, 178, 740, 520);
  make_label(kTitleId, "O-Stakka", fonts.title, {96, 14, 280, 36});
  make_label(kSubtitleId, "Orbweave Arcade", fonts.small, {96, 50, 160, 20});
  const auto add_button = [this](int id, const QString& text, QRect r) {
    ui::PaintedButton* button =
        ui::create_button(this, text, id, r.x(), r.y(), r.width(), r.height());
    button->set_header_band(true);
    connect(button, &ui::PaintedButton::clicked, this, &MainWindow::on_button);
    buttons_[id] = button;
    return button;
  };
  add_button(kSettingsId, "", {336, 20, 44, 38});
  add_button(kPlayId, "Play  5000 sats", {388, 22, 150, 34});
  add_button(kConnectId, "Connect", {546, 22, 110, 34});
  add_button(kUnbindId, "Unbind", {664, 22, 100, 34});
  make_label(kWalletLineId, "Wallet: not connected", fonts.small, {16, 92, 280, 22});
  make_label(kBalanceLineId, "Korb balance:  -", fonts.small, {310, 92, 360, 22});
  make_label(kPotLineId, "Current weekly pot:  -", fonts.small, {16, 116, 700, 22});
  ui::PaintedButton* record = add_button(kRecordScoreId, "Record score", {16, 140, 140, 34});
  add_button(kWeeklyTopId, "Weekly top scores", {164, 140, 170, 34});
  add_button(kHelpId, "Help", {342, 140, 90, 34});
  add_button(kReportId, "Report", {440, 140, 90, 34});
  record->setEnabled(false);
  record->set_flash_source(
      [this] { return run().record_flash && run().arcade_state == engine::ArcadeState::GameOver; });
  record->set_tick_source([this] { return tick(); });
  make_label(kStatusLineId, "Connect Korb, then Play.", fonts.small, {16, 700, 740, 20});
  add_button(kCloseId, "Close", {325, 720, 110, 34});
  QLabel* version = make_label(kVersionLineId, "", fonts.small, {16, 726, 240, 20});
  version->installEventFilter(this);
}

void MainWindow::wire_run() {
  engine::RunRecord& r = run();
  r.hooks.on_lock = sound::play_lock_effect;
  r.hooks.on_lines = sound::play_lines_effect;
  r.hooks.on_drop = sound::play_drop_effect;
  r.hooks.on_rotate = sound::play_rotate_effect;
  engine::RunCallbacks& calls = r.callbacks;
  calls.tick_count = [this] { return tick(); };
  calls.start_timer = [this] { timer_.start(); };
  calls.set_run_buttons_enabled = [this](bool enabled) {
    button(kRecordScoreId)->setEnabled(enabled);
    button(kPlayId)->setEnabled(enabled);
  };
  calls.focus_window = [this] {
    activateWindow();
    setFocus();
  };
  calls.show_status = [this](const std::string& text) { set_status(QString::fromStdString(text)); };
  calls.play_game_over_sound = sound::play_game_over_effect;
  calls.cache_score = [](int64_t, const std::string& txid) { arcade::record_local_score(txid); };
  calls.redraw_well = [this] { well_->update(); };
}

uint64_t MainWindow::tick() const {
  return ticks_ ? ticks_() : ui::tick_count_ms();
}

ui::PaintedButton* MainWindow::button(int id) const {
  const auto it = buttons_.find(id);
  return it == buttons_.end() ? nullptr : it->second;
}

QLabel* MainWindow::label(int id) const {
  const auto it = labels_.find(id);
  return it == labels_.end() ? nullptr : it->second;
}

void MainWindow::set_busy(bool busy) {
  busy_ = busy;
  for (int id : {kConnectId, kUnbindId, kPlayId, kRecordScoreId, kWeeklyTopId, kReportId}) {
    const bool recorded = run().arcade_state == engine::ArcadeState::Recorded;
    button(id)->setEnabled(!busy && !(id == kRecordScoreId && recorded));
  }
}

void MainWindow::set_status(const QString& text) {
  label(kStatusLineId)->setText(text);
  // Each status line also goes to stderr, so a player who started the game from a terminal (or a
  // script driving it) can read back what it said. Texts from servers may carry control
  // characters; the terminal never sees them.
  QString line = text;
  for (QChar& c : line) {
    if (!c.isPrint()) c = QChar('?');
  }
  std::fprintf(stderr, "ostakka: %s\n", line.toUtf8().constData());
}

QString MainWindow::status() const {
  return label(kStatusLineId)->text();
}

void MainWindow::refresh_wallet_lines() {
  const bool connected = korb::is_connected();
  QString wallet_text = "Wallet: not connected";
  if (connected) {
    std::string address, paymail;
    bool hd = false;
    const bool known = korb::wallet_info(address, paymail, hd);
    wallet_text = known && !paymail.empty()   ? "Wallet: " + QString::fromStdString(paymail)
                  : known && !address.empty() ? "Wallet: " + QString::fromStdString(address)
                                              : QString("Wallet: connected");
  }
  label(kWalletLineId)->setText(wallet_text);
  label(kBalanceLineId)->setText(balance_line(connected));
  if (connected) start_balance_refresh();
  layout_wallet_lines();
  button(kConnectId)->set_text(connected ? "Connected" : "Connect");
}

void MainWindow::refresh_pot_line() {
  QString text = "Current weekly pot:  -";
  if (pot_satoshis_ >= 0) {
    text = "Current weekly pot:  " + QString::fromStdString(ui::format_bsv(pot_satoshis_)) + " BSV";
  } else if (!pot_error_.empty()) {
    text = "Current weekly pot:  (lookup miss)";
  }
  label(kPotLineId)->setText(text);
}

void MainWindow::set_pot(int64_t satoshis, std::string error) {
  pot_satoshis_ = satoshis;
  pot_error_ = std::move(error);
  refresh_pot_line();
}

void MainWindow::layout_wallet_lines() {
  const QFontMetrics metrics(ui::ui_fonts().small);
  const int width = std::max(
      metrics.horizontalAdvance(label(kWalletLineId)->text().left(kMeasuredWalletChars)) + 8, 80);
  label(kWalletLineId)->setGeometry(16, 92, width, 22);
  label(kBalanceLineId)->setGeometry(width + 36, 92, 360, 22);
  colour_labels();
}

void MainWindow::layout_controls() {
  const int w = width();
  const int h = height();
  const auto place = [](QWidget* widget, int x, int y, int width, int height) {
    widget->setGeometry(x, y, width, height);
  };
  place(button(kSettingsId), 376, 20, 44, 38);
  place(button(kPlayId), 428, 22, 150, 34);
  place(button(kConnectId), 586, 22, 110, 34);
  place(button(kUnbindId), 704, 22, 100, 34);
  place(label(kTitleId), 96, 14, 264, 36);
  place(label(kSubtitleId), 96, 50, 220, 20);
  place(label(kPotLineId), 16, 116, w - 32, 22);
  place(button(kRecordScoreId), 16, 140, 140, 34);
  place(button(kWeeklyTopId), 164, 140, 170, 34);
  place(button(kHelpId), 342, 140, 90, 34);
  place(button(kReportId), 440, 140, 90, 34);
  place(button(kCloseId), (w - 110) / 2, h - 50, 110, 34);
  place(label(kVersionLineId), 16, h - 42, 240, 20);
  place(label(kStatusLineId), 16, h - 74, w - 32, 20);
  const QRect well = ui::well_rect_for_client(w, h);
  well_->setGeometry(well);
  cell_ = ui::cell_size_for_well(well.width(), well.height());
  layout_wallet_lines();
}

void MainWindow::colour_labels() {
  for (const auto& [id, label] : labels_) {
    QRgb colour = ui::kCream;
    if (label->y() < ui::kHeaderBandBottom) {
      if (id == kSubtitleId) colour = ui::kAmber;
    } else if (id == kPotLineId) {
      colour = kPotColour;
    } else if (id == kStatusLineId || id == kBalanceLineId) {
      colour = ui::kAmber;
    } else if (id == kVersionLineId) {
      colour = update_state_ == -1 ? ui::kAmber : update_available_ ? kUpdateColour : kPotColour;
    }
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(colour));
    label->setPalette(palette);
  }
}

void MainWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  ui::draw_main_background(painter, size(), images_.image);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  layout_controls();
  update();
  if (isVisible()) placement_timer_.start();
}

void MainWindow::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (isVisible()) placement_timer_.start();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  const KeyOutcome outcome = press_game_key(run(), event->key());
  if (outcome == KeyOutcome::not_playing) {
    QWidget::keyPressEvent(event);
    return;
  }
  event->accept();
  if (outcome == KeyOutcome::paused) set_status(kPausedStatus);
  if (outcome == KeyOutcome::resumed) set_status("Back.");
  well_->update();
}

void MainWindow::pause_for_companion() {
  engine::RunRecord& r = run();
  if (r.arcade_state != engine::ArcadeState::Playing || r.game.paused) return;
  engine::pause_run(r);
  set_status(kPausedStatus);
  well_->update();
}

void MainWindow::on_button(int id) {
  switch (id) {
    case kConnectId:
      return on_connect(*this);
    case kUnbindId:
      return on_unbind(*this);
    case kPlayId:
      return on_enter(*this);
    case kRecordScoreId:
      return on_record_score(*this);
    case kWeeklyTopId:
      pause_for_companion();
      return start_board_load();
    case kHelpId:
      pause_for_companion();
      return open_help_window(*this);
    case kSettingsId:
      pause_for_companion();
      return open_settings_window(*this);
    case kReportId:
      pause_for_companion();
      return open_report_window(*this);
    case kCloseId:
      close();
      return;
    default:
      return;
  }
}

void MainWindow::on_timer() {
  engine::RunRecord& r = run();
  if (r.arcade_state == engine::ArcadeState::Playing && !r.game.paused) {
    // The keys must reach the game: take the focus back from wherever it went inside this
    // program, but never from a dialog, a companion window or another program.
    if (!any_companion_window_open(*this) && QApplication::activeModalWidget() == nullptr) {
      QWidget* active = QApplication::activeWindow();
      if (active != nullptr && active != this) activateWindow();
      if (focusWidget() != this) setFocus();
    }
    engine::run_tick(r);
    well_->update();
  } else if (r.arcade_state == engine::ArcadeState::GameOver) {
    well_->update();
    button(kRecordScoreId)->update();
  }
}

void MainWindow::start_board_load() {
  if (!arcade::begin_board_load(board_load_)) return;
  button(kWeeklyTopId)->setEnabled(false);
  set_status("Loading this week's board...");
  arcade::BoardLoadArgs args;
  args.run = arcade::snapshot_run(run());
  args.now = static_cast<int64_t>(std::time(nullptr));
  const bool started = start_worker(
      [args] { post_app_event(AppMessage::board, 0, make_payload(arcade::load_board(args))); });
  if (!started) {
    board_load_ = {};
    button(kWeeklyTopId)->setEnabled(true);
    set_status(kNoWorker);
  }
}

bool MainWindow::start_payment_worker(arcade::PaymentKind kind, std::string payload_text) {
  const bool started = start_worker([kind, payload = std::move(payload_text)] {
    arcade::PaymentResult result;
    switch (kind) {
      case arcade::PaymentKind::enter:
        result = arcade::run_entry_job();
        break;
      case arcade::PaymentKind::score:
        result = arcade::run_score_job(payload);
        break;
      case arcade::PaymentKind::report:
        result = arcade::run_report_job(payload);
        break;
    }
    post_app_event(AppMessage::payment, static_cast<int64_t>(kind),
                   make_payload(std::move(result)));
  });
  if (!started) set_busy(false);
  return started;
}

void MainWindow::on_board_result(const AppEvent& event) {
  const bool again = arcade::finish_board_load(board_load_);
  button(kWeeklyTopId)->setEnabled(true);
  const auto* result = event.payload_as<arcade::BoardResult>();
  if (result != nullptr) {
    board_ = *result;
    if (!board_.rows.empty()) board_.message.clear();
    open_board_window(*this);
    set_status(board_.message.empty() ? QString("Weekly board loaded.")
                                      : QString::fromStdString(board_.message));
  } else {
    set_status("Weekly board load failed.");
  }
  if (again) start_board_load();
}

void MainWindow::on_update_result(int64_t wparam) {
  update_state_ = wparam - 1;
  update_available_ = arcade::is_newer_build(update_state_);
  QLabel* version = label(kVersionLineId);
  version->setText(QString::fromStdString(arcade::version_text(update_available_)));
  version->setCursor(update_available_ ? Qt::PointingHandCursor : Qt::ArrowCursor);
  colour_labels();
  version->repaint();
  if (!update_available_) return;
  if (ui::show_message(
          this, "O-Stakka update", QString::fromStdString(arcade::update_question(update_state_)),
          ui::MessageIcon::warning, ui::MessageButtons::yes_no) == ui::MessageAnswer::yes) {
    ui::open_page(QString::fromStdString(wallet::network_endpoints().download_page));
  }
}

void MainWindow::customEvent(QEvent* event) {
  auto* app_event = dynamic_cast<AppEvent*>(event);
  if (app_event == nullptr) return QWidget::customEvent(event);
  switch (app_event->message()) {
    case AppMessage::connect:
      return on_connect_reply(*this, *app_event);
    case AppMessage::status:
      if (const auto* text = app_event->payload_as<std::string>(); text && !text->empty()) {
        set_status(status_line_text(*text));
      }
      return;
    case AppMessage::payment:
      return on_payment_reply(*this, *app_event);
    case AppMessage::pot:
      return on_pot_result(*this, *app_event);
    case AppMessage::board:
      return on_board_result(*app_event);
    case AppMessage::balance:
      return on_balance_result(*this, *app_event);
    case AppMessage::update:
      return on_update_result(app_event->wparam());
  }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == label(kVersionLineId) && event->type() == QEvent::MouseButtonRelease &&
      update_available_) {
    ui::open_page(QString::fromStdString(wallet::network_endpoints().download_page));
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::bring_to_front() {
  if (isMinimized()) setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
  raise();
  activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  shut_down();
  event->accept();
}

void MainWindow::shut_down() {
  if (shut_down_) return;
  shut_down_ = true;
  // From here on no worker reaches this window; their answers are dropped.
  set_app_event_target(nullptr);
  placement_timer_.stop();
  ui::save_placement(this);
  timer_.stop();
  sound::stop_sound();
  // The run outlives the window: nothing of it may call back into a window that is gone.
  run().callbacks = {};
  release_companion_resources();
  QCoreApplication::exit(0);
}

}  // namespace app
