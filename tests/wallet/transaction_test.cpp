// Transactions, and the retry rules of send_outputs against a local stand-in. That the signatures
// verify is checked by the devnet's independent implementation with every arcade payment.
#include "wallet/transaction.h"

#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <random>

#include "wallet/encoding.h"
#include "wallet/hd_session.h"
#include "wallet/http_test_seam.h"
#include "wallet/local_http_server.h"
#include "wallet/ow_korb_wallet.h"
#include "wallet/random_seed.h"

namespace {

using nlohmann::json;
using test_server::LocalHttpServer;
using test_server::Request;
using test_server::Response;
using wallet::Bytes;
using wallet::SpendCandidate;
using wallet::TxOutput;

Bytes hex(const std::string& text) {
  return wallet::hex_decode(text);
}

std::string txid_of(char digit) {
  return std::string(64, digit);
}

SpendCandidate candidate(const std::string& txid, uint32_t vout, int64_t value) {
  SpendCandidate c;
  c.txid = txid;
  c.vout = vout;
  c.value = value;
  return c;
}

wallet::Hash160 some_hash(unsigned char fill) {
  wallet::Hash160 hash{};
  hash.fill(fill);
  return hash;
}

// The node's own vectors: every row with the fork-id bit must give the node's digest, or every
// signature we make is refused by the network. Rows that also carry 0x20 are signed by the node's
// original algorithm (their expected hash equals the one without fork id); the digest refuses them.
TEST(signature_hash, matches_the_node_vectors_for_every_forkid_row) {
  std::ifstream file(std::string(OSTAKKA_TEST_DATA) + "/sighash.json");
  ASSERT_TRUE(file) << "tests/data/sighash.json";
  const json rows = json::parse(file, nullptr, false);
  ASSERT_TRUE(rows.is_array());
  int checked = 0;
  int original = 0;
  for (const json& row : rows) {
    if (row.size() != 6) continue;  // comment rows
    const auto type = static_cast<uint32_t>(row[3].get<int64_t>());
    if ((type & 0x40) == 0) continue;
    const Bytes raw = hex(row[0].get<std::string>());
    wallet::Transaction tx;
    ASSERT_TRUE(wallet::parse_transaction(raw, tx)) << row[0];
    EXPECT_EQ(wallet::serialize_transaction(tx), raw) << "round trip of " << row[0];
    wallet::Digest32 digest{};
    if ((type & 0x20) != 0) {
      EXPECT_EQ(row[4], row[5]);
      EXPECT_FALSE(wallet::signature_hash_forkid(tx, row[2].get<std::size_t>(),
                                                 hex(row[1].get<std::string>()), 0, type, digest));
      ++original;
      continue;
    }
    ASSERT_TRUE(wallet::signature_hash_forkid(tx, row[2].get<std::size_t>(),
                                              hex(row[1].get<std::string>()), 0, type, digest));
    std::reverse(digest.begin(), digest.end());
    EXPECT_EQ(wallet::hex_encode(digest.data(), digest.size()), row[4].get<std::string>())
        << "row " << checked << " type " << type;
    ++checked;
  }
  EXPECT_EQ(checked, 254);
  EXPECT_EQ(original, 260);
  wallet::Transaction empty;
  wallet::Digest32 digest{};
  EXPECT_FALSE(wallet::signature_hash_forkid(empty, 0, {}, 0, 0x41, digest));
}

// Raw transactions come from the network: damage is refused without a crash or a huge allocation,
// whatever parses serializes back to exactly what was read, and only the txid asked for is taken.
TEST(serialization, readers_refuse_malformed_transactions) {
  SCOPED_TRACE(wallet_test::seed_note());
  std::mt19937 random(static_cast<unsigned>(wallet_test::test_seed()));
  const Bytes data = wallet::data_script(std::string(300, 'r'));
  std::vector<SpendCandidate> inputs{candidate(txid_of('c'), 1, 5)};
  inputs[0].unlocking_script = Bytes(70, 0x33);
  const Bytes raw = wallet::serialize_transaction(inputs, {{7, Bytes{0x51}}, {0, data}}, false);
  wallet::Transaction tx;
  for (std::size_t cut = 0; cut < raw.size(); ++cut)
    EXPECT_FALSE(wallet::parse_transaction(Bytes(raw.begin(), raw.begin() + cut), tx)) << cut;
  Bytes longer = raw;
  longer.push_back(0);
  EXPECT_FALSE(wallet::parse_transaction(longer, tx));
  EXPECT_FALSE(wallet::parse_transaction(hex("01000000ffffffffffffffffff"), tx));
  EXPECT_FALSE(wallet::parse_transaction(hex("01000000fe00000001"), tx));

  const std::string text = wallet::hex_encode(raw), txid = wallet::transaction_txid(raw);
  Bytes script;
  EXPECT_TRUE(wallet::raw_output_script(" \"" + text + "\"\r\n", txid, 1, script));
  EXPECT_EQ(script, data);
  EXPECT_FALSE(wallet::raw_output_script(text, txid, 2, script));
  EXPECT_FALSE(wallet::raw_output_script(text, txid_of('e'), 1, script)) << "another txid";
  for (int round = 0; round < 3000; ++round) {
    Bytes noise = raw;
    for (int i = 1 + random() % 4; i > 0; --i) noise[random() % noise.size()] = random() & 0xff;
    if (wallet::parse_transaction(noise, tx)) {
      EXPECT_EQ(wallet::serialize_transaction(tx), noise);
    }
    std::string noisy_text = text;
    for (int i = 1 + random() % 4; i > 0; --i)
      noisy_text[random() % noisy_text.size()] = "0123456789abcdefAF \"z"[random() % 20];
    if (random() % 4 == 0) noisy_text.resize(random() % noisy_text.size());
    EXPECT_EQ(wallet::parse_transaction_hex(noisy_text, txid, tx),
              wallet::hex_decode(noisy_text) == raw);
  }
}

// The push opcode changes at 76, 256 and 65536 bytes; a reader of the board finds the payload by
// this rule, so every boundary matters.
TEST(scripts, data_pushes_at_each_boundary) {
  const struct {
    std::size_t size;
    std::string prefix;
  } cases[] = {{0, "006a00"},       {75, "006a4b"},        {76, "006a4c4c"},
               {80, "006a4c50"},    {255, "006a4cff"},     {256, "006a4d0001"},
               {300, "006a4d2c01"}, {65535, "006a4dffff"}, {65536, "006a4e00000100"}};
  for (const auto& c : cases) {
    const Bytes payload(c.size, 0xab);
    const Bytes script = wallet::data_script(payload);
    const std::string text = wallet::hex_encode(script);
    EXPECT_EQ(text.substr(0, c.prefix.size()), c.prefix) << c.size;
    EXPECT_EQ(script.size(), c.prefix.size() / 2 + c.size) << c.size;
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), script.end() - c.size));
  }
}

