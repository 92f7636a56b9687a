// The weekly board. The unit half checks the week key, the listing reader and the local merges on
// hand-made boards; the devnet half (BoardDevnet.*, under the devnet fixture) records real rows,
// and rows that must be refused, and checks the exact board every copy of the game builds.
#include "arcade/board.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "arcade/arcade_devnet.h"
#include "arcade/score_record.h"
#include "arcade/ui_settings.h"
#include "tools/board/board_cli.h"

namespace {

using engine::RunVerdict;
using nlohmann::json;

constexpr int64_t kMonday = 1715558400;  // 2024-05-13 00:00:00 UTC
constexpr int64_t kWeek = 7 * 86400;

arcade::BoardRow row_of(const std::string& handle, const std::string& paymail, int64_t score = 0,
                        int64_t ts = 0, const std::string& txid = "") {
  arcade::BoardRow row;
  row.handle = handle;
  row.paymail = paymail;
  row.pay_addr = "1Addr";
  row.score = score;
  row.ts = ts;
  row.txid = txid;
  return row;
}

TEST(Board, week_key_display_name_and_one_load_at_a_time) {
  // Sunday 23:59:59 is still this week; a time before 1970 counts as 1970-01-01, a Thursday.
  const std::pair<int64_t, int64_t> weeks[] = {{kMonday, kMonday},
                                               {kMonday + kWeek - 1, kMonday},
                                               {kMonday + kWeek, kMonday + kWeek},
                                               {kMonday - 1, kMonday - kWeek},
                                               {-5, -3 * 86400}};
  for (const auto& [t, week] : weeks) EXPECT_EQ(arcade::week_start(t), week) << t;
  EXPECT_EQ(arcade::display_name(row_of("", "")), "1Addr");
  EXPECT_EQ(arcade::display_name(row_of("", "bob@x.test")), "bob");
  EXPECT_EQ(arcade::display_name(row_of("alice", "bob@x.test")), "alice");
  EXPECT_EQ(arcade::display_name(row_of("@x", "bob@x.test")), "1Addr");

  arcade::BoardLoadState state;
  EXPECT_TRUE(arcade::begin_board_load(state));
  EXPECT_FALSE(arcade::begin_board_load(state));
  EXPECT_FALSE(arcade::begin_board_load(state));
  EXPECT_TRUE(arcade::finish_board_load(state));  // the two requests became one reload
  EXPECT_TRUE(arcade::begin_board_load(state));
  EXPECT_FALSE(arcade::finish_board_load(state));
}

// Every listing shape the services answer with; only 64 hex digits pass, and they pass lowered,
// because a txid becomes a request path.
TEST(Board, collect_txids_reads_every_listing_shape_and_nothing_else) {
  const std::string a(64, 'a'), b(64, 'b'), c(64, 'c');
  const std::pair<json, std::vector<std::string>> cases[] = {
      {json::array({a, {{"tx_hash", b}}, {{"txid", c}}}), {a, b, c}},
      {{{"txids", {a, b}}, {"result", {c}}}, {a, b}},
      {{{"txids", "x"}, {"result", {{{"tx_hash", b}, {"height", 5}}}}}, {b}},
      {json::array({std::string(64, 'C'), std::string(63, 'a'), std::string(64, 'g'),
                    "../" + std::string(61, 'a'), 7, nullptr, json::array({a})}),
       {c}},
      {{{"tx_hash", a}}, {}},
      {json("text"), {}}};
  for (const auto& [listing, found] : cases) {
    std::vector<std::string> ids{"kept"};
    arcade::collect_txids(listing, ids);
    std::vector<std::string> expected{"kept"};
    expected.insert(expected.end(), found.begin(), found.end());
    EXPECT_EQ(ids, expected) << listing.dump();
  }
}

std::vector<std::string> row_names(const std::vector<arcade::BoardRow>& rows) {
  std::vector<std::string> names;
  for (const auto& row : rows)
    names.push_back(arcade::display_name(row) + ":" + std::to_string(row.score));
  return names;
}

// A just-played score shows at once as a local row headed by the player's name, after chain rows
// of the same score; once recorded, the chain row with its txid stands alone. The cache keeps this
// week's entries (each once, learning its txid) and the best ever.
TEST(Board, local_scores_join_the_board_until_their_row_is_on_chain) {
  arcade::BoardResult board;
  board.rows = {row_of("bob", "", 500, 20, "t2"), row_of("amy", "", 500, 10, "t1")};
  arcade::LocalBoardInputs local;
  local.now = kMonday + 100;
  local.paymail = "cat@orbweave.test";
  local.pay_addr = "1Cat";
  json& settings = local.settings = {{"week_scores", "broken"}, {"x", 3}};
  arcade::record_local_score(settings, "", 0, local.paymail, "1Cat", local.now);  // nothing below 1
  EXPECT_EQ(settings["week_scores"], "broken");
  arcade::record_local_score(settings, "", 300, local.paymail, "1Cat", local.now - kWeek);
  arcade::record_local_score(settings, "", 500, local.paymail, "1Cat", local.now - 10);
  arcade::record_local_score(settings, "t8", 500, local.paymail, "1Cat", local.now);
  ASSERT_EQ(settings["week_scores"].size(),
            1u);  // last week's entry is gone, this one learnt its txid
  EXPECT_EQ(settings["week_scores"][0]["ts"], local.now);
  EXPECT_EQ(settings["best_ever"]["txid"], "t8");  // the equal best learns its txid
  arcade::record_local_score(settings, "t9", 900, "dan@orbweave.test", "1Dan", local.now);
  arcade::record_local_score(settings, "t1", 500, "amy@orbweave.test", "1Amy", local.now);
  EXPECT_EQ(settings["x"], 3);
  settings["week_scores"][0]["txid"] = "";  // still unrecorded, as the session's own score
  // A stale entry of another week, as an old file may hold.
  settings["week_scores"].push_back({{"week", kMonday - kWeek}, {"score", 9999}});
  local.run.state = engine::ArcadeState::GameOver;
  local.run.running_score = 500;  // the session's own score equals its cached entry: once only
  arcade::merge_local_scores(board, local);
  EXPECT_EQ(row_names(board.rows),
            (std::vector<std::string>{"dan:900", "bob:500", "amy:500", "cat:500"}));
  EXPECT_EQ(board.rows[3].ts, 0);

  // The best: the cached best ever (the stale 9999 still counts as a score played here), and an
  // equal score no later than a recorded best does not replace it.
  arcade::merge_local_best(board, local);
  ASSERT_TRUE(board.has_best);
  EXPECT_EQ(board.best.score, 9999);
  board.best = row_of("eve", "", 9999, 0, "t7");
  arcade::merge_local_best(board, local);
  EXPECT_EQ(board.best.txid, "t7");
}

// ---- Against the devnet ------------------------------------------------------------------------

using arcade_devnet::admin;
using arcade_devnet::Player;

arcade::BoardResult scan(int parallel, arcade::BoardScanStats* stats = nullptr) {
  arcade::BoardResult result;
  (void)arcade::scan_board(result, {static_cast<int64_t>(std::time(nullptr)), parallel, stats});
  return result;
}

struct Row {
  std::string name;
  int64_t score;
  RunVerdict replay;
  std::string txid;
  bool operator==(const Row&) const = default;
};

std::vector<Row> rows_of(const arcade::BoardResult& board) {
  std::vector<Row> rows;
  for (const auto& row : board.rows)
    rows.push_back({arcade::display_name(row), row.score, row.replay, row.txid});
  return rows;
}

// One chain for the whole suite: three players, their rows and the rows that must be refused.
struct Chain {
  int64_t now = 0;
  Player alice, bob;
  engine::RunRecord alice_run, bob_run, carol_run;
  std::string alice_tx, bob_late_tx, carol_old_tx, long_tx;
  std::vector<Row> expected;
};

Chain& chain() {
  static Chain c;
  return c;
}

// The row of `run` for the loaded player, built at `ts`, changed by `edit`, then signed.
json signed_row(const engine::RunRecord& run, int64_t ts, const json& edit = json::object()) {
  json payload = arcade::build_score_payload(run, ts);
  payload.update(edit);
  std::string error;
  EXPECT_TRUE(arcade::sign_claim(payload, error)) << error;
  return payload;
}

void fault(const std::string& route, json how) {
  how["route"] = route;
  admin("fault", how);
}

class BoardDevnet : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Chain& c = chain();
    (void)arcade_devnet::devnet();
    admin("fault/clear", json::object());
    admin("reset", json::object());
    c.now = static_cast<int64_t>(std::time(nullptr));
    // Three runs of different scores, the best to carol, who records it in an old week.
    std::vector<engine::RunRecord> runs;
    for (uint32_t seed = 1; runs.size() < 3; ++seed) {
      engine::RunRecord run = arcade_devnet::finished_run(arcade_devnet::random_txid(), seed);
      const auto same = [&run](const auto& other) { return other.final_score == run.final_score; };
      if (run.final_score > 1 && std::none_of(runs.begin(), runs.end(), same)) runs.push_back(run);
    }
    std::sort(runs.begin(), runs.end(),
              [](const auto& a, const auto& b) { return a.final_score > b.final_score; });
    c.carol_run = runs[0];
    c.alice_run = runs[1];
    c.bob_run = runs[2];
    ASSERT_NE(c.alice_run.final_score + 1, c.carol_run.final_score);
  }
};

