// The key refresh and the wallet lookups, which decide which outputs the wallet signs for: a wrong
// answer spends nothing or, worse, leaves change where the wallet cannot find it.
#include "wallet/ow_korb_wallet.h"

#include <gtest/gtest.h>

#include "hd_session.h"

namespace {

using test_wallet::hash_of;
using test_wallet::kAbandonAbout;
using test_wallet::load_hd_session;

constexpr char kReceive0[] = "18pBoqRpHUYf9udsab5G9LT3vQUPxEyMFf";
constexpr char kReceive5[] = "199ffw9X3CGnZwcuF5Uq8V8cgw8t4b87Gq";
constexpr char kIdentity[] = "1Hg7Jm7G3DUetk4vxbAdjSf49qq3zbp8g6";
constexpr char kForeignAddress[] = "1BgGZ9tcN4rm9KBzDn7KprQz87SZ26SAMH";  // key 1, not ours

// The three lookups must agree on an address; a key found must be the address's own pair.
void expect_own(const std::string& address, bool own) {
  SCOPED_TRACE(address);
  std::string priv, pub, from_private;
  EXPECT_EQ(wallet::find_key_for_address(address, priv, pub), own);
  EXPECT_EQ(wallet::public_key_from_private(priv, from_private), own);
  EXPECT_EQ(from_private, pub);
  EXPECT_EQ(wallet::address_from_public_key(pub), own ? address : "");
  EXPECT_EQ(wallet::is_own_hash160(hash_of(address), {}, nullptr), own);
  EXPECT_EQ(wallet::address_for_hash160(hash_of(address)), own ? address : "");
}

std::vector<std::string> g_seen;

class ow_korb_wallet : public ::testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    wallet::wipe_session();
    g_seen.clear();
    wallet::install_bridge_hooks(wallet::BridgeHooks{});
  }
};

// The payment key is receive key "show" (clamped to the receive counter and stored so), then the
// identity key, and the ordinals address (of ordinals key recv[5]) goes to the bridge. These
// addresses come from another BIP32 implementation, like those in hd_keys_test.
TEST_F(ow_korb_wallet, refresh_derives_payment_identity_and_ordinals_keys) {
  wallet::BridgeHooks hooks;
  hooks.record_ordinals_address = [](const std::string& identity, const std::string& address) {
    g_seen = {identity, address};
  };
  wallet::install_bridge_hooks(hooks);
  ASSERT_TRUE(load_hd_session(kAbandonAbout, 5, 9, 3));
  std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
  wallet::WalletSession& s = wallet::session();
  EXPECT_EQ(s.show, 5u);
  EXPECT_EQ(s.payment_address, kReceive5);
  EXPECT_EQ(wallet::address_from_public_key(s.identity_public_key), kIdentity);
  EXPECT_EQ(g_seen, (std::vector<std::string>{s.identity_public_key,
                                              "1PyJ5VxnafEVS3Bfr8pvaYYZvanULpRjMD"}));
  expect_own(kReceive5, true);

  // Without the means to derive, a refresh fails and the stored payment key stays in use.
  wallet::reset_derivation_cache();
  s.mnemonic.clear();
  s.show = 0;
  EXPECT_FALSE(wallet::refresh_wallet_keys());
  EXPECT_EQ(s.payment_address, kReceive5);
  EXPECT_TRUE(wallet::session_loaded());
}

// Receive keys 0..recv[1] and the identity key are the wallet's, and so are the change it sent and
// the owners of outputs it spent; the shown address (where change goes) is found however far the
// scan must reach. After another wallet is loaded, the first wallet's addresses are not ours.
TEST_F(ow_korb_wallet, hd_lookups_follow_the_counter_and_the_wallet) {
  ASSERT_TRUE(load_hd_session(kAbandonAbout, 4));
  for (const char* address : {kReceive0, kIdentity}) expect_own(address, true);
  for (const char* address : {kReceive5, kForeignAddress}) expect_own(address, false);
  const wallet::Hash160 foreign = hash_of(kForeignAddress);
  EXPECT_TRUE(wallet::is_own_hash160(foreign, {}, &foreign));
  wallet::OwnedOutpoint spent;
  spent.owner_hash160 = foreign;
  EXPECT_TRUE(wallet::is_own_hash160(foreign, {spent}, nullptr));
  std::string priv, pub;
  EXPECT_FALSE(wallet::find_key_for_address("not an address", priv, pub));

  ASSERT_TRUE(load_hd_session(kAbandonAbout, 10005, 10002));
  expect_own(wallet::session().payment_address, true);
  ASSERT_TRUE(load_hd_session(
      "legal winner thank year wave sausage worth useful legal winner thank yellow", 2));
  expect_own(kReceive0, false);
  expect_own(wallet::session().payment_address, true);
}

}  // namespace
