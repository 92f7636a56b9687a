// Unspent outputs without a network: the service list readers, outpoint matching in both byte
// orders, the spent set's file, the order and skip rules of the spend candidates, the balance and
// the settled balance. These are the rules that keep a payment from spending an output twice,
// spending an inscription, or losing change.
#include "wallet/unspent.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <mutex>

#include "wallet/hd_keys.h"
#include "wallet/keys.h"
#include "wallet/ow_korb_wallet.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr char kMnemonic[] =
    "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about";
const std::string kTxA = std::string(62, 'a') + "01";
const std::string kTxB = std::string(62, 'b') + "02";
const std::string kTxC = std::string(62, 'c') + "03";

std::string g_data_dir;
std::string g_bound_id;

// A Korb bridge stand-in for these tests only: a data folder and a bound wallet id.
void install_hooks() {
  wallet::BridgeHooks hooks;
  hooks.is_connected = [] { return wallet::session_loaded() && wallet::session().hd; };
  hooks.bound_wallet_id = [] { return g_bound_id; };
  hooks.data_directory = [] { return g_data_dir; };
  wallet::install_bridge_hooks(hooks);
}

class UnspentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ostakka-unspent-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    g_data_dir = dir_;
    g_bound_id = "w1700000000000";
    install_hooks();
    load_hd_wallet(1);
  }
  void TearDown() override {
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    wallet::clear_unspent_state();
    wallet::wipe_session();
    fs::remove_all(dir_);
  }

  // An HD session with receive addresses 0..recv1 and the identity address.
  static void load_hd_wallet(uint32_t recv1) {
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    wallet::clear_unspent_state();
    wallet::wipe_session();
    wallet::reset_derivation_cache();
    auto& s = wallet::session();
    s.mnemonic = kMnemonic;
    s.hd = true;
    s.recv[1] = recv1;
    s.show = 0;
    ASSERT_TRUE(wallet::refresh_wallet_keys());
    wallet::load_spent_set();
  }

  static std::string receive_address(uint32_t i) {
    std::string priv, pub, address;
    EXPECT_TRUE(wallet::derive_path_keys(wallet::receive_path(i), priv, pub, address));
    return address;
  }

  static wallet::Hash160 hash_of(const std::string& address) {
    wallet::Hash160 hash{};
    EXPECT_TRUE(wallet::address_to_hash160(address, hash));
    return hash;
  }

  // Puts an output into the address's cache entry the way a sent transaction's change arrives.
  static void add_output(const std::string& address, const std::string& txid, uint32_t vout,
                         int64_t value) {
    wallet::PendingOutput p{txid, vout, value, {}, {}, hash_of(address)};
    ASSERT_TRUE(wallet::add_pending_output(p, address));
  }

  std::string dir_;
};

std::vector<wallet::UtxoRef> parse(const std::string& text, bool expect_ok = true) {
  std::vector<wallet::UtxoRef> out;
  EXPECT_EQ(wallet::parse_unspent_list(json::parse(text), out), expect_ok) << text;
  return out;
}

// Both the bare-array form and the newer wrapped form are read; anything else is a bad list, but
// an empty list is a good one (an unused address).
TEST(unspent_list, accepts_both_shapes_and_rejects_others) {
  const std::string item =
      R"({"tx_hash":")" + kTxA + R"(","tx_pos":3,"value":2451680,"height":639302})";
  auto bare = parse("[" + item + "]");
  ASSERT_EQ(bare.size(), 1u);
  EXPECT_EQ(bare[0].txid, kTxA);
  EXPECT_EQ(bare[0].vout, 3u);
  EXPECT_EQ(bare[0].value, 2451680);
  EXPECT_EQ(parse(R"({"address":"1x","result":[)" + item + R"(],"error":""})").size(), 1u);
  EXPECT_TRUE(parse("[]").empty());
  EXPECT_TRUE(parse(R"({"result":[]})").empty());
  parse(R"({"result":{}})", false);
  parse(R"({"error":"nope"})", false);
  parse("\"text\"", false);
  parse("42", false);
  parse("null", false);
}

