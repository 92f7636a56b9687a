// Report encryption: a report must open for the architect and the sender and nobody else, and the
// architect's key must come from the file the build ships, never from a folder someone else can
// write.
#include "korb/report_encryption.h"

#include <unistd.h>

#include "config/deploy_config.h"
#include "korb/report_encryption_testing.h"
#include "korb_test_support.h"
#include "mangle.h"
#include "wallet/ecies.h"
#include "wallet/encoding.h"
#include "wallet/keys.h"

namespace {

namespace fs = std::filesystem;
using korb_test::mode_of;
using korb_test::read_text;
using korb_test::write_text;
using Json = nlohmann::json;

using korb_test::key_a;
using korb_test::key_b;
const std::string key_c = "02" + std::string(64, 'c');

std::string shipped_key_file(const std::string& network_folder) {
  return std::string(OSTAKKA_BIN_DIR) + "/userinfo" + network_folder + "/encpub-hollin.txt";
}

class report_encryption : public korb_test::KorbTest {
 protected:
  void SetUp() override {
    KorbTest::SetUp();
    korb::clear_key_book_for_testing();
    korb::set_encryption_key_base_for_testing(root_ + "/bin");
    fs::create_directories(root_ + "/bin");
  }
  void TearDown() override {
    korb::set_encryption_key_base_for_testing("");
    KorbTest::TearDown();
  }
  std::string key_file(const std::string& handle) const {
    return root_ + "/bin/userinfo/devnet/encpub-" + handle + ".txt";
  }
};

// Newer keys replace older ones whether they arrive by publishing or in a file; older ones never
// do, except a publication without a time-stamp.
TEST_F(report_encryption, key_book_and_files_keep_the_newest_key) {
  korb::publish_encryption_key(" @Alice ", "0x" + key_a, 100);
  EXPECT_EQ(read_text(key_file("alice")), key_a + "\n100\n");
  EXPECT_EQ(mode_of(root_ + "/bin/userinfo/devnet"), 0700u);
  EXPECT_EQ(mode_of(key_file("alice")), 0600u);
  EXPECT_EQ(korb::lookup_encryption_key("$ALICE"), key_a);
  korb::publish_encryption_key("alice", key_b, 50);
  EXPECT_EQ(korb::lookup_encryption_key("alice"), key_a);
  write_text(key_file("alice"), key_c + "\n200\n");
  EXPECT_EQ(korb::lookup_encryption_key("alice"), key_c);
  write_text(key_file("alice"), key_a + "\n150\n");
  EXPECT_EQ(korb::lookup_encryption_key("alice"), key_c);
  korb::publish_encryption_key("alice", key_b, -1);
  EXPECT_EQ(read_text(key_file("alice")), key_b + "\n-1\n");
}

// Key files are outside data: line 1 is read the way keys are written by hand, anything else is
// no key, and no mangled file gives more than a canonical key or nothing.
TEST_F(report_encryption, key_files_are_read_leniently_and_never_trusted_for_more) {
  const std::pair<std::string, std::string> cases[] = {
      {"0X" + key_b.substr(0, 10) + " " + key_b.substr(10) + "\r\n12\r\n", key_b},
      {key_b + "\nsoon", key_b},
      {"04" + std::string(128, 'a') + "\n1\n", ""},  // uncompressed: not a key for lookup
      {key_b + "\n" + std::string(5000, '1'), ""},   // larger than any key file
  };
  for (const auto& [text, key] : cases) {
    korb::clear_key_book_for_testing();
    write_text(key_file("carol"), text);
    EXPECT_EQ(korb::lookup_encryption_key("carol"), key) << text.substr(0, 40);
  }
  const uint32_t seed = test_mangle::seed();
  SCOPED_TRACE("OSTAKKA_SEED=" + std::to_string(seed));
  std::mt19937 rng(seed);
  for (int i = 0; i < 500; ++i) {
    std::string text = key_a + "\n1700000000\n";
    test_mangle::mangle(text, rng, "0aF \n-x");
    write_text(key_file("dan"), text);
    korb::clear_key_book_for_testing();
    const std::string key = korb::lookup_encryption_key("dan");
    std::string canonical;
    EXPECT_TRUE(key.empty() || (wallet::canonical_public_key(key, canonical) && key == canonical));
  }
}

// A handle is untrusted text: it must never make a path outside the key folder, and the key
// book still answers for it.
TEST_F(report_encryption, handles_never_leave_the_key_folder) {
  // With a folder named "encpub-" in place, "/../../x" would otherwise land beside the folder.
  fs::create_directories(root_ + "/bin/userinfo/devnet/encpub-");
  const std::string handles[] = {"/../../evil",        "a/b", "x\\y", "..", std::string("n\0ul", 4),
                                 std::string(300, 'e')};
  for (const std::string& handle : handles) {
    korb::publish_encryption_key(handle, key_a, 5);
    EXPECT_EQ(korb::lookup_encryption_key(handle), key_a);
  }
  for (const auto& entry : fs::recursive_directory_iterator(root_)) {
    if (!entry.is_regular_file()) continue;
    EXPECT_EQ(entry.path().parent_path(), fs::path(root_ + "/bin/userinfo/devnet")) << entry.path();
  }
  EXPECT_TRUE(fs::exists(key_file("..")));
}

// Where the key folder cannot be written the key book serves; where someone else could have
// written it, or it is a link, its files are not believed.
TEST_F(report_encryption, untrusted_or_unwritable_folders_fall_back_to_the_key_book) {
  fs::create_directories(root_ + "/elsewhere");
  write_text(root_ + "/elsewhere/devnet/encpub-eve.txt", key_c + "\n1\n");
  fs::create_directory_symlink(root_ + "/elsewhere", root_ + "/bin/userinfo");
  EXPECT_EQ(korb::lookup_encryption_key("eve"), "");
  fs::remove(root_ + "/bin/userinfo");

  write_text(key_file("eve"), key_c + "\n1\n");
  fs::permissions(root_ + "/bin/userinfo/devnet", fs::perms::owner_all | fs::perms::group_write);
  EXPECT_EQ(korb::lookup_encryption_key("eve"), "");
  fs::remove_all(root_ + "/bin/userinfo");

  // A file where the folder should be stops every writer, root included.
  write_text(root_ + "/bin/userinfo", "");
  korb::publish_encryption_key("frank", key_a, 1);
  EXPECT_EQ(korb::lookup_encryption_key("frank"), key_a);
}

// The sender can open its own report (the architect's side, and that nothing is paid without its
// key, are checked against the devnet by the arcade and report window tests); the text is nowhere
// in the message in plain.
TEST_F(report_encryption, a_report_opens_for_the_sender) {
  load_wallet({{"paymail", "alice"}});
  write_text(key_file("hollin"), std::string(config::deploy_config().architect_encryption_pubkey));
  const korb_test::PathKeys& own = korb_test::abandon_keys::encryption;

  const std::string text = std::string(1999, 'x') + "!";
  Json message = {{"type", "report"}, {"pmessage2", "stale"}};
  std::string error;
  ASSERT_TRUE(korb::encrypt_direct_message({text}, "@Alice", "hollin", message, error)) << error;
  EXPECT_EQ(message["enc_v"], 2);
  EXPECT_EQ(message["enc_pub"], own.public_key);
  EXPECT_FALSE(message.contains("pmessage2"));
  EXPECT_EQ(message.dump().find("xxxx"), std::string::npos);

  wallet::Bytes me_key;
  ASSERT_TRUE(wallet::ecies_unwrap(own.private_key, message["wrap_me"].get<std::string>(), me_key));
  ASSERT_EQ(me_key.size(), 32u);
  wallet::MessageKey32 key{};
  std::copy(me_key.begin(), me_key.end(), key.begin());
  std::string opened;
  ASSERT_TRUE(wallet::decrypt_part(key, message["pmessage1"].get<std::string>(), opened));
  EXPECT_EQ(opened, text);
  // The sender's key is on file for the other players.
  EXPECT_EQ(read_text(key_file("alice")).substr(0, 67), std::string(own.public_key) + "\n");
}

TEST_F(report_encryption, a_recipient_key_off_the_curve_fails_the_message) {
  load_wallet({{"paymail", "alice"}});
  Json message = Json::object();
  std::string error;
  // Canonical in form, but an x above the field prime is no point of the curve.
  korb::publish_encryption_key("hollin", "02" + std::string(56, 'f') + "fffffc30", 1);
  EXPECT_FALSE(korb::encrypt_direct_message({"hi"}, "alice", "hollin", message, error));
  EXPECT_EQ(error, "failed to wrap direct-message key");
}

// Another wallet may show the same name; its reports must carry its own key, or it could not
// read them back and the signature would bind a key it does not hold.
TEST_F(report_encryption, own_keys_follow_the_wallet_not_just_the_name) {
  std::string pub, priv, error;
  for (const auto& [mnemonic, expected] :
       {std::pair{korb_test::mnemonic_abandon, korb_test::abandon_keys::encryption},
        std::pair{korb_test::mnemonic_legal, korb_test::legal_keys::encryption}}) {
    korb::clear_session();
    load_wallet({{"paymail", "alice"}}, mnemonic);
    ASSERT_TRUE(korb::load_own_encryption_keys(pub, priv, error)) << error;
    EXPECT_EQ(pub, expected.public_key);
    EXPECT_EQ(priv, expected.private_key);
  }
}

// The build ships the devnet architect's key beside the programs, in the devnet's own folder,
// private to the user; a configuration without a key (the main network today) ships none.
TEST(shipped_architect_key, matches_the_configuration_and_is_found_beside_the_programs) {
  // The devnet's architect key: SHA-256 of its seed text and role, as the devnet makes it.
  const auto secret = wallet::sha256("orbweave-ostakka-devnet-seed-1/architect_encryption");
  std::string key;
  ASSERT_TRUE(wallet::public_key_from_private(wallet::hex_encode(secret.data(), 32), key));
  EXPECT_EQ(key, config::deploy_config().architect_encryption_pubkey);
  ASSERT_EQ(read_text(shipped_key_file("/devnet")).substr(0, 67), key + "\n");
  EXPECT_EQ(mode_of(shipped_key_file("/devnet")), 0600u);

  const Json main = Json::parse(read_text(OSTAKKA_TEST_DATA "/../../config/main.json"));
  const std::string main_key = main.value("architect_encryption_pubkey", "");
  if (main_key.empty()) {
    EXPECT_FALSE(fs::exists(shipped_key_file("")));
  } else {
    EXPECT_EQ(read_text(shipped_key_file("")).substr(0, 67), main_key + "\n");
  }

  korb::clear_key_book_for_testing();
  korb::set_encryption_key_base_for_testing(OSTAKKA_BIN_DIR);
  EXPECT_EQ(korb::lookup_encryption_key("hollin"), key);
  korb::set_encryption_key_base_for_testing("");
}

}  // namespace
