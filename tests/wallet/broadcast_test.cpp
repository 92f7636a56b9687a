// Broadcast: the answer readers on everything a service might send back, and the three routes
// (own submission with its mirror, WhatsOnChain, ARC) against a local stand-in, including the
// unclear answers that are settled by asking whether the network knows the transaction. The routes
// against the real devnet run with every arcade payment (arcade_payments_test).
#include "wallet/broadcast.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>

#include "mangle.h"
#include "wallet/encoding.h"
#include "wallet/http_test_seam.h"
#include "wallet/keys.h"
#include "wallet/local_http_server.h"
#include "wallet/ow_korb_wallet.h"
#include "wallet/random_seed.h"

namespace {

using nlohmann::json;
using test_server::LocalHttpServer;
using test_server::Request;
using test_server::Response;

const std::string kTxid = "4a5e1e4baab89f3a32518a88c31bc87f618f76673e2cc77ab2127b7afdeda33b";
const std::string kDash = "\xE2\x80\x93";

// ---- Readers -------------------------------------------------------------------------------

TEST(broadcast_readers, own_submission_refuses_only_an_explicit_ok_false) {
  EXPECT_FALSE(wallet::own_submission_accepted(R"({"ok":false,"error":"bad tx"})"));
  EXPECT_TRUE(wallet::own_submission_accepted(R"({"ok":true})"));
  EXPECT_TRUE(wallet::own_submission_accepted(R"({"ok":"false"})"));
  EXPECT_TRUE(wallet::own_submission_accepted(R"({"txid":"ab"})"));
  EXPECT_TRUE(wallet::own_submission_accepted("accepted"));
  EXPECT_TRUE(wallet::own_submission_accepted("[false]"));
  EXPECT_TRUE(wallet::own_submission_accepted(""));
}

TEST(broadcast_readers, txid_in_every_answer_form) {
  EXPECT_EQ(wallet::read_broadcast_txid(kTxid), kTxid);
  EXPECT_EQ(wallet::read_broadcast_txid("\"" + kTxid + "\"\n"), kTxid);
  EXPECT_EQ(wallet::read_broadcast_txid(" \n\"" + kTxid + "\" \r\n"), kTxid);
  std::string upper = kTxid;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(wallet::read_broadcast_txid(upper), kTxid);
  EXPECT_EQ(wallet::read_broadcast_txid(R"({"txid":")" + kTxid + "\"}"), kTxid);
  EXPECT_EQ(wallet::read_broadcast_txid(R"(  "\u0034)" + kTxid.substr(1) + "\""), kTxid);
  EXPECT_EQ(wallet::read_broadcast_txid(R"({"txid":5})"), "");
  EXPECT_EQ(wallet::read_broadcast_txid(kTxid.substr(1)), "");
  EXPECT_EQ(wallet::read_broadcast_txid(kTxid + "0"), "");
  EXPECT_EQ(wallet::read_broadcast_txid("\t" + kTxid), "") << "a tab is not stripped";
  EXPECT_EQ(wallet::read_broadcast_txid(""), "");
}

