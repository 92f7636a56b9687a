// The arcade's worker jobs: the txid rule of payment results, and (JobsDevnet.*, under the devnet
// fixture) the entry payment reaching the weekly pot and the balance job.
#include "arcade/arcade_jobs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "arcade/arcade_devnet.h"
#include "arcade/score_record.h"
#include "korb/report_encryption.h"
#include "korb/report_encryption_testing.h"
#include "wallet/unspent.h"

namespace {

TEST(ArcadeJobs, the_txid_is_the_first_run_of_64_hex_digits) {
  const std::string a(64, 'a'), b(64, 'B');
  const std::pair<std::string, std::string> cases[] = {
      {"success: " + a, a},
      {"success: " + b + " " + a, b},
      {"x" + std::string(63, '1') + "-" + a, a},
      {std::string(63, '1'), ""},
      {std::string(200, 'z'), ""},
      {std::string(70, 'f'), std::string(64, 'f')}};
  for (const auto& [text, txid] : cases) EXPECT_EQ(arcade::txid_from_result(text), txid) << text;
  EXPECT_TRUE(arcade::is_success_result("success"));
  EXPECT_FALSE(arcade::is_success_result("error: success"));
  EXPECT_TRUE(arcade::begin_balance_refresh());
  EXPECT_FALSE(arcade::begin_balance_refresh());
  arcade::end_balance_refresh();
  EXPECT_TRUE(arcade::begin_balance_refresh());
  arcade::end_balance_refresh();
}

TEST(JobsDevnet, the_entry_fee_grows_the_pot) {
  const arcade::PotResult wrong = arcade::run_pot_job("1short");
  EXPECT_EQ(wrong.error, "address looks wrong.");
  EXPECT_EQ(wrong.satoshis, -1);
  (void)arcade_devnet::make_player(arcade_devnet::random_alias(), true, 100000);
  const arcade::PotResult before = arcade::run_pot_job();
  ASSERT_GE(before.satoshis, 0) << before.error;
  const arcade::PaymentResult paid = arcade::run_entry_job();
  EXPECT_EQ(paid.kind, arcade::PaymentKind::enter);
  EXPECT_EQ(arcade::txid_from_result(paid.text).size(), 64u) << paid.text;
  EXPECT_EQ(arcade::run_pot_job().satoshis, before.satoshis + 3000);
  const arcade::BalanceResult balance = arcade::run_balance_job();
  EXPECT_TRUE(balance.ok);
  EXPECT_EQ(balance.satoshis, 100000 - 5000 - 153);
}

// A report encrypted to the architect and signed like a score row is read back by the devnet's
// architect with the same text and a signature from the sender's published key; without the
// architect's key file it stops before anything is paid.
TEST(JobsDevnet, a_signed_report_reaches_the_architect) {
  const auto player = arcade_devnet::make_player(arcade_devnet::random_alias(), true, 100000);
  const std::string base = std::filesystem::temp_directory_path() / ("keys-" + player.alias);
  korb::set_encryption_key_base_for_testing(base);
  korb::clear_key_book_for_testing();
  nlohmann::json report = nlohmann::json::parse(
      R"({"protocol": "RQT-Wire", "type": "report", "app": "O-Stakka", "to_handle": "hollin",
          "location": "arcade", "game": "stakka"})");
  report["handle"] = player.alias;
  std::string error;
  EXPECT_FALSE(korb::encrypt_direct_message({"lost"}, player.alias, "hollin", report, error));
  EXPECT_EQ(error.rfind("no encryption key on file for @hollin", 0), 0u) << error;
  EXPECT_FALSE(wallet::is_outpoint_spent(player.funding, 0));

  std::filesystem::create_directories(korb::encryption_key_folder());
  std::filesystem::copy_file(std::string(OSTAKKA_BIN_DIR) + "/userinfo/devnet/encpub-hollin.txt",
                             korb::encryption_key_folder() + "/encpub-hollin.txt");
  const std::string text = "The well froze after a cascade.\n" + std::string(600, 'r');
  ASSERT_TRUE(korb::encrypt_direct_message({text}, player.alias, "hollin", report, error)) << error;
  ASSERT_TRUE(arcade::sign_claim(report, error)) << error;
  const arcade::PaymentResult paid = arcade::run_report_job(report.dump());
  EXPECT_EQ(paid.kind, arcade::PaymentKind::report);
  const std::string txid = arcade::txid_from_result(paid.text);
  ASSERT_EQ(txid.size(), 64u) << paid.text;
  korb::set_encryption_key_base_for_testing("");
  std::filesystem::remove_all(base);

  std::string body;
  ASSERT_TRUE(
      wallet::wallet_http_get(arcade_devnet::devnet().admin + "/reports", body, error, 20, false))
      << error;
  const auto reports =
      nlohmann::json::parse(body, nullptr, false).value("reports", nlohmann::json::array());
  EXPECT_TRUE(std::any_of(reports.begin(), reports.end(), [&](const nlohmann::json& item) {
    return item.is_object() && item.value("txid", "") == txid && item.value("text", "") == text &&
           item.value("verified", false);
  })) << body;
}

}  // namespace
