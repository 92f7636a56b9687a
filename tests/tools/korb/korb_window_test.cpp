// The Korb window on an offscreen screen: a game's request shows up with the app that asked,
// comes to the front marked and explained, Approve answers it with the chosen wallet, Deny
// refuses it, Create shows the new words once through the window's message function, and the
// balances arrive from a worker.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <atomic>
#include <functional>
#include <map>
#include <thread>

#include "tools/korb/connect_answers.h"
#include "tools/korb/korb_test_support.h"
#include "tools/korb/korb_window.h"
#include "tools/korb/wallet_store.h"
#include "wallet/mnemonic.h"

namespace {

using korb_test::read_json;
using nlohmann::json;

QApplication& application() {
  static int argc = 1;
  static char name[] = "korb_window_test";
  static char* argv[] = {name, nullptr};
  // Never destroyed: Qt's own thread storage must outlive it at process exit.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

class KorbWindowTest : public ::testing::Test {
 protected:
  korb_test::TempDataDir dir;
  std::vector<QString> shown;
  QStringList answers;

  std::atomic<std::int64_t> now{korb_app::unix_seconds_now()};
  // What the fake balance service answers; only read once the gate opens.
  std::map<std::string, korb_app::BalanceReading> balances;
  std::atomic<bool> gate_open{true};

  void SetUp() override { application(); }
  // A worker may still be in read_balance, which reads this fixture.
  void TearDown() override {
    gate_open = true;
    EXPECT_TRUE(wait_for([] { return korb_app::balance_workers_running() == 0; }));
  }

  static bool wait_for(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 5000) QCoreApplication::processEvents();
    return done();
  }

  korb_app::WindowSources sources() {
    return {[this] { return now.load(); },
            [this](const std::string& address) {
              while (!gate_open) std::this_thread::yield();
              const auto found = balances.find(address);
              return found != balances.end() ? found->second
                                             : korb_app::BalanceReading{address, false, 0, "none"};
            }};
  }

  korb_app::WindowPrompts prompts() {
    korb_app::WindowPrompts scripted;
    scripted.ask_text = [this](QWidget*, const QString&, const QString&, QString& answer) {
      if (answers.isEmpty()) return false;
      answer = answers.takeFirst();
      return true;
    };
    scripted.show_text = [this](QWidget*, const QString&, const QString& text) {
      shown.push_back(text);
    };
    return scripted;
  }

  std::string add(const std::string& name) {
    std::string words, id, error;
    EXPECT_TRUE(korb_app::generate_mnemonic(words));
    EXPECT_TRUE(korb_app::add_wallet(name, words, id, error)) << error;
    return id;
  }

  void write_request(const std::string& id, const std::string& app,
                     const std::string& instance = "/games/ostakka") {
    korb_test::write_text(
        dir.data_dir() + "/connect/" + id + ".req.json",
        json{{"app", app}, {"id", id}, {"instance", instance}, {"ts", now.load()}}.dump(2));
  }

  static std::string address_of(const std::string& data_dir, const std::string& id) {
    return read_json(data_dir + "/wallets/" + id + "/wallet.json")["address"];
  }

  json reply(const std::string& id) {
    return read_json(dir.data_dir() + "/connect/" + id + ".rep.json");
  }
};

TEST_F(KorbWindowTest, request_appears_and_approve_writes_the_reply) {
  const std::string first = add("First");
  const std::string second = add("Second");
  korb_app::KorbWindow window(prompts(), sources());
  window.show();
  auto* requests = window.findChild<QListWidget*>("requests");
  auto* chooser = window.findChild<QComboBox*>("wallet_chooser");
  auto* approve = window.findChild<QPushButton*>("approve");
  auto* wallets = window.findChild<QListWidget*>("wallets");
  ASSERT_TRUE(requests && chooser && approve && wallets);
  EXPECT_EQ(window.windowTitle(), "Korb");
  // Scripts click Approve and Deny by position.
  EXPECT_EQ(window.size(), korb_app::korb_window_size);
  EXPECT_EQ(approve->geometry(), korb_app::approve_button_rect);
  EXPECT_EQ(window.findChild<QPushButton*>("deny")->geometry(), korb_app::deny_button_rect);
  EXPECT_EQ(requests->geometry(), korb_app::requests_list_rect);
  EXPECT_EQ(requests->count(), 0);
  EXPECT_FALSE(approve->isEnabled());
  ASSERT_EQ(wallets->count(), 2);
  EXPECT_TRUE(wallets->item(1)->text().contains("Second"));
  EXPECT_TRUE(wallets->item(1)->text().contains(QString::fromStdString(
      read_json(dir.data_dir() + "/wallets/" + second + "/wallet.json")["address"])));

  write_request("w1700000000001", "O-Stakka");
  window.refresh();
  ASSERT_EQ(requests->count(), 1);
  EXPECT_TRUE(requests->item(0)->text().contains("O-Stakka asks to connect"));
  EXPECT_TRUE(requests->item(0)->text().contains("/games/ostakka"));
  ASSERT_EQ(chooser->count(), 2);
  chooser->setCurrentIndex(1);
  // A refresh in between keeps the player's choices.
  window.refresh();
  EXPECT_EQ(chooser->currentData().toString().toStdString(), second);
  ASSERT_TRUE(approve->isEnabled());
  approve->click();

  EXPECT_EQ(reply("w1700000000001"), (json{{"ok", true}, {"wallet_id", second}}));
  EXPECT_EQ(requests->count(), 0);
  EXPECT_TRUE(shown.empty()) << shown.front().toStdString();
  (void)first;
}

TEST_F(KorbWindowTest, deny_refuses_and_a_broken_wallet_is_not_offered_as_approved) {
  const std::string good = add("Good");
  const std::string broken = add("Broken");
  korb_test::write_text(dir.data_dir() + "/wallets/" + broken + "/wallet.json", "{\"torn");
  korb_app::KorbWindow window(prompts(), sources());
  write_request("w1700000000002", "O-Stakka");
  write_request("w1700000000003", "Other game");
  window.refresh();
  auto* requests = window.findChild<QListWidget*>("requests");
  auto* chooser = window.findChild<QComboBox*>("wallet_chooser");
  ASSERT_EQ(requests->count(), 2);

  // Approving with a wallet whose file is damaged complains and writes nothing.
  requests->setCurrentRow(0);
  chooser->setCurrentIndex(1);
  window.findChild<QPushButton*>("approve")->click();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].contains("damaged")) << shown[0].toStdString();
  EXPECT_TRUE(reply("w1700000000002").is_discarded());

  requests->setCurrentRow(1);
  window.findChild<QPushButton*>("deny")->click();
  EXPECT_EQ(reply("w1700000000003"), (json{{"ok", false}}));
  ASSERT_EQ(requests->count(), 1);
  EXPECT_TRUE(requests->item(0)->text().startsWith("O-Stakka"));
  (void)good;
}

