// The arcade payments end to end against the devnet, which checks every transaction with an
// independent implementation: the exact outputs of each payment, change that is spent again
// before any service lists it, the retries after a refused broadcast, and the spent set that keeps
// a restarted game from spending an output twice.
#include "wallet/arcade_payments.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "devnet_environment.h"
#include "korb/data_directory.h"
#include "korb/session.h"
#include "local_http_server.h"
#include "wallet/broadcast.h"
#include "wallet/encoding.h"
#include "wallet/keys.h"
#include "wallet/transaction.h"
#include "wallet/unspent.h"

namespace {

using nlohmann::json;

const auto* const devnet_environment = ::testing::AddGlobalTestEnvironment(
    new devnet_wallet::DevnetEnvironment);  // NOLINT: owned by gtest
const devnet_wallet::DevnetInfo& g_devnet = devnet_wallet::test_devnet();

std::string hex_of(const wallet::Bytes& bytes) {
  return wallet::hex_encode(bytes);
}

wallet::Bytes p2pkh_of(const std::string& address) {
  wallet::Hash160 hash{};
  EXPECT_TRUE(wallet::address_to_hash160(address, hash)) << address;
  return wallet::p2pkh_script(hash);
}

std::string txid_of(const std::string& result) {
  const std::string prefix = "success: ";
  return result.rfind(prefix, 0) == 0 ? result.substr(prefix.size()) : std::string();
}

class PaymentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(admin("fault/clear", json::object()).is_object());
    wallet_id_ = devnet_wallet::create_bound_wallet(devnet_wallet::random_mnemonic());
    ASSERT_FALSE(wallet_id_.empty());
    address_ = wallet::session().payment_address;
  }
  void TearDown() override { (void)admin("fault/clear", json::object()); }

  static json admin(const std::string& route, const json& body) {
    std::string error;
    json answer = devnet_wallet::admin(g_devnet, route, body, &error);
    EXPECT_TRUE(answer.is_object()) << route << ": " << error;
    return answer;
  }
  // A fault on every request whose path starts with `route` (count -1: until cleared).
  static void fault_status(const std::string& route, int status, const std::string& body,
                           int count = 1) {
    admin("fault", {{"route", route},
                    {"kind", "status"},
                    {"status", status},
                    {"body", body},
                    {"count", count}});
  }

  std::string fund(int64_t satoshis) {
    const std::string txid = devnet_wallet::fund(g_devnet, address_, satoshis);
    EXPECT_EQ(txid.size(), 64u);
    return txid;
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

  std::string wallet_id_;
  std::string address_;
};

// The entry fee: 2000 to the house, 3000 to the pot, then the change; one input pays the
// 153-byte estimate as its fee.
TEST_F(PaymentsTest, entry_fee_pays_house_pot_and_change_in_that_order) {
  const std::string funding = fund(100000);
  const auto& cfg = config::deploy_config();
  const std::string result = pay_entry();
  const std::string txid = txid_of(result);
  ASSERT_EQ(txid.size(), 64u) << result;
  const auto tx = decoded(txid);
  ASSERT_EQ(tx.inputs.size(), 1u);
  EXPECT_EQ(tx.inputs[0].txid, funding);
  ASSERT_EQ(tx.outputs.size(), 3u);
  EXPECT_EQ(tx.outputs[0].value, 2000);
  EXPECT_EQ(hex_of(tx.outputs[0].script), hex_of(p2pkh_of(std::string(cfg.house_address))));
  EXPECT_EQ(tx.outputs[1].value, 3000);
  EXPECT_EQ(hex_of(tx.outputs[1].script), hex_of(p2pkh_of(std::string(cfg.pot_address))));
  EXPECT_EQ(tx.outputs[2].value, 100000 - 5000 - 153);
  EXPECT_EQ(hex_of(tx.outputs[2].script), hex_of(p2pkh_of(address_)));
  EXPECT_TRUE(wallet::is_outpoint_spent(funding, 0));
}