// Elements already spent in the mempool, with a txid that is not 64 hex, or without a positive
// integer value must never become spendable.
TEST(unspent_list, drops_unusable_elements) {
  const std::string good = R"({"tx_hash":")" + kTxA + R"(","tx_pos":0,"value":500})";
  const std::string list = "[" + good + R"(,
    {"tx_hash":")" + kTxB + R"(","tx_pos":1,"value":700,"isSpentInMempoolTx":true},
    {"tx_hash":")" + kTxB.substr(1) +
                           R"(","tx_pos":1,"value":700},
    {"tx_hash":")" + std::string(63, 'z') +
                           R"(x","tx_pos":1,"value":700},
    {"tx_hash":")" + kTxC + R"(","tx_pos":1,"value":0},
    {"tx_hash":")" + kTxC + R"(","tx_pos":2,"value":-5},
    {"tx_hash":")" + kTxC + R"(","tx_pos":3,"value":"900"},
    {"tx_hash":")" + kTxC + R"(","tx_pos":4,"value":9.5},
    {"tx_hash":5,"tx_pos":5,"value":900}, 17, "x", null, [1,2]])";
  const auto out = parse(list);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].txid, kTxA);
  // isSpentInMempoolTx false (or not a boolean) keeps the element.
  EXPECT_EQ(parse(R"([{"txid":")" + kTxB + R"(","vout":7,"value":9,"isSpentInMempoolTx":"true"}])")
                .at(0)
                .vout,
            7u);
}

// "tx_hash" wins over "txid", "tx_pos" over "vout", as the services name them.
TEST(unspent_list, member_names_and_fallbacks) {
  const auto out =
      parse(R"([{"tx_hash":")" + kTxA + R"(","txid":")" + kTxB +
            R"(","tx_pos":2,"vout":9,"value":10},{"txid":")" + kTxC + R"(","vout":4,"value":11}])");
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].txid, kTxA);
  EXPECT_EQ(out[0].vout, 2u);
  EXPECT_EQ(out[1].txid, kTxC);
  EXPECT_EQ(out[1].vout, 4u);
}

// GorillaPool: inscriptions and tokens are never offered, nor are outputs of 1 satoshi.
TEST(spendable_list, skips_inscriptions_tokens_and_single_satoshis) {
  const std::string list = R"([
    {"txid":")" + kTxA + R"(","vout":0,"satoshis":5000,"origin":null,"data":{}},
    {"txid":")" + kTxA + R"(","vout":1,"satoshis":1,"origin":null},
    {"txid":")" + kTxA + R"(","vout":2,"satoshis":900,"origin":{"outpoint":"x"}},
    {"txid":")" + kTxA + R"(","vout":3,"satoshis":900,"data":{"bsv20":{}}},
    {"txid":")" + kTxA + R"(","vout":4,"satoshis":900,"data":{"bsv21":{}}},
    {"txid":")" + kTxA + R"(","vout":5,"satoshis":900,"data":{"insc":{}}},
    {"txid":")" + kTxA + R"(","vout":6,"value":800,"data":{"map":{}}},
    {"txid":")" + kTxA.substr(2) +
                           R"(","vout":7,"satoshis":900}])";
  std::vector<wallet::UtxoRef> out;
  ASSERT_TRUE(wallet::parse_spendable_list(json::parse(list), out));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].vout, 0u);
  EXPECT_EQ(out[1].vout, 6u);
  EXPECT_EQ(out[1].value, 800);
  out.clear();
  EXPECT_FALSE(wallet::parse_spendable_list(json::parse(R"({"message":"err"})"), out));
  EXPECT_FALSE(wallet::parse_spendable_list(
                   json::parse(R"([{"txid":")" + kTxA + R"(","vout":1,"satoshis":1}])"), out) &&
               !out.empty());
}

