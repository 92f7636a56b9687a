// Unspent outputs: the rules that keep a payment from spending an output twice, spending an
// inscription, or losing change, and the service reads behind them (against a local server).
#include "wallet/unspent.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "hd_session.h"
#include "local_http_server.h"
#include "mangle.h"
#include "random_seed.h"
#include "wallet/hd_keys.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test_server::LocalHttpServer;
using test_server::Request;
using test_server::Response;
using test_wallet::BoundWalletTest;
using test_wallet::hash_of;

const std::string kTxA = std::string(62, 'a') + "01";
const std::string kTxB = std::string(62, 'b') + "02";
const std::string kTxC = std::string(62, 'c') + "03";
constexpr char kAddress[] = "1BgGZ9tcN4rm9KBzDn7KprQz87SZ26SAMH";
const std::string kWocAddress = std::string("/woc/v1/bsv/main/address/") + kAddress;

const auto* const curl_environment =
    ::testing::AddGlobalTestEnvironment(new test_server::CurlEnvironment);  // NOLINT: gtest owns it

std::string item(const std::string& txid, int vout, int64_t value) {
  return R"({"tx_hash":")" + txid + R"(","tx_pos":)" + std::to_string(vout) + R"(,"value":)" +
         std::to_string(value) + "}";
}

std::string txid_number(int i) {
  char txid[65];
  std::snprintf(txid, sizeof txid, "%064x", i);
  return txid;
}

std::string receive_address(uint32_t i) {
  std::string priv, pub, address;
  EXPECT_TRUE(wallet::derive_path_keys(wallet::receive_path(i), priv, pub, address));
  return address;
}

// Puts an output into the address's cache entry the way a sent transaction's change arrives.
void add_output(const std::string& address, const std::string& txid, uint32_t vout, int64_t value) {
  wallet::PendingOutput p{txid, vout, value, {}, {}, hash_of(address)};
  ASSERT_TRUE(wallet::add_pending_output(p, address));
}

