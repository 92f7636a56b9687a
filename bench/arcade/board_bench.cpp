// A board load against a devnet that answers every request after 20 ms, with the oracle address
// holding 250 signed score rows from ten players: the sequential scan (one request after another)
// against the parallel one (8 in flight), from a cold identity key cache each time. Prints the
// parallel / sequential ratio (target: at most 0.2) and the share of the load the replay checks
// take. Starts its own devnet (node tools/devnet); making the rows takes a minute or two.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "arcade/board.h"
#include "arcade/score_record.h"
#include "bench/devnet_process.h"
#include "tests/arcade/devnet_players.h"

namespace {

constexpr int kPlayers = 10;
constexpr int kRowsPerPlayer = 25;

struct Setup {
  std::unique_ptr<devnet_bench::RunFolders> run;
  devnet_wallet::DevnetInfo devnet;
  std::string error;
  int64_t now = 0;
  double sequential_ms = 0, parallel_ms = 0, replay_ms = 0, devnet_cpu_ms = 0, client_cpu_ms = 0;
};

// Makes the devnet and its 250 rows once, for every benchmark of this program.
Setup& setup() {
  static Setup s = [] {
    Setup made;
    made.run = std::make_unique<devnet_bench::RunFolders>("ostakka-board-bench");
    if (!devnet_bench::start_own_devnet(*made.run, "--latency-ms 20")) {
      made.error = "no devnet: install node (bash scripts/setup)";
      return made;
    }
    if (!devnet_wallet::start_devnet_process(made.devnet, made.run->data_dir, made.error)) {
      return made;
    }
    made.now = static_cast<int64_t>(std::time(nullptr));
    uint32_t seed = 1;
    for (int p = 0; p < kPlayers && made.error.empty(); ++p) {
      devnet_players::Player player;
      if (!devnet_players::make_player(made.devnet, "bench" + std::to_string(p), true, 2000000,
                                       player, made.error)) {
        break;
      }
      for (int r = 0; r < kRowsPerPlayer; ++r) {
        const engine::RunRecord game =
            devnet_players::finished_run(devnet_players::random_hex(32), seed++);
        nlohmann::json row = arcade::build_score_payload(game, made.now + r);
        if (!arcade::sign_claim(row, made.error) ||
            devnet_players::pay_row(row, made.error).empty()) {
          break;
        }
      }
      (void)devnet_wallet::mine(made.devnet);  // keep the unconfirmed chain short
    }
    return made;
  }();
  return s;
}

// CPU time the devnet process has used so far, in milliseconds (0 when it cannot be read). Every
// request opens a fresh TLS connection, and the devnet serves them all on one Node thread: on a
// small, busy machine that thread, not the client, can set the pace of the parallel load.
double devnet_cpu_ms(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stod(field);  // utime, stime
  }
  return ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// CPU time this process (all its threads) has used so far, in milliseconds.
double own_cpu_ms() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

void load(benchmark::State& state, int parallel, double& total_ms) {
  Setup& s = setup();
  if (!s.error.empty()) {
    state.SkipWithError(s.error.c_str());
    return;
  }
  arcade::BoardScanStats stats;
  std::vector<double> totals;
  std::vector<double> replays;
  std::size_t rows = 0;
  const double cpu_before = devnet_cpu_ms(s.run->devnet);
  const double own_before = own_cpu_ms();
  for (auto _ : state) {
    state.PauseTiming();
    arcade::clear_identity_key_cache();
    state.ResumeTiming();
    arcade::BoardResult result;
    (void)arcade::scan_board(result, {s.now, parallel, &stats});
    totals.push_back(std::chrono::duration<double, std::milli>(stats.total).count());
    replays.push_back(std::chrono::duration<double, std::milli>(stats.replay).count());
    rows = result.rows.size();
  }
  std::sort(totals.begin(), totals.end());
  std::sort(replays.begin(), replays.end());
  total_ms = totals[totals.size() / 2];
  state.counters["median_ms"] = total_ms;
  state.counters["replay_ms"] = replays[replays.size() / 2];
  state.counters["replay_share"] = replays[replays.size() / 2] / total_ms;
  state.counters["listed"] = static_cast<double>(stats.listed);
  state.counters["lookups"] = static_cast<double>(stats.lookups);
  state.counters["rows"] = static_cast<double>(rows);
  const double devnet_ms =
      (devnet_cpu_ms(s.run->devnet) - cpu_before) / static_cast<double>(totals.size());
  state.counters["devnet_cpu_ms"] = devnet_ms;
  const double client_ms = (own_cpu_ms() - own_before) / static_cast<double>(totals.size());
  state.counters["client_cpu_ms"] = client_ms;
  if (parallel > 1) {
    s.replay_ms = replays[replays.size() / 2];
    s.devnet_cpu_ms = devnet_ms;
    s.client_cpu_ms = client_ms;
  }
}

void BM_board_load_sequential(benchmark::State& state) {
  load(state, 1, setup().sequential_ms);
}

void BM_board_load_parallel(benchmark::State& state) {
  load(state, arcade::kBoardFetchParallel, setup().parallel_ms);
}

// The summary of the two above.
void BM_board_load_ratio(benchmark::State& state) {
  const Setup& s = setup();
  for (auto _ : state) {
  }
  if (s.sequential_ms <= 0 || s.parallel_ms <= 0) {
    state.SkipWithError("the loads did not run");
    return;
  }
  state.counters["parallel_over_sequential"] = s.parallel_ms / s.sequential_ms;
  state.counters["replay_share_of_parallel"] = s.replay_ms / s.parallel_ms;
  std::printf(
      "board load: sequential %.0f ms, parallel %.0f ms, ratio %.3f (target <= 0.2); replay "
      "checks %.1f ms = %.1f%% of the parallel load; CPU per parallel load: %.0f ms here, %.0f ms "
      "in the devnet\n",
      s.sequential_ms, s.parallel_ms, s.parallel_ms / s.sequential_ms, s.replay_ms,
      100.0 * s.replay_ms / s.parallel_ms, s.client_cpu_ms, s.devnet_cpu_ms);
}

BENCHMARK(BM_board_load_sequential)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_board_load_parallel)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_board_load_ratio)->Iterations(1);

}  // namespace
