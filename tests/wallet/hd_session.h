#pragma once
// Test helpers: an HD wallet loaded into the process-wide session the way the bridge loads a
// wallet file, and a fixture that gives it a data folder and bridge hooks of its own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>

#include "wallet/http_test_seam.h"
#include "wallet/keys.h"
#include "wallet/ow_korb_wallet.h"
#include "wallet/unspent.h"

namespace test_wallet {

inline constexpr char kAbandonAbout[] =
    "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about";

inline wallet::Hash160 hash_of(const std::string& address) {
  wallet::Hash160 hash{};
  EXPECT_TRUE(wallet::address_to_hash160(address, hash)) << address;
  return hash;
}

// Replaces the session, and the unspent state, with the HD wallet of `mnemonic`.
[[nodiscard]] inline bool load_hd_session(const std::string& mnemonic, uint32_t recv1 = 0,
                                          uint32_t show = 0, uint32_t recv5 = 0) {
  std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
  wallet::clear_unspent_state();
  wallet::wipe_session();
  auto& s = wallet::session();
  s.mnemonic = mnemonic;
  s.hd = true;
  s.recv[1] = recv1;
  s.recv[5] = recv5;
  s.show = show;
  if (!wallet::refresh_wallet_keys()) return false;
  wallet::load_spent_set();
  return true;
}

// The "abandon ... about" wallet (receive 0 and 1) bound as bound_id() with its own data folder.
class BoundWalletTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "ostakka-wallet-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    data_dir() = pattern;
    bound_id() = "w1700000000000";
    wallet::BridgeHooks hooks;
    hooks.is_connected = [] { return wallet::session_loaded() && wallet::session().hd; };
    hooks.bound_wallet_id = [] { return bound_id(); };
    hooks.data_directory = [] { return data_dir(); };
    wallet::install_bridge_hooks(hooks);
    ASSERT_TRUE(load_hd_session(kAbandonAbout, 1));
  }
  void TearDown() override {
    wallet::clear_network_endpoints_for_test();
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    wallet::clear_unspent_state();
    wallet::wipe_session();
    wallet::install_bridge_hooks({});
    std::filesystem::remove_all(data_dir());
  }
  static std::string& data_dir() {
    static std::string dir;
    return dir;
  }
  static std::string& bound_id() {
    static std::string id;
    return id;
  }
};

}  // namespace test_wallet
