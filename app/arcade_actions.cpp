#include "app/arcade_actions.h"

#include <mutex>
#include <string>

#include "app/main_window.h"
#include "arcade/identity.h"
#include "arcade/score_record.h"
#include "arcade/update_check.h"
#include "config/deploy_config.h"
#include "korb/connect.h"
#include "korb/session.h"
#include "ui/amount_format.h"
#include "ui/message_box.h"
#include "wallet/ow_korb_wallet.h"

namespace app {
namespace {

// The session's paymail name, read under the session mutex after a refresh (the wallet
// application may have changed it while the game ran).
std::string session_handle() {
  std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
  korb::refresh_session();
  return wallet::session().paymail_handle;
}

void start_connect_worker(MainWindow& window) {
  window.set_busy(true);
  window.set_status(kWaitingForKorb);
  const bool started = start_worker(
      [] { post_app_event(AppMessage::connect, 0, make_payload(arcade::run_connect_job())); });
  if (!started) {
    window.set_busy(false);
    window.set_status(kNoWorker);
  }
}

}  // namespace

void on_connect(MainWindow& window) {
  if (window.busy()) return window.set_status(kAlreadyWorking);
  if (korb::is_connected()) return window.set_status(kAlreadyConnected);
  start_connect_worker(window);
}

void on_unbind(MainWindow& window) {
  if (window.run().arcade_state == engine::ArcadeState::Playing) {
    return window.set_status(kUnbindRefused);
  }
  (void)korb::disconnect();
  window.refresh_wallet_lines();
  window.set_status(kUnbound);
}

void on_enter(MainWindow& window) {
  if (window.busy()) return window.set_status(kAlreadyWorking);
  if (window.run().arcade_state == engine::ArcadeState::Playing) {
    return window.set_status(kFinishRunFirst);
  }
  if (!korb::is_connected()) return window.set_status(kConnectFirst);
  if (session_handle().empty()) {
    return window.set_status(
        "Publish a @" +
        QString::fromStdString(std::string(config::deploy_config().paymail_domain)) +
        " name before you play.");
  }
  std::string note;  // the service's reason stays with the service
  if (arcade::is_identity_frozen(note)) return window.set_status(kFrozen);
  if (ui::show_message(&window, kEntryCaption, kEntryQuestion, ui::MessageIcon::question,
                       ui::MessageButtons::ok_cancel) != ui::MessageAnswer::ok) {
    return;
  }
  window.set_busy(true);
  window.set_status(kPayingEntry);
  if (!window.start_payment_worker(arcade::PaymentKind::enter, {})) window.set_status(kNoWorker);
}

void on_record_score(MainWindow& window) {
  if (window.busy()) return window.set_status(kAlreadyWorking);
  const engine::RunRecord& run = window.run();
  if (run.arcade_state != engine::ArcadeState::GameOver)
    return window.set_status(kPlayFullRunFirst);
  if (run.entry_txid.size() != 64) return window.set_status(kMissingEntry);
  if (!korb::is_connected() || session_handle().empty()) {
    return window.set_status(kConnectSameKorb);
  }
  arcade::ScorePayload payload = arcade::build_score_payload();
  std::string error;
  if (!arcade::sign_claim(payload, error)) {
    return window.set_status(error.empty() ? QString(kCouldNotSign)
                                           : QString::fromStdString(error));
  }
  window.set_busy(true);
  window.set_status(kRecording);
  if (!window.start_payment_worker(arcade::PaymentKind::score, payload.dump())) {
    window.set_status(kNoWorker);
  }
}

void start_pot_refresh() {
  (void)start_worker(
      [] { post_app_event(AppMessage::pot, 0, make_payload(arcade::run_pot_job())); });
}

void start_balance_refresh() {
  if (!arcade::begin_balance_refresh()) return;
  const bool started = start_worker([] {
    post_app_event(AppMessage::balance, 0, make_payload(arcade::run_balance_job()));
    // Given back only after the answer is on its way, so no second look-up overtakes it.
    arcade::end_balance_refresh();
  });
  if (!started) arcade::end_balance_refresh();
}

void start_update_check() {
  (void)start_worker([] {
    const int64_t latest = arcade::check_for_update();
    post_app_event(AppMessage::update, latest + 1, nullptr);
  });
}

void on_connect_reply(MainWindow& window, const AppEvent& event) {
  window.set_busy(false);
  window.refresh_wallet_lines();
  const auto* reply = event.payload_as<arcade::ConnectResult>();
  if (reply == nullptr) return window.set_status(kConnectFailed);
  if (arcade::is_success_result(reply->text)) {
    window.set_status(kConnected);
    start_pot_refresh();
    return;
  }
  window.set_status(QString::fromStdString(reply->text));
}

void on_payment_reply(MainWindow& window, const AppEvent& event) {
  window.set_busy(false);
  window.refresh_wallet_lines();
  const auto* reply = event.payload_as<arcade::PaymentResult>();
  if (reply == nullptr) return window.set_status(kPayFailed);
  engine::RunRecord& run = window.run();
  const auto kind = static_cast<arcade::PaymentKind>(event.wparam());
  if (arcade::is_success_result(reply->text)) {
    const std::string txid = arcade::txid_from_result(reply->text);
    switch (kind) {
      case arcade::PaymentKind::enter:
        run.entry_txid = txid;
        engine::start_run(run);
        window.set_status(kEntered);
        break;
      case arcade::PaymentKind::score:
        run.score_txid = txid;
        run.arcade_state = engine::ArcadeState::Recorded;
        run.record_flash = false;
        arcade::record_local_score(txid);
        window.button(kRecordScoreId)->setEnabled(false);
        window.button(kPlayId)->setEnabled(true);
        window.set_status(kScoreRecorded + QString::fromStdString(txid));
        window.start_board_load();
        break;
      case arcade::PaymentKind::report:
        window.set_status(kReportSent + QString::fromStdString(txid));
        break;
    }
  } else {
    window.set_status(QString::fromStdString(reply->text));
    if (kind != arcade::PaymentKind::report) window.button(kPlayId)->setEnabled(true);
  }
  start_pot_refresh();
  window.well()->update();
}

void on_pot_result(MainWindow& window, const AppEvent& event) {
  const auto* pot = event.payload_as<arcade::PotResult>();
  window.set_pot(pot ? pot->satoshis : -1, pot ? pot->error : std::string());
}

void on_balance_result(MainWindow& window, const AppEvent& event) {
  const auto* balance = event.payload_as<arcade::BalanceResult>();
  const QString text =
      balance != nullptr && balance->ok
          ? "Korb balance:  " + QString::fromStdString(ui::format_bsv(balance->satoshis)) + " BSV"
          : QString("Korb balance:  (WhatsOnChain miss)");
  window.label(kBalanceLineId)->setText(text);
  window.layout_wallet_lines();
}

}  // namespace app
