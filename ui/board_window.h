// The weekly board window: the highest score ever, the pot line, this week's ranked rows with
// each player's avatar, and beside every score the mark of its replay check.
//
// The first rows sit exactly where the board was designed to show them; rows that do not fit
// scroll (wheel, arrow and page keys, the scroll bar) so the Close button never covers the last
// ones. Double-clicking a row, or its menu's "Watch replay", plays the row's run in a viewer.
#pragma once

#include <QString>
#include <string>

#include "arcade/board.h"
#include "ui/companion_window.h"

class QMenu;
class QScrollBar;

namespace ui {

class PaintedButton;

inline constexpr int kBoardWidth = 540;
inline constexpr int kBoardHeight = 878;
inline constexpr int kBoardRowPitch = 54;
inline constexpr int kBoardCloseId = 1102;
// What row_at answers for a point on no row, and for the best row.
inline constexpr int kNoRow = -2;
inline constexpr int kBestRow = -1;

class BoardWindow : public CompanionWindow {
  Q_OBJECT

 public:
  // `me` is the player's own display name ("" when not connected): that row is highlighted.
  BoardWindow(QWidget* owner, arcade::BoardResult board, std::string me, const AppImages* images);

  [[nodiscard]] bool shows_best() const;
  // y of the first weekly row, with the view scrolled to the top.
  [[nodiscard]] int rows_top() const;
  // The row under a point of the window (kBestRow, an index into the weekly rows, or kNoRow).
  [[nodiscard]] int row_at(const QPoint& point) const;
  [[nodiscard]] const arcade::BoardRow* row(int index) const;
  // What the replay mark of the row under a point says; empty off the marks.
  [[nodiscard]] QString tooltip_at(const QPoint& point) const;

  [[nodiscard]] int scroll_offset() const;
  [[nodiscard]] int max_scroll() const;
  [[nodiscard]] QScrollBar* scroll_bar() const { return scroll_; }

  // Opens the replay viewer on a row that carries a tape; false (nothing opens) otherwise.
  bool watch(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool event(QEvent* event) override;

 private:
  int draw_row(QPainter& painter, int y, const QString& label, const QColor& frame,
               const QColor& score, bool best, const arcade::BoardRow& row) const;
  [[nodiscard]] int content_bottom() const;
  [[nodiscard]] int row_top(int index) const;

  arcade::BoardResult board_;
  std::string me_;
  const AppImages* images_;
  QScrollBar* scroll_;
  PaintedButton* close_;
};

// The player's own display name on the board: the session's paymail handle cut before its "@"
// while a wallet is connected, else "".
[[nodiscard]] std::string own_board_name();

// Replaces the board window (if one is open) with a new one showing `board`, beside `main`.
BoardWindow* open_board_window(QWidget* main, const arcade::BoardResult& board,
                               const std::string& me, const AppImages* images);
// The open board window, or null.
[[nodiscard]] BoardWindow* board_window();

// What a row's replay mark says when the pointer rests on it.
[[nodiscard]] QString verdict_text(const arcade::BoardRow& row);

}  // namespace ui
