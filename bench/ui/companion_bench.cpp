// The board window and its avatars. Targets: a full board (20 rows, the best row, 21 pictures)
// paints in under 4 ms of one core, so scrolling keeps up with the wheel; decoding 21 ordinary
// pictures after a load takes under 150 ms; and a load of hostile bodies (2 MB of noise, headers
// claiming 20000 x 20000, pictures of the largest side we decode in a small body) takes under a
// second on the window thread and raises the process's peak memory by under 64 MB.
// Run: build/bench/companion_bench
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <random>

#include "ui/avatar.h"
#include "ui/board_window.h"

namespace {

QApplication& application() {
  static int argc = 1;
  static char name[] = "companion_bench";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

std::string png_of(int side, uint32_t seed) {
  QImage image(side, side, QImage::Format_RGB32);
  std::mt19937 random(seed);
  for (int y = 0; y < side; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < side; ++x) line[x] = random();
  }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "png");
  return bytes.toStdString();
}

// 21 players, each with a noisy 600 x 600 PNG (about 1.4 MB, under the 2 MB body cap).
std::map<std::string, std::string> pictures() {
  std::map<std::string, std::string> bytes;
  for (int i = 0; i <= 20; ++i) bytes["player" + std::to_string(i)] = png_of(600, i);
  return bytes;
}

// A PNG of side x side in one colour: a small body that decodes to side^2 x 4 bytes.
std::string flat_png(int side) {
  QImage image(side, side, QImage::Format_RGB32);
  image.fill(Qt::darkRed);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "png");
  return bytes.toStdString();
}

// A real PNG whose header claims 20000 x 20000, with the header's checksum made to match.
std::string png_claiming_20000() {
  std::string png = flat_png(8);
  for (int k = 0; k < 4; ++k) png[16 + k] = png[20 + k] = "\x00\x00\x4e\x20"[k];
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 12; i < 29; ++i) {
    crc ^= static_cast<unsigned char>(png[i]);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  crc = ~crc;
  for (int k = 0; k < 4; ++k) png[29 + k] = static_cast<char>(crc >> (24 - 8 * k));
  return png;
}

long peak_rss_kb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void BM_board_paint_full(benchmark::State& state) {
  application();
  arcade::BoardResult board;
  for (int i = 0; i < 20; ++i) {
    arcade::BoardRow row;
    row.handle = "player" + std::to_string(i);
    row.score = 100000 - i;
    board.rows.push_back(row);
  }
  board.has_best = true;
  board.best = board.rows[0];
  board.best.handle = "player20";
  ui::build_avatar_bitmaps(pictures());
  ui::BoardWindow window(nullptr, board, "player3", nullptr);
  QImage frame(window.size(), QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    window.render(&frame);
    benchmark::DoNotOptimize(frame.constBits());
  }
  ui::release_avatar_bitmaps();
}

void BM_avatar_decode_21(benchmark::State& state) {
  application();
  const auto bytes = pictures();
  for (auto _ : state) ui::build_avatar_bitmaps(bytes);
  state.counters["pictures"] = static_cast<double>(ui::avatar_bitmap_count());
  ui::release_avatar_bitmaps();
}

// Peak memory growth over a load of hostile bodies; run once, as peak memory only grows.
void BM_avatar_hostile_peak_memory(benchmark::State& state) {
  application();
  // A third each: 2048 x 2048 pictures in small bodies (the largest side we decode), headers
  // claiming 20000 x 20000, and 2 MB of noise.
  std::map<std::string, std::string> bytes;
  const std::string big = flat_png(2048);
  const std::string claiming = png_claiming_20000();
  for (int i = 0; i <= 20; ++i) {
    bytes["player" + std::to_string(i)] = i % 3 == 0   ? big
                                          : i % 3 == 1 ? claiming
                                                       : std::string(2u << 20, 'x');
  }
  const long before = peak_rss_kb();
  for (auto _ : state) ui::build_avatar_bitmaps(bytes);
  state.counters["peak_growth_mb"] = static_cast<double>(peak_rss_kb() - before) / 1024.0;
  state.counters["pictures"] = static_cast<double>(ui::avatar_bitmap_count());
  ui::release_avatar_bitmaps();
}

}  // namespace

BENCHMARK(BM_board_paint_full)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_avatar_decode_21)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_avatar_hostile_peak_memory)->Unit(benchmark::kMillisecond)->Iterations(1);
