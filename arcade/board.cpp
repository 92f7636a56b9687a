#include "arcade/board.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <map>
#include <mutex>
#include <unordered_set>

#include "arcade/bounded_parallel.h"
#include "arcade/identity.h"
#include "arcade/score_record.h"
#include "arcade/ui_settings.h"
#include "config/deploy_config.h"
#include "korb/session.h"
#include "wallet/encoding.h"
#include "wallet/http_client.h"
#include "wallet/ow_korb_wallet.h"
#include "wallet/transaction.h"

namespace arcade {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr int64_t kDaySeconds = 86400;

bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

void add_txid(const json& element, std::vector<std::string>& ids) {
  std::string text;
  if (element.is_string()) {
    text = element.get<std::string>();
  } else if (element.is_object()) {
    text = json_string_field(element, "tx_hash", "txid");
  }
  if (text.size() == 64 && std::all_of(text.begin(), text.end(), is_hex_digit)) {
    ids.push_back(lower(std::move(text)));
  }
}

// The oracle's transactions: the service's own listing, else the three WhatsOnChain listings.
std::vector<std::string> list_oracle_txids() {
  std::vector<std::string> ids;
  json listing;
  if (wallet::app_http_get_json(
          wallet::service_base_url() + "/oi/oracle/arcade/txids?limit=2000&offset=0", listing) &&
      listing.is_object() && listing.contains("txids") && listing["txids"].is_array()) {
    collect_txids(listing, ids);
    return ids;
  }
  const std::string oracle(config::deploy_config().oracle_address);
  if (oracle.empty()) return ids;  // a deployment without an oracle has no board
  const std::string base = wallet::woc_api_base() + "/address/" + oracle;
  // The history lists are asked newest first: the service documents no default order, and the
  // 50 rows read must be this week's, not the address's oldest.
  for (const char* path : {"/unconfirmed/history?limit=50&order=desc", "/unspent",
                           "/confirmed/history?limit=50&order=desc"}) {
    json answer;
    if (wallet::app_http_get_json(base + path, answer)) collect_txids(answer, ids);
  }
  return ids;
}

// A decoded transaction is taken only as the one asked for: a service that answered another one
// would put that transaction's row under this txid.
bool names_txid(const json& tx, const std::string& txid) {
  return tx.is_object() && lower(json_string_field(tx, "txid", "hash")) == txid;
}

// WhatsOnChain cuts an output's script hex above 100 KB and marks it "isTruncated". The longest
// runs (the best scores) carry rows past that length, so such a script is read from the raw
// transaction, which must hash to the txid. False when it cannot be.
bool restore_truncated_scripts(json& tx, const std::string& txid) {
  const auto outputs = tx.find("vout");
  if (outputs == tx.end() || !outputs->is_array()) return true;
  std::string raw_hex;
  for (std::size_t n = 0; n < outputs->size(); ++n) {
    json& output = (*outputs)[n];
    if (!output.is_object()) continue;
    const auto spk = output.find("scriptPubKey");
    if (spk == output.end() || !spk->is_object()) continue;
    const auto truncated = spk->find("isTruncated");
    if (truncated == spk->end() || *truncated != true) continue;
    if (raw_hex.empty() &&
        !wallet::app_http_get_text(wallet::woc_api_base() + "/tx/" + txid + "/hex", raw_hex)) {
      return false;
    }
    wallet::Bytes script;
    if (!wallet::raw_output_script(raw_hex, txid, static_cast<uint32_t>(n), script)) return false;
    (*spk)["hex"] = wallet::hex_encode(script);
    (*spk)["isTruncated"] = false;
  }
  return true;
}

// Ranking order: higher score first, then the later payload.
bool ranks_above(const BoardRow& a, const BoardRow& b) {
  return a.score > b.score || (a.score == b.score && a.ts > b.ts);
}

// One listed transaction on its way through the scan.
struct Slot {
  bool signed_ok = false;  // a stakka row whose signature verified locally
  json payload;
  ClaimCheck check;
};

BoardRow chain_row(const json& payload, const std::string& txid) {
  BoardRow row;
  row.pubkey = json_string_field(payload, "pubkey");
  row.handle = json_string_field(payload, "handle");
  if (row.handle.empty()) row.handle = json_string_field(payload, "actor");
  row.paymail = json_string_field(payload, "paymail");
  row.pay_addr = json_string_field(payload, "pay_addr");
  row.game = json_string_field(payload, "game");
  row.entry = json_string_field(payload, "entry");
  row.txid = txid;
  row.score = json_int_field(payload, "score");
  row.ts = json_int_field(payload, "ts");
  row.week = json_int_field(payload, "week");
  return row;
}

void check_replay(const json& payload, BoardRow& row) {
  engine::RunCheck run;
  row.replay = engine::check_recorded_run(
      json_string_field(payload, "entry"), json_string_field(payload, "tape"),
      json_string_field(payload, "tape_hash"), row.score, run, row.replay_note);
  row.tape_header = run.header;
  row.tape = std::move(run.tape);
}

// A row of this computer's cache or of the current session; never signed, never replayed.
BoardRow local_row(const std::string& paymail, const std::string& pay_addr, int64_t score,
                   const std::string& txid, int64_t ts, int64_t week) {
  BoardRow row;
  row.handle = paymail;
  row.paymail = paymail;
  row.pay_addr = pay_addr;
  row.game = kGameName;
  row.score = score;
  row.txid = txid;
  row.ts = ts;
  row.week = week;
  return row;
}

void add_local_row(std::vector<BoardRow>& rows, BoardRow row) {
  if (row.score < 1) return;
  const auto same = [&row](const BoardRow& other) {
    if (!row.txid.empty()) return other.txid == row.txid;
    return other.score == row.score && ((!row.paymail.empty() && other.paymail == row.paymail) ||
                                        (!row.pay_addr.empty() && other.pay_addr == row.pay_addr));
  };
  if (std::none_of(rows.begin(), rows.end(), same)) rows.push_back(std::move(row));
}

// The session's own score: the final score, else the engine's score once the run has ended.
int64_t own_score(const RunSnapshot& run) {
  if (run.final_score >= 1) return run.final_score;
  const bool ended =
      run.state == engine::ArcadeState::GameOver || run.state == engine::ArcadeState::Recorded;
  return ended && run.running_score >= 1 ? run.running_score : 0;
}

const json& cached_scores(const json& settings) {
  static const json empty = json::array();
  if (!settings.is_object()) return empty;
  const auto it = settings.find("week_scores");
  return it != settings.end() && it->is_array() ? *it : empty;
}

BoardRow cache_row(const json& entry) {
  const std::string paymail = json_string_field(entry, "paymail");
  return local_row(paymail, json_string_field(entry, "pay_addr"), json_int_field(entry, "score"),
                   json_string_field(entry, "txid"), json_int_field(entry, "ts"),
                   json_int_field(entry, "week"));
}

// The session's paymail address and receive address, read without touching any file.
void session_player(std::string& paymail, std::string& pay_addr) {
  std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
  if (!wallet::session_loaded()) return;
  paymail = korb::full_paymail_address(wallet::session().paymail_handle);
  pay_addr = wallet::session().payment_address;
}

void set_message(BoardResult& result) {
  if (!result.rows.empty()) {
    result.message.clear();
  } else {
    result.message = result.has_best ? "No scores for this week yet." : "No scores posted yet.";
  }
}

}  // namespace