TEST_F(BoardDevnet, lists_verified_rows_ranked_and_refuses_the_rest) {
  Chain& c = chain();
  const arcade::BoardResult empty = scan(8);
  EXPECT_FALSE(empty.has_best);
  EXPECT_EQ(empty.message, "No scores posted yet.");
  EXPECT_EQ(empty.week_start, arcade::week_start(c.now));

  (void)arcade_devnet::make_player(arcade_devnet::random_alias());
  c.carol_old_tx = arcade_devnet::pay_row(
      signed_row(c.carol_run, c.now, {{"week", arcade::week_start(c.now) - kWeek}}));
  const arcade::BoardResult only_old = scan(8);
  EXPECT_TRUE(only_old.rows.empty());
  EXPECT_EQ(only_old.message, "No scores for this week yet.");

  c.alice = arcade_devnet::make_player(arcade_devnet::random_alias());
  const int64_t a = c.alice_run.final_score, b = c.bob_run.final_score;
  c.alice_tx = arcade_devnet::pay_row(signed_row(c.alice_run, c.now));
  // Signed, but its tape says otherwise.
  const std::string mismatch_tx =
      arcade_devnet::pay_row(signed_row(c.alice_run, c.now + 1, {{"score", a + 1}}));
  json forged = signed_row(c.alice_run, c.now + 2);
  forged["score"] = a + 2;
  arcade_devnet::pay_row(forged);
  arcade_devnet::pay_row(signed_row(c.alice_run, c.now + 3, {{"game", "blocks"}}));
  arcade_devnet::pay_row(signed_row(c.alice_run, c.now + 4, {{"score", 0}}));  // never listed
  c.bob = arcade_devnet::make_player(arcade_devnet::random_alias());
  const std::string bob_early_tx = arcade_devnet::pay_row(signed_row(c.bob_run, c.now));
  c.bob_late_tx = arcade_devnet::pay_row(signed_row(c.bob_run, c.now + 9));
  {
    // Bob signs a row in alice's name: the service publishes another key for her.
    json impostor = arcade::build_score_payload(c.bob_run, c.now + 5);
    impostor["handle"] = impostor["actor"] = c.alice.alias;
    impostor["paymail"] = korb::full_paymail_address(c.alice.alias);
    std::string pubkey, signature, error;
    ASSERT_TRUE(korb::identity_sign(arcade::claim_message(impostor), pubkey, signature, error));
    impostor["pubkey"] = pubkey;
    impostor["sig"] = signature;
    EXPECT_FALSE(arcade::verify_claim(impostor));
    arcade_devnet::pay_row(impostor);
  }
  // A player whose name the service never published cannot sign a row at all.
  (void)arcade_devnet::make_player(arcade_devnet::random_alias(), false);
  json unpublished = arcade::build_score_payload(c.bob_run, c.now);
  std::string error;
  EXPECT_FALSE(arcade::sign_claim(unpublished, error));
  EXPECT_EQ(error, "identity signature did not verify against " +
                       std::string(config::deploy_config().paymail_domain) + " PKI");

  c.expected = {{c.alice.alias, a + 1, RunVerdict::mismatch, mismatch_tx},
                {c.alice.alias, a, RunVerdict::verified, c.alice_tx},
                {c.bob.alias, b, RunVerdict::verified, c.bob_late_tx},
                {c.bob.alias, b, RunVerdict::verified, bob_early_tx}};
  arcade::BoardScanStats stats;
  const arcade::BoardResult board = scan(8, &stats);
  EXPECT_EQ(rows_of(board), c.expected);
  EXPECT_EQ(board.message, "");
  ASSERT_TRUE(board.has_best);
  EXPECT_EQ(board.best.txid, c.carol_old_tx);
  EXPECT_EQ(board.best.replay, RunVerdict::verified);
  EXPECT_EQ(board.best.tape, c.carol_run.tape);  // the viewer replays the decoded tape
  EXPECT_EQ(
      board.rows[0].replay_note,
      "score " + std::to_string(a + 1) + " does not match the replayed score " + std::to_string(a));
  EXPECT_EQ(stats.listed, 9u);
  EXPECT_EQ(stats.lookups, 3u);  // carol, alice, bob: each once
  EXPECT_EQ(board, scan(1));     // the parallel load is the sequential scan, field for field

  // Without the service's listing, WhatsOnChain's three lists name each txid more than once.
  admin("mine", json::object());
  fault("/oi/oracle/", {{"kind", "status"}, {"status", 503}});
  const arcade::BoardResult fallback = scan(8, &stats);
  EXPECT_EQ(rows_of(fallback), c.expected);
  EXPECT_EQ(stats.listed, 9u);
  EXPECT_EQ(stats.fetched, 9u);
}

