// The weekly board, rebuilt from the chain by every copy of the game: the transactions that paid
// the arcade oracle address are listed and fetched, the score row in each is found and its claim
// verified against the published identity key, and the rows of the current UTC week are ranked.
// Scores recorded on this computer are merged in from the local cache in the settings document so
// the player sees them before the indexers do.
//
// Beyond the signature, every row's tape is replayed with the engine and the row gets a verdict;
// the verdict never changes which rows are listed or their order (other copies of the game list
// the same rows), the board window shows it.
//
// Everything here runs on the board worker except record_local_score and snapshot_run, which run
// on the window thread. Nothing posts events: the window wraps load_board in its worker.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/replay.h"
#include "engine/run.h"

namespace arcade {

// Monday 00:00:00 UTC of the week that holds Unix time t (a negative t counts as 0). The week key
// of every score row and cache entry.
[[nodiscard]] int64_t week_start(int64_t t);

struct BoardRow {
  std::string pubkey;    // the signer's identity key (empty for local rows)
  std::string handle;    // "handle", else "actor"; for local rows the player's paymail address
  std::string paymail;   // "paymail"
  std::string pay_addr;  // where the player is paid
  std::string game;      // "stakka"
  std::string entry;     // the entry txid (empty for local rows)
  std::string txid;      // the score transaction (may be empty for local rows)
  int64_t score = 0;
  int64_t ts = 0;
  int64_t week = 0;  // the row's week key
  // The replay check of the row's tape; local rows carry no tape.
  engine::RunVerdict replay = engine::RunVerdict::no_tape;
  std::string replay_note;  // why, when the verdict is not verified
  // The decoded tape, kept for the board window's replay viewer (empty for no_tape).
  engine::TapeHeader tape_header;
  engine::InputTape tape;
  bool operator==(const BoardRow&) const = default;
};

// The player-facing name of a row: the handle, else the paymail, cut before its first "@"; when
// that leaves nothing, the pay_addr.
[[nodiscard]] std::string display_name(const BoardRow& row);

struct BoardResult {
  std::vector<BoardRow> rows;  // at most 20 rows of the current week, ranked
  BoardRow best;               // the highest score ever seen
  bool has_best = false;
  std::string message;  // set only when there are no rows
  int64_t week_start = 0;
  bool operator==(const BoardResult&) const = default;
};

inline constexpr std::size_t kBoardRowLimit = 20;
inline constexpr std::size_t kBoardTxidLimit = 250;
// Transaction fetches (and identity lookups, and replays) in flight at once.
inline constexpr int kBoardFetchParallel = 8;

// Where the time of a load went.
struct BoardScanStats {
  std::size_t listed = 0;   // distinct txids kept from the listings
  std::size_t fetched = 0;  // transactions read
  std::size_t lookups = 0;  // identity keys looked up (distinct signers)
  std::chrono::nanoseconds total{0};
  std::chrono::nanoseconds replay{0};  // the replay checks' share of `total`
};

struct BoardScanOptions {
  int64_t now = 0;                     // Unix seconds; the week is week_start(now)
  int parallel = kBoardFetchParallel;  // 1 scans one transaction after another
  BoardScanStats* stats = nullptr;     // filled when given
};

// Appends the txids of a listing: a bare array, or an object's "txids" array, else its "result"
// array; elements that are texts, or objects with "tx_hash" (else "txid"). Only 64 hex digits are
// taken, lowered (a txid names a path on the service host, so nothing else may pass).
void collect_txids(const nlohmann::json& listing, std::vector<std::string>& ids);

// GET "/oi/tx/<txid>" on the service host, else WhatsOnChain's "/tx/<txid>", whose scripts cut
// short ("isTruncated") are then read from its "/tx/<txid>/hex". An answer is taken only when its
// "txid" (else "hash") is the one asked for, and a raw transaction only when it hashes to it.
[[nodiscard]] bool fetch_tx(const std::string& txid, nlohmann::json& out);

// The chain scan: listing, fetches, verification, replay verdicts, ranking, best row and message.
// False when it found neither weekly rows nor a best row. The result is the same, field for
// field, whatever `parallel` is.
bool scan_board(BoardResult& result, const BoardScanOptions& options);

// What the local merges need from the window thread's run state, copied there when a load starts
// so the worker never reads the run record while the window changes it.
struct RunSnapshot {
  int64_t final_score = 0;
  engine::ArcadeState state = engine::ArcadeState::Idle;
  int64_t running_score = 0;  // the engine's score
  std::string score_txid;
};
[[nodiscard]] RunSnapshot snapshot_run(const engine::RunRecord& run);

// The player and time the merges see.
struct LocalBoardInputs {
  nlohmann::json settings;  // a copy of the settings document (its "week_scores", "best_ever")
  std::string paymail;      // the session's paymail address, "" without one
  std::string pay_addr;     // the session's receive address, "" without one
  RunSnapshot run;
  int64_t now = 0;
};

// Adds this computer's scores of the current week and the session's own score, then orders the
// rows by score alone (stable) and keeps 20.
void merge_local_scores(BoardResult& result, const LocalBoardInputs& local);
// Lets the cached best, every cached score and the session's own score compete for the best row.
void merge_local_best(BoardResult& result, const LocalBoardInputs& local);

// Records final score `score` (with its txid once recorded, else "") in a settings document:
// updates or adds this week's cache entry, drops entries of other weeks, raises "best_ever".
// Nothing happens for a score below 1.
void record_local_score(nlohmann::json& settings, const std::string& txid, int64_t score,
                        const std::string& paymail, const std::string& pay_addr, int64_t now);
// The window thread's call: the current run's final score, the session's player, the clock, on
// the process settings document, which is then saved.
void record_local_score(const std::string& txid);

// The board worker's argument.
struct BoardLoadArgs {
  RunSnapshot run;
  int64_t now = 0;
  int parallel = kBoardFetchParallel;
  bool prefetch_avatars = true;  // the command-line board shows no pictures
};

// The board worker's whole job: scan, both merges (the settings document and the session read
// under their locks), the avatar prefetch for the rows and the best row. Returns what the window
// shows.
[[nodiscard]] BoardResult load_board(const BoardLoadArgs& args, BoardScanStats* stats = nullptr);

// At most one board load runs; requests during a load collapse into one reload after it.
// Window thread only.
struct BoardLoadState {
  bool running = false;
  bool wanted = false;
};
// True when the caller should start a load now (it is then marked running); false when one is
// running (another is then marked wanted).
[[nodiscard]] bool begin_board_load(BoardLoadState& state);
// The load's result has arrived: true when a wanted reload should start now (begin_board_load
// then marks it running).
[[nodiscard]] bool finish_board_load(BoardLoadState& state);

}  // namespace arcade
