// Replay speed: one long run, recorded through the run layer by a steady player, replayed from
// its tape. Target: one simulated hour (225,000 ticks) in 10 ms or less.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>

#include "engine/replay.h"
#include "engine/tape.h"
#include "tests/engine/random_player.h"

namespace {

constexpr uint64_t kHourMs = 3600000;

struct LongRun {
  engine::RunRecord run;
  uint64_t clock = 1;
  size_t spawns = 0;
};

// Plays for at least one simulated hour, then lets gravity end the game. A steady player places
// about one piece a second; a frantic one acts on nearly every tick and drops almost everything,
// which means far more locks, clears and cascades per hour.
LongRun* record_long_run(bool frantic) {
  auto* made = new LongRun;
  std::mt19937 random(20261206);
  for (uint32_t attempt = 0; attempt < 16; ++attempt) {
    *made = LongRun{};
    made->run.entry_txid = std::string(63, '0') + "0123456789abcdef"[attempt % 16];
    made->run.callbacks.tick_count = [made] { return made->clock; };
    made->run.hooks.on_lock = [made] { ++made->spawns; };
    engine::start_run(made->run);
    engine_test::PlayerStyle style;
    style.fast_drop_percent = frantic ? 60 : 30;
    style.stray_percent = frantic ? 3 : 2;  // keys that do nothing useful, as people press them
    style.idle_ticks = frantic ? 1 : 8;
    style.stop_playing_ms = kHourMs;
    engine_test::play_run(made->run, made->clock, made->spawns, random, style);
    if (made->run.sim_clock >= kHourMs) break;
  }
  return made;
}

const LongRun& long_run(bool frantic) {
  static const LongRun* steady = record_long_run(false);
  static const LongRun* fast = record_long_run(true);
  return frantic ? *fast : *steady;
}

void BM_replay_one_hour(benchmark::State& state) {
  const LongRun& recorded = long_run(state.range(0) != 0);
  const engine::InputTape& tape = recorded.run.tape;
  engine::ReplayResult result;
  std::string error;
  for (auto _ : state) {
    if (!engine::replay_tape(recorded.run.entry_txid, tape, result, error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    benchmark::DoNotOptimize(result.game.score);
  }
  if (result.game.score != recorded.run.game.score) {
    state.SkipWithError("replay disagrees with the recording");
    return;
  }
  const double hours = static_cast<double>(result.ticks) / kHourMs;
  state.counters["sim_hours"] = hours;
  state.counters["ticks"] = static_cast<double>(result.ticks / engine::kStepMs);
  state.counters["actions"] = static_cast<double>(tape.size());
  state.counters["pieces"] = static_cast<double>(result.pieces.size());
  state.counters["lines"] = result.game.lines;
  state.counters["score"] = static_cast<double>(result.game.score);
}
BENCHMARK(BM_replay_one_hour)->ArgName("frantic")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The same run read from its hex text first, as ostakka-replay does.
void BM_parse_and_replay_one_hour(benchmark::State& state) {
  const LongRun& recorded = long_run(false);
  const std::string hex = engine::tape_hex(recorded.run.tape_header, recorded.run.tape);
  engine::ReplayResult result;
  for (auto _ : state) {
    engine::TapeHeader header;
    engine::InputTape tape;
    std::string error;
    if (!engine::parse_tape(hex, header, tape, error) ||
        !engine::replay_tape(recorded.run.entry_txid, tape, result, error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    benchmark::DoNotOptimize(result.game.score);
  }
}
BENCHMARK(BM_parse_and_replay_one_hour)->Unit(benchmark::kMillisecond);

}  // namespace
