// The main window as a player sees it: the texts, fonts, colours and places of its controls at
// any size, the buttons per run state and busy flag, the status, pot, balance and version lines
// as the workers' answers arrive, and the late answer that finds the window gone.
#include "app/main_window.h"

#include <gtest/gtest.h>

#include "app/app_events.h"
#include "tests/app/app_test_support.h"
#include "ui/fonts.h"
#include "ui/palette.h"

namespace {

using app_test::Game;
using namespace app;

constexpr QRgb kCream = 0xF6E8C8, kAmber = 0xA07840, kOrange = 0xE89420, kRed = 0xDC4030;

QRgb text_colour(const QLabel* label) {
  return label->palette().color(QPalette::WindowText).rgb() & 0xFFFFFF;
}

TEST(main_window, statics_show_their_texts_in_their_fonts_and_colours) {
  Game game;
  MainWindow& w = game.w();
  EXPECT_EQ(w.windowTitle(), "O-Stakka");
  EXPECT_EQ(w.size(), QSize(1100, 1220));
  EXPECT_EQ(w.minimumSize(), QSize(1000, 980));
  const ui::UiFonts& fonts = ui::ui_fonts();
  const struct {
    int id;
    QString text;
    const QFont& font;
    QRect rect;
    QRgb colour;
  } statics[] = {
      {kTitleId, "O-Stakka", fonts.title, {96, 14, 264, 36}, kCream},
      {kSubtitleId, "Orbweave Arcade", fonts.small, {96, 50, 220, 20}, kAmber},
      {kWalletLineId, "Wallet: not connected", fonts.small, {}, kCream},
      {kBalanceLineId, "Korb balance:  -", fonts.small, {}, kAmber},
      // The pot look-up at creation met no service.
      {kPotLineId, "Current weekly pot:  (lookup miss)", fonts.small, {16, 116, 1068, 22}, kOrange},
      {kStatusLineId, "Connect Korb, then Play.", fonts.small, {16, 1146, 1068, 20}, kAmber},
      // The update check met no service either: its state stays -1, so amber.
      {kVersionLineId, "Version 0.001", fonts.small, {16, 1178, 240, 20}, kAmber},
  };
  const QImage image = w.grab().toImage();
  for (const auto& s : statics) {
    const QLabel* label = w.label(s.id);
    ASSERT_NE(label, nullptr) << s.id;
    EXPECT_EQ(label->text(), s.text) << s.id;
    EXPECT_EQ(label->font(), s.font) << s.id;
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << s.id;
    if (!s.rect.isNull()) {
      EXPECT_EQ(label->geometry(), s.rect) << s.id;
    }
    EXPECT_EQ(text_colour(label), s.colour) << s.id;
    EXPECT_GT(ui_test::count_near(image, label->geometry(), s.colour, 12), 0) << s.id;
  }
  const struct {
    int id;
    QString text;
    QRect rect;
  } buttons[] = {
      {kSettingsId, "", {376, 20, 44, 38}},
      {kPlayId, "Play  5000 sats", {428, 22, 150, 34}},
      {kConnectId, "Connect", {586, 22, 110, 34}},
      {kUnbindId, "Unbind", {704, 22, 100, 34}},
      {kRecordScoreId, "Record score", {16, 140, 140, 34}},
      {kWeeklyTopId, "Weekly top scores", {164, 140, 170, 34}},
      {kHelpId, "Help", {342, 140, 90, 34}},
      {kReportId, "Report", {440, 140, 90, 34}},
      {kCloseId, "Close", {495, 1170, 110, 34}},
  };
  for (const auto& b : buttons) {
    EXPECT_EQ(w.button(b.id)->text(), b.text) << b.id;
    EXPECT_EQ(w.button(b.id)->geometry(), b.rect) << b.id;
  }
  // The header band and the background around the controls, and the app image in the band.
  EXPECT_EQ(ui_test::rgb(image, 900, 5), ui::kHeader);
  EXPECT_EQ(ui_test::rgb(image, 900, 100), ui::kBackground);
  EXPECT_GT(64 * 64 - ui_test::count_near(image, QRect(14, 10, 64, 64), ui::kHeader, 2), 500);
}

// The well takes everything below the arcade buttons, and its cell size follows: the board's
// right edge moves with it.
TEST(main_window, layout_follows_the_client_size) {
  Game game;
  MainWindow& w = game.w();
  const struct {
    QSize size;
    QRect well, status, version, close;
    int cell;
  } cases[] = {
      {{1000, 980},
       {16, 178, 968, 724},
       {16, 906, 968, 20},
       {16, 938, 240, 20},
       {445, 930, 110, 34},
       33},
      {{1600, 1400},
       {16, 178, 1568, 1144},
       {16, 1326, 1568, 20},
       {16, 1358, 240, 20},
       {745, 1350, 110, 34},
       54},
  };
  for (const auto& c : cases) {
    w.resize(c.size);
    EXPECT_EQ(w.size(), c.size);
    EXPECT_EQ(w.well()->geometry(), c.well);
    EXPECT_EQ(w.label(kStatusLineId)->geometry(), c.status);
    EXPECT_EQ(w.label(kVersionLineId)->geometry(), c.version);
    EXPECT_EQ(w.button(kCloseId)->geometry(), c.close);
    EXPECT_EQ(w.label(kPotLineId)->width(), c.size.width() - 32);
    EXPECT_EQ(w.cell_size(), c.cell);
    // Inside the board's right edge the empty well, past the frame the background.
    const QImage well = w.well()->grab().toImage();
    const int board_right = 18 + 10 * c.cell;
    EXPECT_EQ(ui_test::rgb(well, board_right - 1, 300), 0x060402u) << c.cell;
    EXPECT_EQ(ui_test::rgb(well, board_right + 12, 300), ui::kBackground) << c.cell;
  }
  w.resize(800, 600);
  EXPECT_EQ(w.size(), QSize(1000, 980)) << "never smaller than the minimum";
}

TEST(main_window, busy_and_state_decide_which_buttons_work) {
  Game game;
  MainWindow& w = game.w();
  EXPECT_FALSE(w.button(kRecordScoreId)->isEnabled()) << "disabled at creation";
  const int actions[] = {kConnectId, kUnbindId, kPlayId, kRecordScoreId, kWeeklyTopId, kReportId};
  for (auto state : {engine::ArcadeState::Idle, engine::ArcadeState::Playing,
                     engine::ArcadeState::GameOver, engine::ArcadeState::Recorded}) {
    game.run().arcade_state = state;
    for (bool busy : {true, false}) {
      w.set_busy(busy);
      for (int id : actions) {
        const bool want =
            !busy && !(id == kRecordScoreId && state == engine::ArcadeState::Recorded);
        EXPECT_EQ(w.button(id)->isEnabled(), want) << id << " state " << int(state) << busy;
      }
      for (int id : {kHelpId, kCloseId, kSettingsId}) EXPECT_TRUE(w.button(id)->isEnabled());
    }
  }
}

// The workers' answers, posted as they are in the game, reach the lines that show them.
TEST(main_window, worker_answers_reach_the_status_lines) {
  Game game;
  MainWindow& w = game.w();
  const auto post = [](AppMessage message, int64_t wparam, std::unique_ptr<AppPayload> payload) {
    EXPECT_TRUE(post_app_event(message, wparam, std::move(payload)));
    QCoreApplication::sendPostedEvents();
  };
  const struct {
    arcade::PotResult pot;
    QString line;
  } pots[] = {
      {{5000, ""}, "Current weekly pot:  0.00005000 BSV"},
      {{0, ""}, "Current weekly pot:  0.00000000 BSV"},
      {{-1, "timed out"}, "Current weekly pot:  (lookup miss)"},
      {{-1, ""}, "Current weekly pot:  -"},
  };
  for (const auto& p : pots) {
    post(AppMessage::pot, 0, make_payload(arcade::PotResult(p.pot)));
    EXPECT_EQ(w.label(kPotLineId)->text(), p.line);
  }
  post(AppMessage::pot, 0, nullptr);
  EXPECT_EQ(w.label(kPotLineId)->text(), "Current weekly pot:  -");

  post(AppMessage::balance, 0, make_payload(arcade::BalanceResult{true, 150000000}));
  EXPECT_EQ(w.label(kBalanceLineId)->text(), "Korb balance:  1.50000000 BSV");
  post(AppMessage::balance, 0, make_payload(arcade::BalanceResult{false, 0}));
  EXPECT_EQ(w.label(kBalanceLineId)->text(), "Korb balance:  (WhatsOnChain miss)");

  post(AppMessage::status, 0, make_payload(std::string("Fetching unspent outputs...\n")));
  EXPECT_EQ(w.status(), "Fetching unspent outputs...");
  post(AppMessage::status, 0, make_payload(std::string("<b>not markup</b>")));
  EXPECT_EQ(w.status(), "<b>not markup</b>");

  // The balance line keeps 36 pixels right of the wallet line, which is never under 80 wide.
  for (const QString& text : {QString("W"), QString("Wallet: ") + QString(60, 'm')}) {
    w.label(kWalletLineId)->setText(text);
    w.layout_wallet_lines();
    const QRect wallet = w.label(kWalletLineId)->geometry();
    EXPECT_GE(wallet.width(), 80);
    EXPECT_EQ(w.label(kBalanceLineId)->geometry(), QRect(wallet.width() + 36, 92, 360, 22));
  }
}

// The status line is echoed to stderr for whoever started the game from a terminal; what servers
// put in it must not reach that terminal as control or direction characters.
TEST(main_window, status_lines_reach_stderr_with_control_characters_blanked) {
  Game game;
  MainWindow& w = game.w();
  const QString text = QString::fromUtf8("error: \x1b[2Jgone\nnext \u202Eevil");
  testing::internal::CaptureStderr();
  w.set_status(text);
  const std::string echoed = testing::internal::GetCapturedStderr();
  EXPECT_NE(echoed.find("ostakka: error: ?[2Jgone?next ?evil\n"), std::string::npos) << echoed;
  EXPECT_EQ(w.status(), text);
}

// A newer build turns the version line red and clickable and asks once; an answer without a
// newer build asks nothing.
TEST(main_window, update_answer_changes_the_version_line) {
  Game game;
  MainWindow& w = game.w();
  QLabel* version = w.label(kVersionLineId);
  EXPECT_TRUE(game.asked.empty()) << "the failed check at creation asks nothing";
  game.answer = ui::MessageAnswer::no;
  ASSERT_TRUE(post_app_event(AppMessage::update, 3, nullptr));  // latest build 2
  QCoreApplication::sendPostedEvents();
  const QString page = "https://127.0.0.1:9/download/ostakka";
  EXPECT_EQ(version->text(), "Update available, " + page);
  EXPECT_EQ(text_colour(version), kRed);
  EXPECT_EQ(version->cursor().shape(), Qt::PointingHandCursor);
  ASSERT_EQ(game.asked.size(), 1u);
  EXPECT_EQ(game.asked[0].caption, "O-Stakka update");
  EXPECT_EQ(game.asked[0].icon, ui::MessageIcon::warning);
  EXPECT_EQ(game.asked[0].buttons, ui::MessageButtons::yes_no);
  EXPECT_EQ(game.asked[0].text,
            "A newer O-Stakka is available.\n\nThis build:  0.001\nLatest:"
            "      0.002\n\nOpen " +
                page + " to download it?");
  EXPECT_TRUE(game.opened.empty()) << "No opens nothing";
  QTest::mouseClick(version, Qt::LeftButton);
  EXPECT_EQ(game.opened, std::vector<QString>{page});

  game.answer = ui::MessageAnswer::yes;
  ASSERT_TRUE(post_app_event(AppMessage::update, 2, nullptr));  // latest build 1: this one
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(version->text(), "Version 0.001");
  EXPECT_EQ(text_colour(version), kOrange);
  EXPECT_EQ(game.asked.size(), 1u);
  QTest::mouseClick(version, Qt::LeftButton);
  EXPECT_EQ(game.opened.size(), 1u) << "not clickable without an update";
}

// The Record score button flashes after a game over in 280 ms phases, and only then.
TEST(main_window, record_score_flashes_after_game_over) {
  Game game;
  ui::PaintedButton* record = game.w().button(kRecordScoreId);
  const struct {
    engine::ArcadeState state;
    bool flag;
    uint64_t tick;
    bool lit;
  } cases[] = {
      {engine::ArcadeState::GameOver, true, 280, true},
      {engine::ArcadeState::GameOver, true, 560, false},
      {engine::ArcadeState::GameOver, false, 280, false},
      {engine::ArcadeState::Recorded, true, 280, false},
  };
  for (const auto& c : cases) {
    game.run().arcade_state = c.state;
    game.run().record_flash = c.flag;
    game.clock = c.tick;
    EXPECT_EQ(record->look().flash_lit, c.lit) << int(c.state) << c.flag << c.tick;
  }
}

// Workers are never joined: one that answers after the window has gone must find nobody.
TEST(main_window, a_late_answer_finds_no_window) {
  {
    Game game;
    EXPECT_TRUE(post_app_event(AppMessage::status, 0, make_payload(std::string("x"))));
  }
  EXPECT_FALSE(post_app_event(AppMessage::status, 0, make_payload(std::string("late"))));
}

}  // namespace
