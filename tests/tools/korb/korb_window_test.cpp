// The Korb window on an offscreen screen, driven through its widgets as a player would.
#include "tools/korb/korb_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <atomic>

#include "korb/connect.h"
#include "tools/korb/connect_answers.h"
#include "tools/korb/korb_test_support.h"
#include "tools/korb/wallet_store.h"
#include "wallet/mnemonic.h"

namespace {

using korb_test::add_wallet;
using korb_test::read_json;
using korb_test::write_request;
using nlohmann::json;

class KorbWindowTest : public korb_test::KorbTest {
 protected:
  std::vector<QString> shown;
  QStringList answers;
  std::atomic<std::int64_t> now{korb_app::unix_seconds_now()};
  std::unique_ptr<korb_app::KorbWindow> window;

  void SetUp() override {
    KorbTest::SetUp();
    static int argc = 1;
    static char name[] = "korb_window_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt's own thread storage must outlive it at process exit.
    if (QApplication::instance() == nullptr) new QApplication(argc, argv);
  }
  // A balance worker may still be running: the next test must not meet it.
  void TearDown() override {
    window.reset();
    QElapsedTimer timer;
    timer.start();
    while (korb_app::balance_workers_running() != 0 && timer.elapsed() < 5000)
      QCoreApplication::processEvents();
    EXPECT_EQ(korb_app::balance_workers_running(), 0);
    KorbTest::TearDown();
  }

  void open_window() {
    korb_app::WindowPrompts prompts;
    prompts.ask_text = [this](QWidget*, const QString&, const QString&, QString& answer) {
      if (answers.isEmpty()) return false;
      answer = answers.takeFirst();
      return true;
    };
    prompts.show_text = [this](QWidget*, const QString&, const QString& text) {
      shown.push_back(text);
    };
    korb_app::WindowSources sources{[this] { return now.load(); },
                                    [](const std::string& address) {
                                      return korb_app::BalanceReading{address, false, 0, "none"};
                                    }};
    window = std::make_unique<korb_app::KorbWindow>(prompts, sources);
  }

  template <class Widget>
  Widget* find(const char* name) {
    Widget* widget = window->findChild<Widget*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  void click(const char* button) { find<QPushButton>(button)->click(); }

  static json reply(const std::string& id) { return read_json(korb::connect_reply_path(id)); }
};

// A hidden window comes forward for a new request and explains it in plain text: any program can
// write a request, so escapes are defused and markup stays literal. Approve answers with the wallet
// chosen (kept across a refresh), never with one whose file is damaged.
TEST_F(KorbWindowTest, a_request_comes_forward_and_is_answered) {
  add_wallet("First");
  const std::string second = add_wallet("Second");
  const std::string broken = add_wallet("Broken");
  korb_test::write_text(wallet_path(broken), "{\"torn");
  write_request("w1700000000001", now, "O-Stakka");
  open_window();
  auto* requests = find<QListWidget>("requests");
  auto* chooser = find<QComboBox>("wallet_chooser");
  auto* details = find<QLabel>("request_details");

  write_request("w1700000000002", now, "Evil\x1b[2J<b>app</b>", "/opt/\u202Egame");
  window->refresh();
  ASSERT_EQ(requests->count(), 2);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(requests->currentRow(), 1);
  EXPECT_EQ(details->textFormat(), Qt::PlainText);
  now += 12;
  window->refresh();
  EXPECT_TRUE(
      details->text().startsWith("Program: Evil?[2J<b>app</b>\nInstallation folder: "
                                 "/opt/?game\nAsked 12 s ago"))
      << details->text().toStdString();

  ASSERT_EQ(chooser->count(), 3);
  chooser->setCurrentIndex(2);
  click("approve");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].contains("damaged")) << shown[0].toStdString();
  EXPECT_TRUE(reply("w1700000000002").is_discarded());
  chooser->setCurrentIndex(1);
  window->refresh();
  EXPECT_EQ(requests->currentRow(), 1);
  EXPECT_EQ(chooser->currentData().toString().toStdString(), second);
  click("approve");
  EXPECT_EQ(reply("w1700000000002"), (json{{"ok", true}, {"wallet_id", second}}));
}

// The words of a new wallet are shown once, to be written down; the paymail field names the
// selected wallet, never another of the player's.
TEST_F(KorbWindowTest, create_and_paymail_from_the_window) {
  add_wallet("Other");
  open_window();
  answers = {"Fresh"};
  click("create");
  ASSERT_EQ(shown.size(), 1u);
  const QString words = shown[0].section("\n\n", 1).trimmed();
  EXPECT_TRUE(wallet::validate_mnemonic(words.toStdString())) << shown[0].toStdString();
  auto* wallets = find<QListWidget>("wallets");
  ASSERT_EQ(wallets->count(), 2);
  EXPECT_TRUE(wallets->item(1)->text().startsWith("Fresh"));

  wallets->setCurrentRow(0);
  find<QLineEdit>("paymail_name")->setText("@Otto");
  click("set_paymail");
  EXPECT_EQ(shown.size(), 1u);
  EXPECT_TRUE(wallets->item(0)->text().startsWith("otto"));
}

}  // namespace