int64_t week_start(int64_t t) {
  const int64_t days = std::max<int64_t>(t, 0) / kDaySeconds;
  return (days - (days + 3) % 7) * kDaySeconds;
}

std::string display_name(const BoardRow& row) {
  const std::string& name = row.handle.empty() ? row.paymail : row.handle;
  std::string cut = name.substr(0, name.find('@'));
  return cut.empty() ? row.pay_addr : cut;
}

void collect_txids(const json& listing, std::vector<std::string>& ids) {
  const json* list = &listing;
  if (listing.is_object()) {
    const auto txids = listing.find("txids");
    const auto result = listing.find("result");
    if (txids != listing.end() && txids->is_array()) {
      list = &*txids;
    } else if (result != listing.end() && result->is_array()) {
      list = &*result;
    } else {
      return;
    }
  }
  if (!list->is_array()) return;
  for (const json& element : *list) add_txid(element, ids);
}

bool fetch_tx(const std::string& txid, json& out) {
  const std::string id = lower(txid);
  json tx;
  if (wallet::app_http_get_json(wallet::service_base_url() + "/oi/tx/" + id, tx) &&
      names_txid(tx, id)) {
    out = std::move(tx);
    return true;
  }
  if (!wallet::app_http_get_json(wallet::woc_api_base() + "/tx/" + id, tx) || !names_txid(tx, id) ||
      !restore_truncated_scripts(tx, id)) {
    return false;
  }
  out = std::move(tx);
  return true;
}

