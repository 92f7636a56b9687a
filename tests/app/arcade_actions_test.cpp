// The arcade buttons as a player meets them: every refusal with its text, a worker that cannot
// start changing nothing, and (ArcadeDevnet.*, against the devnet with the real bridge) a whole
// paid run from Connect to the weekly board, failed payments that leave the state as it was,
// and a frozen identity kept from playing.
#include "app/arcade_actions.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "korb/connect.h"
#include "tests/app/app_test_support.h"
#include "tests/arcade/arcade_devnet.h"

namespace {

using app::MainWindow;
using app_test::Game;
using engine::ArcadeState;

// A wallet bound to the game and loaded, as the wallet application leaves one; with a paymail
// name when `handle` is not empty.
void connect_wallet(const std::string& handle) {
  ASSERT_FALSE(devnet_wallet::create_bound_wallet(devnet_wallet::random_mnemonic()).empty());
  std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
  wallet::session().paymail_handle = handle;
  ASSERT_TRUE(korb::save_session());
}

TEST(arcade_flows, each_refusal_says_why) {
  Game game;
  MainWindow& w = game.w();
  using Flow = void (*)(MainWindow&);
  const struct {
    ArcadeState state;
    std::string entry;
    bool busy;
    Flow flow;
    const char* status;
  } cases[] = {
      {ArcadeState::Idle, "", true, app::on_connect, app::kAlreadyWorking},
      {ArcadeState::Idle, "", true, app::on_enter, app::kAlreadyWorking},
      {ArcadeState::GameOver, "", true, app::on_record_score, app::kAlreadyWorking},
      {ArcadeState::Idle, "", false, app::on_record_score, app::kPlayFullRunFirst},
      {ArcadeState::Recorded, "", false, app::on_record_score, app::kPlayFullRunFirst},
      {ArcadeState::Playing, "", false, app::on_record_score, app::kPlayFullRunFirst},
      {ArcadeState::Playing, "", false, app::on_enter, app::kFinishRunFirst},
      {ArcadeState::Playing, "", false, app::on_unbind, app::kUnbindRefused},
      {ArcadeState::Idle, "", false, app::on_enter, app::kConnectFirst},
      {ArcadeState::GameOver, std::string(63, 'a'), false, app::on_record_score,
       app::kMissingEntry},
      {ArcadeState::GameOver, std::string(64, 'a'), false, app::on_record_score,
       app::kConnectSameKorb},
      {ArcadeState::GameOver, "", false, app::on_unbind, app::kUnbound},
  };
  for (const auto& c : cases) {
    game.run().arcade_state = c.state;
    game.run().entry_txid = c.entry;
    w.set_busy(c.busy);
    c.flow(w);
    EXPECT_EQ(w.status(), c.status);
    EXPECT_EQ(game.run().arcade_state, c.state) << c.status;
    EXPECT_EQ(w.busy(), c.busy) << c.status;
  }
  EXPECT_TRUE(game.asked.empty());

  // Connected, but without a paymail name: Play names the service's domain; Record score asks
  // for the Korb that paid.
  w.set_busy(false);
  game.run().arcade_state = ArcadeState::GameOver;
  game.run().entry_txid = std::string(64, 'a');
  connect_wallet("");
  app::on_enter(w);
  EXPECT_EQ(w.status(), "Publish a @orbweave.test name before you play.");
  app::on_record_score(w);
  EXPECT_EQ(w.status(), app::kConnectSameKorb);
  app::on_connect(w);
  EXPECT_EQ(w.status(), app::kAlreadyConnected);
  EXPECT_TRUE(game.asked.empty());
}

// No thread for a worker: the busy flag is cleared again and nothing else changes.
TEST(arcade_flows, a_worker_that_cannot_start_changes_nothing) {
  Game game;
  MainWindow& w = game.w();
  app::set_worker_start_failure_for_testing(true);
  app::on_connect(w);
  EXPECT_FALSE(w.busy());
  EXPECT_EQ(w.status(), app::kNoWorker);
  EXPECT_TRUE(w.button(app::kConnectId)->isEnabled());
  connect_wallet("pat");
  app::on_enter(w);
  EXPECT_EQ(game.asked.size(), 1u);
  EXPECT_FALSE(w.busy());
  EXPECT_EQ(w.status(), app::kNoWorker);
  EXPECT_EQ(game.run().arcade_state, ArcadeState::Idle);
  w.start_board_load();
  EXPECT_FALSE(w.board_load_state().running);
  EXPECT_TRUE(w.button(app::kWeeklyTopId)->isEnabled());
  app::set_worker_start_failure_for_testing(false);
}

// ---- Against the devnet ----------------------------------------------------------------------

class ArcadeDevnet : public ::testing::Test {
 protected:
  void SetUp() override { (void)arcade_devnet::devnet(); }
};

bool status_is(Game& game, const QString& text) {
  return app_test::pump_until([&] { return game.status() == text; }, 60000);
}

void play_to_game_over(Game& game) {
  for (int i = 0; i < 400 && game.run().arcade_state == ArcadeState::Playing; ++i) {
    game.key(i % 3 == 0 ? Qt::Key_Left : Qt::Key_Space);
    game.clock += 300;
  }
  game.key(Qt::Key_Space);
}

// Approves the first connect request that appears, as a player clicking Approve in Korb.
std::thread approve_first_request(const std::string& wallet_id, std::atomic<bool>& approved) {
  return std::thread([wallet_id, &approved] {
    for (int i = 0; i < 600 && !approved; ++i) {
      for (const korb::ConnectRequest& request : korb::list_connect_requests()) {
        std::string error;
        approved = korb::write_connect_reply(request.id, true, wallet_id, error);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
}

TEST_F(ArcadeDevnet, a_paid_run_from_connect_to_the_weekly_board) {
  Game game(/*network=*/true);
  MainWindow& w = game.w();
  const arcade_devnet::Player player = arcade_devnet::make_player(arcade_devnet::random_alias());
  (void)korb::disconnect();  // made and funded, but not yet paired with this game
  w.refresh_wallet_lines();
  EXPECT_EQ(w.label(app::kWalletLineId)->text(), "Wallet: not connected");

  std::atomic<bool> approved{false};
  std::thread approver = approve_first_request(player.wallet_id, approved);
  game.click(app::kConnectId);
  EXPECT_TRUE(w.busy());
  EXPECT_FALSE(w.button(app::kPlayId)->isEnabled());
  app::on_connect(w);
  EXPECT_EQ(w.status(), app::kAlreadyWorking);
  EXPECT_TRUE(status_is(game, app::kConnected)) << w.status().toStdString();
  approver.join();
  EXPECT_EQ(w.button(app::kConnectId)->text(), "Connected");
  EXPECT_EQ(w.label(app::kWalletLineId)->text(),
            QString::fromStdString("Wallet: " + player.alias + "@orbweave.test"));

  game.click(app::kPlayId);
  ASSERT_EQ(game.asked.size(), 1u);
  EXPECT_EQ(game.asked[0].caption, "O-Stakka");
  EXPECT_EQ(game.asked[0].text, app::kEntryQuestion);
  EXPECT_EQ(game.asked[0].icon, ui::MessageIcon::question);
  EXPECT_EQ(game.asked[0].buttons, ui::MessageButtons::ok_cancel);
  EXPECT_TRUE(status_is(game, app::kEntered)) << w.status().toStdString();
  EXPECT_EQ(game.run().arcade_state, ArcadeState::Playing);
  const std::string entry = game.run().entry_txid;
  EXPECT_EQ(entry.size(), 64u);
  EXPECT_FALSE(w.button(app::kPlayId)->isEnabled());
  for (auto [flow, text] : {std::pair{&app::on_enter, app::kFinishRunFirst},
                            std::pair{&app::on_record_score, app::kPlayFullRunFirst},
                            std::pair{&app::on_unbind, app::kUnbindRefused}}) {
    flow(w);
    EXPECT_EQ(w.status(), text);
  }

  play_to_game_over(game);
  ASSERT_EQ(game.run().arcade_state, ArcadeState::GameOver);
  ASSERT_GT(game.run().final_score, 0);
  // Two presses before the first is handled: the second finds the first at work.
  QTest::mouseClick(w.button(app::kRecordScoreId), Qt::LeftButton);
  QTest::mouseClick(w.button(app::kRecordScoreId), Qt::LeftButton);
  QCoreApplication::processEvents();
  EXPECT_EQ(w.status(), app::kAlreadyWorking);
  EXPECT_TRUE(
      app_test::pump_until([&] { return game.run().arcade_state == ArcadeState::Recorded; }, 60000))
      << w.status().toStdString();
  const std::string score_txid = game.run().score_txid;
  EXPECT_EQ(score_txid.size(), 64u);
  EXPECT_FALSE(game.run().record_flash);
  EXPECT_FALSE(w.button(app::kRecordScoreId)->isEnabled());
  EXPECT_TRUE(w.button(app::kPlayId)->isEnabled());
  EXPECT_TRUE(status_is(game, "Weekly board loaded.")) << w.status().toStdString();
  int rows_of_this_run = 0;
  bool recorded_row = false;
  for (const arcade::BoardRow& row : w.board().rows) {
    rows_of_this_run += row.entry == entry;
    recorded_row |= row.txid == score_txid && row.score == game.run().final_score;
  }
  EXPECT_EQ(rows_of_this_run, 1) << "one score payment for two presses";
  EXPECT_TRUE(recorded_row);
  app::on_record_score(w);
  EXPECT_EQ(w.status(), app::kPlayFullRunFirst);
  game.click(app::kUnbindId);
  EXPECT_EQ(w.status(), app::kUnbound);
}

// A payment that fails shows its error and changes no state: the entry leaves the game idle, the
// score leaves it over with Record score ready for a retry. A cancelled entry pays nothing.
TEST_F(ArcadeDevnet, failed_payments_leave_the_state_as_it_was) {
  Game game(/*network=*/true);
  MainWindow& w = game.w();
  (void)arcade_devnet::make_player(arcade_devnet::random_alias(), true, /*satoshis=*/0);
  w.refresh_wallet_lines();
  game.answer = ui::MessageAnswer::cancel;
  w.set_status("before");
  game.click(app::kPlayId);
  EXPECT_EQ(game.asked.size(), 1u);
  EXPECT_EQ(w.status(), "before");
  EXPECT_FALSE(w.busy());

  game.answer = ui::MessageAnswer::ok;
  game.click(app::kPlayId);
  EXPECT_TRUE(app_test::pump_until([&] { return !w.busy(); }, 60000));
  EXPECT_TRUE(w.status().startsWith("error: ")) << w.status().toStdString();
  EXPECT_EQ(game.run().arcade_state, ArcadeState::Idle);
  EXPECT_TRUE(w.button(app::kPlayId)->isEnabled());

  engine::RunRecord finished = arcade_devnet::finished_run(arcade_devnet::random_txid(), 7);
  finished.callbacks = game.run().callbacks;
  finished.hooks = game.run().hooks;
  game.run() = finished;
  ASSERT_EQ(game.run().arcade_state, ArcadeState::GameOver);
  game.click(app::kRecordScoreId);
  EXPECT_EQ(w.status(), app::kRecording);
  EXPECT_TRUE(app_test::pump_until([&] { return !w.busy(); }, 60000));
  EXPECT_TRUE(w.status().startsWith("error: ")) << w.status().toStdString();
  EXPECT_EQ(game.run().arcade_state, ArcadeState::GameOver);
  EXPECT_TRUE(game.run().record_flash);
  EXPECT_TRUE(w.button(app::kRecordScoreId)->isEnabled());
  EXPECT_TRUE(w.button(app::kPlayId)->isEnabled());
}

TEST_F(ArcadeDevnet, a_frozen_identity_may_not_play) {
  Game game(/*network=*/true);
  const auto player = arcade_devnet::make_player(arcade_devnet::random_alias(), true, 0);
  arcade_devnet::admin("freeze", {{"pubkey", player.identity_key}, {"note", "chargeback"}});
  app::on_enter(game.w());
  EXPECT_EQ(game.w().status(), app::kFrozen);
  EXPECT_TRUE(game.asked.empty());
  arcade_devnet::admin("unfreeze", {{"pubkey", player.identity_key}});
}

}  // namespace