// Only the statuses ARC documents for a transaction the network has, or that ARC has stored and
// keeps sending, are a success; the rest, and any status it does not document, fail with words a
// player can read, the answer's extraInfo (cut short) after them.
TEST(broadcast_readers, arc_answers) {
  std::string error;
  for (const std::string taken :
       {"STORED", "ANNOUNCED_TO_NETWORK", "REQUESTED_BY_NETWORK", "SENT_TO_NETWORK",
        "ACCEPTED_BY_NETWORK", "SEEN_ON_NETWORK", "MINED"})
    EXPECT_TRUE(wallet::read_arc_answer(R"({"txStatus":")" + taken + "\"}", kTxid, error));
  const std::string unknown =
      "ARC answered an unknown status: not a status that says the network "
      "has it";
  const std::pair<std::string, std::string> refused[] = {
      {R"({"txStatus":"SEEN_IN_ORPHAN_MEMPOOL"})",
       "ARC answered SEEN_IN_ORPHAN_MEMPOOL: its inputs are unknown or already spent"},
      {R"({"txStatus":"MINED_IN_STALE_BLOCK"})",
       "ARC answered MINED_IN_STALE_BLOCK: only a block off the longest chain holds it"},
      {R"({"txStatus":"DOUBLE_SPEND_ATTEMPTED","extraInfo":"competing tx"})",
       "ARC answered DOUBLE_SPEND_ATTEMPTED: another transaction already spends its inputs "
       "(competing tx)"},
      {R"({"txStatus":"QUEUED"})",
       "ARC answered QUEUED: ARC has not stored it, so nothing will "
       "send it"},
      {R"({"txStatus":"seen <b>"})", unknown},
      {R"([1,2,3])", unknown},
      {R"({"txStatus":"STORED","extraInfo":"arc error 462: missing inputs"})",
       "ARC answered STORED: its inputs are unknown or already spent (arc error 462: missing "
       "inputs)"},
  };
  for (const auto& [answer, text] : refused) {
    EXPECT_FALSE(wallet::read_arc_answer(answer, kTxid, error)) << answer;
    EXPECT_EQ(error, text);
  }
  EXPECT_FALSE(wallet::read_arc_answer(
      R"({"txStatus":"REJECTED","extraInfo":")" + std::string(500, 'e') + "\"}", kTxid, error));
  EXPECT_LT(error.size(), 200u) << "a long extraInfo is cut";
  EXPECT_FALSE(wallet::read_arc_answer(R"({"txStatus":"STORED","txid":"zz"})", "", error));
  EXPECT_EQ(error, "arc did not return a txid");
  EXPECT_FALSE(wallet::read_arc_answer("", kTxid, error));
  EXPECT_EQ(error, "bad arc response");
  EXPECT_FALSE(wallet::read_arc_answer("gateway exploded", kTxid, error));
  EXPECT_EQ(error, "gateway exploded");
  EXPECT_FALSE(wallet::read_arc_answer(std::string(5000, '<'), kTxid, error));
  EXPECT_EQ(error.size(), 120u) << "a page is not shown whole";
}

// Whatever a service sends, the readers return without a crash or a throw, and a txid they
// report is always 64 lowercase hex characters.
TEST(broadcast_readers, survive_hostile_answers) {
  SCOPED_TRACE(wallet_test::seed_note());
  std::mt19937 random(static_cast<unsigned>(wallet_test::test_seed()));
  const std::vector<std::string> seeds = {
      R"({"ok":false})",
      R"({"txid":")" + kTxid + "\"}",
      "\"" + kTxid + "\"\n",
      R"({"txStatus":"REJECTED","extraInfo":"Missing inputs","txid":")" + kTxid + "\"}",
      R"({"blockHash":"","extraInfo":"","status":200,"txStatus":"SEEN_ON_NETWORK"})",
      std::string("\0\xff\xfe{", 4),
  };
  for (int round = 0; round < 4000; ++round) {
    std::string text = seeds[random() % seeds.size()];
    test_mangle::mangle(text, random, "{}[]\":,0123456789abcdefABCDEF txidokfalse\\\n\x80\xff");
    (void)wallet::own_submission_accepted(text);
    const std::string txid = wallet::read_broadcast_txid(text);
    if (!txid.empty()) {
      EXPECT_EQ(txid.size(), 64u);
      EXPECT_EQ(txid.find_first_not_of("0123456789abcdef"), std::string::npos);
    }
    std::string error;
    if (!wallet::read_arc_answer(text, kTxid, error)) {
      EXPECT_FALSE(error.empty());
    }
    (void)wallet::is_missing_inputs(text);
  }
  // Deep nesting and a huge member, once each (the parser must neither recurse to death nor trust
  // the size).
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const std::string huge = "{\"txid\":\"" + std::string(1 << 20, 'a') + "\"}";
  for (const std::string& text : {deep, huge}) {
    EXPECT_TRUE(wallet::own_submission_accepted(text));
    EXPECT_EQ(wallet::read_broadcast_txid(text), "");
    std::string error;
    EXPECT_FALSE(wallet::read_arc_answer(text, kTxid, error));
    EXPECT_FALSE(error.empty());
  }
}

// A body within the size limit can still hold more nesting than memory allows: the readers must
// answer as for any unreadable body instead of letting the allocation failure end the program.
[[noreturn]] void read_too_deep_body_with_little_memory() {
  const rlimit limit{512u << 20, 512u << 20};
  setrlimit(RLIMIT_AS, &limit);
  const std::string deep(24u << 20, '[');
  std::string error;
  const bool ok = wallet::own_submission_accepted(deep) &&
                  wallet::read_broadcast_txid(deep).empty() &&
                  !wallet::read_arc_answer(deep, kTxid, error) && !error.empty();
  std::_Exit(ok ? 0 : 1);
}