// The score row travels in a zero-value data output, pushed with the right length form on each
// side of the 76- and 256-byte boundaries; each record spends the previous one's change.
TEST_F(PaymentsTest, score_record_carries_its_payload_in_every_push_form) {
  fund(50000);
  const std::string oracle(config::deploy_config().oracle_address);
  const std::pair<std::size_t, std::string> forms[] = {
      {75, "4b"}, {76, "4c4c"}, {255, "4cff"}, {256, "4d0001"}};
  std::string previous;
  for (const auto& [size, prefix] : forms) {
    std::string payload(size, '\0');
    for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<char>('a' + i % 26);
    const std::string result = wallet::pay_arcade_score(oracle, payload);
    const std::string txid = txid_of(result);
    ASSERT_EQ(txid.size(), 64u) << size << ": " << result;
    const auto tx = decoded(txid);
    ASSERT_EQ(tx.outputs.size(), 3u);
    EXPECT_EQ(tx.outputs[0].value, 1);
    EXPECT_EQ(hex_of(tx.outputs[0].script), hex_of(p2pkh_of(oracle)));
    EXPECT_EQ(tx.outputs[1].value, 0);
    const wallet::Bytes payload_bytes(payload.begin(), payload.end());
    EXPECT_EQ(hex_of(tx.outputs[1].script), "006a" + prefix + hex_of(payload_bytes));
    if (!previous.empty()) {
      ASSERT_EQ(tx.inputs.size(), 1u);
      EXPECT_EQ(tx.inputs[0].txid, previous);
      EXPECT_EQ(tx.inputs[0].vout, 2u);
    }
    previous = txid;
  }
}

// The report pays the fee address 1000 and the report oracle 1, and carries the payload as it is
// (binary bytes included).
TEST_F(PaymentsTest, report_pays_fee_and_oracle_and_carries_its_payload) {
  fund(30000);
  const auto& cfg = config::deploy_config();
  std::string payload = "BIE1";
  payload.push_back('\0');
  payload += std::string(300, '\xff');
  const std::string txid = txid_of(wallet::pay_arcade_report(payload));
  ASSERT_EQ(txid.size(), 64u);
  const auto tx = decoded(txid);
  ASSERT_EQ(tx.outputs.size(), 4u);
  EXPECT_EQ(tx.outputs[0].value, 1000);
  EXPECT_EQ(hex_of(tx.outputs[0].script), hex_of(p2pkh_of(std::string(cfg.report_fee_address))));
  EXPECT_EQ(tx.outputs[1].value, 1);
  EXPECT_EQ(hex_of(tx.outputs[1].script), hex_of(p2pkh_of(std::string(cfg.report_oracle_address))));
  EXPECT_EQ(tx.outputs[2].value, 0);
  EXPECT_EQ(hex_of(tx.outputs[2].script),
            "006a4d3101" + hex_of(wallet::Bytes(payload.begin(), payload.end())));
  EXPECT_GT(tx.outputs[3].value, 0);
}

// A second payment right after the first spends the first one's change while every unspent
// service is down: the change is known locally, not from a listing.
TEST_F(PaymentsTest, second_payment_spends_pending_change_before_any_service_lists_it) {
  fund(100000);
  const std::string first = txid_of(pay_entry());
  ASSERT_EQ(first.size(), 64u);
  for (const std::string& address : wallet::wallet_addresses()) {
    fault_status("/woc/v1/bsv/main/address/" + address + "/", 500, "down", -1);
    fault_status("/gorillapool/api/txos/address/" + address + "/", 500, "down", -1);
  }
  const std::string result = pay_entry();
  const std::string second = txid_of(result);
  ASSERT_EQ(second.size(), 64u) << result;
  const auto tx = decoded(second);
  ASSERT_EQ(tx.inputs.size(), 1u);
  EXPECT_EQ(tx.inputs[0].txid, first);
  EXPECT_EQ(tx.inputs[0].vout, 2u);
  EXPECT_EQ(tx.outputs.at(2).value, 100000 - 2 * 5153);
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
  EXPECT_EQ(hex_of(tx.outputs[2].script), hex_of(p2pkh_of(addresses[0])));
}

