// Players and score rows on the devnet, for the arcade tests and the board benchmark: a player is
// made the way the wallet application leaves one (an HD wallet bound to the game, a paymail name
// in its wallet file, the name claimed at the service, coins from the faucet), a run is played by
// the test player, and a row is paid as the game pays it. No test framework here.
#pragma once

#include <openssl/rand.h>

#include <random>
#include <string>

#include <nlohmann/json.hpp>

#include "config/deploy_config.h"
#include "korb/paymail_claim.h"
#include "korb/session.h"
#include "tests/engine/random_player.h"
#include "tests/wallet/devnet_wallet.h"
#include "wallet/arcade_payments.h"
#include "wallet/encoding.h"

namespace devnet_players {

// `bytes` random bytes as lower-case hex ("" when the random source fails).
inline std::string random_hex(std::size_t bytes) {
  std::string raw(bytes, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(raw.data()), static_cast<int>(bytes)) != 1) {
    return {};
  }
  return wallet::hex_encode(reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
}

struct Player {
  std::string wallet_id, alias, identity_key, address;
  std::string funding;  // the faucet's payment to the player
};

// Makes, binds and loads a new player named `alias`, funded with `satoshis` (none when 0); the
// name is claimed at the service unless `claim` is false. False with the reason on failure.
inline bool make_player(const devnet_wallet::DevnetInfo& info, const std::string& alias, bool claim,
                        int64_t satoshis, Player& player, std::string& error) {
  player = Player{};
  player.alias = alias;
  player.wallet_id = devnet_wallet::create_bound_wallet(devnet_wallet::random_mnemonic());
  if (player.wallet_id.empty()) {
    error = "could not make a wallet";
    return false;
  }
  {
    std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
    wallet::session().paymail_handle = alias;
    if (!korb::save_session()) {
      error = "could not save the paymail name";
      return false;
    }
    player.identity_key = wallet::session().identity_public_key;
    player.address = wallet::session().payment_address;
  }
  if (claim) {
    error = korb::claim_paymail(alias, player.identity_key, player.address, "", "");
    if (!error.empty()) return false;
  }
  if (satoshis > 0) player.funding = devnet_wallet::fund(info, player.address, satoshis);
  if (satoshis > 0 && player.funding.empty()) {
    error = "the faucet did not pay";
    return false;
  }
  return true;
}

// A finished run from `entry`, played by the test player; it stops playing after `play_ms` of
// game time, so its tape stays well inside one data push.
inline engine::RunRecord finished_run(const std::string& entry, uint32_t seed,
                                      uint64_t play_ms = 12000) {
  struct Driver {
    engine::RunRecord run;
    uint64_t clock = 1;
    size_t spawns = 0;
  } driver;
  driver.run.entry_txid = entry;
  driver.run.callbacks.tick_count = [&driver] { return driver.clock; };
  driver.run.hooks.on_lock = [&driver] { ++driver.spawns; };
  engine::start_run(driver.run);
  std::mt19937 random(seed);
  engine_test::PlayerStyle style;
  style.noise = 20;
  style.stop_playing_ms = play_ms;
  engine_test::play_run(driver.run, driver.clock, driver.spawns, random, style);
  engine::RunRecord run = driver.run;
  run.callbacks = {};
  run.hooks = {};
  run.game.hooks = {};
  return run;
}

// Pays `payload` as a score row to the oracle address: the txid, or "" with the result text.
inline std::string pay_row(const nlohmann::json& payload, std::string& error) {
  const std::string result =
      wallet::pay_arcade_score(std::string(config::deploy_config().oracle_address), payload.dump());
  if (result.rfind("success: ", 0) == 0 && result.size() == 73) return result.substr(9);
  error = result;
  return {};
}

}  // namespace devnet_players