TEST(broadcast_readers, a_body_too_deep_for_memory_is_unreadable_not_fatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(read_too_deep_body_with_little_memory(), ::testing::ExitedWithCode(0), "");
}

TEST(broadcast_readers, missing_inputs_texts) {
  EXPECT_TRUE(wallet::is_missing_inputs("unexpected response code 500: Missing inputs"));
  EXPECT_TRUE(wallet::is_missing_inputs("arc: missing inputs"));
  EXPECT_TRUE(wallet::is_missing_inputs("16: bad-txns-inputs-missingorspent"));
  EXPECT_FALSE(wallet::is_missing_inputs("MISSING INPUTS"));
  EXPECT_FALSE(wallet::is_missing_inputs("258: txn-mempool-conflict"));
}

// ---- Routes --------------------------------------------------------------------------------

// A scripted stand-in for the three services: each route answers with what the test set, and
// the "known" check answers from the set of transactions the test says the network has.
class BroadcastTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<LocalHttpServer>([this](const Request& r) { return answer(r); });
    wallet::set_network_endpoints_for_test(
        test_server::endpoints_for(*server_, "svc.broadcast.test"));
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    wallet::clear_unspent_state();

    // A fresh outpoint for every test: the spent set lives as long as the process.
    static int next_input = 0;
    char suffix[3];
    std::snprintf(suffix, sizeof suffix, "%02x", ++next_input & 0xff);
    input_.txid = std::string(62, 'a') + suffix;
    input_.vout = 2;
    input_.value = 1000;
    input_.unlocking_script = wallet::Bytes(10, 0x51);
    outputs_ = {{900, wallet::Bytes{0x51}}};
  }

  void TearDown() override {
    server_.reset();
    wallet::clear_network_endpoints_for_test();
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    wallet::clear_unspent_state();
  }

  Response answer(const Request& r) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string woc = "/woc/v1/bsv/main";
    if (r.target == "/oi/submit") return own_;
    if (r.target == woc + "/tx/raw") return woc_.empty() ? Response{200, ""} : take(woc_);
    if (r.target == "/arc/v1/tx") return arc_;
    for (const std::string& txid : known_) {
      if (r.target == woc + "/tx/" + txid + "/hex") return {200, std::string(100, 'f')};
    }
    return {404, "Not Found"};
  }

  static Response take(std::vector<Response>& queue) {
    Response next = queue.front();
    if (queue.size() > 1) queue.erase(queue.begin());
    return next;
  }

  std::string broadcast() {
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    return wallet::broadcast_transaction({input_}, outputs_, txid_);
  }

  std::string expected_txid() const {
    return wallet::transaction_txid(wallet::serialize_transaction({input_}, outputs_, false));
  }

  void set_known() {
    std::lock_guard<std::mutex> lock(mutex_);
    known_.push_back(expected_txid());
  }

  std::mutex mutex_;
  Response own_{503, "down"};
  std::vector<Response> woc_;
  Response arc_{500, "no arc"};
  std::vector<std::string> known_;
  std::unique_ptr<LocalHttpServer> server_;
  wallet::SpendCandidate input_;
  std::vector<wallet::TxOutput> outputs_;
  std::string txid_;
};