// When no service lists the change of the last payment and the local records of it are gone
// too, the payment finds it again in the last sent transaction itself, read from its raw form
// (WhatsOnChain serves no decoded form at "/tx/<txid>/decoded"; the devnet answers 404 there).
TEST_F(PaymentsTest, change_is_recovered_from_the_last_transaction_when_nothing_lists_it) {
  fund(20000);
  const std::string first = txid_of(pay_entry());
  ASSERT_EQ(first.size(), 64u);
  const std::string route = "/woc/v1/bsv/main/address/" + address_;
  fault_status(route + "/unspent/all", 200, R"({"result":[]})", -1);
  fault_status(route + "/unconfirmed/history", 404, "Not Found", -1);
  // Two stale reads of an empty listing: the first keeps the change in the entry but drops it
  // from the pending list, the second drops it from the entry.
  for (int read = 0; read < 2; ++read) {
    std::this_thread::sleep_for(std::chrono::milliseconds(8100));
    std::string error;
    ASSERT_TRUE(wallet::refresh_stale_unspent(false, error)) << error;
  }
  EXPECT_EQ(wallet::wallet_balance(), 0);
  const std::string result = pay_entry();
  ASSERT_EQ(txid_of(result).size(), 64u) << result;
  const auto tx = decoded(txid_of(result));
  ASSERT_EQ(tx.inputs.size(), 1u);
  EXPECT_EQ(tx.inputs[0].txid, first);
  EXPECT_EQ(tx.inputs[0].vout, 2u);
}

// Not enough coins, or none at all: the exact texts, and nothing is marked spent.
TEST_F(PaymentsTest, insufficient_funds_and_an_empty_wallet_give_their_texts) {
  EXPECT_EQ(pay_entry(), "error: you have 0 in your Korb wallet.");
  korb::clear_session();  // forget the empty listing so the funding below is read
  ASSERT_TRUE(korb::ensure_session());
  const std::string funding = fund(3000);
  // One input and two outputs, no change: 119 bytes of fee on top of the 5000.
  EXPECT_EQ(pay_entry(),
            "error: insufficient funds. Need 5119 sats, you have 3000 in your Korb wallet.");
  EXPECT_FALSE(wallet::is_outpoint_spent(funding, 0));
  const auto& cfg = config::deploy_config();
  EXPECT_EQ(wallet::pay_arcade_entry("1NotAnAddress", std::string(cfg.pot_address)),
            "error: arcade house address decode failed.");
  EXPECT_EQ(wallet::pay_arcade_entry(std::string(cfg.house_address), "1NotAnAddress"),
            "error: arcade pot address decode failed.");
  EXPECT_EQ(wallet::pay_arcade_score(std::string(cfg.oracle_address), ""),
            "error: empty arcade score payload.");
}

// A refused broadcast marks the inputs it used as spent and the next attempt pays with other
// outputs; the devnet ends up with exactly one payment and the refused output untouched. (Missing
// inputs go to ARC first; only when ARC cannot be asked does WhatsOnChain's word stand.)
class RetryTest : public PaymentsTest {
 protected:
  void pay_after_refusal(const std::string& woc_answer, bool arc_down) {
    const std::string big = fund(20000);
    const std::string small = fund(10000);
    fault_status("/oi/submit", 500, "own submission down");
    admin("fault/woc-broadcast", {{"answer", woc_answer}});
    if (arc_down) fault_status("/arc/v1/tx", 503, "ARC is down");
    const std::string result = pay_entry();
    const std::string txid = txid_of(result);
    ASSERT_EQ(txid.size(), 64u) << result;
    const auto tx = decoded(txid);
    ASSERT_EQ(tx.inputs.size(), 1u);
    EXPECT_EQ(tx.inputs[0].txid, small) << "the refused input was used again";
    EXPECT_TRUE(wallet::is_outpoint_spent(big, 0));
    // The refused output is still unspent on the devnet: nothing was paid twice.
    std::vector<wallet::UtxoRef> listed;
    std::string error;
    bool confirmed = false;
    ASSERT_TRUE(wallet::fetch_unspent_balance_source(address_, listed, error, confirmed)) << error;
    EXPECT_TRUE(std::any_of(listed.begin(), listed.end(),
                            [&](const wallet::UtxoRef& u) { return u.txid == big; }));
    std::string body, error_text;
    ASSERT_TRUE(
        wallet::wallet_http_get(g_devnet.base() + "/admin/state", body, error_text, 20, false));
    EXPECT_EQ(json::parse(body, nullptr, false).value("faults", -1), 0)
        << "a fault was not reached";
  }
};

TEST_F(RetryTest, missing_inputs_moves_on_to_other_outputs) {
  pay_after_refusal("missing-inputs", true);
}

TEST_F(RetryTest, mempool_conflict_moves_on_to_other_outputs) {
  pay_after_refusal("mempool-conflict", false);
}

