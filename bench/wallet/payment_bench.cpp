// An entry payment end to end against the devnet on loopback: unspent refresh, candidates,
// building, signing, the own submission and the bookkeeping afterwards. Repeated payments from one
// wallet, each spending the previous one's change; the first payment (which derives the seed) is
// made before timing starts. Reports the median and the worst payment. Target: median < 150 ms.
//
// Uses the devnet named by OSTAKKA_DEVNET_INFO, or starts its own one (node tools/devnet).
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/devnet_process.h"
#include "config/deploy_config.h"
#include "wallet/arcade_payments.h"

namespace {

void BM_entry_payment(benchmark::State& state) {
  devnet_bench::RunFolders run("ostakka-pay-bench");
  if (std::getenv("OSTAKKA_DEVNET_INFO") == nullptr && !devnet_bench::start_own_devnet(run, "")) {
    state.SkipWithError("no devnet: set OSTAKKA_DEVNET_INFO or install node");
    return;
  }
  devnet_wallet::DevnetInfo devnet;
  std::string error;
  if (!devnet_wallet::start_devnet_process(devnet, run.data_dir, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  if (devnet_wallet::create_bound_wallet(devnet_wallet::random_mnemonic()).empty()) {
    state.SkipWithError("could not create the wallet");
    return;
  }
  const std::string address = wallet::session().payment_address;
  if (devnet_wallet::fund(devnet, address, 100000000).empty()) {
    state.SkipWithError("could not fund the wallet");
    return;
  }
  const auto& cfg = config::deploy_config();
  const std::string house(cfg.house_address), pot(cfg.pot_address);
  // The first payment derives the seed and reads the unspent lists: not timed.
  if (wallet::pay_arcade_entry(house, pot).rfind("success", 0) != 0) {
    state.SkipWithError("the first payment failed");
    return;
  }

  std::vector<double> times_ms;
  int failures = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const std::string result = wallet::pay_arcade_entry(house, pot);
    const auto end = std::chrono::steady_clock::now();
    const double ms = std::chrono::duration<double, std::milli>(end - start).count();
    state.SetIterationTime(ms / 1000.0);
    times_ms.push_back(ms);
    if (result.rfind("success", 0) != 0) ++failures;
    if (times_ms.size() % 20 == 0) {
      state.PauseTiming();
      (void)devnet_wallet::mine(devnet);  // keep the unconfirmed chain short, as blocks would
      state.ResumeTiming();
    }
  }
  std::sort(times_ms.begin(), times_ms.end());
  if (!times_ms.empty()) {
    state.counters["median_ms"] = times_ms[times_ms.size() / 2];
    state.counters["worst_ms"] = times_ms.back();
  }
  state.counters["failures"] = failures;
}

BENCHMARK(BM_entry_payment)->Iterations(60)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
