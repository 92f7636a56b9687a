#include "engine/run.h"

namespace engine {
namespace {

uint64_t now_tick(const RunRecord& run) {
  return run.callbacks.tick_count ? run.callbacks.tick_count() : 0;
}

bool running(const RunRecord& run) {
  return run.arcade_state == ArcadeState::Playing && !run.game.paused && !run.game.game_over;
}

void append_entry(RunRecord& run, uint8_t action) {
  if (run.tape.size() < kTapeLimit) {
    run.tape.push_back({static_cast<uint32_t>(run.sim_clock), action});
  }
}

}  // namespace

RunRecord& current_run() {
  static RunRecord run;
  return run;
}

void start_run(RunRecord& run) {
  run.game.hooks = run.hooks;
  new_game(run.game, seed_from_txid(run.entry_txid));
  run.sim_clock = 0;
  run.run_start_tick = now_tick(run);
  run.pause_start_tick = 0;
  run.tape.clear();
  run.tape_header = TapeHeader{};
  run.score_txid.clear();
  run.final_score = 0;
  run.arcade_state = ArcadeState::Playing;
  run.record_flash = false;
  const RunCallbacks& calls = run.callbacks;
  if (calls.start_timer) calls.start_timer();
  if (calls.set_run_buttons_enabled) calls.set_run_buttons_enabled(false);
  if (calls.focus_window) calls.focus_window();
  if (calls.show_status) calls.show_status(kRunStartStatus);
}

void run_tick(RunRecord& run) {
  if (!running(run)) return;
  const uint64_t tick = now_tick(run);
  // A clock that reads earlier than the run start (it should not) means no time has passed.
  const uint64_t elapsed = tick > run.run_start_tick ? tick - run.run_start_tick : 0;
  if (catch_up(run.game, run.sim_clock, elapsed)) end_run(run);
}

void apply_action(RunRecord& run, uint8_t action) {
  if (action < MoveLeft || action > FastDrop) return;
  run_tick(run);
  if (!running(run)) return;
  // A full tape still lets the action through; it is just not recorded.
  append_entry(run, action);
  apply_to_game(run.game, action, run.sim_clock);
  if (run.game.game_over) end_run(run);
}

void end_run(RunRecord& run) {
  if (run.arcade_state != ArcadeState::Playing) return;
  run.final_score = run.game.score;
  run.arcade_state = ArcadeState::GameOver;
  append_entry(run, RunEnd);
  run.record_flash = true;
  const RunCallbacks& calls = run.callbacks;
  if (calls.cache_score) calls.cache_score(run.final_score, run.score_txid);
  if (calls.set_run_buttons_enabled) calls.set_run_buttons_enabled(true);
  if (calls.play_game_over_sound) calls.play_game_over_sound();
  if (calls.show_status) calls.show_status(kGameOverStatus);
  if (calls.redraw_well) calls.redraw_well();
}

void pause_run(RunRecord& run) {
  if (run.game.paused) return;
  run.pause_start_tick = now_tick(run);
  run.game.paused = 1;
}

void resume_run(RunRecord& run) {
  if (!run.game.paused) return;
  // The paused flag is only ever set together with the pause start tick, so the tick is taken
  // as recorded even when it reads 0 (a driven clock may start there).
  const uint64_t tick = now_tick(run);
  if (tick > run.pause_start_tick) run.run_start_tick += tick - run.pause_start_tick;
  run.pause_start_tick = 0;
  run.game.paused = 0;
}

void toggle_pause(RunRecord& run) {
  if (run.game.paused) {
    resume_run(run);
  } else {
    pause_run(run);
  }
}

}  // namespace engine
