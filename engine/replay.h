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

// Replays a finished run. Fails with a one-line reason unless every record is a known action at a
// non-decreasing multiple of 16 ms, no action comes after game over, and the tape ends with the
// RunEnd record at the moment the game ended.
[[nodiscard]] bool replay_tape(std::string_view entry_txid, const InputTape& tape,
                               ReplayResult& out, std::string& error);

}  // namespace engine