bool scan_board(BoardResult& result, const BoardScanOptions& options) {
  const auto started = Clock::now();
  result = BoardResult{};
  const int64_t week = week_start(options.now);
  result.week_start = week;

  std::vector<std::string> ids;
  {
    std::unordered_set<std::string> seen;
    for (std::string& id : list_oracle_txids()) {
      if (ids.size() == kBoardTxidLimit) break;
      if (seen.insert(id).second) ids.push_back(std::move(id));
    }
  }

  // Fetch every transaction and check every signature, a few at a time.
  std::vector<Slot> slots(ids.size());
  std::atomic<std::size_t> fetched{0};
  run_bounded_parallel(ids.size(), options.parallel, [&](std::size_t i) {
    json tx;
    if (!fetch_tx(ids[i], tx)) return;
    ++fetched;
    Slot& slot = slots[i];
    if (!find_score_payload(tx, slot.payload)) return;
    slot.signed_ok = lower(json_string_field(slot.payload, "game")) == kGameName &&
                     check_claim_locally(slot.payload, slot.check) &&
                     !slot.check.lookup_key.empty();
    if (!slot.signed_ok) slot.payload = json();
  });

  // Each distinct signer's published key, once.
  std::vector<std::string> keys;
  {
    std::unordered_set<std::string> seen;
    for (const Slot& slot : slots) {
      if (slot.signed_ok && seen.insert(slot.check.lookup_key).second) {
        keys.push_back(slot.check.lookup_key);
      }
    }
  }
  std::vector<std::string> published(keys.size());
  run_bounded_parallel(keys.size(), options.parallel,
                       [&](std::size_t k) { published[k] = fetch_identity_key(keys[k]); });
  std::map<std::string, std::string> key_of;
  for (std::size_t k = 0; k < keys.size(); ++k) key_of[keys[k]] = published[k];

  std::vector<BoardRow> candidates;
  std::vector<const json*> payloads;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    const Slot& slot = slots[i];
    if (!slot.signed_ok) continue;
    const std::string& key = key_of[slot.check.lookup_key];
    if (key.empty() || key != slot.check.pubkey) continue;
    candidates.push_back(chain_row(slot.payload, ids[i]));
    payloads.push_back(&slot.payload);
  }

  const auto replay_started = Clock::now();
  run_bounded_parallel(candidates.size(), options.parallel,
                       [&](std::size_t k) { check_replay(*payloads[k], candidates[k]); });
  const auto replay_time = Clock::now() - replay_started;

  for (const BoardRow& row : candidates) {
    if (row.week != week || row.score < 1) continue;
    const auto same_txid = [&row](const BoardRow& other) { return other.txid == row.txid; };
    if (std::any_of(result.rows.begin(), result.rows.end(), same_txid)) continue;
    result.rows.push_back(row);
  }
  std::stable_sort(result.rows.begin(), result.rows.end(), ranks_above);
  if (result.rows.size() > kBoardRowLimit) result.rows.resize(kBoardRowLimit);

  for (const BoardRow& row : candidates) {
    if (row.score < 1) continue;
    if (!result.has_best || ranks_above(row, result.best)) {
      result.best = row;
      result.has_best = true;
    }
  }
  set_message(result);

  if (options.stats != nullptr) {
    options.stats->listed = ids.size();
    options.stats->fetched = fetched;
    options.stats->lookups = keys.size();
    options.stats->replay = std::chrono::duration_cast<std::chrono::nanoseconds>(replay_time);
    options.stats->total =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - started);
  }
  return !result.rows.empty() || result.has_best;
}

RunSnapshot snapshot_run(const engine::RunRecord& run) {
  return RunSnapshot{run.final_score, run.arcade_state, run.game.score, run.score_txid};
}

void merge_local_scores(BoardResult& result, const LocalBoardInputs& local) {
  const int64_t week = week_start(local.now);
  for (const json& entry : cached_scores(local.settings)) {
    if (entry.is_object() && json_int_field(entry, "week") == week) {
      BoardRow row = cache_row(entry);
      row.ts = 0;
      add_local_row(result.rows, std::move(row));
    }
  }
  add_local_row(result.rows, local_row(local.paymail, local.pay_addr, own_score(local.run),
                                       local.run.score_txid, local.now, week));
  std::stable_sort(result.rows.begin(), result.rows.end(),
                   [](const BoardRow& a, const BoardRow& b) { return a.score > b.score; });
  if (result.rows.size() > kBoardRowLimit) result.rows.resize(kBoardRowLimit);
}

