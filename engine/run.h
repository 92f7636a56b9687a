// The run layer: one paid run of the engine, its simulation clock and its input tape.
// Time comes from an injected tick clock and every call out to the window, buttons, status line,
// sounds and board cache is an optional callback, so a run can be played headless and tests can
// drive time by hand.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace engine {

enum class ArcadeState : uint8_t { Idle = 0, Playing = 1, GameOver = 2, Recorded = 3 };

struct TapeEntry {
  uint32_t time = 0;   // low 32 bits of the sim clock when the action was taken
  uint8_t action = 0;  // an ActionCode
  bool operator==(const TapeEntry&) const = default;
};

using InputTape = std::vector<TapeEntry>;

inline constexpr size_t kTapeLimit = 200000;

// Written in front of the serialised tape; set to 1, 0, 0 at every run start and never changed.
struct TapeHeader {
  uint8_t version = 1;
  uint16_t word1 = 0;
  uint16_t word2 = 0;
  bool operator==(const TapeHeader&) const = default;
};

// Everything the run needs from outside the engine. Each member may be empty.
struct RunCallbacks {
  std::function<uint64_t()> tick_count;  // monotonic milliseconds; absent reads as 0
  std::function<void()> start_timer;     // start (or restart) the 16 ms timer
  // Enables or disables the "Record score" and "Play  5000 sats" buttons together.
  std::function<void(bool)> set_run_buttons_enabled;
  std::function<void()> focus_window;
  std::function<void(const std::string&)> show_status;
  std::function<void()> play_game_over_sound;
  // Hands the final score and the score txid to the local board cache.
  std::function<void(int64_t, const std::string&)> cache_score;
  std::function<void()> redraw_well;
};

struct RunRecord {
  GameState game;
  ArcadeState arcade_state = ArcadeState::Idle;
  uint64_t sim_clock = 0;         // ms since the run started, always a multiple of 16
  uint64_t run_start_tick = 0;    // moved forward by the length of each pause
  uint64_t pause_start_tick = 0;  // 0 when no pause was recorded
  InputTape tape;
  TapeHeader tape_header;
  int64_t final_score = 0;
  std::string entry_txid;  // set by the arcade just before start_run
  std::string score_txid;
  bool record_flash = false;  // the Record score button flashes while set
  EngineHooks hooks;          // copied into the engine at every run start
  RunCallbacks callbacks;
};

inline constexpr const char* kRunStartStatus =
    "Arrows move. Up / X rotate. Space fast drop. P pause. One life.";
inline constexpr const char* kGameOverStatus = "Game over. Record this score on-chain (1 sat).";

// The program's one run record. Window thread only: the timer, keys and arcade results all run
// there, so it needs no lock.
[[nodiscard]] RunRecord& current_run();

void start_run(RunRecord& run);
void run_tick(RunRecord& run);
void apply_action(RunRecord& run, uint8_t action);
void end_run(RunRecord& run);

// Pause and resume keep paused time away from the sim clock and the tape.
void pause_run(RunRecord& run);
void resume_run(RunRecord& run);
void toggle_pause(RunRecord& run);

}  // namespace engine