// An element spent in the mempool, malformed, or (GorillaPool) an inscription, token, locked coin
// or single satoshi must never become spendable: spending it burns or loses what it carries.
TEST(unspent_list, keeps_only_usable_elements) {
  const std::string a = R"("tx_hash":")" + kTxA + R"(",)";
  const std::string b = R"("txid":")" + kTxB + R"(",)";
  const struct {
    bool spendable_reader;
    std::string element;
    std::string kept;  // "txid:vout=value", or "" when dropped
  } cases[] = {
      {false, "{" + a + R"("tx_pos":3,"value":2451680})", kTxA + ":3=2451680"},
      {false, "{" + a + b + R"("tx_pos":2,"vout":9,"value":10})", kTxA + ":2=10"},
      {false, "{" + b + R"("vout":4,"value":11})", kTxB + ":4=11"},
      {false, "{" + b + R"("vout":0,"value":2100000000000000})", kTxB + ":0=2100000000000000"},
      {false, "{" + b + R"("vout":7,"value":9,"isSpentInMempoolTx":"true"})", kTxB + ":7=9"},
      {false, "{" + a + R"("tx_pos":1,"value":700,"isSpentInMempoolTx":true})", ""},
      {false, R"({"tx_hash":")" + kTxB.substr(1) + R"(","tx_pos":1,"value":7})", ""},
      {false, R"({"tx_hash":")" + std::string(63, 'z') + R"(x","tx_pos":1,"value":7})", ""},
      {false, "{" + a + R"("tx_pos":1,"value":0})", ""},
      {false, "{" + a + R"("tx_pos":1,"value":"900"})", ""},
      {false, "{" + a + R"("tx_pos":1,"value":2100000000000001})", ""},
      {false, "{" + a + R"("tx_pos":-1,"value":900})", ""},
      {false, "{" + a + R"("tx_pos":"2","value":900})", ""},
      {false, "17", ""},
      {true, "{" + b + R"("vout":0,"satoshis":5000,"origin":null,"data":{}})", kTxB + ":0=5000"},
      {true, "{" + b + R"("vout":6,"value":800,"data":{"map":{}}})", kTxB + ":6=800"},
      {true, "{" + b + R"("vout":1,"satoshis":1,"origin":null})", ""},
      {true, "{" + b + R"("vout":2,"satoshis":900,"origin":{"outpoint":"x"}})", ""},
      {true, "{" + b + R"("vout":3,"satoshis":900,"data":{"bsv20":{}}})", ""},
      {true, "{" + b + R"("vout":5,"satoshis":900,"data":{"insc":{}}})", ""},
      {true, "{" + b + R"("vout":8,"satoshis":900,"data":{"lock":{"until":9}}})", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.element);
    // The usable element after it proves the list was read rather than refused.
    const json list =
        json::parse("[" + c.element + "," +
                    (c.spendable_reader ? R"({"txid":")" + kTxC + R"(","vout":9,"satoshis":5})"
                                        : item(kTxC, 9, 5)) +
                    "]");
    std::vector<std::string> expected{kTxC + ":9=5"};
    if (!c.kept.empty()) expected.insert(expected.begin(), c.kept);
    for (const json& document : {list, json{{"address", "1x"}, {"result", list}}}) {
      std::vector<wallet::UtxoRef> out;
      ASSERT_TRUE(c.spendable_reader ? wallet::parse_spendable_list(document, out)
                                     : wallet::parse_unspent_list(document, out));
      std::vector<std::string> got;
      for (const auto& u : out)
        got.push_back(u.txid + ":" + std::to_string(u.vout) + "=" + std::to_string(u.value));
      EXPECT_EQ(got, expected);
      if (c.spendable_reader) break;
    }
  }
  std::vector<wallet::UtxoRef> out;
  EXPECT_TRUE(wallet::parse_unspent_list(json::array(), out));
  for (const char* bad : {R"({"result":{}})", R"({"error":"nope"})", "\"text\"", "42", "null"})
    EXPECT_FALSE(wallet::parse_unspent_list(json::parse(bad), out)) << bad;
  EXPECT_FALSE(wallet::parse_spendable_list(json::parse(R"({"message":"err"})"), out));
}

// What every reader must guarantee whatever it is fed: only usable outputs come out.
void check_reader_invariants(const json& doc) {
  std::vector<wallet::UtxoRef> list;
  (void)wallet::parse_unspent_list(doc, list);
  (void)wallet::parse_spendable_list(doc, list);
  for (const auto& utxo : list) {
    ASSERT_TRUE(wallet::is_txid_hex(utxo.txid));
    ASSERT_GT(utxo.value, 0);
  }
  wallet::DecodedTransaction tx;
  (void)wallet::parse_decoded_transaction(doc, tx);
  for (const auto& input : tx.inputs) ASSERT_TRUE(wallet::is_txid_hex(input.txid));
  for (const auto& output : tx.outputs) {
    ASSERT_GE(output.value, 0);
    ASSERT_LE(output.value, 2100000000000000);
  }
}

