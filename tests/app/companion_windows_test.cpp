// The main window's buttons open the companion windows, one of each, owned by the main window;
// a run under way is paused first; the board opens when its load answers; a report sent while
// the arcade is busy only says so in the main window's status line.
#include "app/companion_windows.h"

#include <gtest/gtest.h>

#include "app/app_events.h"
#include "tests/app/app_test_support.h"
#include "ui/board_window.h"
#include "ui/help_window.h"
#include "ui/report_window.h"
#include "ui/settings_window.h"

namespace {

using app_test::Game;
using namespace app;

}  // namespace

TEST(companion_windows, each_button_opens_its_window_once_and_pauses_the_run) {
  Game game;
  MainWindow& w = game.w();
  EXPECT_FALSE(any_companion_window_open(w));
  game.run().entry_txid = std::string(64, 'a');
  engine::start_run(game.run());
  game.click(kHelpId);
  EXPECT_TRUE(game.run().game.paused);
  const struct {
    int id;
    std::function<QWidget*()> window;
  } cases[] = {{kHelpId, [] { return ui::help_window(); }},
               {kSettingsId, [] { return ui::settings_window(); }},
               {kReportId, [] { return ui::report_window(); }}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    game.click(c.id);
    QWidget* first = c.window();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->parentWidget(), &w);
    game.click(c.id);
    EXPECT_EQ(c.window(), first) << "a second click raises the open window";
  }
  EXPECT_TRUE(any_companion_window_open(w));

  w.set_busy(true);
  ui::report_window()->send();
  EXPECT_EQ(game.status(), "Already working...");
  EXPECT_NE(ui::report_window(), nullptr);
  EXPECT_TRUE(game.asked.empty());
  w.set_busy(false);

  arcade::BoardResult board;
  board.rows.resize(2);
  board.rows[0].handle = "first";
  board.rows[0].score = 900;
  ASSERT_TRUE(post_app_event(AppMessage::board, 0, make_payload(arcade::BoardResult(board))));
  QCoreApplication::sendPostedEvents();
  ASSERT_NE(ui::board_window(), nullptr);
  EXPECT_EQ(ui::board_window()->parentWidget(), &w);
  EXPECT_EQ(ui::board_window()->row(0)->score, 900);

  for (QWidget* open : std::initializer_list<QWidget*>{ui::help_window(), ui::settings_window(),
                                                       ui::report_window(), ui::board_window()}) {
    open->close();
  }
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(any_companion_window_open(w));
}