// Coin amounts must be rounded: 0.00002 as a double is just under 2000 satoshis.
TEST(decoded_transaction, reads_inputs_and_outputs_in_satoshis) {
  const std::string doc = R"({"txid":")" + kTxC + R"(","vin":[
      {"txid":")" + kTxA + R"(","vout":1,"scriptSig":{"hex":""}},
      {"coinbase":"03abcd"},
      {"txid":"short","vout":0}],
    "vout":[
      {"value":0.00002,"n":0,"scriptPubKey":{"hex":"76a914000102030405060708090a0b0c0d0e0f1011121388ac"}},
      {"value":0.00003,"n":1,"scriptPubKey":{"hex":"76a914"}},
      {"value":0.29,"n":2,"scriptPubKey":{"hex":"zz"}},
      {"value":0,"n":3,"scriptPubKey":{"hex":"006a0161"}},
      {"value":"1","n":4},
      {"value":-1,"n":5},
      {"value":1e300,"n":6},
      {"value":0.00000001,"scriptPubKey":"bad"}]})";
  wallet::DecodedTransaction tx;
  ASSERT_TRUE(wallet::parse_decoded_transaction(json::parse(doc), tx));
  ASSERT_EQ(tx.inputs.size(), 1u);
  EXPECT_EQ(tx.inputs[0].txid, kTxA);
  EXPECT_EQ(tx.inputs[0].vout, 1u);
  ASSERT_EQ(tx.outputs.size(), 5u);
  EXPECT_EQ(tx.outputs[0].value, 2000);
  EXPECT_EQ(tx.outputs[0].script.size(), 25u);
  EXPECT_EQ(tx.outputs[1].value, 3000);
  EXPECT_EQ(tx.outputs[2].value, 29000000);
  EXPECT_TRUE(tx.outputs[2].script.empty());
  EXPECT_EQ(tx.outputs[3].value, 0);
  EXPECT_EQ(tx.outputs[3].script.size(), 4u);
  EXPECT_EQ(tx.outputs[4].value, 1);
  EXPECT_EQ(tx.outputs[4].n, 7u);  // no "n": its position
  EXPECT_FALSE(wallet::parse_decoded_transaction(json::parse("[]"), tx));
}

// An outpoint is the same whichever byte order and case a service writes the txid in.
TEST(outpoints, match_in_both_byte_orders_and_any_case) {
  const std::string txid = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
  const std::string reversed = wallet::reversed_txid(txid);
  EXPECT_EQ(reversed, "ffeeddccbbaa99887766554433221100ffeeddccbbaa99887766554433221100");
  std::string upper = txid;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(wallet::same_outpoint(txid, 1, reversed, 1));
  EXPECT_TRUE(wallet::same_outpoint(upper, 1, txid, 1));
  EXPECT_FALSE(wallet::same_outpoint(txid, 1, reversed, 2));
  EXPECT_FALSE(wallet::same_outpoint(txid, 1, kTxA, 1));
  EXPECT_EQ(wallet::outpoint_key(upper, 7), txid + ":7");
  EXPECT_EQ(wallet::reversed_txid("abc"), "");
}

// A spent output stays spent after the game restarts, whichever byte order it is asked in, and
// each wallet has its own set.
TEST_F(UnspentTest, spent_set_survives_reload_and_is_per_wallet) {
  const std::string reversed = wallet::reversed_txid(kTxA);
  wallet::mark_outpoint_spent(kTxA, 1);
  EXPECT_TRUE(wallet::is_outpoint_spent(reversed, 1));
  EXPECT_FALSE(wallet::is_outpoint_spent(kTxA, 2));

  const fs::path file = fs::path(dir_) / "ord_snap" / "w1700000000000_spent.json";
  ASSERT_TRUE(fs::exists(file));
  std::ifstream in(file);
  const json saved = json::parse(in);
  const auto list = saved.at("outpoints").get<std::vector<std::string>>();
  EXPECT_NE(std::find(list.begin(), list.end(), kTxA + ":1"), list.end());
  EXPECT_NE(std::find(list.begin(), list.end(), reversed + ":1"), list.end());
  for (const auto& entry : fs::directory_iterator(file.parent_path()))
    EXPECT_EQ(entry.path().extension(), ".json") << "temporary file left behind";

  g_bound_id = "w2";  // another wallet: its own, empty set
  EXPECT_FALSE(wallet::is_outpoint_spent(kTxA, 1));
  g_bound_id = "w1700000000000";
  {  // a restart: the in-memory set is gone, the file brings it back
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    wallet::load_spent_set();
  }
  EXPECT_TRUE(wallet::is_outpoint_spent(kTxA, 1));
}

// Garbage in the spent file is skipped, never crashes, never marks anything.
TEST_F(UnspentTest, spent_file_with_junk_reads_what_is_well_formed) {
  fs::create_directories(fs::path(dir_) / "ord_snap");
  std::ofstream(fs::path(dir_) / "ord_snap" / "w1700000000000_spent.json")
      << R"({"outpoints":[")" << kTxB << R"(:4", 5, null, "zz:1", ")" << kTxC << R"(:x", ")" << kTxC
      << R"(:"]})";
  wallet::load_spent_set();
  EXPECT_TRUE(wallet::is_outpoint_spent(kTxB, 4));
  EXPECT_FALSE(wallet::is_outpoint_spent(kTxC, 0));
  std::ofstream(fs::path(dir_) / "ord_snap" / "w1700000000000_spent.json") << "{not json";
  wallet::load_spent_set();
  EXPECT_FALSE(wallet::is_outpoint_spent(kTxB, 4));
}

