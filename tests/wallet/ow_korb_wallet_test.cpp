// The session's key refresh and the three wallet lookups, for HD and single-key wallets, plus the
// sinks. The lookups decide which outputs the wallet signs for: a wrong answer spends nothing or,
// worse, leaves change where the wallet cannot find it. Addresses of the "abandon ... about"
// phrase are the ones hd_keys_test checks against another implementation.
#include "wallet/ow_korb_wallet.h"

#include <gtest/gtest.h>

#include "wallet/hd_keys.h"
#include "wallet/keys.h"

namespace {

constexpr char kPhraseA[] =
    "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about";
constexpr char kPhraseB[] =
    "legal winner thank year wave sausage worth useful legal winner thank yellow";
constexpr char kReceive0[] = "18pBoqRpHUYf9udsab5G9LT3vQUPxEyMFf";
constexpr char kReceive5[] = "199ffw9X3CGnZwcuF5Uq8V8cgw8t4b87Gq";
constexpr char kIdentity[] = "1Hg7Jm7G3DUetk4vxbAdjSf49qq3zbp8g6";
constexpr char kOrdinals3[] = "1PyJ5VxnafEVS3Bfr8pvaYYZvanULpRjMD";
constexpr char kForeignAddress[] = "1BgGZ9tcN4rm9KBzDn7KprQz87SZ26SAMH";  // key 1, not ours

wallet::Hash160 hash_of(const std::string& address) {
  wallet::Hash160 hash{};
  EXPECT_TRUE(wallet::address_to_hash160(address, hash)) << address;
  return hash;
}

// The address of a key pair, after checking that the two halves belong together.
std::string address_of_pair(const std::string& priv, const std::string& pub) {
  std::string from_private;
  EXPECT_TRUE(wallet::public_key_from_private(priv, from_private));
  EXPECT_EQ(from_private, pub);
  return wallet::address_from_public_key(pub);
}

std::vector<std::pair<std::string, std::string>> g_ordinals;
std::vector<std::string> g_lines, g_events, g_cached;

class ow_korb_wallet : public ::testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    wallet::wipe_session();
    g_ordinals.clear();
    g_cached.clear();
    wallet::install_bridge_hooks(wallet::BridgeHooks{});
    wallet::set_cached_address_source(nullptr);
    wallet::set_text_sink(nullptr);
    wallet::set_event_sink(nullptr);
  }

  // What the bridge does when it loads an HD wallet file.
  static void load_hd(const char* phrase, uint32_t recv1, uint32_t show, uint32_t recv5 = 0) {
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    wallet::wipe_session();
    wallet::WalletSession& s = wallet::session();
    s.mnemonic = std::string(phrase);
    s.hd = true;
    s.recv[1] = recv1;
    s.recv[5] = recv5;
    s.show = show;
    ASSERT_TRUE(wallet::refresh_wallet_keys());
  }
};

// The payment key is receive key "show" (clamped to the receive counter and stored so), then the
// identity key, and the ordinals address goes to the bridge.
TEST_F(ow_korb_wallet, refresh_derives_payment_identity_and_ordinals_keys) {
  wallet::BridgeHooks hooks;
  hooks.record_ordinals_address = [](const std::string& identity, const std::string& address) {
    g_ordinals.emplace_back(identity, address);
  };
  wallet::install_bridge_hooks(hooks);
  load_hd(kPhraseA, 5, 9, 3);
  const wallet::WalletSession& s = wallet::session();
  EXPECT_EQ(s.show, 5u);
  EXPECT_EQ(s.payment_address, kReceive5);
  EXPECT_EQ(address_of_pair(s.payment_private_key, s.payment_public_key), kReceive5);
  EXPECT_EQ(s.identity_address, kIdentity);
  EXPECT_EQ(wallet::address_from_public_key(s.identity_public_key), kIdentity);
  ASSERT_EQ(g_ordinals.size(), 1u);
  EXPECT_EQ(g_ordinals[0].first, s.identity_public_key);
  EXPECT_EQ(g_ordinals[0].second, kOrdinals3);
  EXPECT_TRUE(wallet::session_loaded());

  // Without the means to derive, a refresh fails and the stored payment key stays in use.
  wallet::reset_derivation_cache();
  wallet::session().mnemonic.clear();
  wallet::session().show = 0;
  EXPECT_FALSE(wallet::refresh_wallet_keys());
  EXPECT_EQ(s.payment_address, kReceive5);
  EXPECT_FALSE(s.payment_private_key.empty());
}

// Receive keys 0..recv[1] then the identity key are the wallet's; a key beyond the counter is
// not, unless it is the shown address (where change goes), however far the scan reaches.
TEST_F(ow_korb_wallet, hd_lookups_search_receive_keys_then_identity) {
  load_hd(kPhraseA, 4, 0);
  std::string priv, pub;
  for (const char* address : {kReceive0, kIdentity}) {
    ASSERT_TRUE(wallet::find_key_for_address(address, priv, pub)) << address;
    EXPECT_EQ(address_of_pair(priv, pub), address);
    EXPECT_TRUE(wallet::is_own_hash160(hash_of(address), {}, nullptr));
    EXPECT_EQ(wallet::address_for_hash160(hash_of(address)), address);
  }
  for (const char* address : {kReceive5, kForeignAddress}) {
    EXPECT_FALSE(wallet::find_key_for_address(address, priv, pub)) << address;
    EXPECT_TRUE(priv.empty() && pub.empty());
    EXPECT_FALSE(wallet::is_own_hash160(hash_of(address), {}, nullptr));
    EXPECT_EQ(wallet::address_for_hash160(hash_of(address)), "");
  }
  EXPECT_FALSE(wallet::find_key_for_address("not an address", priv, pub));

  constexpr uint32_t kFar = 10000;
  load_hd(kPhraseA, kFar + 5, kFar + 2);
  const std::string payment = wallet::session().payment_address;
  ASSERT_TRUE(wallet::find_key_for_address(payment, priv, pub));
  EXPECT_EQ(priv, wallet::session().payment_private_key.str());
  EXPECT_TRUE(wallet::is_own_hash160(hash_of(payment), {}, nullptr));
  EXPECT_EQ(wallet::address_for_hash160(hash_of(payment)), payment);
}