// Mangled service answers: the readers never crash or throw, and never hand out an output with a
// bad txid or a value outside the coin supply.
TEST(unspent_readers, survive_hostile_answers) {
  SCOPED_TRACE(wallet_test::seed_note());
  const std::string seeds[] = {
      R"({"address":"1x","result":[{"height":1,"tx_pos":0,"tx_hash":")" + kTxA +
          R"(","value":100,"isSpentInMempoolTx":false}],"error":""})",
      R"([{"txid":")" + kTxB + R"(","vout":1,"satoshis":5,"origin":null,"data":{"insc":{}}}])",
      R"({"txid":")" + kTxC + R"(","vin":[{"txid":")" + kTxA +
          R"(","vout":0}],"vout":[{"value":0.00002,"n":0,"scriptPubKey":{"hex":"76a9"}}]})"};
  std::mt19937 rng(static_cast<unsigned>(wallet_test::test_seed()));
  for (int round = 0; round < 20000 && !HasFatalFailure(); ++round) {
    std::string text = seeds[rng() % 3];
    test_mangle::mangle(text, rng, "{}[]\":,0123456789-.eE+truefalsnl abcdef");
    SCOPED_TRACE(text);
    check_reader_invariants(json::parse(text, nullptr, false));
  }
  // More entries than any address may list: the reader keeps a bounded number.
  json big = json::array();
  for (int i = 0; i < 200000; ++i)
    big.push_back({{"tx_hash", kTxA}, {"tx_pos", i}, {"value", 1 + i}});
  std::vector<wallet::UtxoRef> list;
  ASSERT_TRUE(wallet::parse_unspent_list(big, list));
  EXPECT_EQ(list.size(), 20000u);
}

using UnspentTest = BoundWalletTest;

// A spent output stays spent after the game restarts, whichever byte order it is asked in, and
// each wallet has its own set; junk in the file is skipped, a broken file marks nothing.
TEST_F(UnspentTest, spent_set_survives_reload_and_is_per_wallet) {
  const std::string reversed = wallet::reversed_txid(kTxA);
  wallet::mark_outpoint_spent(kTxA, 1);
  EXPECT_TRUE(wallet::is_outpoint_spent(reversed, 1));
  EXPECT_FALSE(wallet::is_outpoint_spent(kTxA, 2));

  const fs::path file = fs::path(data_dir()) / "ord_snap" / "w1700000000000_spent.json";
  for (const auto& entry : fs::directory_iterator(file.parent_path()))
    EXPECT_EQ(entry.path().extension(), ".json") << "temporary file left behind";

  bound_id() = "w2";  // another wallet: its own, empty set
  EXPECT_FALSE(wallet::is_outpoint_spent(kTxA, 1));
  bound_id() = "w1700000000000";
  wallet::clear_unspent_state();  // forgetting the session's lists keeps what was spent
  EXPECT_TRUE(wallet::is_outpoint_spent(kTxA, 1));
  wallet::load_spent_set();  // a restart: the in-memory set is gone, the file brings it back
  EXPECT_TRUE(wallet::is_outpoint_spent(kTxA, 1));

  std::ofstream(file) << R"({"outpoints":[")" << kTxB << R"(:4", 5, null, "zz:1", ")" << kTxC
                      << R"(:x", ")" << kTxC << R"(:"]})";
  wallet::load_spent_set();
  EXPECT_TRUE(wallet::is_outpoint_spent(kTxB, 4));
  EXPECT_FALSE(wallet::is_outpoint_spent(kTxA, 1));
  EXPECT_FALSE(wallet::is_outpoint_spent(kTxC, 0));
  std::ofstream(file) << "{not json";
  wallet::load_spent_set();
  EXPECT_FALSE(wallet::is_outpoint_spent(kTxB, 4));
}

// The key names files: no path separators may survive, and an unnamed wallet saves nothing.
TEST_F(UnspentTest, wallet_key_is_safe_as_a_file_name) {
  bound_id() = "../x y/" + std::string(100, 'k');
  const std::string key = wallet::wallet_key();
  EXPECT_EQ(key, "___x_y_" + std::string(73, 'k'));
  bound_id().clear();
  EXPECT_EQ(wallet::wallet_key(), "1Hg7Jm7G3DUetk4vxbAdjSf49qq3zbp8g6") << "the identity address";
  wallet::wipe_session();
  EXPECT_EQ(wallet::wallet_key(), "wallet");
  wallet::mark_outpoint_spent(kTxA, 0);
  EXPECT_FALSE(fs::exists(fs::path(data_dir()) / "ord_snap" / "wallet_spent.json"));
}

