// Well paint time at the default window size, as a share of the 16 ms frame it must fit in
// (target: at most 6 %). The window's default client area of 1100 x 1220 gives a well of
// 1068 x 964 and 45-pixel cells. The busy frame draws everything at once: a nearly full board,
// two rows flashing in their bright phase with the clear frame, and the game-over box with its
// haloed texts. Run: build/bench/paint_bench
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <ctime>
#include <random>

#include "ui/well_painter.h"

namespace {

constexpr double kFrameSeconds = 0.016;

QApplication& application() {
  static int argc = 1;
  static char name[] = "paint_bench";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

double thread_cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

engine::GameState busy_game() {
  engine::GameState game;
  std::mt19937 random(7);
  for (int y = 4; y < engine::kWellRows; ++y) {
    for (int x = 0; x < engine::kWellColumns; ++x) {
      if (random() % 10 != 0) game.cell_plane[static_cast<size_t>(y * 10 + x)] = 1 + random() % 7;
    }
  }
  for (int y : {17, 18}) {
    for (int x = 0; x < engine::kWellColumns; ++x)
      game.cell_plane[static_cast<size_t>(y * 10 + x)] = 3;
  }
  game.clearing = 1;
  game.clear_rows = {17, 18, 0, 0};
  game.clear_count = 2;
  game.score = 123456;
  game.lines = 42;
  game.height = 16;
  game.next_type = 0;
  return game;
}

void paint_frames(benchmark::State& state, engine::ArcadeState arcade, qreal ratio) {
  application();
  const QRect well = ui::well_rect_for_client(1100, 1220);
  const int cell = ui::cell_size_for_well(well.width(), well.height());
  const engine::GameState game = busy_game();
  QImage frame(well.size() * ratio, QImage::Format_ARGB32_Premultiplied);
  frame.setDevicePixelRatio(ratio);
  // The flash's bright phase (tick 50) and the banner's (tick 220) both hold at tick 270.
  const ui::WellView view{
      .game = game, .arcade_state = arcade, .final_score = 123456, .cell = cell, .tick = 270};
  const double cpu_start = thread_cpu_seconds();
  for (auto _ : state) {
    QPainter painter(&frame);
    ui::paint_well(painter, well.size(), view);
    painter.end();
    benchmark::DoNotOptimize(frame.constBits());
  }
  // Seconds per frame divided by the 16 ms budget, in percent. Measured in CPU time: the paint
  // runs on the window thread alone, and CPU time does not count what other processes on a
  // busy machine take.
  const double per_frame =
      (thread_cpu_seconds() - cpu_start) / static_cast<double>(state.iterations());
  state.counters["share_of_16ms_pct"] = 100.0 * per_frame / kFrameSeconds;
  state.counters["cell_px"] = cell;
}

void BM_well_busy_game_over(benchmark::State& state) {
  paint_frames(state, engine::ArcadeState::GameOver, 1);
}
void BM_well_busy_playing(benchmark::State& state) {
  paint_frames(state, engine::ArcadeState::Playing, 1);
}
void BM_well_busy_game_over_hidpi2(benchmark::State& state) {
  paint_frames(state, engine::ArcadeState::GameOver, 2);
}

}  // namespace

BENCHMARK(BM_well_busy_game_over)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_well_busy_playing)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_well_busy_game_over_hidpi2)->Unit(benchmark::kMicrosecond);