// The own service taking the transaction is enough; WhatsOnChain gets a copy on the side, and
// the transaction is recorded as sent.
TEST_F(BroadcastTest, own_submission_success_is_mirrored) {
  own_ = {200, "ok"};
  EXPECT_EQ(broadcast(), "success: " + expected_txid());
  EXPECT_EQ(txid_, expected_txid());
  const auto own = server_->requests_to("/oi/submit");
  ASSERT_EQ(own.size(), 1u);
  EXPECT_EQ(own[0].host, "svc.broadcast.test:" + std::to_string(server_->port()));
  const json body = json::parse(own[0].body, nullptr, false);
  ASSERT_TRUE(body.is_object());
  EXPECT_EQ(body.size(), 1u);
  EXPECT_EQ(wallet::transaction_txid(wallet::hex_decode(body.value("txhex", ""))), txid_);
  for (int i = 0; i < 100 && server_->requests_to("/woc/").empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(server_->requests_to("/woc/v1/bsv/main/tx/raw").size(), 1u);
  EXPECT_EQ(server_->requests_to("/woc/v1/bsv/main/tx/raw")[0].body, own[0].body);
  EXPECT_EQ(wallet::last_broadcast_txid(), txid_);
  EXPECT_EQ(wallet::last_sent_txid(), txid_);
  EXPECT_TRUE(wallet::is_outpoint_spent(input_.txid, input_.vout));
}

// An explicit refusal from the own service falls through to WhatsOnChain, whose quoted answer
// names the transaction.
TEST_F(BroadcastTest, own_refusal_falls_through_to_whatsonchain) {
  own_ = {200, R"({"ok":false})"};
  woc_ = {{200, "\"" + expected_txid() + "\"\n"}};
  EXPECT_EQ(broadcast(), "success: " + expected_txid());
  EXPECT_EQ(server_->requests_to("/woc/v1/bsv/main/tx/raw").size(), 1u);
}

// A 2xx without a txid is not a success until the network shows the transaction.
TEST_F(BroadcastTest, unclear_acceptance_is_settled_by_the_known_check) {
  woc_ = {{200, "queued"}};
  EXPECT_EQ(broadcast(), "error: broadcast did not confirm. Wait a few seconds and try again.");
  EXPECT_FALSE(wallet::is_outpoint_spent(input_.txid, input_.vout));
  set_known();
  EXPECT_EQ(broadcast(), "success: " + expected_txid());
  EXPECT_TRUE(wallet::is_outpoint_spent(input_.txid, input_.vout));
}

// A txid in the answer that is not ours must not be recorded as our transaction.
TEST_F(BroadcastTest, a_foreign_txid_in_the_answer_is_not_trusted) {
  woc_ = {{200, kTxid}};
  EXPECT_EQ(broadcast(), "error: broadcast did not confirm. Wait a few seconds and try again.");
  EXPECT_NE(wallet::last_sent_txid(), kTxid);
}

// "Already have it" is a success only when the network really has it.
TEST_F(BroadcastTest, already_known_answers) {
  woc_ = {{400, "257: txn-already-known"}};
  EXPECT_EQ(broadcast(), "error: broadcast failed: HTTP 400 " + kDash + " 257: txn-already-known");
  set_known();
  EXPECT_EQ(broadcast(), "success: " + expected_txid());
}

// Missing inputs at WhatsOnChain go to ARC. A status ARC names decides, and a refusal is shown in
// ARC's words with nothing recorded; when ARC cannot be asked, WhatsOnChain's error stands.
TEST_F(BroadcastTest, missing_inputs_go_to_arc) {
  woc_ = {{400, "unexpected response code 500: Missing inputs"}};
  arc_ = {200, R"({"txStatus":"SEEN_IN_ORPHAN_MEMPOOL"})"};
  EXPECT_EQ(broadcast(), std::string(wallet::kArcRefusal) +
                             "SEEN_IN_ORPHAN_MEMPOOL: its inputs are unknown or already spent");
  EXPECT_FALSE(wallet::is_outpoint_spent(input_.txid, input_.vout));
  EXPECT_TRUE(wallet::last_broadcast_txid().empty());
  const auto arc = server_->requests_to("/arc/v1/tx");
  ASSERT_EQ(arc.size(), 1u);
  const json body = json::parse(arc[0].body, nullptr, false);
  EXPECT_TRUE(body.contains("rawTx"));
  arc_ = {503, "<html>down</html>"};
  EXPECT_EQ(broadcast(), "error: broadcast failed: HTTP 400 " + kDash +
                             " unexpected response code 500: Missing inputs");
  arc_ = {200, R"({"txStatus":"ANNOUNCED_TO_NETWORK"})"};
  EXPECT_EQ(broadcast(), "success: " + expected_txid());
}

// A rate limit on WhatsOnChain is reported in the broadcast failure text after its two tries.
TEST_F(BroadcastTest, rate_limit_is_reported) {
  woc_ = {{429, "Rate limit exceeded"}};
  EXPECT_EQ(broadcast(), std::string("error: broadcast failed: ") + wallet::kRateLimitText);
  EXPECT_EQ(server_->requests_to("/woc/v1/bsv/main/tx/raw").size(), 2u);
  EXPECT_TRUE(server_->requests_to("/arc").empty());
}

TEST_F(BroadcastTest, unserializable_transaction_sends_nothing) {
  input_.txid = "bad";
  EXPECT_EQ(broadcast(), "error: serialize failed.");
  EXPECT_TRUE(server_->requests().empty());
  EXPECT_FALSE(wallet::is_tx_known("bad"));
}

}  // namespace
