// Key derivation (first time with PBKDF2, then from the cache), signing and verification.
// Verification matters most: the weekly board checks up to 250 signed rows on every load.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "wallet/hd_keys.h"
#include "wallet/ow_korb_wallet.h"
#include "wallet/signatures.h"

namespace {

constexpr char kPhrase[] =
    "legal winner thank year wave sausage worth useful legal winner thank yellow";

void load_wallet() {
  std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
  wallet::wipe_session();
  wallet::WalletSession& s = wallet::session();
  s.mnemonic = kPhrase;
  s.hd = true;
  s.recv[1] = 20;
  s.show = 3;
}

std::string payment_key() {
  std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
  return wallet::session().payment_private_key;
}

// Payment, identity and ordinals keys right after a wallet is loaded: PBKDF2 runs once.
void derive_keys_first_time(benchmark::State& state) {
  for (auto _ : state) {
    load_wallet();
    benchmark::DoNotOptimize(wallet::refresh_wallet_keys());
  }
  wallet::wipe_session();
}
BENCHMARK(derive_keys_first_time)->Unit(benchmark::kMillisecond);

// The same three keys with the seed and master key cached.
void derive_keys_cached(benchmark::State& state) {
  load_wallet();
  (void)wallet::refresh_wallet_keys();
  for (auto _ : state) benchmark::DoNotOptimize(wallet::refresh_wallet_keys());
  wallet::wipe_session();
}
BENCHMARK(derive_keys_cached)->Unit(benchmark::kMicrosecond);

// The last receive key of 21, as a payment looks up an input's key (address cache warm).
void find_key_for_last_receive_address(benchmark::State& state) {
  load_wallet();
  (void)wallet::refresh_wallet_keys();
  std::string priv, pub, address;
  (void)wallet::derive_path_keys(wallet::receive_path(20), priv, pub, address);
  for (auto _ : state) benchmark::DoNotOptimize(wallet::find_key_for_address(address, priv, pub));
  wallet::wipe_session();
}
BENCHMARK(find_key_for_last_receive_address)->Unit(benchmark::kMicrosecond);

void sign_digest_der(benchmark::State& state) {
  load_wallet();
  (void)wallet::refresh_wallet_keys();
  const std::string priv = payment_key();
  const wallet::Digest32 digest = wallet::sha256("input");
  wallet::Bytes der;
  for (auto _ : state) benchmark::DoNotOptimize(wallet::sign_digest_der(priv, digest, der));
  wallet::wipe_session();
}
BENCHMARK(sign_digest_der)->Unit(benchmark::kMicrosecond);

void sign_message_compact(benchmark::State& state) {
  load_wallet();
  (void)wallet::refresh_wallet_keys();
  const std::string priv = payment_key();
  std::string sig;
  for (auto _ : state) {
    benchmark::DoNotOptimize(wallet::sign_message_compact(priv, "submission envelope", sig));
  }
  wallet::wipe_session();
}
BENCHMARK(sign_message_compact)->Unit(benchmark::kMicrosecond);

struct Row {
  std::string message, pub, sig;
};

std::vector<Row> signed_rows(std::size_t count) {
  load_wallet();
  (void)wallet::refresh_wallet_keys();
  const std::string priv = payment_key();
  std::string pub;
  {
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    pub = wallet::session().payment_public_key;
  }
  std::vector<Row> rows;
  for (std::size_t i = 0; i < count; ++i) {
    Row row{"OW1|score|arcade|player|player|1700000000|" + std::to_string(i), pub, {}};
    if (!wallet::identity_signature(priv, row.message, row.sig)) break;
    rows.push_back(row);
  }
  wallet::wipe_session();
  return rows;
}

// One row as the board reads it (Bitcoin Signed Message digest, the first one tried).
void verify_message(benchmark::State& state) {
  const std::vector<Row> rows = signed_rows(1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(wallet::verify_message(rows[0].message, rows[0].pub, rows[0].sig));
  }
}
BENCHMARK(verify_message)->Unit(benchmark::kMicrosecond);

// A forged row costs the most: all three digests are tried before it is refused.
void verify_message_refused(benchmark::State& state) {
  const std::vector<Row> rows = signed_rows(1);
  const std::string forged = rows[0].message + "0";
  for (auto _ : state) {
    benchmark::DoNotOptimize(wallet::verify_message(forged, rows[0].pub, rows[0].sig));
  }
}
BENCHMARK(verify_message_refused)->Unit(benchmark::kMicrosecond);

// A full weekly board of 250 rows.
void verify_board_of_250_rows(benchmark::State& state) {
  const std::vector<Row> rows = signed_rows(250);
  for (auto _ : state) {
    int good = 0;
    for (const Row& row : rows) good += wallet::verify_message(row.message, row.pub, row.sig);
    benchmark::DoNotOptimize(good);
  }
}
BENCHMARK(verify_board_of_250_rows)->Unit(benchmark::kMillisecond);

}  // namespace