// Candidates in address order, then pending outputs; spent, 1-satoshi (maybe an inscription) and
// duplicate outputs skipped. An address beyond the receive range keeps the key it was recorded
// with.
TEST_F(UnspentTest, candidates_in_address_order_with_skip_rules) {
  const std::string identity = wallet::session().identity_address;
  const std::string recv0 = receive_address(0), recv1 = receive_address(1);
  const std::string recv5 = receive_address(5);
  EXPECT_EQ(wallet::wallet_addresses(), (std::vector<std::string>{recv0, recv1, identity}));
  add_output(recv5, kTxB, 7, 50);
  add_output(identity, kTxA, 0, 700);
  add_output(recv1, kTxB, 0, 600);
  add_output(recv0, kTxC, 0, 500);
  add_output(recv0, kTxC, 1, 1);
  add_output(recv0, kTxC, 2, 400);
  add_output(recv1, wallet::reversed_txid(kTxC), 3, 300);
  EXPECT_FALSE(wallet::add_pending_output(
      wallet::PendingOutput{wallet::reversed_txid(kTxB), 0, 600, {}, {}, hash_of(recv1)}, recv1));
  wallet::mark_outpoint_spent(kTxC, 2);
  wallet::mark_outpoint_spent(kTxC, 3);

  std::vector<wallet::SpendCandidate> out;
  int64_t total = 0;
  std::string error;
  ASSERT_TRUE(wallet::gather_spend_candidates(out, total, error)) << error;
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].txid, kTxC);
  EXPECT_EQ(out[1].txid, kTxB);
  EXPECT_EQ(out[2].txid, kTxA);
  EXPECT_EQ(out[3].vout, 7u);
  EXPECT_EQ(total, 1850);
  EXPECT_EQ(out[3].public_key_hex, wallet::session().payment_public_key);
  // Offered from the cache, the outputs are no longer pending; the skipped ones still are.
  EXPECT_FALSE(wallet::is_pending_outpoint(kTxA, 0));
  EXPECT_TRUE(wallet::is_pending_outpoint(kTxC, 1));
  // An address known only from the cache is still found as the wallet's own.
  EXPECT_EQ(wallet::address_for_hash160(hash_of(recv5)), recv5);
  wallet::wipe_candidates(out);
}

// A corrupt receive counter (the largest 32-bit value) neither loops for ever nor derives
// billions of addresses; the payment address ("show") counts however far past the cap it lies.
TEST_F(UnspentTest, receive_addresses_are_capped_but_the_payment_address_counts) {
  wallet::session().recv[1] = 0xFFFFFFFFu;
  auto addresses = wallet::wallet_addresses();
  EXPECT_EQ(addresses.size(), 1001u);
  EXPECT_EQ(addresses.back(), wallet::session().identity_address);
  wallet::session().recv[1] = 1500;
  wallet::session().show = 1200;
  ASSERT_TRUE(wallet::refresh_wallet_keys());
  ASSERT_EQ(wallet::session().payment_address, receive_address(1200));
  addresses = wallet::wallet_addresses();
  EXPECT_EQ(addresses.size(), 1002u);
  EXPECT_EQ(addresses[1000], wallet::session().payment_address);
}

// WhatsOnChain under "/woc" and GorillaPool under "/gp" of the local server.
void point_at(const LocalHttpServer& server) {
  wallet::set_network_endpoints_for_test(test_server::endpoints_for(server, "svc.unspent.test"));
}

// Whether another thread could take the session mutex right now.
bool mutex_free_elsewhere() {
  bool free = false;
  std::thread([&] {
    free = wallet::session_mutex().try_lock();
    if (free) wallet::session_mutex().unlock();
  }).join();
  return free;
}

