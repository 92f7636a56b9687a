// The report window: its painted cards, edit and fee note; the edit's 2000-character limit; and
// (ReportDevnet.*, under the devnet fixture) the send steps against the devnet: every refusal
// shows its text, keeps the window and its text, and pays nothing; a sent report is read back by
// the architect with the same text.
#include "ui/report_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QPointer>
#include <QTest>
#include <filesystem>

#include "arcade/arcade_jobs.h"
#include "config/deploy_config.h"
#include "korb/report_encryption.h"
#include "korb/report_encryption_testing.h"
#include "tests/arcade/arcade_devnet.h"
#include "tests/ui/ui_test_support.h"
#include "ui/button.h"
#include "ui/message_box_testing.h"
#include "ui/palette.h"
#include "wallet/unspent.h"

namespace {

using ui_test::count_near;
using ui_test::rgb;

// The main window's side of a report, as the test sees it.
struct FakeMain {
  bool busy = false;
  QString status;
  std::vector<std::string> sent;  // payloads handed to the worker
  std::function<void(const std::string&)> worker;

  ui::ReportHost host() {
    return {[this] { return busy; },
            [this](bool on) { busy = on; },
            [this](const QString& text) { status = text; },
            [this](std::string payload) {
              sent.push_back(payload);
              if (worker) worker(payload);
              return true;
            },
            {}};
  }
};

}  // namespace

TEST(report_window, cards_edit_and_fee_note_sit_at_their_places) {
  ui_test::application();
  FakeMain main;
  ui::ReportWindow window(nullptr, main.host(), nullptr);
  const QImage image = window.grab().toImage();
  EXPECT_EQ(rgb(image, 560, 10), 0x100C06u) << "header band";
  const struct { int top, lines; } cards[] = {{88, 2}, {232, 3}};
  for (const auto& card : cards) {
    SCOPED_TRACE(card.top);
    EXPECT_EQ(rgb(image, 560, card.top + 30), ui::kPanel);
    EXPECT_GT(count_near(image, QRect(42, card.top + 14, 220, 26), ui::kOrange, 20), 40);
    for (int i = 0; i <= card.lines; ++i) {
      const int cream =
          count_near(image, QRect(44, card.top + 57 + 24 * i, 300, 22), ui::kCream, 40);
      EXPECT_EQ(cream > 5, i < card.lines) << "line " << i;
    }
  }
  EXPECT_GT(count_near(image, QRect(310, 568, 266, 36), ui::kAmber, 20), 20) << "fee note";
  EXPECT_EQ(window.edit()->geometry(), QRect(24, 402, 552, 148));
  EXPECT_EQ(rgb(image, 200, 480), ui::kPanel) << "the edit's background";
  std::vector<QRect> buttons;
  for (const auto* b : window.findChildren<ui::PaintedButton*>()) buttons.push_back(b->geometry());
  EXPECT_EQ(buttons, (std::vector<QRect>{{24, 568, 150, 36}, {184, 568, 110, 36}}));
}

// Typing and pasting stop at 2000 characters; a character outside the basic plane is never cut
// in half.
TEST(report_window, the_edit_takes_at_most_2000_characters) {
  ui_test::application();
  ui::LimitedTextEdit edit(ui::kReportEditLimit, nullptr);
  edit.setPlainText(QString(1998, 'a'));
  edit.moveCursor(QTextCursor::End);
  QTest::keyClicks(&edit, "bcd");
  EXPECT_EQ(edit.toPlainText(), QString(1998, 'a') + "bc");
  edit.setPlainText(QString(1999, 'a'));
  edit.moveCursor(QTextCursor::End);
  QApplication::clipboard()->setText(QString::fromUtf8("\xF0\x9F\x8E\xB2") + "xyz");
  edit.paste();
  EXPECT_EQ(edit.toPlainText().size(), 1999) << "half an emoji would be garbage";
  edit.setPlainText(QString(1990, 'a'));
  edit.moveCursor(QTextCursor::End);
  edit.paste();
  EXPECT_EQ(edit.toPlainText(), QString(1990, 'a') + QString::fromUtf8("\xF0\x9F\x8E\xB2") + "xyz");
}