class BuildTest : public ::testing::Test {
 protected:
  std::vector<TxOutput> entry_outputs() const {
    return {{2000, wallet::p2pkh_script(some_hash(1))}, {3000, wallet::p2pkh_script(some_hash(2))}};
  }
  wallet::Hash160 change_ = some_hash(9);
  std::vector<TxOutput> outputs_;
  int64_t fee_ = -1;
  std::string error_;
};

// Candidates in their order until they cover outputs and a fee of 1 satoshi per estimated byte;
// a remainder too small for change goes to the fee instead of failing as "insufficient".
TEST_F(BuildTest, inputs_fee_and_change) {
  const int64_t two_outputs = 4 + 1 + 41 + 1 + 2 * 34 + 4;  // 119, no change output
  const struct {
    std::vector<int64_t> values;
    std::size_t inputs;
    int64_t fee;
    std::vector<int64_t> amounts;
  } cases[] = {
      {{10000}, 1, 153, {2000, 3000, 4847}},
      {{3000, 3000, 50000}, 2, 194, {2000, 3000, 6000 - 5000 - 194}},
      {{5000 + 153}, 1, 153, {2000, 3000}},
      {{5000 + two_outputs + 10}, 1, two_outputs + 10, {2000, 3000}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.values.front());
    std::vector<SpendCandidate> inputs;
    for (std::size_t i = 0; i < c.values.size(); ++i)
      inputs.push_back(candidate(txid_of(static_cast<char>('a' + i)), 0, c.values[i]));
    ASSERT_TRUE(wallet::build_transaction(inputs, outputs_, change_, entry_outputs(), fee_, error_))
        << error_;
    ASSERT_EQ(inputs.size(), c.inputs);
    EXPECT_EQ(inputs.front().txid, txid_of('a'));
    EXPECT_EQ(inputs.back().txid, txid_of(static_cast<char>('a' + c.inputs - 1)));
    EXPECT_EQ(fee_, c.fee);
    ASSERT_EQ(outputs_.size(), c.amounts.size());
    for (std::size_t i = 0; i < c.amounts.size(); ++i) EXPECT_EQ(outputs_[i].amount, c.amounts[i]);
    if (c.amounts.size() == 3) {
      EXPECT_EQ(outputs_[2].script, wallet::p2pkh_script(change_));
    }
  }
}