TEST_F(BoardDevnet, the_game_and_the_command_line_merge_the_local_cache) {
  const Chain& c = chain();
  ASSERT_FALSE(c.expected.empty());
  // This computer played bob's score as dave (not recorded yet) and recorded alice's row.
  const int64_t b = c.bob_run.final_score;
  (void)arcade::change_ui_settings([&](json& settings) {
    settings = json::object();
    arcade::record_local_score(settings, "", b, "dave@orbweave.test", "1Dave", c.now);
    arcade::record_local_score(settings, c.alice_tx, c.alice_run.final_score,
                               korb::full_paymail_address(c.alice.alias), c.alice.address, c.now);
  });
  std::vector<Row> expected = c.expected;
  expected.push_back({"dave", b, RunVerdict::no_tape, ""});
  arcade::BoardLoadArgs args;
  args.now = c.now;
  const arcade::BoardResult board = arcade::load_board(args);
  EXPECT_EQ(rows_of(board), expected);

  std::string out, err;
  ASSERT_EQ(board_tool::run_board_cli({}, c.now, out, err), board_tool::kExitOk) << err;
  const json printed = json::parse(out);
  EXPECT_EQ(printed, board_tool::board_json(board));
  EXPECT_EQ(printed["rows"][0]["rank"], 1);
  EXPECT_EQ(printed["rows"][0]["replay"], "mismatch");
  EXPECT_EQ(board_tool::run_board_cli({"--text"}, c.now, out, err), board_tool::kExitOk);
  EXPECT_NE(out.find(c.alice_tx), std::string::npos) << out;
  EXPECT_EQ(board_tool::run_board_cli({"--json"}, c.now, out, err), board_tool::kExitUsage);
}