// Largest first, one copy of an outpoint listed in both byte orders, and outputs that a mempool
// transaction already spends are gone; a hostile unconfirmed history is read a bounded way.
TEST_F(UnspentTest, sorts_dedups_and_filters_mempool_spends) {
  const std::string spender = std::string(64, 'd');
  std::string history = R"({"result":[{"tx_hash":")" + spender + R"("},{"tx_hash":"bad"})";
  for (int i = 0; i < 5000; ++i) history += R"(,{"tx_hash":")" + txid_number(i) + R"("})";
  history += "]}";
  LocalHttpServer server([&](const Request& r) -> Response {
    if (r.target == kWocAddress + "/unspent/all")
      return {200, R"({"result":[)" + item(kTxA, 0, 100) + "," + item(kTxB, 1, 900) + "," +
                       item(wallet::reversed_txid(kTxB), 1, 900) + "," + item(kTxC, 2, 500) + "]}"};
    if (r.target == kWocAddress + "/unconfirmed/history") return {200, history};
    if (r.target == "/woc/v1/bsv/main/tx/" + spender)
      return {200, R"({"vin":[{"txid":")" + wallet::reversed_txid(kTxC) + R"(","vout":2}]})"};
    return {200, "{\"vin\":17}"};
  });
  point_at(server);
  std::vector<wallet::UtxoRef> list;
  std::string error;
  bool confirmed = false;
  ASSERT_TRUE(wallet::fetch_unspent_balance_source(kAddress, list, error, confirmed)) << error;
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].value, 900);
  EXPECT_EQ(list[1].value, 100);
  EXPECT_LE(server.requests_to("/woc/v1/bsv/main/tx/").size(), 50u);
  EXPECT_EQ(wallet::fetch_address_unspent_total(kAddress), 1000);
}

// A never-used address (404 or an empty list) holds 0; an unreadable answer, or values that add
// up past what 64 bits hold (not a pot of that size, nor a negative one after wrapping), -1.
TEST_F(UnspentTest, total_of_every_kind_of_answer) {
  std::string past_64_bits = "[";
  for (int i = 0; i < 5000; ++i)
    past_64_bits += std::string(i ? "," : "") + item(txid_number(i), 0, 2100000000000000);
  past_64_bits += "]";
  const std::pair<Response, int64_t> cases[] = {{{404, "Not Found"}, 0},
                                                {{200, R"({"result":[],"error":""})"}, 0},
                                                {{200, "not json"}, -1},
                                                {{500, "<!DOCTYPE html><p>oops</p>"}, -1},
                                                {{200, past_64_bits}, -1}};
  for (const auto& [answer, total] : cases) {
    LocalHttpServer server([&answer = answer](const Request&) { return answer; });
    point_at(server);
    EXPECT_EQ(wallet::fetch_address_unspent_total(kAddress), total) << answer.body.substr(0, 40);
  }
}

// Every page is read by the token the one before named; a token seen before ends the walk, and a
// page that cannot be read fails the list instead of leaving part of it.
TEST_F(UnspentTest, follows_next_page_tokens_and_refuses_a_broken_page) {
  std::atomic<bool> second_page_fails{false};
  LocalHttpServer server([&](const Request& r) -> Response {
    const std::string all = kWocAddress + "/unspent/all";
    if (r.target == all)
      return {200, R"({"result":[)" + item(kTxA, 0, 100) + R"(],"nextPageToken":"a+b/="})"};
    if (r.target == all + "?token=a%2Bb%2F%3D")
      return second_page_fails ? Response{500, "<html>busy</html>"}
                               : Response{200, R"({"result":[)" + item(kTxB, 1, 200) +
                                                   R"(],"nextPageToken":"c"})"};
    if (r.target == all + "?token=c")  // names the first page's token again: a loop
      return {200, R"({"result":[)" + item(kTxC, 2, 300) + R"(],"nextPageToken":"a+b/="})"};
    if (r.target == kWocAddress + "/unspent") return {200, "[" + item(kTxA, 0, 100) + "]"};
    return {404, "Not Found"};
  });
  point_at(server);
  EXPECT_EQ(wallet::fetch_address_unspent_total(kAddress), 600);
  EXPECT_EQ(server.requests_to(kWocAddress + "/unspent/all").size(), 3u);
  second_page_fails = true;
  EXPECT_EQ(wallet::fetch_address_unspent_total(kAddress), 100) << "the older lists stand in";
}

