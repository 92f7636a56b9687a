// The devnet side of the arcade tests: the devnet the CTest fixture started (set up once per test
// binary, on first use, so the unit runs of the same files never need one), and the players and
// rows of devnet_players.h with every failure reported to the running test.
#pragma once

#include <gtest/gtest.h>

#include "tests/arcade/devnet_players.h"

namespace arcade_devnet {

using devnet_players::finished_run;
using devnet_players::Player;
using nlohmann::json;

// The devnet of this run; fails the calling test when there is none.
inline const devnet_wallet::DevnetInfo& devnet() {
  static devnet_wallet::DevnetInfo info;
  static std::string data_dir;
  static const std::string failure = [] {
    std::string error;
    return devnet_wallet::start_devnet_process(info, data_dir, error) ? std::string() : error;
  }();
  EXPECT_EQ(failure, "");
  return info;
}

inline json admin(const std::string& route, const json& body) {
  std::string error;
  const json answer = devnet_wallet::admin(devnet(), route, body, &error);
  EXPECT_TRUE(answer.is_object()) << route << ": " << error;
  return answer;
}

inline std::string random_alias() {
  return "p" + devnet_players::random_hex(5);
}

// A made-up entry txid: 64 lower-case hex digits.
inline std::string random_txid() {
  return devnet_players::random_hex(32);
}

inline Player make_player(const std::string& alias, bool claim = true, int64_t satoshis = 300000) {
  Player player;
  std::string error;
  EXPECT_TRUE(devnet_players::make_player(devnet(), alias, claim, satoshis, player, error))
      << error;
  return player;
}

inline std::string pay_row(const json& payload) {
  std::string error;
  const std::string txid = devnet_players::pay_row(payload, error);
  EXPECT_EQ(txid.size(), 64u) << error;
  return txid;
}

}  // namespace arcade_devnet
