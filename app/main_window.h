// The game's main window: the header band with the title and the wallet buttons, the wallet,
// balance and pot lines, the arcade buttons, the well, the status line, Close and the version
// line. It turns keys into game actions, drives the 16 ms game timer, and receives the result of
// every background job as an application event (app_events.h).
//
// The companion windows (help, settings, weekly board, report) are opened from
// companion_windows.cpp; the public members below are what they need of this window.
#pragma once

#include <QLabel>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <map>
#include <string>

#include "arcade/arcade_jobs.h"
#include "arcade/board.h"
#include "engine/run.h"
#include "ui/app_image.h"
#include "ui/button.h"
#include "ui/tick_clock.h"
#include "ui/well_widget.h"

namespace app {

class AppEvent;

// Ids of the window's controls, as the rest of the program names them.
enum ControlId : int {
  kConnectId = 1001,
  kUnbindId = 1002,
  kWalletLineId = 1003,
  kBalanceLineId = 1004,
  kPlayId = 1005,
  kRecordScoreId = 1006,
  kStatusLineId = 1007,
  kTitleId = 1008,
  kSubtitleId = 1009,
  kPotLineId = 1011,
  kWeeklyTopId = 1012,
  kHelpId = 1013,
  kCloseId = 1014,
  kSettingsId = 1015,
  kVersionLineId = 1016,
  kReportId = 1017,
};

// The game timer's id and period.
inline constexpr int kGameTimerId = 41;
inline constexpr int kGameTimerMs = 16;

inline constexpr const char* kWindowTitle = "O-Stakka";
inline constexpr const char* kPausedStatus = "Paused.";

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  // `ticks` is the millisecond clock the run, the flashes and the banner read; empty: the
  // system's monotonic clock. Takes the process's run record (engine::current_run()).
  explicit MainWindow(ui::TickSource ticks = {}, QWidget* parent = nullptr);
  ~MainWindow() override;

  // ---- For the arcade flows and the companion windows ------------------------------------

  // One wallet action at a time. Setting it disables Connect, Unbind, Play, Record score,
  // Weekly top scores and Report; clearing it enables them again, Record score only while the
  // score is not recorded.
  [[nodiscard]] bool busy() const { return busy_; }
  void set_busy(bool busy);

  // The status line under the well: plain text, replaced by whoever writes next.
  void set_status(const QString& text);
  [[nodiscard]] QString status() const;

  // The wallet and balance lines from the session (starting a balance look-up when connected
  // and none runs), the Connect button's text, and their layout.
  void refresh_wallet_lines();
  void refresh_pot_line();
  void layout_wallet_lines();

  // The weekly pot as the last look-up left it: satoshis (-1 unknown) and its error text.
  [[nodiscard]] int64_t pot_satoshis() const { return pot_satoshis_; }
  [[nodiscard]] const std::string& pot_error() const { return pot_error_; }
  // Stores a look-up's answer and shows it on the pot line.
  void set_pot(int64_t satoshis, std::string error);

  // Starts a board load unless one runs (then one more is remembered). The result is kept in
  // board() when it arrives.
  void start_board_load();
  [[nodiscard]] const arcade::BoardResult& board() const { return board_; }
  [[nodiscard]] const arcade::BoardLoadState& board_load_state() const { return board_load_; }

  // Starts the payment worker of `kind` with `payload_text` (score and report payloads); its
  // answer arrives as a payment event. The caller has set the busy flag; when no thread can be
  // made the flag is cleared again, nothing else changes, and the answer is false.
  [[nodiscard]] bool start_payment_worker(arcade::PaymentKind kind, std::string payload_text);

  // When a run is under way and not paused: pauses it and says so. Opening a companion window
  // does this first.
  void pause_for_companion();

  [[nodiscard]] engine::RunRecord& run() const { return engine::current_run(); }
  [[nodiscard]] const ui::AppImages& app_images() const { return images_; }
  [[nodiscard]] uint64_t tick() const;

  // The update check's answer: -1 until it came, then the latest build (-1 when it failed).
  [[nodiscard]] int64_t update_state() const { return update_state_; }
  [[nodiscard]] bool update_available() const { return update_available_; }

  // Controls by id (null for an id the window does not have).
  [[nodiscard]] ui::PaintedButton* button(int id) const;
  [[nodiscard]] QLabel* label(int id) const;
  [[nodiscard]] ui::WellWidget* well() const { return well_; }
  // The cell size the last layout gave the well.
  [[nodiscard]] int cell_size() const { return cell_; }
  [[nodiscard]] QTimer& game_timer() { return timer_; }

  // A second launch asked this copy to show itself: restore it if minimised, raise it and make
  // it the active window.
  void bring_to_front();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void customEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLabel* make_label(int id, const QString& text, const QFont& font, QRect rect);
  void make_controls();
  void layout_controls();
  void colour_labels();
  void wire_run();
  void on_button(int id);
  void on_timer();
  void on_update_result(int64_t wparam);
  void on_board_result(const AppEvent& event);
  void shut_down();

  ui::TickSource ticks_;
  ui::AppImages images_;
  ui::WellWidget* well_ = nullptr;
  std::map<int, ui::PaintedButton*> buttons_;
  std::map<int, QLabel*> labels_;
  QTimer timer_;
  QTimer placement_timer_;  // saves the placement once a move or resize has settled
  int cell_ = ui::WellView::kDefaultCell;
  bool busy_ = false;
  int64_t pot_satoshis_ = -1;
  std::string pot_error_;
  arcade::BoardLoadState board_load_;
  arcade::BoardResult board_;
  int64_t update_state_ = -1;
  bool update_available_ = false;
  bool shut_down_ = false;
};

}  // namespace app