TEST_F(ow_korb_wallet, extra_hash_spent_owners_and_cached_addresses_count) {
  load_hd(kPhraseA, 0, 0);
  const wallet::Hash160 foreign = hash_of(kForeignAddress);
  EXPECT_TRUE(wallet::is_own_hash160(foreign, {}, &foreign));
  wallet::OwnedOutpoint spent;
  spent.txid = std::string(64, 'a');
  spent.owner_hash160 = foreign;
  EXPECT_TRUE(wallet::is_own_hash160(foreign, {spent}, nullptr));
  EXPECT_EQ(wallet::address_for_hash160(foreign), "");
  g_cached = {"garbage", kForeignAddress};
  wallet::set_cached_address_source([](std::vector<std::string>& out) {
    out.insert(out.end(), g_cached.begin(), g_cached.end());
  });
  EXPECT_EQ(wallet::address_for_hash160(foreign), kForeignAddress);
}

// The receive-address cache must follow the wallet: after another wallet is loaded, the first
// wallet's addresses are no longer ours.
TEST_F(ow_korb_wallet, lookups_follow_a_wallet_change) {
  load_hd(kPhraseA, 2, 0);
  EXPECT_TRUE(wallet::is_own_hash160(hash_of(kReceive0), {}, nullptr));
  load_hd(kPhraseB, 2, 0);
  EXPECT_FALSE(wallet::is_own_hash160(hash_of(kReceive0), {}, nullptr));
  EXPECT_EQ(wallet::address_for_hash160(hash_of(kReceive0)), "");
  const std::string b0 = wallet::session().payment_address;
  EXPECT_EQ(wallet::address_for_hash160(hash_of(b0)), b0);
}

TEST_F(ow_korb_wallet, single_key_wallet_uses_only_the_stored_key) {
  const std::string key_one = std::string(63, '0') + "1";
  {
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    wallet::WalletSession& s = wallet::session();
    EXPECT_FALSE(wallet::refresh_wallet_keys()) << "no stored address";
    s.payment_private_key = key_one;
    ASSERT_TRUE(wallet::public_key_from_private(key_one, s.payment_public_key));
    s.payment_address = kForeignAddress;
    EXPECT_TRUE(wallet::refresh_wallet_keys());
  }
  EXPECT_TRUE(wallet::session_loaded());
  std::string priv, pub;
  ASSERT_TRUE(wallet::find_key_for_address(kForeignAddress, priv, pub));
  EXPECT_EQ(priv, key_one);
  EXPECT_TRUE(wallet::is_own_hash160(hash_of(kForeignAddress), {}, nullptr));
  EXPECT_EQ(wallet::address_for_hash160(hash_of(kForeignAddress)), kForeignAddress);
  load_hd(kPhraseA, 0, 0);  // replaces it
  EXPECT_FALSE(wallet::find_key_for_address(kForeignAddress, priv, pub));
}

TEST_F(ow_korb_wallet, wipe_session_empties_every_item) {
  load_hd(kPhraseA, 2, 1);
  wallet::wipe_session();
  const wallet::WalletSession& s = wallet::session();
  EXPECT_FALSE(wallet::session_loaded());
  EXPECT_TRUE(s.mnemonic.empty() && s.payment_private_key.empty() && s.identity_address.empty());
  EXPECT_FALSE(s.hd || s.seed_ready || s.master_ready);
  EXPECT_EQ(s.seed, (std::array<unsigned char, 64>{}));
  EXPECT_EQ(s.recv, (std::array<uint32_t, 6>{}));
}

TEST_F(ow_korb_wallet, text_and_event_sinks) {
  wallet::log_text("dropped without a sink");
  wallet::set_text_sink([](const std::string& line) { g_lines.push_back(line); });
  wallet::set_event_sink([](const std::string& event) { g_events.push_back(event); });
  g_lines.clear();
  g_events.clear();
  wallet::log_text("paying");
  wallet::log_text("done\n");
  EXPECT_EQ(g_lines, (std::vector<std::string>{"paying\n", "done\n"}));
  wallet::emit_event("status", {});
  wallet::emit_event("paymail", {"a@b", "x", "y", "dropped"});
  EXPECT_EQ(wallet::report_error("error: no"), "error: no");
  EXPECT_EQ(g_events, (std::vector<std::string>{"[OW-KORB]\x1fstatus",
                                                "[OW-KORB]\x1fpaymail\x1f"
                                                "a@b\x1fx\x1fy",
                                                "[OW-KORB]\x1f"
                                                "error\x1f"
                                                "error: no"}));
}

}  // namespace
