// The player's paymail name and the local paymail registry shared with the wallet application.
// Without a name the game refuses paid play; a name given to the wrong key shows scores under
// someone else's name.
#include "korb/paymail.h"

#include "korb_test_support.h"

namespace {

using korb_test::event_text;
using korb_test::read_text;
using korb_test::write_text;
using Json = nlohmann::json;

const std::string key_a = "02" + std::string(64, 'a');
const std::string key_b = "03" + std::string(64, 'b');

TEST(paymail_names, handles_lose_prefixes_domains_line_ends_and_case) {
  EXPECT_EQ(korb::normalize_paymail_handle("@Alice@orbweave.io"), "alice");
  EXPECT_EQ(korb::normalize_paymail_handle("$@ $Bob  \r\n"), "bob");
  EXPECT_EQ(korb::normalize_paymail_handle("@@@"), "");
  EXPECT_EQ(korb::normalize_paymail_handle("Dan Smith"), "dan smith");
  EXPECT_EQ(korb::normalize_registry_name("Dan Smith"), "dansmith");
  EXPECT_EQ(korb::normalize_registry_name("@Al!ce_-.9@x"), "alce_-.9");
  EXPECT_EQ(korb::normalize_registry_name("\xc3\xa9t\xc3\xa9"), "t");
}

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

TEST_F(paymail, quotas_stop_new_names_but_not_names_already_held) {
  for (const auto& [role, quota] : std::vector<std::pair<std::string, int>>{
           {"dev", 20}, {"agent", 10}, {"", 10}, {"architect", 25}}) {
    write_paymail_registry(role.empty() ? Json::object() : Json({{"host_role", role}}));
    for (int i = 0; i < quota; ++i) {
      ASSERT_EQ(korb::register_local_name("n" + std::to_string(i), key_a, "1Addr"), "") << role;
    }
    if (role == "architect") continue;
    EXPECT_EQ(korb::register_local_name("one-more", key_a, ""),
              "paymail quota reached (" + std::to_string(quota) + " free labels per identity)")
        << role;
    EXPECT_EQ(korb::register_local_name("n0", key_a, "1Other"), "") << "re-registering is free";
    EXPECT_EQ(korb::register_local_name("other-key", key_b, ""), "");
  }
}

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

TEST_F(paymail, the_name_of_a_key_is_self_first_then_the_first_valid_in_key_order) {
  const Json a = {{"pubkey", key_a}};
  Json reg = {{"self", "@Zed"},
              {"names", {{"bob", a}, {"Bad Name", a}, {"zed", a}, {"amy", {{"pubkey", key_b}}}}}};
  write_paymail_registry(reg);
  EXPECT_EQ(korb::find_name_by_pubkey("02" + std::string(64, 'A')), "zed");
  reg["self"] = "amy";
  write_paymail_registry(reg);
  EXPECT_EQ(korb::find_name_by_pubkey(key_a), "bob");
  EXPECT_EQ(korb::find_name_by_pubkey("02" + std::string(64, 'c')), "");
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
  EXPECT_EQ(korb_test::said().back(), event_text({"paymail", "alice@orbweave.test"}));
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

TEST_F(paymail, the_avatar_follows_the_session_and_is_removed_with_it) {
  write_paymail_registry(Json(
      {{"names",
        {{"alice", {{"pubkey", identity()}}}, {"bob", {{"pubkey", key_b}, {"avatar", "b"}}}}}}));
  load_wallet({{"ord_avatar", "insc_0"}});
  ASSERT_EQ(korb::sync_avatar(), "");
  EXPECT_EQ(registry()["avatars"][identity()], "insc_0");
  EXPECT_EQ(registry()["names"]["alice"]["avatar"], "insc_0");
  {
    std::lock_guard<std::recursive_mutex> g(wallet::session_mutex());
    wallet::session().ord_avatar.clear();
  }
  ASSERT_EQ(korb::sync_avatar(), "");
  const Json reg = registry();
  EXPECT_FALSE(reg["avatars"].contains(identity()));
  EXPECT_FALSE(reg["names"]["alice"].contains("avatar"));
  EXPECT_EQ(reg["names"]["bob"]["avatar"], "b") << "another key's avatar stays";
}

}  // namespace
