#pragma once
// Test helper: loads an HD wallet into the process-wide session the way the bridge does after a
// connect, so tests start from a freshly loaded wallet.
#include <cstdint>
#include <mutex>
#include <string>

#include "wallet/ow_korb_wallet.h"
#include "wallet/unspent.h"

namespace test_wallet {

// Replaces the session with the HD wallet of `mnemonic` (receive addresses 0..recv1, showing
// address 0): unspent state cleared, derivation cache reset, keys derived, spent set read.
[[nodiscard]] inline bool load_hd_session(const std::string& mnemonic, uint32_t recv1 = 0) {
  std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
  wallet::clear_unspent_state();
  wallet::wipe_session();
  wallet::reset_derivation_cache();
  auto& s = wallet::session();
  s.mnemonic = mnemonic;
  s.hd = true;
  s.recv[1] = recv1;
  s.show = 0;
  if (!wallet::refresh_wallet_keys()) return false;
  wallet::load_spent_set();
  return true;
}

}  // namespace test_wallet
