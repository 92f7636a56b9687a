// The score row: its lenient field readers, the claim message every copy signs and checks, the
// reading of a row back out of a transaction, and the identity key lookup with its cache. The
// devnet board test signs and verifies real rows end to end.
#include "arcade/score_record.h"

#include <gtest/gtest.h>

#include <random>

#include "arcade/board.h"
#include "config/deploy_config.h"
#include "mangle.h"
#include "wallet/encoding.h"
#include "wallet/local_http_server.h"
#include "wallet/random_key.h"
#include "wallet/signatures.h"
#include "wallet/transaction.h"

namespace {

using nlohmann::json;

TEST(ScoreRecord, fields_read_leniently_and_name_the_right_identity) {
  const json object = json::parse(
      R"({"int": -42, "big": 18446744073709551615, "float": -12.9, "huge": 1e30, "text": "1200",
          "partial": "12x", "lead": "x12", "signed": " \t-7 ", "plus": "+5", "bool": true,
          "overflow": "9223372036854775808", "min": "-9223372036854775808", "array": [1]})");
  const std::pair<const char*, int64_t> numbers[] = {
      {"int", -42},       {"big", 0},  {"float", -12}, {"huge", 0},  {"text", 1200},
      {"partial", 12},    {"lead", 0}, {"signed", -7}, {"plus", 5},  {"overflow", 0},
      {"min", INT64_MIN}, {"bool", 0}, {"array", 0},   {"absent", 0}};
  for (const auto& [key, value] : numbers)
    EXPECT_EQ(arcade::json_int_field(object, key), value) << key;
  EXPECT_EQ(arcade::json_string_field({{"a", 1}, {"b", "x"}}, "a", "b"), "x");
  EXPECT_EQ(arcade::json_string_field({{"a", "y"}, {"b", "x"}}, "a", "b"), "y");

  // The alias is normalised; the same alias at another domain is somebody else.
  const std::string d = "@" + std::string(config::deploy_config().paymail_domain);
  const std::tuple<const char*, std::string, std::string> identities[] = {
      {" @Alice ", "", "alice" + d},
      {"$bob", "bob" + d, "bob" + d},
      {"bob", "BOB" + d, "bob" + d},
      {"bob", "bob@elsewhere.test", ""},
      {"bob", "carol@elsewhere.test", "bob" + d},
      {"bob", "@bob", "bob" + d},
      {" @ ", "", ""}};
  for (const auto& [actor, paymail, key] : identities)
    EXPECT_EQ(arcade::identity_lookup_key(actor, paymail), key) << actor << paymail;
  EXPECT_EQ(arcade::url_path_segment("a/b c%@é"), "a%2Fb%20c%25%40%C3%A9");
}

json sample_row() {
  return json::parse(R"({"actor": "Alice", "entry": "AB)" + std::string(62, '0') + R"(",
      "game": "Stakka", "handle": "@alice", "location": " Arcade ", "pay_addr": "1AbC",
      "paymail": "alice@orbweave.test", "protocol": "RQT-Wire", "score": 1200, "tape_hash": "FF00",
      "ts": 1715558500, "type": " arcade_score ", "week": 1715558400})");
}

TEST(ScoreRecord, claim_message_is_the_signed_text) {
  json row = sample_row();
  row["type"] = "arcade_score";
  const std::string entry = "ab" + std::string(62, '0');
  EXPECT_EQ(arcade::claim_message(row),
            "OW1|arcade_score|arcade|alice|alice|1715558500|stakka|1200|1715558400|" + entry +
                "|1AbC|ff00");
  row["tape_hash"] = "";
  row["channel"] = "Lobby";
  row["score"] = "1200";
  EXPECT_EQ(
      arcade::claim_message(row),
      "OW1|arcade_score|lobby|alice|alice|1715558500|stakka|1200|1715558400|" + entry + "|1AbC");
  // Other kinds of claim sign their encryption key instead.
  EXPECT_EQ(arcade::claim_message({{"type", "report"}, {"location", "arcade"}, {"enc_pub", "AB"}}),
            "OW1|report|arcade|||0|ab");
}

// The local half of verification on a row signed with a random key: each broken field fails it,
// while a number written as text signs the same message.
TEST(ScoreRecord, local_claim_check_refuses_broken_rows) {
  std::mt19937_64 rng(7);
  const wallet_test::TestKey key = wallet_test::random_key(rng);
  json row = sample_row();
  std::string signature;
  ASSERT_TRUE(wallet::identity_signature(key.priv, arcade::claim_message(row), signature));
  row["pubkey"] = key.pub_uncompressed;
  row["sig"] = signature;
  arcade::ClaimCheck check;
  ASSERT_TRUE(arcade::check_claim_locally(row, check));
  EXPECT_EQ(check.pubkey, key.pub);  // compared in its compressed form
  EXPECT_EQ(check.lookup_key, "alice@orbweave.test");

  const std::pair<const char*, json> broken[] = {
      {"protocol", "RQT-Wire "}, {"actor", ""},   {"ts", 0},        {"location", ""},
      {"score", 1201},           {"sig", "AAAA"}, {"pubkey", "02"}, {"type", "web_gate"}};
  for (const auto& [field, value] : broken) {
    json changed = row;
    changed[field] = value;
    EXPECT_FALSE(arcade::check_claim_locally(changed, check)) << field;
  }
  row["score"] = "1200";
  EXPECT_TRUE(arcade::check_claim_locally(row, check));
}

