// The session's key refresh and the three wallet lookups, for HD and single-key wallets, plus the
// sinks. The lookups decide which outputs the wallet signs for: a wrong answer spends nothing or,
// worse, leaves change where the wallet cannot find it.
#include "wallet/ow_korb_wallet.h"

#include <gtest/gtest.h>

#include "wallet/hd_keys.h"
#include "wallet/keys.h"

namespace {

constexpr char kPhraseA[] =
    "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about";
constexpr char kPhraseB[] =
    "legal winner thank year wave sausage worth useful legal winner thank yellow";
constexpr char kForeignAddress[] = "1BgGZ9tcN4rm9KBzDn7KprQz87SZ26SAMH";  // key 1, not ours

struct Derived {
  std::string priv, pub, address;
};

Derived derive(const wallet::DerivationPath& path) {
  Derived d;
  EXPECT_TRUE(wallet::derive_path_keys(path, d.priv, d.pub, d.address));
  return d;
}

wallet::Hash160 hash_of(const std::string& address) {
  wallet::Hash160 hash{};
  EXPECT_TRUE(wallet::address_to_hash160(address, hash)) << address;
  return hash;
}

std::vector<std::pair<std::string, std::string>> g_ordinals;
void record_ordinals(const std::string& identity, const std::string& address) {
  g_ordinals.emplace_back(identity, address);
}

std::vector<std::string> g_lines, g_events;
void text_sink(const std::string& line) {
  g_lines.push_back(line);
}
void event_sink(const std::string& event) {
  g_events.push_back(event);
}

std::vector<std::string> g_cached;
void cached_source(std::vector<std::string>& out) {
  out.insert(out.end(), g_cached.begin(), g_cached.end());
}

class ow_korb_wallet : public ::testing::Test {
 protected:
  void SetUp() override {
    wallet::wipe_session();
    g_ordinals.clear();
    g_cached.clear();
    wallet::install_bridge_hooks(wallet::BridgeHooks{});
    wallet::set_cached_address_source(nullptr);
  }
  void TearDown() override {
    wallet::wipe_session();
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
    s.mnemonic = phrase;
    s.hd = true;
    s.recv[1] = recv1;
    s.recv[5] = recv5;
    s.show = show;
    ASSERT_TRUE(wallet::refresh_wallet_keys());
  }
};

TEST_F(ow_korb_wallet, refresh_derives_payment_identity_and_ordinals_keys) {
  wallet::BridgeHooks hooks;
  hooks.record_ordinals_address = record_ordinals;
  wallet::install_bridge_hooks(hooks);
  load_hd(kPhraseA, 4, 2, 7);
  std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
  const wallet::WalletSession& s = wallet::session();
  const Derived payment = derive(wallet::receive_path(2));
  EXPECT_EQ(s.payment_private_key, payment.priv);
  EXPECT_EQ(s.payment_public_key, payment.pub);
  EXPECT_EQ(s.payment_address, payment.address);
  const Derived identity = derive(wallet::identity_path());
  EXPECT_EQ(s.identity_public_key, identity.pub);
  EXPECT_EQ(s.identity_address, identity.address);
  EXPECT_NE(identity.address, payment.address);
  ASSERT_EQ(g_ordinals.size(), 1u);
  EXPECT_EQ(g_ordinals[0].first, identity.pub);
  EXPECT_EQ(g_ordinals[0].second, derive(wallet::ordinals_path(7)).address);
  EXPECT_TRUE(wallet::session_loaded());
}

TEST_F(ow_korb_wallet, show_above_the_receive_counter_is_clamped_and_stored) {
  load_hd(kPhraseA, 3, 9);
  std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
  EXPECT_EQ(wallet::session().show, 3u);
  EXPECT_EQ(wallet::session().payment_address, derive(wallet::receive_path(3)).address);
}

TEST_F(ow_korb_wallet, failed_refresh_keeps_the_stored_payment_key) {
  load_hd(kPhraseA, 1, 1);
  std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
  wallet::WalletSession& s = wallet::session();
  const std::string address = s.payment_address;
  wallet::reset_derivation_cache();
  s.mnemonic.clear();
  s.show = 0;
  EXPECT_FALSE(wallet::refresh_wallet_keys());
  EXPECT_EQ(s.payment_address, address);
  EXPECT_FALSE(s.payment_private_key.empty());
}

TEST_F(ow_korb_wallet, hd_lookups_search_receive_keys_then_identity) {
  load_hd(kPhraseA, 3, 0);
  const Derived r2 = derive(wallet::receive_path(2));
  const Derived r4 = derive(wallet::receive_path(4));  // beyond the counter
  const Derived identity = derive(wallet::identity_path());

  std::string priv, pub;
  ASSERT_TRUE(wallet::find_key_for_address(r2.address, priv, pub));
  EXPECT_EQ(priv, r2.priv);
  EXPECT_EQ(pub, r2.pub);
  ASSERT_TRUE(wallet::find_key_for_address(identity.address, priv, pub));
  EXPECT_EQ(priv, identity.priv);
  EXPECT_FALSE(wallet::find_key_for_address(r4.address, priv, pub));
  EXPECT_TRUE(priv.empty() && pub.empty());
  EXPECT_FALSE(wallet::find_key_for_address(kForeignAddress, priv, pub));
  EXPECT_FALSE(wallet::find_key_for_address("not an address", priv, pub));

  EXPECT_TRUE(wallet::is_own_hash160(hash_of(r2.address), {}, nullptr));
  EXPECT_TRUE(wallet::is_own_hash160(hash_of(identity.address), {}, nullptr));
  EXPECT_FALSE(wallet::is_own_hash160(hash_of(r4.address), {}, nullptr));
  EXPECT_FALSE(wallet::is_own_hash160(hash_of(kForeignAddress), {}, nullptr));

  EXPECT_EQ(wallet::address_for_hash160(hash_of(r2.address)), r2.address);
  EXPECT_EQ(wallet::address_for_hash160(hash_of(identity.address)), identity.address);
  EXPECT_EQ(wallet::address_for_hash160(hash_of(r4.address)), "");
}

// However far the receive scan reaches, the key of the shown address (where change goes) must be
// found, or the wallet's own change could never be spent.
TEST_F(ow_korb_wallet, payment_key_is_found_even_beyond_a_long_receive_scan) {
  constexpr uint32_t kFar = 10000;
  load_hd(kPhraseA, kFar + 5, kFar + 2);
  std::string payment_priv, payment_pub, payment_address;
  {
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    payment_priv = wallet::session().payment_private_key;
    payment_pub = wallet::session().payment_public_key;
    payment_address = wallet::session().payment_address;
  }
  ASSERT_EQ(payment_address, derive(wallet::receive_path(kFar + 2)).address);
  std::string priv, pub;
  ASSERT_TRUE(wallet::find_key_for_address(payment_address, priv, pub));
  EXPECT_EQ(priv, payment_priv);
  EXPECT_EQ(pub, payment_pub);
  EXPECT_TRUE(wallet::is_own_hash160(hash_of(payment_address), {}, nullptr));
  EXPECT_EQ(wallet::address_for_hash160(hash_of(payment_address)), payment_address);
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
  wallet::set_cached_address_source(cached_source);
  EXPECT_EQ(wallet::address_for_hash160(foreign), kForeignAddress);
}

// The receive-address cache must follow the wallet: after another wallet is loaded, the first
// wallet's addresses are no longer ours.
TEST_F(ow_korb_wallet, lookups_follow_a_wallet_change) {
  load_hd(kPhraseA, 2, 0);
  const std::string a1 = derive(wallet::receive_path(1)).address;
  EXPECT_TRUE(wallet::is_own_hash160(hash_of(a1), {}, nullptr));
  load_hd(kPhraseB, 2, 0);
  EXPECT_FALSE(wallet::is_own_hash160(hash_of(a1), {}, nullptr));
  EXPECT_EQ(wallet::address_for_hash160(hash_of(a1)), "");
  const std::string b1 = derive(wallet::receive_path(1)).address;
  EXPECT_NE(a1, b1);
  EXPECT_EQ(wallet::address_for_hash160(hash_of(b1)), b1);
}

TEST_F(ow_korb_wallet, single_key_wallet_uses_only_the_stored_key) {
  {
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    wallet::WalletSession& s = wallet::session();
    EXPECT_FALSE(wallet::refresh_wallet_keys()) << "no stored address";
    s.payment_private_key = std::string(63, '0') + "1";
    ASSERT_TRUE(wallet::public_key_from_private(s.payment_private_key, s.payment_public_key));
    s.payment_address = wallet::address_from_public_key(s.payment_public_key);
    EXPECT_TRUE(wallet::refresh_wallet_keys());
  }
  EXPECT_TRUE(wallet::session_loaded());
  std::string priv, pub;
  ASSERT_TRUE(wallet::find_key_for_address(kForeignAddress, priv, pub));
  EXPECT_EQ(priv, std::string(63, '0') + "1");
  EXPECT_TRUE(wallet::is_own_hash160(hash_of(kForeignAddress), {}, nullptr));
  EXPECT_EQ(wallet::address_for_hash160(hash_of(kForeignAddress)), kForeignAddress);
  load_hd(kPhraseA, 0, 0);  // replaces it
  EXPECT_FALSE(wallet::find_key_for_address(kForeignAddress, priv, pub));
}

TEST_F(ow_korb_wallet, wipe_session_empties_every_item) {
  load_hd(kPhraseA, 2, 1);
  wallet::wipe_session();
  std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
  const wallet::WalletSession& s = wallet::session();
  EXPECT_FALSE(wallet::session_loaded());
  EXPECT_TRUE(s.mnemonic.empty() && s.payment_private_key.empty() && s.identity_address.empty());
  EXPECT_FALSE(s.hd || s.seed_ready || s.master_ready);
  EXPECT_EQ(s.seed, (std::array<unsigned char, 64>{}));
  EXPECT_EQ(s.recv, (std::array<uint32_t, 6>{}));
}

TEST_F(ow_korb_wallet, text_and_event_sinks) {
  wallet::log_text("dropped without a sink");
  wallet::set_text_sink(text_sink);
  wallet::set_event_sink(event_sink);
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