// Only the newest 250 distinct txids are read: 251 later payments push every row out, and this
// computer's scores alone fill the board, with no message that nothing was posted.
TEST_F(BoardDevnet, reads_no_more_than_250_transactions) {
  ASSERT_FALSE(chain().expected.empty());
  const std::string oracle(config::deploy_config().oracle_address);
  for (int i = 0; i < 251; ++i)
    ASSERT_EQ(devnet_wallet::fund(arcade_devnet::devnet(), oracle, 1).size(), 64u);
  arcade::BoardScanStats stats;
  const arcade::BoardResult board = scan(8, &stats);
  EXPECT_FALSE(board.has_best);
  EXPECT_EQ(stats.listed, 250u);
  EXPECT_EQ(stats.fetched, 250u);
  arcade::BoardLoadArgs args;
  args.now = chain().now;
  const arcade::BoardResult local = arcade::load_board(args);
  EXPECT_EQ(local.rows.size(), 2u);
  EXPECT_EQ(local.message, "");
}

// A run whose row crosses WhatsOnChain's 100 KB script cut while it still fits one push: about
// 6,000 actions (5 tape bytes each, written as hex in the row and again in the script).
engine::RunRecord long_run() {
  for (uint32_t seed = 1;; ++seed) {
    engine::RunRecord run = arcade_devnet::finished_run(arcade_devnet::random_txid(), seed, 480000);
    const std::size_t size = arcade::build_score_payload(run, 1).dump().size();
    if (size > 52000 && size < 64000) return run;
  }
}