// The key names files: no path separators may survive, and an unnamed wallet saves nothing.
TEST_F(UnspentTest, wallet_key_is_safe_as_a_file_name) {
  g_bound_id = "../x y/" + std::string(100, 'k');
  const std::string key = wallet::wallet_key();
  EXPECT_EQ(key.size(), 80u);
  EXPECT_EQ(key.substr(0, 7), "___x_y_");
  g_bound_id.clear();
  EXPECT_EQ(wallet::wallet_key(), wallet::session().identity_address);
  {
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    wallet::wipe_session();
  }
  EXPECT_EQ(wallet::wallet_key(), "wallet");
  wallet::mark_outpoint_spent(kTxA, 0);
  EXPECT_FALSE(fs::exists(fs::path(dir_) / "ord_snap" / "wallet_spent.json"));
}

// Candidates come address by address (receive 0 first, the identity address last) whatever the
// order the entries were filled in, then pending outputs; spent outputs, 1-satoshi outputs and
// duplicates are skipped, and each candidate carries the keys of its own address.
TEST_F(UnspentTest, candidates_in_address_order_with_skip_rules) {
  const std::string identity = wallet::session().identity_address;
  const std::string recv0 = receive_address(0), recv1 = receive_address(1);
  add_output(identity, kTxA, 0, 700);
  add_output(recv1, kTxB, 0, 600);
  add_output(recv0, kTxC, 0, 500);
  add_output(recv0, kTxC, 1, 1);                           // may carry an inscription
  add_output(recv0, kTxC, 2, 400);                         // spent below
  add_output(recv1, wallet::reversed_txid(kTxC), 3, 300);  // spent in the other byte order
  wallet::mark_outpoint_spent(kTxC, 2);
  wallet::mark_outpoint_spent(kTxC, 3);

  std::vector<wallet::SpendCandidate> out;
  int64_t total = 0;
  std::string error;
  ASSERT_TRUE(wallet::gather_spend_candidates(out, total, error));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].txid, kTxC);
  EXPECT_EQ(out[1].txid, kTxB);
  EXPECT_EQ(out[2].txid, kTxA);
  EXPECT_EQ(total, 1800);
  EXPECT_EQ(out[0].owner_hash160, hash_of(recv0));
  EXPECT_EQ(out[2].owner_hash160, hash_of(identity));
  EXPECT_EQ(wallet::address_from_public_key(out[1].public_key_hex), recv1);
  std::string pub;
  ASSERT_TRUE(wallet::public_key_from_private(out[2].private_key_hex, pub));
  EXPECT_EQ(pub, out[2].public_key_hex);
  // Offered from the cache, the outputs are no longer pending; the skipped ones still are.
  EXPECT_FALSE(wallet::is_pending_outpoint(kTxA, 0));
  EXPECT_TRUE(wallet::is_pending_outpoint(kTxC, 1));
  wallet::wipe_candidates(out);
  EXPECT_TRUE(out.empty());
}

// An address beyond the wallet's receive range is not the wallet's: its outputs are not offered
// from the cache (only as pending outputs, with the keys they were recorded with).
TEST_F(UnspentTest, addresses_outside_the_wallet_are_not_offered_from_the_cache) {
  const std::string recv5 = receive_address(5);
  const auto addresses = wallet::wallet_addresses();
  ASSERT_EQ(addresses.size(), 3u);
  EXPECT_EQ(addresses[0], receive_address(0));
  EXPECT_EQ(addresses[2], wallet::session().identity_address);
  EXPECT_EQ(std::find(addresses.begin(), addresses.end(), recv5), addresses.end());
  add_output(recv5, kTxA, 0, 900);
  std::vector<wallet::SpendCandidate> out;
  int64_t total = 0;
  std::string error;
  ASSERT_TRUE(wallet::gather_spend_candidates(out, total, error));
  ASSERT_EQ(out.size(), 1u);  // as a pending output, with the payment key
  EXPECT_EQ(out[0].public_key_hex, wallet::session().payment_public_key);
  wallet::wipe_candidates(out);
  // The cache's addresses are searched by address_for_hash160 too.
  EXPECT_EQ(wallet::address_for_hash160(hash_of(recv5)), recv5);
}