// The reader finds what the payment writes (wallet::data_script) in every push form but
// OP_PUSHDATA4, and nothing in a script that is cut short or is not hex; the first row in output
// order is the one.
TEST(ScoreRecord, rows_are_read_from_the_first_short_push) {
  const std::string text = "{\"type\":\"arcade_score\"}";  // 23 bytes
  const std::string hex = wallet::hex_encode(wallet::Bytes(text.begin(), text.end()));
  const std::pair<std::string, bool> scripts[] = {
      {wallet::hex_encode(wallet::data_script(text)), true},
      {"6a17" + hex, true},
      {"006A4c17" + hex, true},
      {"006a4d1700" + hex, true},
      {"006a4e17000000" + hex, false},
      {"006a17" + hex.substr(2), false},
      {"006a00", false},
      {"006a", false},
      {"0000", false},
      {"76a917" + hex, false},
      {"006a17" + hex + "0", false},
      {"006a17zz" + hex.substr(2), false}};
  for (const auto& [script, found] : scripts) {
    std::string out = "untouched";
    EXPECT_EQ(arcade::op_return_text(script, out), found) << script;
    EXPECT_EQ(out, found ? text : "untouched") << script;
  }

  const auto push = [](const json& row) {
    return wallet::hex_encode(wallet::data_script(row.dump()));
  };
  const json first = {{"type", "arcade_score"}, {"n", 1}};
  const json report = {{"type", "report"}};
  const json tx = {{"vout",
                    {7,
                     {{"scriptPubKey", {{"hex", push(report)}}}},
                     {{"scriptPubKey", {{"asm", "x"}}}, {"hex", push(first)}},
                     {{"scriptPubKey", push({{"type", "arcade_score"}, {"n", 2}})}}}}};
  json out;
  ASSERT_TRUE(arcade::find_score_payload(tx, out));
  EXPECT_EQ(out, first);
  EXPECT_FALSE(arcade::find_score_payload({{"vout", {{{"scriptPubKey", push(report)}}}}}, out));
  EXPECT_FALSE(arcade::is_score_payload("{\"type\":\"Arcade_score\"}", out));
  EXPECT_FALSE(arcade::is_score_payload("[{\"type\":\"arcade_score\"}]", out));
  EXPECT_FALSE(arcade::is_score_payload(std::string(100000, '[') + std::string(100000, ']'), out));
}

// Mangled transactions, scripts and listings never crash the readers.
TEST(ScoreRecord, readers_survive_mangled_chain_data) {
  const uint32_t seed = test_mangle::seed();
  SCOPED_TRACE("OSTAKKA_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  const std::string original =
      R"({"txids": [")" + std::string(64, 'a') +
      R"("], "vout": [{"scriptPubKey": {"hex": "006a0c7b2274797065223a317d"}}]})";
  for (int round = 0; round < 2000; ++round) {
    std::string text = original;
    test_mangle::mangle(text, random, "{}[]\",:06a");
    json out;
    std::string data;
    std::vector<std::string> ids;
    (void)arcade::is_score_payload(text, out);
    (void)arcade::op_return_text(text, data);
    const json parsed = json::parse(text, nullptr, false);
    (void)arcade::find_score_payload(parsed, out);
    arcade::collect_txids(parsed, ids);
    for (const std::string& id : ids) ASSERT_EQ(id.size(), 64u);
  }
}

// The lookup against a stand-in service: found keys are cached (and normalised), failures are
// not, and a hostile alias stays inside one path segment.
TEST(ScoreRecord, identity_keys_are_cached_and_failures_are_not) {
  std::mt19937_64 rng(3);
  const wallet_test::TestKey key = wallet_test::random_key(rng);
  test_server::LocalHttpServer server([&key](const test_server::Request& request) {
    const bool alice = request.target.find("/alice@") != std::string::npos;
    return test_server::Response{alice ? 200 : 404,
                                 alice ? json{{"pubkey", key.pub_uncompressed}}.dump() : "{}",
                                 "application/json"};
  });
  wallet::NetworkEndpoints endpoints;
  endpoints.service_scheme = "http";
  endpoints.service_host = "svc.orbweave.test";
  endpoints.service_ip = "127.0.0.1";
  endpoints.service_port = server.port();
  wallet::set_network_endpoints_for_test(endpoints);
  arcade::clear_identity_key_cache();

  EXPECT_EQ(arcade::lookup_identity_key("alice", ""), key.pub);
  EXPECT_EQ(arcade::lookup_identity_key("@Alice", "alice@orbweave.test"), key.pub);
  EXPECT_EQ(arcade::lookup_identity_key("bob", ""), "");
  EXPECT_EQ(arcade::lookup_identity_key("bob", ""), "");
  EXPECT_EQ(arcade::lookup_identity_key("alice", "alice@other.test"), "");
  EXPECT_EQ(arcade::lookup_identity_key("../admin?x", ""), "");
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].target, "/api/bsvalias/id/alice@orbweave.test");
  EXPECT_EQ(requests[1].target, "/api/bsvalias/id/bob@orbweave.test");
  EXPECT_EQ(requests[3].target, "/api/bsvalias/id/..%2Fadmin%3Fx@orbweave.test");
  wallet::clear_network_endpoints_for_test();
}

}  // namespace
