// What a wallet's payment address holds, read from the same unspent-output service the game
// spends from, so the figure Korb shows is the one a connected game will see.
#pragma once

#include <cstdint>
#include <string>

namespace korb_app {

struct BalanceReading {
  std::string address;
  bool ok = false;
  std::int64_t satoshis = 0;  // when ok
  std::string error;          // when not ok: the service's or the connection's complaint
};

// Blocks on the network: call it from a worker thread only.
[[nodiscard]] BalanceReading read_address_balance(const std::string& address);

// How a balance reads in the wallet list: "..." before the first answer, the amount in BSV, or
// "balance unavailable" when the service could not be read.
std::string balance_text(const BalanceReading* reading);

}  // namespace korb_app