// A payment holds the session mutex (several levels deep); other workers must not wait for the
// network meanwhile. A failed read is asked again rather than taken as an empty wallet.
TEST_F(UnspentTest, requests_run_with_the_session_mutex_released) {
  std::atomic<int> free_during_request{0}, requests{0};
  std::atomic<bool> healthy{false};
  LocalHttpServer server([&](const Request& r) -> Response {
    ++requests;
    if (mutex_free_elsewhere()) ++free_during_request;
    if (!healthy) return {500, "<html>busy</html>"};
    if (r.target.find("/unspent/all") != std::string::npos)
      return {200, R"({"result":[)" + item(kTxA, 0, 700) + "]}"};
    return {404, ""};
  });
  point_at(server);
  std::lock_guard<std::recursive_mutex> outer(wallet::session_mutex());
  std::lock_guard<std::recursive_mutex> inner(wallet::session_mutex());
  std::string error;
  ASSERT_TRUE(wallet::ensure_fresh_unspent(error)) << "failures per address are not fatal";
  EXPECT_EQ(wallet::wallet_balance(), -1);
  healthy = true;
  ASSERT_TRUE(wallet::ensure_fresh_unspent(error)) << error;
  EXPECT_GT(requests.load(), 0);
  EXPECT_EQ(free_during_request.load(), requests.load());
  EXPECT_FALSE(mutex_free_elsewhere()) << "the caller's hold was not restored";
  EXPECT_EQ(wallet::wallet_balance(), 700) << "three addresses listing one output, counted once";
  const int before = requests.load();
  ASSERT_TRUE(wallet::ensure_fresh_unspent(error));
  EXPECT_EQ(requests.load(), before);
}

// After a refusal for missing inputs GorillaPool's listing joins the cache; an empty listing must
// not drop the change of our own last payment.
TEST_F(UnspentTest, spendable_refresh_merges_the_ordinals_listing) {
  const std::string pay = wallet::session().payment_address;
  std::atomic<bool> ordinals_lists_outputs{true};
  LocalHttpServer server([&](const Request& r) -> Response {
    if (r.target == "/woc/v1/bsv/main/address/" + pay + "/unspent/all")
      return {200, "[" + item(kTxA, 0, 1000) + "]"};
    if (r.target == "/gp/txos/address/" + pay + "/unspent" && ordinals_lists_outputs)
      return {200, R"([{"txid":")" + kTxB + R"(","vout":0,"satoshis":2000},
                       {"txid":")" +
                       kTxC + R"(","vout":0,"satoshis":3000},
                       {"txid":")" +
                       kTxC + R"(","vout":1,"satoshis":1}])"};
    return {200, "[]"};
  });
  point_at(server);
  std::string error;
  ASSERT_TRUE(wallet::ensure_fresh_unspent(error)) << error;
  add_output(pay, std::string(64, 'e'), 2, 400);  // change of our own last payment
  wallet::mark_outpoint_spent(kTxC, 0);
  EXPECT_EQ(wallet::wallet_balance(), 1400);
  ordinals_lists_outputs = false;
  wallet::refresh_spendable();
  EXPECT_TRUE(wallet::is_pending_outpoint(std::string(64, 'e'), 2));
  ordinals_lists_outputs = true;
  wallet::refresh_spendable();
  EXPECT_EQ(wallet::wallet_balance(), 3400);  // 2000 new + 1000 kept + 400 change
  EXPECT_FALSE(wallet::is_pending_outpoint(std::string(64, 'e'), 2));
}

}  // namespace