// The balance counts what the payment address can spend: not spent outputs, not 1-satoshi ones
// that may be inscriptions, each outpoint once; unknown is -1, not 0.
TEST_F(UnspentTest, wallet_balance_counts_spendable_outputs_once) {
  EXPECT_EQ(wallet::wallet_balance(), -1);
  const std::string pay = wallet::session().payment_address;
  add_output(pay, kTxA, 0, 10000);
  add_output(pay, kTxA, 1, 1);
  add_output(pay, kTxB, 0, 2500);
  EXPECT_FALSE(wallet::add_pending_output(
      wallet::PendingOutput{wallet::reversed_txid(kTxB), 0, 2500, {}, {}, hash_of(pay)}, pay));
  // The 1-satoshi pending output is counted (pending outputs are our own change), once.
  EXPECT_EQ(wallet::wallet_balance(), 12501);
  wallet::mark_outpoint_spent(kTxA, 0);
  EXPECT_EQ(wallet::wallet_balance(), 2501);
  wallet::drop_spent_outputs();
  EXPECT_FALSE(wallet::is_pending_outpoint(kTxA, 0));
  EXPECT_TRUE(wallet::is_pending_outpoint(kTxB, 0));
}

// The shown balance does not believe services that lag behind a payment, and it is stored for
// the next start of this wallet only.
TEST_F(UnspentTest, settle_balance_holds_the_expected_figure_after_a_payment) {
  EXPECT_EQ(wallet::settle_balance(-1, 0), -1);
  EXPECT_EQ(wallet::read_settled_balance(), -1);
  EXPECT_EQ(wallet::settle_balance(100000, 0), 100000);
  EXPECT_EQ(wallet::read_settled_balance(), 100000);
  // Paid 5153: a service that still lists the spent input (too high) is not believed...
  EXPECT_EQ(wallet::settle_balance(100000 + 9000, 5153), 94847);
  // ...nor one far too low...
  EXPECT_EQ(wallet::settle_balance(94847 - 5153 - 8001, 5153), 94847 - 5153);
  // ...but a figure near the expected one is.
  EXPECT_EQ(wallet::settle_balance(89000, 1), 89000);
  // A plain read far above the expected balance soon after a payment is held back...
  EXPECT_EQ(wallet::settle_balance(89693 + 1000001, 0), 89693);
  // ...one within a million is taken.
  EXPECT_EQ(wallet::settle_balance(500000, 0), 500000);
  EXPECT_EQ(wallet::read_settled_balance(), 500000);

  const fs::path file = fs::path(dir_) / "tx_hist" / "w1700000000000_face.json";
  std::ifstream in(file);
  const json saved = json::parse(in);
  EXPECT_EQ(saved.at("sats"), 500000);
  EXPECT_EQ(saved.at("address"), wallet::session().payment_address);
  // Another payment address (the wallet moved to a new receive key) does not read it.
  load_hd_wallet(1);
  {
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    wallet::session().show = 1;
    ASSERT_TRUE(wallet::refresh_wallet_keys());
  }
  EXPECT_EQ(wallet::read_settled_balance(), -1);
  // Forgetting the session forgets the balance memory: the first figure is taken as it is.
  EXPECT_EQ(wallet::settle_balance(7, 0), 7);
}

// Clearing the session forgets the cache, the pending outputs and the last txids, but not what
// was spent.
TEST_F(UnspentTest, clearing_forgets_everything_but_the_spent_set) {
  add_output(wallet::session().payment_address, kTxA, 0, 10000);
  wallet::set_last_sent_txid(kTxB);
  wallet::set_last_broadcast_txid("not a txid");
  EXPECT_EQ(wallet::last_sent_txid(), kTxB);
  EXPECT_EQ(wallet::last_broadcast_txid(), "");
  wallet::mark_outpoint_spent(kTxC, 0);
  wallet::clear_unspent_state();
  EXPECT_TRUE(wallet::pending_outputs_snapshot().empty());
  EXPECT_EQ(wallet::wallet_balance(), -1);
  EXPECT_EQ(wallet::last_sent_txid(), "");
  EXPECT_TRUE(wallet::is_outpoint_spent(kTxC, 0));
}

}  // namespace
