// Broadcast: the answer readers, and the three routes (own submission, WhatsOnChain, ARC) against
// a local stand-in, unclear answers settled by asking whether the network knows the transaction.
#include "wallet/broadcast.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>

#include "mangle.h"
#include "wallet/encoding.h"
#include "wallet/http_test_seam.h"
#include "wallet/local_http_server.h"
#include "wallet/ow_korb_wallet.h"
#include "wallet/random_seed.h"
#include "wallet/transaction.h"

namespace {

using test_server::LocalHttpServer;
using test_server::Request;
using test_server::Response;

const std::string kTxid = "4a5e1e4baab89f3a32518a88c31bc87f618f76673e2cc77ab2127b7afdeda33b";
const std::string kDash = "\xE2\x80\x93";

// The own service refuses only with an explicit "ok": false; a txid is read from a bare, quoted
// or wrapped answer, but only a whole one.
TEST(broadcast_readers, own_answer_and_txid_forms) {
  EXPECT_FALSE(wallet::own_submission_accepted(R"({"ok":false,"error":"bad tx"})"));
  for (const char* accepted : {R"({"ok":"false"})", "accepted", "[false]", ""})
    EXPECT_TRUE(wallet::own_submission_accepted(accepted)) << accepted;
  std::string upper = kTxid;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const std::string& answer :
       {kTxid, " \n\"" + kTxid + "\" \r\n", upper, R"({"txid":")" + kTxid + "\"}",
        R"(  "\u0034)" + kTxid.substr(1) + "\""})
    EXPECT_EQ(wallet::read_broadcast_txid(answer), kTxid) << answer;
  for (const std::string& answer :
       {std::string(R"({"txid":5})"), kTxid.substr(1), kTxid + "0", "\t" + kTxid, std::string()})
    EXPECT_EQ(wallet::read_broadcast_txid(answer), "") << answer;
  EXPECT_TRUE(wallet::is_missing_inputs("16: bad-txns-inputs-missingorspent"));
  EXPECT_TRUE(wallet::is_missing_inputs("arc: missing inputs"));
  EXPECT_FALSE(wallet::is_missing_inputs("258: txn-mempool-conflict"));
}

// Only statuses that say the network has the transaction, or that ARC keeps sending it, are a
// success: any other would let a payment count that never reaches the chain.
TEST(broadcast_readers, arc_answers) {
  std::string error;
  for (const std::string taken :
       {"STORED", "ANNOUNCED_TO_NETWORK", "REQUESTED_BY_NETWORK", "SENT_TO_NETWORK",
        "ACCEPTED_BY_NETWORK", "SEEN_ON_NETWORK", "MINED"})
    EXPECT_TRUE(wallet::read_arc_answer(R"({"txStatus":")" + taken + "\"}", kTxid, error));
  const std::string unknown =
      "ARC answered an unknown status: not a status that says the network has it";
  const std::pair<std::string, std::string> refused[] = {
      {R"({"txStatus":"SEEN_IN_ORPHAN_MEMPOOL"})",
       "ARC answered SEEN_IN_ORPHAN_MEMPOOL: its inputs are unknown or already spent"},
      {R"({"txStatus":"MINED_IN_STALE_BLOCK"})",
       "ARC answered MINED_IN_STALE_BLOCK: only a block off the longest chain holds it"},
      {R"({"txStatus":"DOUBLE_SPEND_ATTEMPTED","extraInfo":"competing tx"})",
       "ARC answered DOUBLE_SPEND_ATTEMPTED: another transaction already spends its inputs "
       "(competing tx)"},
      {R"({"txStatus":"QUEUED"})",
       "ARC answered QUEUED: ARC has not stored it, so nothing will send it"},
      {R"({"txStatus":"seen <b>"})", unknown},
      {R"({"txStatus":"STORED","extraInfo":"arc error 462: missing inputs"})",
       "ARC answered STORED: its inputs are unknown or already spent (arc error 462: missing "
       "inputs)"},
      {"", "bad arc response"},
      {"gateway exploded", "gateway exploded"},
  };
  for (const auto& [answer, text] : refused) {
    EXPECT_FALSE(wallet::read_arc_answer(answer, kTxid, error)) << answer;
    EXPECT_EQ(error, text);
  }
  EXPECT_FALSE(wallet::read_arc_answer(R"({"txStatus":"STORED","txid":"zz"})", "", error));
  EXPECT_EQ(error, "arc did not return a txid");
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