// ARC keeps a transaction whose inputs it cannot find as an orphan and answers 200 with
// SEEN_IN_ORPHAN_MEMPOOL (an input spent in a block looks just so). That is no payment: the
// player reads why, nothing is recorded or marked spent, and the next payment reads the lists
// again and pays from what is really there.
TEST_F(PaymentsTest, an_orphan_answer_ends_the_payment_with_nothing_spent) {
  const std::string real = fund(20000);
  const std::string ghost(64, '7');  // an output no transaction ever made
  const json stale = {{"address", address_},
                      {"error", ""},
                      {"result", {{{"tx_hash", ghost}, {"tx_pos", 0}, {"value", 90000}}}}};
  fault_status("/woc/v1/bsv/main/address/" + address_ + "/unspent/all", 200, stale.dump(), -1);
  const std::string sent_before = wallet::last_sent_txid();
  EXPECT_EQ(pay_entry(),
            "error: broadcast failed: ARC answered SEEN_IN_ORPHAN_MEMPOOL: its inputs are unknown "
            "or already spent");
  EXPECT_FALSE(wallet::is_outpoint_spent(ghost, 0));
  EXPECT_EQ(wallet::last_sent_txid(), sent_before);
  EXPECT_TRUE(wallet::pending_outputs_snapshot().empty());

  (void)admin("fault/clear", json::object());
  const std::string paid = txid_of(pay_entry());
  ASSERT_EQ(paid.size(), 64u);
  EXPECT_EQ(decoded(paid).inputs.at(0).txid, real);
}

// The pot gains an output with every entry; past 1000 the service pages its list, and every page
// counts (the unconfirmed outputs come on the first).
TEST_F(PaymentsTest, every_page_of_a_large_pot_is_summed) {
  const std::string pot = devnet_wallet::random_address();
  ASSERT_EQ(admin("fund", {{"address", pot}, {"satoshis", 3000}, {"count", 1200}})
                .value("txid", std::string())
                .size(),
            64u);
  ASSERT_TRUE(devnet_wallet::mine(g_devnet));
  ASSERT_EQ(devnet_wallet::fund(g_devnet, pot, 1234).size(), 64u);
  EXPECT_EQ(wallet::fetch_address_unspent_total(pot), 1200 * 3000 + 1234);
  EXPECT_EQ(wallet::fetch_address_unspent_total(devnet_wallet::random_address()), 0)
      << "a never-used address is an empty pot";
}

// GorillaPool lists coins locked by a script under their owner's address ("data.lock"); they are
// not plain P2PKH coins, and a spend signed as one would fail the script check.
TEST_F(PaymentsTest, a_locked_output_is_never_offered) {
  fund(20000);
  const std::string locked =
      admin("lock", {{"address", address_}, {"satoshis", 50000}, {"until", 900000}})
          .value("txid", std::string());
  ASSERT_EQ(locked.size(), 64u);
  std::string error;
  ASSERT_TRUE(wallet::ensure_fresh_unspent(error)) << error;
  wallet::refresh_spendable();
  std::vector<wallet::SpendCandidate> candidates;
  int64_t total = 0;
  ASSERT_TRUE(wallet::gather_spend_candidates(candidates, total, error));
  EXPECT_EQ(total, 20000);
  for (const auto& candidate : candidates) EXPECT_NE(candidate.txid, locked);
  wallet::wipe_candidates(candidates);
}

// A 2xx broadcast answer without a txid is a success only when the network knows the
// transaction; otherwise the inputs stay spendable for the next try. A small proxy in front of
// the devnet's WhatsOnChain answers broadcasts with an empty 200, after passing the transaction
// on or not.
TEST_F(PaymentsTest, broadcast_answer_without_txid_needs_the_network_to_know_it) {
  const std::string funding = fund(40000);
  std::atomic<bool> pass_on{false};
  test_server::LocalHttpServer proxy([&](const test_server::Request& r) -> test_server::Response {
    const std::string url = g_devnet.base() + r.target;
    std::string body, error;
    if (r.method == "POST") {
      if (pass_on) (void)wallet::wallet_http_post_json(url, r.body, body, error, 30, 1);
      return {200, ""};
    }
    if (wallet::wallet_http_get(url, body, error, 30, false)) return {200, body};
    return {404, "Not Found"};
  });
  wallet::NetworkEndpoints endpoints = wallet::network_endpoints();
  endpoints.woc_base = proxy.base() + "/woc";
  wallet::set_network_endpoints_for_test(endpoints);

  fault_status("/oi/submit", 500, "own submission down", 2);
  EXPECT_EQ(pay_entry(), "error: broadcast did not confirm. Wait a few seconds and try again.");
  EXPECT_FALSE(wallet::is_outpoint_spent(funding, 0));

  pass_on = true;
  const std::string result = pay_entry();
  devnet_wallet::point_at_devnet(g_devnet);
  const std::string txid = txid_of(result);
  ASSERT_EQ(txid.size(), 64u) << result;
  EXPECT_EQ(decoded(txid).inputs.at(0).txid, funding);
  EXPECT_TRUE(wallet::is_outpoint_spent(funding, 0));
}