TEST_F(KorbWindowTest, create_restore_and_paymail_from_the_window) {
  korb_app::KorbWindow window(prompts(), sources());
  answers = {"Fresh"};
  window.findChild<QPushButton*>("create")->click();
  ASSERT_EQ(shown.size(), 1u);
  const QString words = shown[0].section("\n\n", 1).trimmed();
  EXPECT_TRUE(wallet::validate_mnemonic(words.toStdString())) << shown[0].toStdString();
  auto* wallets = window.findChild<QListWidget*>("wallets");
  ASSERT_EQ(wallets->count(), 1);
  EXPECT_TRUE(wallets->item(0)->text().startsWith("Fresh"));

  // Restore refuses bad words with a message and stores nothing.
  answers = {"Again", "not twelve words"};
  window.findChild<QPushButton*>("restore")->click();
  EXPECT_EQ(shown.size(), 2u);
  EXPECT_EQ(wallets->count(), 1);
  answers = {"Again", words.toUpper()};
  window.findChild<QPushButton*>("restore")->click();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_TRUE(shown[2].contains("already in Korb")) << shown[2].toStdString();
  std::string other;
  ASSERT_TRUE(korb_app::generate_mnemonic(other));
  answers = {"Other", QString::fromStdString(other)};
  window.findChild<QPushButton*>("restore")->click();
  EXPECT_EQ(shown.size(), 3u);
  ASSERT_EQ(wallets->count(), 2);

  // The paymail field names the selected wallet.
  wallets->setCurrentRow(1);
  window.findChild<QLineEdit*>("paymail_name")->setText("@Otto");
  window.findChild<QPushButton*>("set_paymail")->click();
  EXPECT_EQ(shown.size(), 3u);
  EXPECT_TRUE(wallets->item(1)->text().startsWith("otto"));
  EXPECT_TRUE(window.findChild<QLineEdit*>("paymail_name")->text().isEmpty());
}

