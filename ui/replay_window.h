// Watching a board row's run: the engine replays the row's tape from its entry txid in a game of
// the viewer's own, at the pace it was played or 4 or 16 times faster, and the well shows it as
// the player saw it. The player's own run is never touched.
#pragma once

#include <QString>
#include <QTimer>
#include <cstdint>

#include "arcade/board.h"
#include "engine/replay.h"
#include "ui/companion_window.h"
#include "ui/tick_clock.h"

namespace ui {

class PaintedButton;
class WellWidget;

inline constexpr int kReplayWidth = 608;
inline constexpr int kReplayHeight = 752;
inline constexpr int kReplayCell = 28;

class ReplayWindow : public CompanionWindow {
  Q_OBJECT

 public:
  // Replays `row` (which must carry a tape). `ticks` is the clock the pace follows; empty means
  // the real one.
  ReplayWindow(QWidget* owner, const arcade::BoardRow& row, const AppImages* images,
               TickSource ticks = {});

  [[nodiscard]] const engine::ReplayCursor& cursor() const { return cursor_; }
  // The run's length in sim milliseconds: the time of its last tape record.
  [[nodiscard]] uint64_t run_length() const { return length_; }
  // How far the replay should be by now, in sim milliseconds.
  [[nodiscard]] uint64_t position() const { return position_; }
  [[nodiscard]] int speed() const { return speed_; }
  [[nodiscard]] bool paused() const { return paused_; }
  [[nodiscard]] bool finished() const { return cursor_.ended || cursor_.failed; }

  void set_speed(int speed);  // 1, 4 or 16
  void set_paused(bool paused);
  void restart();
  // One turn of the pace timer: moves the replay on by the time passed since the last turn,
  // times the speed. The timer calls it every 16 ms; tests call it with their own clock.
  void step();

  [[nodiscard]] PaintedButton* button(int id) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  [[nodiscard]] QString time_line() const;

  arcade::BoardRow row_;
  TickSource ticks_;
  engine::ReplayCursor cursor_;
  uint64_t length_ = 0;
  uint64_t position_ = 0;
  uint64_t last_tick_ = 0;
  int speed_ = 1;
  bool paused_ = false;
  QTimer timer_;
  WellWidget* well_;
  PaintedButton* pause_;
};

// Button ids of the viewer.
inline constexpr int kReplayPauseId = 1501;
inline constexpr int kReplaySpeed1Id = 1502;
inline constexpr int kReplaySpeed4Id = 1503;
inline constexpr int kReplaySpeed16Id = 1504;
inline constexpr int kReplayRestartId = 1505;
inline constexpr int kReplayCloseId = 1506;

// True while any replay viewer is open.
[[nodiscard]] bool any_replay_window_open();

// Opens a viewer on `row` owned by `owner`; null (nothing opens) when the row carries no tape.
// Each row gets its own viewer, so two runs can be watched side by side.
ReplayWindow* open_replay_window(QWidget* owner, const arcade::BoardRow& row,
                                 const AppImages* images);

}  // namespace ui