// After a restart the spent set comes back from its file, so a service that still lists a spent
// output (and has not indexed the spending transaction yet) cannot make the game spend it again.
TEST_F(PaymentsTest, spent_set_survives_a_restart_of_the_game) {
  const std::string funding = fund(60000);
  const std::string first = txid_of(pay_entry());
  ASSERT_EQ(first.size(), 64u);

  korb::clear_session();  // the game stops...
  std::ifstream file(korb::korb_data_dir() + "/ord_snap/" + wallet_id_ + "_spent.json");
  const json saved = json::parse(file, nullptr, false);
  ASSERT_TRUE(saved.is_object());
  const auto outpoints = saved.value("outpoints", std::vector<std::string>{});
  EXPECT_NE(std::find(outpoints.begin(), outpoints.end(), funding + ":0"), outpoints.end());
  ASSERT_TRUE(korb::ensure_session());  // ...and starts again
  wallet::load_spent_set();             // what a fresh process has: only the file
  EXPECT_TRUE(wallet::is_outpoint_spent(funding, 0));

  const std::string stale = json{{"address", address_},
                                 {"error", ""},
                                 {"result",
                                  {{{"tx_hash", funding}, {"tx_pos", 0}, {"value", 60000}},
                                   {{"tx_hash", first}, {"tx_pos", 2}, {"value", 60000 - 5153}}}}}
                                .dump();
  const std::string address_route = "/woc/v1/bsv/main/address/" + address_;
  fault_status(address_route + "/unspent/all", 200, stale, -1);
  fault_status(address_route + "/unconfirmed/history", 404, "Not Found", -1);
  std::string error;
  ASSERT_TRUE(wallet::ensure_fresh_unspent(error)) << error;
  std::vector<wallet::SpendCandidate> candidates;
  int64_t total = 0;
  ASSERT_TRUE(wallet::gather_spend_candidates(candidates, total, error));
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0].txid, first);
  wallet::wipe_candidates(candidates);

  const std::string result = pay_entry();
  ASSERT_EQ(txid_of(result).size(), 64u) << result;
  EXPECT_EQ(decoded(txid_of(result)).inputs.at(0).txid, first);
}

// The wallet status read shows what the wallet can spend, and after a payment what is left.
TEST_F(PaymentsTest, status_snapshot_reads_and_settles_the_balance) {
  fund(12345);
  korb::StatusSnapshot status;
  korb::status_snapshot(status);
  EXPECT_TRUE(status.loaded);
  EXPECT_TRUE(status.balance_read);
  EXPECT_EQ(status.balance, 12345);
  ASSERT_EQ(txid_of(pay_entry()).size(), 64u);
  korb::status_snapshot(status);
  EXPECT_EQ(status.balance, 12345 - 5153);
  EXPECT_EQ(wallet::read_settled_balance(), 12345 - 5153);
}

// With no wallet connected every payment refuses before decoding an address or asking anyone,
// even with an empty payload.
TEST(PaymentsWithoutWallet, refuse_with_the_not_connected_text) {
  korb::unbind_wallet();
  korb::clear_session();
  const std::string text =
      "error: Korb wallet not connected. Create or Restore in Korb, then Connect in the app.";
  EXPECT_EQ(wallet::pay_arcade_entry("bad", "bad"), text);
  EXPECT_EQ(wallet::pay_arcade_score("bad", ""), text);
  EXPECT_EQ(wallet::pay_arcade_report(""), text);
}

}  // namespace