// Outputs that cannot be paid are refused before any input is used; amounts whose sum (or whose
// sum with the fee) passes 64 bits must not wrap into a payable figure.
TEST_F(BuildTest, refusals_and_their_texts) {
  const int64_t huge = std::numeric_limits<int64_t>::max();
  const Bytes to_us = wallet::p2pkh_script(change_);
  const std::string invalid = "invalid inscription output.";
  const struct {
    std::vector<TxOutput> outputs;
    std::string text;
  } cases[] = {
      {entry_outputs(), "insufficient funds. Need 5119 sats, you have 5000 in your Korb wallet."},
      {{}, "nothing to pay."},
      {{{5, {}}}, invalid},
      {{{-1, to_us}}, invalid},
      {{{huge, to_us}, {huge, to_us}}, invalid},
      {{{huge, to_us}}, invalid},
  };
  for (const auto& c : cases) {
    std::vector<SpendCandidate> inputs{candidate(txid_of('a'), 0, 5000)};
    EXPECT_FALSE(wallet::build_transaction(inputs, outputs_, change_, c.outputs, fee_, error_));
    EXPECT_EQ(error_, c.text);
  }
}

// Stands in for WhatsOnChain and the service host: lists the payment address's outputs, refuses
// the own submission (so every transaction goes to WhatsOnChain), and answers broadcasts from a
// script of refusals, accepting once the script is used up.
class SendTest : public test_wallet::BoundWalletTest {
 protected:
  void SetUp() override {
    BoundWalletTest::SetUp();
    address_ = wallet::session().payment_address;
    server_ = std::make_unique<LocalHttpServer>([this](const Request& r) { return answer(r); });
    wallet::set_network_endpoints_for_test(test_server::endpoints_for(*server_, "svc.send.test"));
  }
  void TearDown() override {
    server_.reset();
    BoundWalletTest::TearDown();
  }