void merge_local_best(BoardResult& result, const LocalBoardInputs& local) {
  std::vector<BoardRow> contenders;
  if (local.settings.is_object()) {
    const auto best = local.settings.find("best_ever");
    if (best != local.settings.end() && best->is_object()) contenders.push_back(cache_row(*best));
  }
  for (const json& entry : cached_scores(local.settings)) {
    if (entry.is_object()) contenders.push_back(cache_row(entry));
  }
  contenders.push_back(local_row(local.paymail, local.pay_addr, own_score(local.run),
                                 local.run.score_txid, local.now, week_start(local.now)));
  for (BoardRow& row : contenders) {
    if (row.score < 1) continue;
    if (result.has_best) {
      const BoardRow& best = result.best;
      if (row.score < best.score) continue;
      if (row.score == best.score && row.ts <= best.ts && !best.txid.empty()) continue;
    }
    result.best = std::move(row);
    result.has_best = true;
  }
}

void record_local_score(json& settings, const std::string& txid, int64_t score,
                        const std::string& paymail, const std::string& pay_addr, int64_t now) {
  if (score < 1 || !settings.is_object()) return;
  const int64_t week = week_start(now);
  json& scores = settings["week_scores"];
  if (!scores.is_array()) scores = json::array();
  bool matched = false;
  for (json& entry : scores) {
    if (!entry.is_object() || json_int_field(entry, "week") != week) continue;
    const std::string entry_txid = json_string_field(entry, "txid");
    const std::string entry_paymail = json_string_field(entry, "paymail");
    const std::string entry_addr = json_string_field(entry, "pay_addr");
    const bool by_txid = !txid.empty() && entry_txid == txid;
    const bool by_player = entry_txid.empty() && json_int_field(entry, "score") == score &&
                           ((!paymail.empty() && entry_paymail == paymail) ||
                            (!pay_addr.empty() && entry_addr == pay_addr) ||
                            (entry_paymail.empty() && entry_addr.empty()));
    if (!by_txid && !by_player) continue;
    entry["paymail"] = paymail;
    entry["pay_addr"] = pay_addr;
    entry["ts"] = now;
    if (by_txid) entry["score"] = score;
    if (!txid.empty()) entry["txid"] = txid;
    matched = true;
    break;
  }
  const json fresh = {
      {"game", kGameName}, {"pay_addr", pay_addr}, {"paymail", paymail}, {"score", score},
      {"ts", now},         {"txid", txid},         {"week", week}};
  if (!matched) scores.push_back(fresh);
  json kept = json::array();
  for (json& entry : scores) {
    if (entry.is_object() && json_int_field(entry, "week") == week)
      kept.push_back(std::move(entry));
  }
  scores = std::move(kept);
  json& best = settings["best_ever"];
  if (!best.is_object() || json_int_field(best, "score") < score) {
    best = fresh;
  } else if (json_int_field(best, "score") == score && json_string_field(best, "txid").empty() &&
             !txid.empty()) {
    best["txid"] = txid;
  }
}

void record_local_score(const std::string& txid) {
  const int64_t score = engine::current_run().final_score;
  if (score < 1) return;
  std::string paymail;
  std::string pay_addr;
  session_player(paymail, pay_addr);
  const auto now = static_cast<int64_t>(std::time(nullptr));
  (void)change_ui_settings(
      [&](json& settings) { record_local_score(settings, txid, score, paymail, pay_addr, now); });
}

BoardResult load_board(const BoardLoadArgs& args, BoardScanStats* stats) {
  BoardResult result;
  (void)scan_board(result, BoardScanOptions{args.now, args.parallel, stats});
  LocalBoardInputs local;
  local.settings = ui_settings_copy();
  session_player(local.paymail, local.pay_addr);
  local.run = args.run;
  local.now = args.now;
  merge_local_scores(result, local);
  merge_local_best(result, local);
  // The scan's message knew only the chain; the merges may have added rows or a best score.
  set_message(result);
  if (args.prefetch_avatars) prefetch_avatars(result, args.parallel);
  return result;
}

bool begin_board_load(BoardLoadState& state) {
  if (state.running) {
    state.wanted = true;
    return false;
  }
  state.running = true;
  return true;
}

bool finish_board_load(BoardLoadState& state) {
  state.running = false;
  if (!state.wanted) return false;
  state.wanted = false;
  return true;
}

}  // namespace arcade
