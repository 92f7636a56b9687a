#include "engine/replay.h"

#include <cstdint>
#include <utility>

#include "engine/tape.h"

namespace engine {
namespace {

std::string record_text(size_t index, uint32_t time) {
  return "record " + std::to_string(index + 1) + " at " + std::to_string(time) + " ms: ";
}

bool known_action(uint8_t action) {
  return (action >= MoveLeft && action <= FastDrop) || action == RunEnd;
}

}  // namespace

bool is_txid(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  if (text.size() != 64) return false;
  for (const char c : text) {
    const bool digit = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!digit) return false;
  }
  return true;
}

bool is_canonical_entry(std::string_view entry) {
  if (entry.size() != 64) return false;
  for (const char c : entry) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

const char* run_verdict_name(RunVerdict verdict) {
  switch (verdict) {
    case RunVerdict::verified:
      return "verified";
    case RunVerdict::mismatch:
      return "mismatch";
    case RunVerdict::no_tape:
      break;
  }
  return "no_tape";
}

RunVerdict check_recorded_run(std::string_view entry, std::string_view tape_hex,
                              std::string_view tape_hash_text, int64_t score, RunCheck& out,
                              std::string& error) {
  out = RunCheck{};
  error.clear();
  if (tape_hex.empty()) {
    error = "no tape";
    return RunVerdict::no_tape;
  }
  // parse_tape bounds the text before decoding it, so a huge tape costs nothing here.
  if (!parse_tape(tape_hex, out.header, out.tape, error)) return RunVerdict::no_tape;
  if (out.header != TapeHeader{}) {
    error = "tape header is not version 1 with both words 0";
    return RunVerdict::mismatch;
  }
  if (tape_hash(tape_hex) != tape_hash_text) {
    error = "\"tape_hash\" does not match the tape";
    return RunVerdict::mismatch;
  }
  if (!is_canonical_entry(entry)) {
    error = "\"entry\" is not 64 lower-case hex digits";
    return RunVerdict::mismatch;
  }
  if (!replay_tape(entry, out.tape, out.replay, error)) return RunVerdict::mismatch;
  if (out.replay.game.score != score) {
    error = "score " + std::to_string(score) + " does not match the replayed score " +
            std::to_string(out.replay.game.score);
    return RunVerdict::mismatch;
  }
  return RunVerdict::verified;
}

void begin_replay(ReplayCursor& cursor, std::string_view entry_txid) {
  cursor = ReplayCursor{};
  cursor.result.seed = seed_from_txid(entry_txid);
  new_game(cursor.result.game, cursor.result.seed);
}

bool advance_replay(ReplayCursor& cursor, const InputTape& tape, uint64_t until) {
  if (cursor.ended || cursor.failed) return !cursor.failed;
  ReplayResult& out = cursor.result;
  GameState& game = out.game;
  uint64_t& sim_clock = out.ticks;
  // Every on_lock is followed by exactly one spawn, and each spawn deals one new preview. The
  // counter lives in the cursor, so the hook must not outlive this call, whichever way it returns.
  game.hooks.on_lock = [&cursor] { ++cursor.spawns; };
  struct DropHooks {
    GameState& game;
    ~DropHooks() { game.hooks = EngineHooks{}; }
  } drop_hooks{game};
  const auto fail = [&cursor](std::string error) {
    cursor.failed = true;
    cursor.error = std::move(error);
    return false;
  };

  for (; cursor.next < tape.size(); ++cursor.next) {
    const size_t i = cursor.next;
    const TapeEntry& entry = tape[i];
    if (entry.time > until) break;
    out.entries = i + 1;
    if (!known_action(entry.action)) {
      return fail(record_text(i, entry.time) + "unknown action code " +
                  std::to_string(entry.action));
    }
    if (entry.time % kStepMs != 0) {
      return fail(record_text(i, entry.time) + "time is not a multiple of 16 ms");
    }
    if (entry.time < sim_clock) {
      return fail(record_text(i, entry.time) + "time goes back before " +
                  std::to_string(sim_clock) + " ms");
    }
    catch_up(game, sim_clock, entry.time);
    if (entry.action == RunEnd) {
      if (i + 1 != tape.size())
        return fail(record_text(i, entry.time) + "RunEnd is not the last record");
      if (!game.game_over)
        return fail(record_text(i, entry.time) + "RunEnd but the game is not over");
      if (sim_clock != entry.time) {
        return fail(record_text(i, entry.time) + "RunEnd but the game ended at " +
                    std::to_string(sim_clock) + " ms");
      }
      cursor.next = tape.size();
      cursor.ended = true;
      out.pieces = deal_pieces(out.seed, 2 + cursor.spawns);
      return true;
    }
    if (game.game_over) {
      return fail(record_text(i, entry.time) + "action after the game ended at " +
                  std::to_string(sim_clock) + " ms");
    }
    apply_to_game(game, entry.action, sim_clock);
  }
  if (cursor.next == tape.size()) {
    return fail(tape.size() >= kTapeLimit
                    ? "tape is full (" + std::to_string(kTapeLimit) +
                          " records) without RunEnd; actions after it were not recorded"
                    : "tape ends before game over (no RunEnd record)");
  }
  catch_up(game, sim_clock, until);
  return true;
}

bool replay_tape(std::string_view entry_txid, const InputTape& tape, ReplayResult& out,
                 std::string& error) {
  ReplayCursor cursor;
  begin_replay(cursor, entry_txid);
  const bool ok = advance_replay(cursor, tape, UINT64_MAX);
  out = std::move(cursor.result);
  error = std::move(cursor.error);
  return ok;
}

}  // namespace engine