TEST_F(KorbWindowTest, balances_arrive_from_the_worker_and_the_address_copies) {
  const std::string rich = add("Rich");
  const std::string cut_off = add("Cut off");
  balances[address_of(dir.data_dir(), rich)] = {"", true, 123456789, ""};
  balances[address_of(dir.data_dir(), cut_off)] = {"", false, 0, "HTTP 429\x1b[2J"};
  gate_open = false;
  korb_app::KorbWindow window(prompts(), sources());
  auto* wallets = window.findChild<QListWidget*>("wallets");
  auto* address = window.findChild<QLabel*>("wallet_address");
  ASSERT_EQ(wallets->count(), 2);
  EXPECT_TRUE(wallets->item(0)->text().endsWith("...")) << wallets->item(0)->text().toStdString();

  gate_open = true;
  ASSERT_TRUE(wait_for([&] { return !wallets->item(1)->text().endsWith("..."); }));
  EXPECT_TRUE(wallets->item(0)->text().endsWith("1.23456789 BSV"));
  EXPECT_TRUE(wallets->item(1)->text().endsWith("balance unavailable"));
  wallets->setCurrentRow(1);
  EXPECT_TRUE(address->text().endsWith("Balance unavailable: HTTP 429?[2J"))
      << address->text().toStdString();

  wallets->setCurrentRow(0);
  QGuiApplication::clipboard()->clear();
  window.findChild<QPushButton*>("copy_address")->click();
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), address_of(dir.data_dir(), rich));
  EXPECT_TRUE(address->text().contains(QGuiApplication::clipboard()->text()));
  EXPECT_TRUE(shown.empty());
}

TEST_F(KorbWindowTest, a_new_request_comes_forward_marked_and_explained) {
  add("Main");
  write_request("w1700000000004", "Old game");
  korb_app::KorbWindow window(prompts(), sources());
  auto* requests = window.findChild<QListWidget*>("requests");
  auto* details = window.findChild<QLabel*>("request_details");
  auto* status = window.findChild<QLabel*>("status");
  ASSERT_EQ(requests->count(), 1);
  requests->setCurrentRow(-1);
  window.hide();

  // Any program can write a request: escapes are defused and markup stays literal text.
  write_request("w1700000000005", "Evil\x1b[2J<b>app</b>", "/opt/\u202Egame");
  window.refresh();
  ASSERT_EQ(requests->count(), 2);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(requests->currentRow(), 1);
  EXPECT_TRUE(requests->item(1)->font().bold());
  EXPECT_NE(requests->item(1)->background().style(), Qt::NoBrush);
  EXPECT_TRUE(status->text().contains("asks to connect")) << status->text().toStdString();
  EXPECT_EQ(details->textFormat(), Qt::PlainText);

  // The mark fades and then goes; the player's selection stays.
  const int fresh_alpha = requests->item(1)->background().color().alpha();
  now += 3;
  window.refresh();
  EXPECT_TRUE(requests->item(1)->font().bold());
  EXPECT_LT(requests->item(1)->background().color().alpha(), fresh_alpha);
  now += 9;
  window.refresh();
  EXPECT_FALSE(requests->item(1)->font().bold());
  EXPECT_EQ(requests->item(1)->background().style(), Qt::NoBrush);
  EXPECT_TRUE(
      details->text().startsWith("Program: Evil?[2J<b>app</b>\nInstallation folder: "
                                 "/opt/?game\nAsked 12 s ago"))
      << details->text().toStdString();
  EXPECT_EQ(requests->currentRow(), 1);
}

}  // namespace
