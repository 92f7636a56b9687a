// A player for tests and benchmarks that plays well enough to clear rows and trigger cascades,
// and badly enough to lose, with clock jitter, stalls, pauses and stray keys in between.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>

#include "engine/engine.h"
#include "engine/run.h"

namespace engine_test {

struct PlayerStyle {
  unsigned noise = 0;          // random weight added to each placement's value
  unsigned stray_percent = 0;  // chance per turn of a random key
  unsigned pause_percent = 0;  // chance per turn of a pause with time passing
  unsigned stall_percent = 0;  // chance per turn of a multi-second window stall
  unsigned fast_drop_percent = 50;
  unsigned idle_ticks = 3;       // up to this many 16 ms ticks between actions
  uint64_t stop_playing_ms = 0;  // from this sim time on only time passes (0: never)
};

struct Target {
  int32_t rotation = 0;
  int32_t x = 3;
};

// False where the piece does not fit or would lose cells above the well.
inline bool placement_value(const engine::GameState& game, int32_t rotation, int32_t x,
                            double& value) {
  using namespace engine;
  int32_t y = game.piece_y;
  if (!piece_fits(game, game.piece_type, rotation, x, y)) return false;
  while (piece_fits(game, game.piece_type, rotation, x, y + 1)) ++y;
  std::array<bool, kWellCells> filled;
  for (size_t i = 0; i < filled.size(); ++i) filled[i] = game.cell_plane[i] != 0;
  for (const CellOffset& cell :
       PieceShapes[static_cast<size_t>(game.piece_type)][static_cast<size_t>(rotation)]) {
    if (y + cell.dy < 0) return false;
    filled[static_cast<size_t>((y + cell.dy) * kWellColumns + x + cell.dx)] = true;
  }
  int full_rows = 0, heights = 0, holes = 0, bumps = 0, previous = -1;
  for (auto row = filled.begin(); row != filled.end(); row += kWellColumns) {
    full_rows += std::all_of(row, row + kWellColumns, [](bool cell) { return cell; });
  }
  for (int col = 0; col < kWellColumns; ++col) {
    int height = 0;
    for (int row = 0; row < kWellRows; ++row) {
      if (filled[static_cast<size_t>(row * kWellColumns + col)]) {
        if (height == 0) height = kWellRows - row;
      } else if (height > 0) {
        ++holes;
      }
    }
    heights += height;
    if (previous >= 0) bumps += std::abs(height - previous);
    previous = height;
  }
  value = -0.51 * heights + 0.76 * full_rows - 0.36 * holes - 0.18 * bumps;
  return true;
}

inline Target choose_target(const engine::GameState& game, std::mt19937& random, unsigned noise) {
  Target best;
  double best_value = -1e9;
  for (int32_t rotation = 0; rotation < engine::kRotations; ++rotation) {
    for (int32_t x = -2; x < engine::kWellColumns; ++x) {
      double value = 0;
      if (!placement_value(game, rotation, x, value)) continue;
      if (noise > 0) value += static_cast<double>(random() % (noise + 1)) / 10.0;
      if (value > best_value) {
        best_value = value;
        best = {rotation, x};
      }
    }
  }
  return best;
}

// `spawns` must be counted by the run's on_lock hook: it tells the player a new piece arrived.
inline void play_run(engine::RunRecord& run, uint64_t& clock, const size_t& spawns,
                     std::mt19937& random, const PlayerStyle& style) {
  using namespace engine;
  size_t planned_for = SIZE_MAX;
  Target target;
  bool dropped = false;
  for (uint64_t turn = 0; run.arcade_state == ArcadeState::Playing && turn < 10000000; ++turn) {
    clock += kStepMs * (random() % (style.idle_ticks + 1));
    const unsigned roll = random() % 100;
    const bool stopped = style.stop_playing_ms != 0 && run.sim_clock >= style.stop_playing_ms;
    if (stopped || roll < style.stall_percent) {
      clock += 1000 + (stopped ? 0 : random() % 4000);
      run_tick(run);
      continue;
    }
    if (roll < style.stall_percent + style.pause_percent) {
      toggle_pause(run);
      clock += random() % 60000;
      apply_action(run, MoveLeft);  // a key while paused must leave no trace
      toggle_pause(run);
      continue;
    }
    if (roll < style.stall_percent + style.pause_percent + style.stray_percent) {
      apply_action(run, static_cast<uint8_t>(1 + random() % 6));
      continue;
    }
    run_tick(run);
    const GameState& game = run.game;
    if (game.clearing || game.cascading || game.game_over) continue;
    if (planned_for != spawns) {
      planned_for = spawns;
      target = choose_target(game, random, style.noise);
      dropped = false;
    }
    if (game.rotation != target.rotation) {
      apply_action(run, RotateCW);
    } else if (game.piece_x != target.x) {
      apply_action(run, game.piece_x < target.x ? MoveRight : MoveLeft);
    } else if (!dropped) {
      dropped = true;
      if (random() % 100 < style.fast_drop_percent) apply_action(run, FastDrop);
    } else if (random() % 4 == 0) {
      apply_action(run, SoftDrop);
    }
  }
}

}  // namespace engine_test
