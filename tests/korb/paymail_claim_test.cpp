// The paymail name's network side against the devnet: a claim publishes the identity key under
// the name (the service then answers it), is sent once per distinct set of values, refuses what
// it must, and the identity's role at the service becomes the local registry's "host_role".
#include "korb/paymail_claim.h"

#include <gtest/gtest.h>
#include <openssl/rand.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "korb/atomic_file.h"
#include "korb/paymail.h"
#include "korb/registry.h"
#include "korb/session.h"
#include "wallet/devnet_environment.h"
#include "wallet/encoding.h"
#include "wallet/hd_keys.h"

namespace {

using nlohmann::json;

const auto* const devnet_environment = ::testing::AddGlobalTestEnvironment(
    new devnet_wallet::DevnetEnvironment);  // NOLINT: owned by gtest
const devnet_wallet::DevnetInfo& g_devnet = devnet_wallet::test_devnet();

std::string random_alias() {
  unsigned char bytes[6];
  EXPECT_EQ(RAND_bytes(bytes, sizeof bytes), 1);
  return "p" + wallet::hex_encode(bytes, sizeof bytes);
}

// What the service answers for the name, from one of its paymail routes.
json service_get(const std::string& route, const std::string& alias) {
  std::string body, error;
  (void)wallet::wallet_http_get(wallet::service_base_url() + "/api/bsvalias/" + route + "/" +
                                    alias + "@" +
                                    std::string(config::deploy_config().paymail_domain),
                                body, error, 20, false);
  return json::parse(body, nullptr, false);
}

int armed_faults() {
  std::string body, error;
  if (!wallet::wallet_http_get(g_devnet.base() + "/admin/state", body, error, 20, false)) return -1;
  return json::parse(body, nullptr, false).value("faults", -1);
}

class PaymailClaimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(devnet_wallet::admin(g_devnet, "fault/clear", json::object()).is_object());
    ASSERT_FALSE(devnet_wallet::create_bound_wallet(devnet_wallet::random_mnemonic()).empty());
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    pubkey_ = wallet::session().identity_public_key;
    address_ = wallet::session().payment_address;
    std::string priv, pub;
    ASSERT_TRUE(wallet::derive_path_keys(wallet::ordinals_path(0), priv, pub, ord_address_));
  }
  void TearDown() override { (void)devnet_wallet::admin(g_devnet, "fault/clear", json::object()); }

  std::string pubkey_, address_, ord_address_;
};

// The claim publishes the identity key under the name; the same values are not sent again, a
// change is, and a refused claim is retried next time.
TEST_F(PaymailClaimTest, publishes_the_identity_key_once_per_value_set) {
  const std::string alias = random_alias();
  EXPECT_EQ(korb::claim_paymail_if_changed(alias, pubkey_, address_, "", ord_address_), "");
  const json id = service_get("id", alias);
  ASSERT_TRUE(id.is_object());
  EXPECT_EQ(id.value("pubkey", ""), pubkey_);
  // An armed failure shows whether a request is made at all.
  devnet_wallet::admin(g_devnet, "fault",
                       {{"route", "/api/paymail/claim"}, {"kind", "status"}, {"status", 500}});
  EXPECT_EQ(korb::claim_paymail_if_changed(alias, pubkey_, address_, "", ord_address_), "");
  EXPECT_EQ(armed_faults(), 1) << "an unchanged claim was sent again";

  const std::string avatar = "https://example.org/" + alias + ".png";
  EXPECT_EQ(korb::claim_paymail_if_changed(alias, pubkey_, address_, avatar, ord_address_),
            "paymail host refused");
  EXPECT_EQ(armed_faults(), 0);
  EXPECT_EQ(korb::claim_paymail_if_changed(alias, pubkey_, address_, avatar, ord_address_), "");
  EXPECT_EQ(service_get("public-profile", alias).value("avatar", ""), avatar);

  // A busy host (429) is asked again rather than taken for a refusal.
  devnet_wallet::admin(g_devnet, "fault",
                       {{"route", "/api/paymail/claim"}, {"kind", "rate-limit"}, {"count", 2}});
  EXPECT_EQ(korb::claim_paymail_if_changed(alias, pubkey_, address_, avatar + "?2", ord_address_),
            "");
  EXPECT_EQ(armed_faults(), 0);
}

// A 200 answer is an accepted claim only when it says so: the service's refusals are JSON too.
TEST(claim_answer, only_a_true_ok_or_success_accepts) {
  EXPECT_TRUE(korb::claim_answer_ok(R"({"success":true,"ok":false})"));
  EXPECT_FALSE(korb::claim_answer_ok(R"({"ok":"true"})"));
  EXPECT_FALSE(korb::claim_answer_ok(R"({"success":false,"error":"taken"})"));
}

// The role the service reports becomes the local registry's "host_role" (it sets the name quota).
// The wallet application registers names in the same file while holding the registry lock. A
// role stored without that lock either writes over such a name or is written over by it, and a
// role stored over a damaged file drops every name in it.
TEST_F(PaymailClaimTest, host_role_waits_for_the_registry_lock_and_never_saves_over_damage) {
  devnet_wallet::admin(g_devnet, "role", {{"pubkey", pubkey_}, {"role", "dev"}});
  const std::string held = random_alias();
  std::atomic<bool> done{false};
  std::thread worker;
  {
    korb::RegistryLock lock;  // what the wallet application holds while it registers a name
    json registry;
    {
      std::lock_guard<std::mutex> guard(korb::paymail_registry_mutex());
      registry = korb::load_paymail_registry();
    }
    worker = std::thread([&done] {
      korb::sync_host_role();
      done = true;
    });
    for (int i = 0; i < 150 && !done; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    registry["names"][held] = {{"pubkey", pubkey_}};
    std::lock_guard<std::mutex> guard(korb::paymail_registry_mutex());
    ASSERT_TRUE(korb::save_paymail_registry(registry));
  }
  worker.join();
  {
    std::lock_guard<std::mutex> guard(korb::paymail_registry_mutex());
    json registry = korb::load_paymail_registry();
    EXPECT_EQ(registry.value("host_role", ""), "dev");
    EXPECT_TRUE(registry["names"].contains(held)) << "the name was lost";
  }

  const std::string path = korb::paymail_registry_path();
  const std::string damaged = R"({"names": {")" + held + R"(": {"pubkey": ")";
  std::string error;
  ASSERT_TRUE(korb::write_file_atomic(path, damaged, error)) << error;
  devnet_wallet::admin(g_devnet, "role", {{"pubkey", pubkey_}, {"role", "architect"}});
  korb::sync_host_role();
  std::string after;
  ASSERT_TRUE(korb::read_file_capped(path, after));
  EXPECT_EQ(after, damaged);
  std::filesystem::remove(path);
}

// The status worker claims the wallet's own name with its own keys.
TEST_F(PaymailClaimTest, status_snapshot_claims_the_wallets_name) {
  const std::string alias = random_alias();
  ASSERT_EQ(korb::register_local_name(alias, pubkey_, address_), "");
  korb::StatusSnapshot status;
  korb::status_snapshot(status);
  ASSERT_TRUE(status.loaded);
  EXPECT_EQ(service_get("id", alias).value("pubkey", ""), pubkey_) << "the name was not claimed";
}

}  // namespace