// With the service host down and WhatsOnChain's unspent list too, only the history lists are left:
// they must give the newest 50 confirmed transactions (251 older ones stand before them). The row
// of a long run, whose script WhatsOnChain cuts short, is read from the raw transaction, and a 429
// on the way is waited out.
TEST_F(BoardDevnet, the_newest_rows_are_read_and_a_long_row_from_the_raw_transaction) {
  Chain& c = chain();
  ASSERT_FALSE(c.expected.empty());
  const std::string oracle(config::deploy_config().oracle_address);
  const Player dave = arcade_devnet::make_player(arcade_devnet::random_alias());
  const engine::RunRecord run = long_run();
  c.long_tx = arcade_devnet::pay_row(signed_row(run, c.now));
  const json decoded = devnet_wallet::decoded_tx(arcade_devnet::devnet(), c.long_tx);
  EXPECT_NE(decoded.dump().find("\"isTruncated\":true"), std::string::npos);
  admin("mine", json::object());

  const json down = {{"kind", "status"}, {"status", 503}, {"count", -1}};
  fault("/oi/", down);
  fault("/woc/v1/bsv/main/address/" + oracle + "/unspent", down);
  fault("/woc/v1/bsv/main/address/" + oracle + "/confirmed/",
        {{"kind", "rate-limit"}, {"count", 2}});
  const arcade::BoardResult board = scan(8);
  admin("fault/clear", json::object());
  EXPECT_EQ(rows_of(board),
            (std::vector<Row>{{dave.alias, run.final_score, RunVerdict::verified, c.long_tx}}));
}

// A service that answers another transaction than the one asked for is not believed: its row
// would show under the wrong txid.
TEST_F(BoardDevnet, a_transaction_is_taken_only_as_the_one_asked_for) {
  const Chain& c = chain();
  ASSERT_FALSE(c.long_tx.empty());
  const std::string woc = arcade_devnet::devnet().base() + "/woc/v1/bsv/main/tx/";
  std::string other_hex, error;
  ASSERT_TRUE(wallet::wallet_http_get(woc + c.bob_late_tx + "/hex", other_hex, error, 20, false));
  const json other = {
      {"kind", "status"},
      {"status", 200},
      {"body", devnet_wallet::decoded_tx(arcade_devnet::devnet(), c.bob_late_tx).dump()}};
  json tx;
  fault("/oi/tx/" + c.alice_tx, other);
  ASSERT_TRUE(arcade::fetch_tx(c.alice_tx, tx));  // WhatsOnChain answers the right one
  EXPECT_EQ(tx["txid"], c.alice_tx);
  fault("/oi/tx/" + c.alice_tx, other);
  fault("/woc/v1/bsv/main/tx/" + c.alice_tx, other);
  EXPECT_FALSE(arcade::fetch_tx(c.alice_tx, tx));
  // The long row's script can only come from a raw transaction that hashes to its txid.
  fault("/oi/tx/" + c.long_tx, {{"kind", "status"}, {"status", 503}});
  fault("/woc/v1/bsv/main/tx/" + c.long_tx + "/hex",
        {{"kind", "status"}, {"status", 200}, {"body", other_hex}});
  EXPECT_FALSE(arcade::fetch_tx(c.long_tx, tx));
  admin("fault/clear", json::object());
}

}  // namespace