TEST(ReportDevnet, refusals_pay_nothing_and_a_sent_report_reaches_the_architect) {
  ui_test::application();
  (void)arcade_devnet::devnet();
  std::vector<ui::MessageRequest> boxes;
  ui::set_message_answerer_for_testing([&boxes](const ui::MessageRequest& request) {
    boxes.push_back(request);
    return ui::MessageAnswer::ok;
  });
  FakeMain main;
  QPointer<ui::ReportWindow> window = ui::open_report_window(nullptr, main.host(), nullptr);
  const std::string domain(config::deploy_config().paymail_domain);
  const QString connect_first =
      QString::fromStdString("Connect Korb and publish a @" + domain + " name first.");
  const QString too_long = "Write a report (max 2000 characters).";
  // Sends `text` and expects a refusal box (or, for an empty `box`, the status line) saying
  // `expected`, with the window and its text left as they were and nothing handed to a worker.
  const auto expect_refused = [&](const QString& text, const QString& expected, bool box,
                                  ui::MessageIcon icon = ui::MessageIcon::information) {
    SCOPED_TRACE(expected.toStdString());
    boxes.clear();
    main.status.clear();
    window->edit()->setPlainText(text);
    window->send();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->edit()->toPlainText(), text);
    EXPECT_TRUE(main.sent.empty());
    if (box) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_TRUE(boxes[0].text.startsWith(expected)) << boxes[0].text.toStdString();
      EXPECT_EQ(boxes[0].caption, "Report");
      EXPECT_EQ(boxes[0].icon, icon);
    } else {
      EXPECT_TRUE(boxes.empty());
      EXPECT_EQ(main.status, expected);
    }
  };
  const QString report = "The well froze after a cascade.";
  expect_refused(report, connect_first, true);  // no wallet at all
  ASSERT_FALSE(devnet_wallet::create_bound_wallet(devnet_wallet::random_mnemonic()).empty());
  expect_refused(report, connect_first, true);  // a wallet without a paymail name

  const auto player = arcade_devnet::make_player(arcade_devnet::random_alias(), true, 100000);
  const std::string keys = std::filesystem::temp_directory_path() / ("keys-" + player.alias);
  korb::set_encryption_key_base_for_testing(keys);
  korb::clear_key_book_for_testing();
  expect_refused(report, "no encryption key on file for @hollin", true, ui::MessageIcon::warning);
  std::filesystem::create_directories(korb::encryption_key_folder());
  std::filesystem::copy_file(std::string(OSTAKKA_BIN_DIR) + "/userinfo/devnet/encpub-hollin.txt",
                             korb::encryption_key_folder() + "/encpub-hollin.txt");
  expect_refused("", too_long, true);
  expect_refused("   \n\n \t  \n", too_long, true);
  expect_refused(QString(2001, 'a'), too_long, true);
  expect_refused(QString(1000, QChar(0x20AC)), too_long, true);  // 1000 x 3 bytes of UTF-8
  main.busy = true;
  expect_refused(report, "Already working...", false);
  main.busy = false;
  EXPECT_FALSE(wallet::is_outpoint_spent(player.funding, 0));

  // 2000 bytes once trimmed: a line, a run of two-byte letters and padding.
  const std::string text = "The well froze after a cascade.\n" + std::string(60, 'r') +
                           "\xC3\xA9\xC3\xA9" + std::string(2000 - 32 - 60 - 4, 's');
  ASSERT_EQ(text.size(), 2000u);
  arcade::PaymentResult paid;
  main.worker = [&paid](const std::string& payload) { paid = arcade::run_report_job(payload); };
  window->edit()->setPlainText("\n  " + QString::fromStdString(text) + "  \n");
  window->send();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(window) << "a sent report closes the window";
  EXPECT_TRUE(main.busy);
  EXPECT_EQ(main.status, "Sending report in Korb...");
  ASSERT_EQ(main.sent.size(), 1u);
  const nlohmann::json payload = nlohmann::json::parse(main.sent[0], nullptr, false);
  EXPECT_EQ(payload.value("handle", ""), player.alias);
  const std::string txid = arcade::txid_from_result(paid.text);
  ASSERT_EQ(txid.size(), 64u) << paid.text;
  korb::set_encryption_key_base_for_testing("");
  std::filesystem::remove_all(keys);
  ui::set_message_answerer_for_testing({});

  std::string body, error;
  ASSERT_TRUE(
      wallet::wallet_http_get(arcade_devnet::devnet().admin + "/reports", body, error, 20, false))
      << error;
  bool found = false;
  for (const auto& item :
       nlohmann::json::parse(body, nullptr, false).value("reports", nlohmann::json::array())) {
    if (item.value("txid", "") != txid) continue;
    found = true;
    EXPECT_EQ(item.value("text", ""), text);
    EXPECT_TRUE(item.value("verified", false)) << item.dump();
  }
  EXPECT_TRUE(found) << body;
}
