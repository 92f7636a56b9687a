// Replays a run from its entry txid and input tape: each record is applied after the engine has
// been stepped up to its time, under the same rules the run layer used when it was recorded.
// Used by the ostakka-replay program and by the tests that check recording against replay.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"
#include "engine/run.h"

namespace engine {

struct ReplayResult {
  uint32_t seed = 0;
  GameState game;               // the engine record when the replay ended
  uint64_t ticks = 0;           // final sim clock
  size_t entries = 0;           // records read
  std::vector<int32_t> pieces;  // every piece type dealt, active and preview, in order
};

// True for 64 hex digits (either case), ignoring surrounding bytes <= 32.
[[nodiscard]] bool is_txid(std::string_view text);

// True only for exactly 64 lower-case hex digits with nothing around them: the one spelling of an
// entry txid a recorded run may carry. The seed rule forgives case and blanks, so without this one
// run could be signed under several spellings, each with its own tape hash.
[[nodiscard]] bool is_canonical_entry(std::string_view entry);

// Replays a finished run. Fails with a one-line reason unless every record is a known action at a
// non-decreasing multiple of 16 ms, no action comes after game over, and the tape ends with the
// RunEnd record at the moment the game ended.
[[nodiscard]] bool replay_tape(std::string_view entry_txid, const InputTape& tape,
                               ReplayResult& out, std::string& error);

// A replay taken a stretch at a time, for a viewer that shows the run at the pace it was played.
// replay_tape is this with no stop, so the two cannot disagree about a run.
struct ReplayCursor {
  ReplayResult result;  // the game so far; ticks is its sim clock
  size_t next = 0;      // the first tape record not yet applied
  size_t spawns = 0;    // pieces locked so far (each deals one new preview)
  bool ended = false;   // the RunEnd record was reached at game over
  bool failed = false;  // the tape broke a rule; `error` says which
  std::string error;
};

// A fresh game seeded from the entry txid, at sim time 0.
void begin_replay(ReplayCursor& cursor, std::string_view entry_txid);

// Applies every record due by sim time `until` (ms) and steps the engine up to it. A cursor that
// ended or failed stays as it is. Fails with the reasons replay_tape gives; a tape whose records
// are all used up without RunEnd fails too. Returns !failed.
bool advance_replay(ReplayCursor& cursor, const InputTape& tape, uint64_t until);

// How a recorded run (a score row's "entry", "tape", "tape_hash" and "score") stands up to its
// own tape. no_tape: the tape is missing or does not decode. mismatch: it decodes, but is not in
// the one form the game writes (header version 1, both header words 0, an entry of 64 lower-case
// hex digits), or its SHA-256 is not exactly tape_hash, or it does not replay from the entry to
// game over at its RunEnd record, or the replayed score differs. verified: none of that.
enum class RunVerdict : uint8_t { verified, mismatch, no_tape };

// "verified", "mismatch" or "no_tape".
[[nodiscard]] const char* run_verdict_name(RunVerdict verdict);

struct RunCheck {
  TapeHeader header;
  InputTape tape;       // the decoded tape (empty for no_tape)
  ReplayResult replay;  // as far as the replay got
};

// The one check of a recorded run, used by the board and by ostakka-replay --payload. On anything
// but verified, `error` says why in one line.
[[nodiscard]] RunVerdict check_recorded_run(std::string_view entry, std::string_view tape_hex,
                                            std::string_view tape_hash, int64_t score,
                                            RunCheck& out, std::string& error);

}  // namespace engine
