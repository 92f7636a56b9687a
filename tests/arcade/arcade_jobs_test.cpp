// The arcade's worker jobs: the txid rule of payment results, and (JobsDevnet.*, under the devnet
// fixture) the entry payment reaching the weekly pot and the balance job.
#include "arcade/arcade_jobs.h"

#include <gtest/gtest.h>

#include "arcade/arcade_devnet.h"

namespace {

TEST(ArcadeJobs, the_txid_is_the_first_run_of_64_hex_digits) {
  const std::string a(64, 'a'), b(64, 'B');
  const std::pair<std::string, std::string> cases[] = {
      {"success: " + a, a},
      {"success: " + b + " " + a, b},
      {"x" + std::string(63, '1') + "-" + a, a},
      {std::string(63, '1'), ""},
      {"success", ""},
      {std::string(200, 'z'), ""},
      {std::string(70, 'f'), std::string(64, 'f')},
  };
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
  EXPECT_EQ(arcade::run_pot_job("1short").error, "address looks wrong.");
  EXPECT_EQ(arcade::run_pot_job("1short").satoshis, -1);
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

}  // namespace
