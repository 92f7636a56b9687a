// The weekly board window: the three layouts (best and rows, best only, nothing) at their pixels,
// the player's own row, the gold first rank, the replay marks and what they say, and the scroll
// that keeps every row reachable above the Close button.
#include "ui/board_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QTest>

#include "tests/ui/ui_test_support.h"
#include "ui/palette.h"

namespace {

using ui_test::count_near;
using ui_test::rgb;

constexpr QRgb kGold = 0xE8C448, kPanel = 0x120E08, kGreen = 0x58B048, kRed = 0xDC4030;

arcade::BoardRow make_row(const std::string& handle, int64_t score,
                          engine::RunVerdict verdict = engine::RunVerdict::verified) {
  arcade::BoardRow row;
  row.handle = handle;
  row.score = score;
  row.replay = verdict;
  row.pubkey = "02ab";
  if (verdict == engine::RunVerdict::mismatch) row.replay_note = "score 900 does not match";
  return row;
}

arcade::BoardResult board_of(int rows, bool best, std::string message = {}) {
  arcade::BoardResult board;
  for (int i = 0; i < rows; ++i) {
    board.rows.push_back(
        make_row("player" + std::to_string(i), 1000 - i,
                 i == 1 ? engine::RunVerdict::mismatch : engine::RunVerdict::verified));
  }
  board.has_best = best;
  if (best) board.best = make_row("champ", 5000);
  board.message = std::move(message);
  return board;
}

QImage grab(ui::BoardWindow& window) {
  return window.grab().toImage();
}

QRgb mixed(QRgb a, QRgb b, int t) {
  return ui::blend(QColor(a), QColor(b), t).rgb() & 0xFFFFFF;
}

}  // namespace

TEST(board_window, rows_start_at_96_or_204_and_are_54_apart) {
  ui_test::application();
  const struct {
    const char* name;
    arcade::BoardResult board;
    int first_row;  // y of the first weekly row; 0 when there are none
    int message_y;  // y of the empty-board message; 0 when there are rows
  } cases[] = {
      {"best and rows", board_of(3, true), 204, 0},
      {"rows only", board_of(3, false), 96, 0},
      {"best only", board_of(0, true, "No scores for this week yet."), 0, 204},
      {"nothing", board_of(0, false), 0, 96},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ui::BoardWindow window(nullptr, c.board, "player2", nullptr);
    const QImage image = grab(window);
    const bool best = c.board.has_best;
    EXPECT_EQ(best ? mixed(kPanel, kGold, 28) : ui::kBackground, rgb(image, 300, 49));
    EXPECT_EQ(count_near(image, QRect(28, 16, 300, 26), kGold) > 20, best);
    const int y0 = best ? 124 : 16;
    EXPECT_GT(count_near(image, QRect(28, y0, 400, 24), ui::kAmber), 20) << "pot line";
    EXPECT_GT(count_near(image, QRect(28, y0 + 26, 400, 36), ui::kCream), 20) << "heading";
    EXPECT_EQ(rgb(image, 300, y0 + 66), ui::kBronze);
    if (c.first_row != 0) {
      for (int i = 0; i < 3; ++i) {
        const int y = c.first_row + 54 * i;
        EXPECT_EQ(rgb(image, 300, y - 2), ui::kBackground) << "row " << i;
        // player2 is the one looking: that row has the warm fill.
        EXPECT_EQ(rgb(image, 300, y + 3), i == 2 ? mixed(kPanel, ui::kOrange, 40) : kPanel);
        // Rank 1 is gold, later ranks bronze.
        EXPECT_EQ(count_near(image, QRect(30, y, 32, 50), kGold) > 10, i == 0) << "row " << i;
      }
      EXPECT_EQ(rgb(image, 300, c.first_row + 54 * 3 + 3), ui::kBackground);
    } else {
      EXPECT_GT(count_near(image, QRect(28, c.message_y, 480, 40), ui::kAmber), 20);
      EXPECT_EQ(rgb(image, 300, c.message_y + 50), ui::kBackground);
    }
  }
}

