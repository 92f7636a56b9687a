// The arcade payments end to end against the devnet, which checks every transaction and signature
// with an independent implementation; the retry rules are tested against local stand-ins.
#include "wallet/arcade_payments.h"

#include <gtest/gtest.h>

#include <functional>

#include "devnet_environment.h"
#include "wallet/encoding.h"
#include "wallet/keys.h"
#include "wallet/transaction.h"
#include "wallet/unspent.h"

namespace {

const auto* const devnet_environment = ::testing::AddGlobalTestEnvironment(
    new devnet_wallet::DevnetEnvironment);  // NOLINT: owned by gtest
const devnet_wallet::DevnetInfo& g_devnet = devnet_wallet::test_devnet();

std::string hex_of(const wallet::Bytes& bytes) {
  return wallet::hex_encode(bytes);
}

// The hex of the script that pays `address`.
std::string to(std::string_view address) {
  wallet::Hash160 hash{};
  EXPECT_TRUE(wallet::address_to_hash160(std::string(address), hash)) << address;
  return hex_of(wallet::p2pkh_script(hash));
}

std::string txid_of(const std::string& result) {
  const std::string prefix = "success: ";
  return result.rfind(prefix, 0) == 0 ? result.substr(prefix.size()) : std::string();
}

class PaymentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(devnet_wallet::create_bound_wallet(devnet_wallet::random_mnemonic()).empty());
    address_ = wallet::session().payment_address;
  }
  // The transaction as the devnet decoded it; fails the test when the devnet does not know it.
  static wallet::DecodedTransaction decoded(const std::string& txid) {
    wallet::DecodedTransaction tx;
    EXPECT_TRUE(wallet::parse_decoded_transaction(devnet_wallet::decoded_tx(g_devnet, txid), tx))
        << "devnet does not know " << txid;
    return tx;
  }

  // The entry fee to the configured house and pot addresses: the result text.
  static std::string pay_entry() {
    const auto& cfg = config::deploy_config();
    return wallet::pay_arcade_entry(std::string(cfg.house_address), std::string(cfg.pot_address));
  }

  std::string address_;
};

// Each payment's outputs in order, then the change to the payment address; each spends the one
// before's change. The entry fee with one input pays the 153-byte estimate as its fee.
TEST_F(PaymentsTest, each_payment_pays_its_outputs_then_the_change) {
  const std::string funding = devnet_wallet::fund(g_devnet, address_, 100000);
  ASSERT_EQ(funding.size(), 64u);
  const auto& cfg = config::deploy_config();
  const std::string score(256, 's');
  std::string report = "BIE1";
  report.push_back('\0');
  report += std::string(300, '\xff');
  const auto data = [](const std::string& push, const std::string& payload) {
    return "006a" + push + hex_of(wallet::Bytes(payload.begin(), payload.end()));
  };
  const struct {
    std::function<std::string()> pay;
    std::vector<std::pair<int64_t, std::string>> outputs;  // value and script
  } payments[] = {
      {pay_entry, {{2000, to(cfg.house_address)}, {3000, to(cfg.pot_address)}}},
      {[&] { return wallet::pay_arcade_score(std::string(cfg.oracle_address), score); },
       {{1, to(cfg.oracle_address)}, {0, data("4d0001", score)}}},
      {[&] { return wallet::pay_arcade_report(report); },
       {{1000, to(cfg.report_fee_address)},
        {1, to(cfg.report_oracle_address)},
        {0, data("4d3101", report)}}},
  };
  std::string previous = funding;
  uint32_t previous_vout = 0;
  for (const auto& payment : payments) {
    const std::string result = payment.pay();
    const std::string txid = txid_of(result);
    ASSERT_EQ(txid.size(), 64u) << result;
    const auto tx = decoded(txid);
    ASSERT_EQ(tx.inputs.size(), 1u);
    EXPECT_EQ(tx.inputs[0].txid + ":" + std::to_string(tx.inputs[0].vout),
              previous + ":" + std::to_string(previous_vout));
    EXPECT_TRUE(wallet::is_outpoint_spent(previous, previous_vout));
    ASSERT_EQ(tx.outputs.size(), payment.outputs.size() + 1);
    for (std::size_t i = 0; i < payment.outputs.size(); ++i) {
      EXPECT_EQ(tx.outputs[i].value, payment.outputs[i].first) << i;
      EXPECT_EQ(hex_of(tx.outputs[i].script), payment.outputs[i].second) << i;
    }
    EXPECT_EQ(hex_of(tx.outputs.back().script), to(address_));
    if (previous == funding) {
      EXPECT_EQ(tx.outputs.back().value, 100000 - 5000 - 153);
    }
    previous = txid;
    previous_vout = static_cast<uint32_t>(payment.outputs.size());
  }
}

// Coins on other receive addresses and on the identity address are spent with their own keys
// (the devnet checks every signature), receive addresses first, the identity address last.
TEST_F(PaymentsTest, spends_from_every_wallet_address_with_its_own_key) {
  ASSERT_FALSE(devnet_wallet::create_bound_wallet(devnet_wallet::random_mnemonic(), 1).empty());
  const auto addresses = wallet::wallet_addresses();
  ASSERT_EQ(addresses.size(), 3u);
  EXPECT_EQ(addresses[2], wallet::session().identity_address);
  const std::string on_identity = devnet_wallet::fund(g_devnet, addresses[2], 3000);
  const std::string on_receive1 = devnet_wallet::fund(g_devnet, addresses[1], 3000);
  const std::string result = pay_entry();
  const std::string txid = txid_of(result);
  ASSERT_EQ(txid.size(), 64u) << result;
  const auto tx = decoded(txid);
  ASSERT_EQ(tx.inputs.size(), 2u);
  EXPECT_EQ(tx.inputs[0].txid, on_receive1);
  EXPECT_EQ(tx.inputs[1].txid, on_identity);
  // Two inputs, three outputs: 194 bytes of fee; the change goes to the payment address.
  ASSERT_EQ(tx.outputs.size(), 3u);
  EXPECT_EQ(tx.outputs[2].value, 6000 - 5000 - 194);
  EXPECT_EQ(hex_of(tx.outputs[2].script), to(addresses[0]));
}

}  // namespace
