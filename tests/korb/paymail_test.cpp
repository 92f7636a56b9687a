// The player's paymail name and the local paymail registry shared with the wallet application.
// Without a name the game refuses paid play; a name given to the wrong key shows scores under
// someone else's name.
#include "korb/paymail.h"

#include "korb_test_support.h"

namespace {

using korb_test::read_text;
using korb_test::write_text;
using Json = nlohmann::json;

using korb_test::key_a;
using korb_test::key_b;

class paymail : public korb_test::KorbTest {
 protected:
  Json registry() {
    std::lock_guard<std::mutex> g(korb::paymail_registry_mutex());
    return korb::load_paymail_registry();
  }
  void write_paymail_registry(const Json& value) {
    write_text(data_dir() + "/orbweave_paymail.json", value.dump(2));
  }
  std::string identity() const { return korb_test::abandon_keys::identity_public_key; }
};

TEST_F(paymail, registration_writes_owner_address_and_self_and_shares_details_between_names) {
  write_paymail_registry(Json::parse(R"({"names": {"first": {"pubkey": ")" + key_a +
                                     R"(", "ord": "o1", "avatar": "av1", "kept": 1}},
      "avatars": {")" + key_b + R"(": "avB"}, "unknown": [1]})"));
  ASSERT_EQ(korb::register_local_name("Second", key_a, "1Pay"), "");
  ASSERT_EQ(korb::register_local_name("b-name", key_b, ""), "");
  Json reg = registry();
  EXPECT_EQ(reg["names"]["second"],
            Json({{"pubkey", key_a}, {"address", "1Pay"}, {"ord", "o1"}, {"avatar", "av1"}}));
  EXPECT_EQ(reg["names"]["b-name"], Json({{"pubkey", key_b}, {"avatar", "avB"}}));
  EXPECT_EQ(reg["names"]["first"]["kept"], 1);
  EXPECT_EQ(reg["self"], "b-name");
  EXPECT_EQ(reg["unknown"], Json::array({1}));
}

TEST_F(paymail, the_wallet_file_handle_is_normalised_registered_and_names_the_wallet) {
  load_wallet({{"paymail", "@Alice@orbweave.io"}});
  korb::paymail_step(true);
  {
    std::lock_guard<std::recursive_mutex> g(wallet::session_mutex());
    EXPECT_EQ(wallet::session().paymail_handle, "alice");
  }
  Json reg = registry();
  EXPECT_EQ(reg["self"], "alice");
  EXPECT_EQ(reg["names"]["alice"]["pubkey"], identity());
  EXPECT_EQ(reg["names"]["alice"]["address"], korb_test::abandon_keys::receive_0_address);
  EXPECT_EQ(korb::wallet_display_name("w1"), "alice");
  // The handle came from the file: the file is not rewritten and no event is sent.
  EXPECT_EQ(Json::parse(read_text(wallet_path("w1")))["paymail"], "@Alice@orbweave.io");
  EXPECT_TRUE(korb_test::said().empty());
}

TEST_F(paymail, a_name_found_in_the_registry_is_saved_into_the_wallet_file) {
  load_wallet();
  write_paymail_registry(
      Json({{"self", "alice"}, {"names", {{"alice", {{"pubkey", identity()}}}}}}));
  korb::paymail_step(true);
  EXPECT_EQ(Json::parse(read_text(wallet_path("w1")))["paymail"], "alice");
  EXPECT_EQ(korb_test::said().back(),
            "[OW-KORB]\x1fpaymail\x1f"
            "alice@orbweave.test");
  EXPECT_EQ(korb::paymail_address(), "alice@orbweave.test");
}

TEST_F(paymail, the_ordinals_address_reaches_every_name_of_the_identity) {
  write_paymail_registry(Json({{"names",
                                {{"alice", {{"pubkey", identity()}}},
                                 {"alt", {{"pubkey", identity()}, {"ordAddress", "1Old"}}},
                                 {"bob", {{"pubkey", key_b}}}}}}));
  load_wallet({{"recv", {0, 0, 0, 0, 0, 3}}});  // loading derives the ordinals key
  const std::string ord = korb_test::abandon_keys::ordinals_3_address;
  Json reg = registry();
  EXPECT_EQ(reg["names"]["alice"]["ordAddress"], ord);
  EXPECT_EQ(reg["names"]["alt"]["ordAddress"], ord);
  EXPECT_FALSE(reg["names"]["bob"].contains("ordAddress"));

  for (const std::string& bad : {std::string("1short"), "3" + ord.substr(1)}) {
    korb::sync_ordinals_address(identity(), bad);
    EXPECT_EQ(registry()["names"]["alice"]["ordAddress"], ord) << bad;
  }
}

}  // namespace
