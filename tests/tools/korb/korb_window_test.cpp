// The Korb window on an offscreen screen: a game's request shows up with the app that asked,
// Approve answers it with the chosen wallet, Deny refuses it, and Create shows the new words
// once through the window's message function.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

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

  void SetUp() override { application(); }

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

  void write_request(const std::string& id, const std::string& app) {
    korb_test::write_text(dir.data_dir() + "/connect/" + id + ".req.json",
                          json{{"app", app},
                               {"id", id},
                               {"instance", "/games/ostakka"},
                               {"ts", korb_app::unix_seconds_now()}}
                              .dump(2));
  }

  json reply(const std::string& id) {
    return read_json(dir.data_dir() + "/connect/" + id + ".rep.json");
  }
};

TEST_F(KorbWindowTest, request_appears_and_approve_writes_the_reply) {
  const std::string first = add("First");
  const std::string second = add("Second");
  korb_app::KorbWindow window(prompts());
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
  korb_app::KorbWindow window(prompts());
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
  korb_app::KorbWindow window(prompts());
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

}  // namespace