// A scripted stand-in for the three services: each route answers with what the test set, and
// the "known" check answers yes only when the test says the network has the transaction.
class BroadcastTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<LocalHttpServer>([this](const Request& r) { return answer(r); });
    wallet::set_network_endpoints_for_test(
        test_server::endpoints_for(*server_, "svc.broadcast.test"));
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    wallet::clear_unspent_state();
  }
  void TearDown() override {
    EXPECT_TRUE(wallet::wait_for_background_sends(std::chrono::seconds(10)));
    server_.reset();
    wallet::clear_network_endpoints_for_test();
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    wallet::clear_unspent_state();
  }

  Response answer(const Request& r) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (r.target == "/oi/submit") return own_;
    if (r.target == "/woc/v1/bsv/main/tx/raw") return woc_;
    if (r.target == "/arc/v1/tx") return arc_;
    if (known_ && r.target == "/woc/v1/bsv/main/tx/" + txid() + "/hex")
      return {200, std::string(100, 'f')};
    return {404, "Not Found"};
  }

  // A fresh outpoint for every broadcast: the spent set lives as long as the process.
  void next_input() {
    static int count = 0;
    char suffix[3];
    std::snprintf(suffix, sizeof suffix, "%02x", ++count & 0xff);
    input_.txid = std::string(62, 'a') + suffix;
    input_.vout = 2;
    input_.value = 1000;
    input_.unlocking_script = wallet::Bytes(10, 0x51);
  }

  std::string broadcast() {
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    std::string sent;
    return wallet::broadcast_transaction({input_}, outputs_, sent);
  }

  std::string txid() const {
    return wallet::transaction_txid(wallet::serialize_transaction({input_}, outputs_, false));
  }

  std::mutex mutex_;
  Response own_, woc_, arc_;
  bool known_ = false;
  std::unique_ptr<LocalHttpServer> server_;
  wallet::SpendCandidate input_;
  const std::vector<wallet::TxOutput> outputs_{{900, wallet::Bytes{0x51}}};
};

// An answer without our txid, or "already have it", is a success only when the network shows the
// transaction; missing inputs at WhatsOnChain go to ARC.
TEST_F(BroadcastTest, routes_and_answers) {
  const std::string unconfirmed =
      "error: broadcast did not confirm. Wait a few seconds and try again.";
  const std::string missing = "unexpected response code 500: Missing inputs";
  const Response down{503, "down"};
  const struct {
    Response own, woc, arc;
    bool known;
    std::string failure;  // "" for a success
  } cases[] = {
      {{200, "ok"}, down, down, false, ""},
      {{200, R"({"ok":false})"}, {200, "\"TXID\"\n"}, down, false, ""},
      {down, {200, "queued"}, down, false, unconfirmed},
      {down, {200, "queued"}, down, true, ""},
      {down, {200, kTxid}, down, false, unconfirmed},
      {down,
       {400, "257: txn-already-known"},
       down,
       false,
       "error: broadcast failed: HTTP 400 " + kDash + " 257: txn-already-known"},
      {down, {400, "257: txn-already-known"}, down, true, ""},
      {down,
       {400, missing},
       {200, R"({"txStatus":"SEEN_IN_ORPHAN_MEMPOOL"})"},
       false,
       std::string(wallet::kArcRefusal) +
           "SEEN_IN_ORPHAN_MEMPOOL: its inputs are unknown or already spent"},
      {down,
       {400, missing},
       {503, "<html>down</html>"},
       false,
       "error: broadcast failed: HTTP 400 " + kDash + " " + missing},
      {down, {400, missing}, {200, R"({"txStatus":"ANNOUNCED_TO_NETWORK"})"}, false, ""},
      {down,
       {429, "Rate limit exceeded"},
       down,
       false,
       std::string("error: broadcast failed: ") + wallet::kRateLimitText},
  };
  for (const auto& c : cases) {
    next_input();
    SCOPED_TRACE(c.own.body + " / " + c.woc.body + " / " + c.arc.body);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      own_ = c.own;
      woc_ = c.woc;
      if (woc_.body == "\"TXID\"\n") woc_.body = "\"" + txid() + "\"\n";
      arc_ = c.arc;
      known_ = c.known;
    }
    const std::string result = broadcast();
    EXPECT_EQ(result, c.failure.empty() ? "success: " + txid() : c.failure);
    EXPECT_EQ(wallet::is_outpoint_spent(input_.txid, input_.vout), c.failure.empty());
    EXPECT_EQ(wallet::last_broadcast_txid(), c.failure.empty() ? txid() : "");
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    wallet::clear_unspent_state();
  }
  // The last case: a rate limit on WhatsOnChain is tried twice and not passed to ARC.
  const std::string last =
      wallet::hex_encode(wallet::serialize_transaction({input_}, outputs_, false));
  const auto sent_to = [&](const std::string& route) {
    int count = 0;
    for (const Request& r : server_->requests_to(route))
      count += r.body.find(last) != std::string::npos;
    return count;
  };
  EXPECT_EQ(sent_to("/woc/v1/bsv/main/tx/raw"), 2);
  EXPECT_EQ(sent_to("/arc/v1/tx"), 0);
}

}  // namespace