TEST(board_window, replay_marks_are_shown_and_explained) {
  ui_test::application();
  arcade::BoardResult board = board_of(2, false);
  board.rows.push_back(make_row("local", 10, engine::RunVerdict::no_tape));
  board.rows.back().pubkey.clear();
  ui::BoardWindow window(nullptr, board, "", nullptr);
  const QImage image = grab(window);
  const auto mark = [](int row) { return QRect(540 - 34, 96 + 54 * row + 19, 13, 13); };
  EXPECT_GT(count_near(image, mark(0), kGreen, 40), 4);
  EXPECT_EQ(count_near(image, mark(0), kRed, 40), 0);
  EXPECT_GT(count_near(image, mark(1), kRed, 40), 4);
  EXPECT_EQ(count_near(image, mark(2), kGreen, 40) + count_near(image, mark(2), kRed, 40), 0);

  EXPECT_TRUE(window.tooltip_at({500, 96 + 25}).startsWith("Replay verified"));
  EXPECT_EQ(window.tooltip_at({500, 96 + 54 + 25}),
            "Replay mismatch: score 900 does not match. The row keeps its place on the board.");
  EXPECT_TRUE(window.tooltip_at({500, 96 + 108 + 25}).contains("kept on this computer"));
  EXPECT_TRUE(window.tooltip_at({200, 96 + 25}).isEmpty()) << "only the score side explains";
}

// Twenty rows with a best row run 500 pixels past the Close button; each must be reachable.
TEST(board_window, long_boards_scroll_every_row_above_the_close_button) {
  ui_test::application();
  ui::BoardWindow window(nullptr, board_of(20, true), "", nullptr);
  window.show();
  ASSERT_GT(window.max_scroll(), 0);
  EXPECT_EQ(window.row_at({300, 204 + 25}), 0);
  EXPECT_EQ(window.row_at({300, 46 + 25}), ui::kBestRow);
  EXPECT_EQ(window.row_at({300, 800}), ui::kNoRow) << "the Close strip selects nothing";
  QTest::keyClick(&window, Qt::Key_Down);
  EXPECT_EQ(window.scroll_offset(), 54);
  EXPECT_EQ(window.row_at({300, 204 + 25}), 1);
  QTest::keyClick(&window, Qt::Key_End);
  EXPECT_EQ(window.scroll_offset(), window.max_scroll());
  // The last row now ends above the button and is painted there.
  const int last_top = 204 + 54 * 19 - window.scroll_offset();
  EXPECT_LE(last_top + 50, 796);
  EXPECT_EQ(window.row_at({300, last_top + 25}), 19);
  EXPECT_EQ(rgb(grab(window), 300, last_top + 3), kPanel);
  QWheelEvent wheel(QPointF(300, 300), QPointF(300, 300), {}, {0, 240}, Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(&window, &wheel);
  EXPECT_EQ(window.scroll_offset(), window.max_scroll() - 108);
  QTest::keyClick(&window, Qt::Key_Home);
  EXPECT_EQ(window.scroll_offset(), 0);
}

TEST(board_window, a_new_load_replaces_the_window_and_escape_closes_it) {
  ui_test::application();
  QPointer<ui::BoardWindow> first = ui::open_board_window(nullptr, board_of(1, false), "", nullptr);
  ASSERT_TRUE(first);
  QPointer<ui::BoardWindow> second =
      ui::open_board_window(nullptr, board_of(2, false), "", nullptr);
  EXPECT_FALSE(first) << "the old window is gone at once";
  ASSERT_EQ(ui::board_window(), second.data());
  QTest::keyClick(second, Qt::Key_Escape);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(second);
  EXPECT_EQ(ui::board_window(), nullptr);
}