  Response answer(const Request& r) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string woc = "/woc/v1/bsv/main";
    if (r.target == woc + "/address/" + address_ + "/unspent/all") {
      json items = json::array();
      for (const SpendCandidate& u : listed_)
        items.push_back({{"tx_hash", u.txid}, {"tx_pos", u.vout}, {"value", u.value}});
      return {200, json{{"address", address_}, {"result", items}}.dump()};
    }
    if (r.target.find("/unspent/all") != std::string::npos) return {200, R"({"result":[]})"};
    if (r.target == woc + "/tx/raw") {
      const Bytes raw = hex(json::parse(r.body, nullptr, false).value("txhex", std::string()));
      posted_.push_back(raw);
      if (refusals_.empty()) return {200, wallet::transaction_txid(raw) + "\n"};
      const std::string refusal = refusals_.front();
      refusals_.erase(refusals_.begin());
      return {400, refusal};
    }
    return {404, R"({"error":"not found"})"};
  }

  std::vector<Bytes> posted() {
    std::lock_guard<std::mutex> lock(mutex_);
    return posted_;
  }

  static std::vector<std::string> spent_outpoints(const Bytes& raw) {
    wallet::Transaction tx;
    EXPECT_TRUE(wallet::parse_transaction(raw, tx));
    std::vector<std::string> spent;
    for (const auto& input : tx.inputs)
      spent.push_back(input.txid + ":" + std::to_string(input.vout));
    return spent;
  }

  std::string pay(int64_t amount) {
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    return wallet::send_outputs({{amount, wallet::p2pkh_script(some_hash(4))}});
  }

  std::string address_;
  std::mutex mutex_;
  std::vector<SpendCandidate> listed_;
  std::vector<std::string> refusals_;
  std::vector<Bytes> posted_;
  std::unique_ptr<LocalHttpServer> server_;
};

const std::string kConflict = "unexpected response code 500: 258: txn-mempool-conflict";
const std::string kMissingInputs = "unexpected response code 500: Missing inputs";

// A conflict or missing inputs mean the inputs are spent elsewhere: the next of at most three
// attempts picks other outputs. A refusal the retries cannot help leaves the input spendable.
TEST_F(SendTest, a_refused_input_is_never_offered_again) {
  const struct {
    std::vector<std::string> refusals;
    std::size_t posts;
    std::string failure;  // "" for a success
  } cases[] = {
      {{kConflict}, 2, ""},
      {{kMissingInputs}, 2, ""},
      {{kConflict, kConflict, kConflict}, 3, "error: broadcast failed after retry."},
      {{"257: non-final"}, 1, "error: broadcast failed: HTTP 400 \xE2\x80\x93 257: non-final"},
  };
  const char* next = "abcdef0123456789";  // one unused txid digit per listed output
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refusals.front());
    ASSERT_TRUE(test_wallet::load_hd_session(test_wallet::kAbandonAbout, 1));
    listed_.clear();
    for (int64_t value : {10000, 9000, 8000})
      listed_.push_back(candidate(txid_of(*next++), 1, value));
    refusals_ = c.refusals;
    posted_.clear();
    testing::internal::CaptureStdout();
    const std::string result = pay(5000);
    const std::string printed = testing::internal::GetCapturedStdout();
    const auto sent = posted();
    ASSERT_EQ(sent.size(), c.posts) << result;
    for (std::size_t i = 0; i < sent.size(); ++i)
      EXPECT_EQ(spent_outpoints(sent[i]), std::vector<std::string>{listed_[i].txid + ":1"});
    if (!c.failure.empty()) {
      EXPECT_EQ(result, c.failure);
      EXPECT_EQ(wallet::is_outpoint_spent(listed_[0].txid, 1), c.posts > 1);
      continue;
    }
    const std::string txid = wallet::transaction_txid(sent.back());
    EXPECT_EQ(result, "success: " + txid);
    EXPECT_TRUE(wallet::is_outpoint_spent(listed_[0].txid, 1));
    EXPECT_TRUE(wallet::is_outpoint_spent(listed_[1].txid, 1));
    EXPECT_EQ(wallet::last_sent_txid(), txid);
    const int64_t change = 9000 - 5000 - (4 + 1 + 41 + 1 + 2 * 34 + 4);
    EXPECT_TRUE(wallet::is_pending_outpoint(txid, 1));
    EXPECT_EQ(printed,
              "[OW-BALANCE]\x1F" + std::to_string(change + 8000) + "\x1F" + bound_id() + "\n");
  }
}

}  // namespace
