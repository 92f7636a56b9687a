// Loading the bound wallet's file into the session, saving it back, and the key services. The
// wallet file holds the mnemonic: a wrong load pays from the wrong key, a torn save loses coins.
#include "korb/session.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "korb/atomic_file.h"
#include "korb_test_support.h"
#include "wallet/signatures.h"

namespace {

namespace abandon_keys = korb_test::abandon_keys;
using korb_test::mnemonic_abandon;
using korb_test::mnemonic_legal;
using korb_test::read_text;
using korb_test::write_text;
namespace fs = std::filesystem;
using Json = nlohmann::json;

class session : public korb_test::KorbTest {
 protected:
  void SetUp() override {
    KorbTest::SetUp();
    write_registry(R"({"wallets": [{"id": "w1", "name": "Main"}]})");
  }
  // Binds w1 (the only wallet) as the game does at start-up.
  void attach() { korb::attach_app("/games/ostakka", "O-Stakka"); }
  wallet::WalletSession snapshot() {
    std::lock_guard<std::recursive_mutex> g(wallet::session_mutex());
    return wallet::session();
  }
  void set_handle(const char* handle) {
    std::lock_guard<std::recursive_mutex> g(wallet::session_mutex());
    wallet::session().paymail_handle = handle;
  }
};

// The payment address is the receive key at "show", which never passes the payment counter;
// only whole counters count, and none reaches 2^31, where a hardened child would give an address
// no other wallet of these words shows or watches.
TEST_F(session, the_payment_address_follows_the_counters_in_the_file) {
  const struct {
    Json recv, show;
    std::array<uint32_t, 6> counters;
    const char* address;
  } cases[] = {
      {Json::parse(R"([1, 2, "3", -4, 5.5, 6, 7, 8])"),
       1,
       {1, 2, 0, 0, 0, 6},
       abandon_keys::receive_1_address},
      {{0, 4294967295u, 0, 0, 0, 2147483648u},
       2147483650u,
       {0, 2147483647u, 0, 0, 0, 2147483647u},
       abandon_keys::receive_last_address},
  };
  for (const auto& c : cases) {
    korb::clear_session();
    load_wallet({{"recv", c.recv}, {"show", c.show}});
    ASSERT_TRUE(korb::is_connected()) << c.recv;
    const auto s = snapshot();
    EXPECT_EQ(s.recv, c.counters);
    EXPECT_EQ(s.payment_address, c.address);
    EXPECT_EQ(s.identity_public_key, abandon_keys::identity_public_key);
  }
}

// A wallet folder or file that is a symlink could only be there to hand the game someone else's
// keys: it is neither loaded nor written through; nor is a file another user owns.
TEST_F(session, wallet_folders_and_files_not_of_the_user_s_own_are_refused) {
  load_wallet();
  const std::string folder = data_dir() + "/wallets/w1";
  const std::string elsewhere = root_ + "/elsewhere";
  fs::rename(folder, elsewhere);
  auto refused = [&](const char* what) {
    korb::clear_session();
    EXPECT_FALSE(korb::ensure_session()) << what;
  };
  fs::create_directory_symlink(elsewhere, folder);
  refused("folder symlink");
  fs::remove(folder);
  fs::create_directories(folder);
  fs::create_symlink(elsewhere + "/wallet.json", folder + "/wallet.json");
  refused("file symlink");
  {
    // Bound and loaded from before: a save must not write through the link either.
    std::lock_guard<std::recursive_mutex> g(wallet::session_mutex());
    wallet::session().mnemonic = mnemonic_abandon;
    wallet::session().hd = true;
    EXPECT_FALSE(korb::save_session());
  }
  EXPECT_TRUE(fs::is_symlink(folder + "/wallet.json"));
  fs::remove(folder + "/wallet.json");
  fs::copy_file(elsewhere + "/wallet.json", folder + "/wallet.json");
  if (geteuid() == 0 && chown((folder + "/wallet.json").c_str(), 65534, 0) == 0) {
    refused("a file another user owns");
  }
}

// Twelve known words whose checksum fails only in its last bits.
TEST_F(session, a_bad_mnemonic_leaves_the_session_empty) {
  write_hd_wallet("w1",
                  "abandon abandon abandon abandon abandon abandon abandon abandon abandon "
                  "abandon abandon abandon");
  attach();
  EXPECT_FALSE(korb::ensure_session());
  EXPECT_FALSE(wallet::session_loaded());
  EXPECT_TRUE(snapshot().mnemonic.empty());
}

TEST_F(session, a_single_key_wallet_loads_but_never_counts_as_connected) {
  const korb_test::PathKeys& keys = korb_test::legal_keys::receive_0;
  write_text(wallet_path("w1"), Json({{"priv", keys.private_key}, {"paymail", "bob"}}).dump());
  attach();
  ASSERT_TRUE(korb::ensure_session());
  EXPECT_EQ(snapshot().payment_address, keys.address);
  EXPECT_FALSE(korb::is_connected());
  std::string pub, sig, error;
  EXPECT_FALSE(korb::identity_sign("hello", pub, sig, error));
  EXPECT_EQ(error, "Korb HD wallet not connected");
  EXPECT_FALSE(korb::save_session()) << "a single-key wallet is never rewritten in the HD form";
}

// The encryption path is checked by the report encryption tests, which load these keys.
TEST_F(session, identity_signatures_use_the_identity_key) {
  load_wallet({}, mnemonic_legal);
  std::string pub, sig, error;
  ASSERT_TRUE(korb::identity_sign("OW1|score|arcade|alice|alice|1|x", pub, sig, error)) << error;
  EXPECT_EQ(pub, korb_test::legal_keys::identity_public_key);
  EXPECT_TRUE(wallet::verify_message("OW1|score|arcade|alice|alice|1|x", pub, sig));
  EXPECT_FALSE(wallet::verify_message("OW1|score|arcade|alice|alice|2|x", pub, sig));
}

// The game saves only to add the name it learned. The wallet application may have changed the
// file since the load (new receive addresses, a confirmed backup, contacts, members the game does
// not know); writing back the session's older copy would undo that.
TEST_F(session, save_keeps_what_the_wallet_application_changed_since_the_load) {
  load_wallet();
  const Json changed = Json::parse(R"({"recv": [0, 1, 0, 0, 0, 2], "show": 1, "backup": true,
      "contacts": [{"dest": "bob@x"}], "ord_avatar": "a_0", "label": "kept"})");
  write_hd_wallet("w1", mnemonic_abandon, changed);
  set_handle("alice");
  ASSERT_TRUE(korb::save_session());
  const std::string text = read_text(wallet_path("w1"));
  Json file = Json::parse(text);
  EXPECT_EQ(text, file.dump(2)) << "sorted keys, two-space indent, as the wallet application";
  EXPECT_EQ(file["version"], 2);
  EXPECT_EQ(file["paymail"], "alice");
  EXPECT_EQ(file["mnemonic"], mnemonic_abandon);
  for (const auto& item : changed.items()) EXPECT_EQ(file[item.key()], item.value()) << item.key();
  EXPECT_EQ(file["address"], abandon_keys::receive_1_address);
  korb::clear_session();
  ASSERT_TRUE(korb::ensure_session());
  EXPECT_EQ(file["identity"], snapshot().identity_address);

  // A folder that now holds another wallet, or a file that does not read, is never replaced.
  for (const std::string& other : {Json({{"mnemonic", mnemonic_legal}}).dump(),
                                   std::string(R"({"mnemonic": "abandon abandon)"),
                                   Json({{"priv", std::string(64, '1')}}).dump()}) {
    write_text(wallet_path("w1"), other);
    EXPECT_FALSE(korb::save_session());
    EXPECT_EQ(read_text(wallet_path("w1")), other);
  }
}

// The wallet application changes the wallet file while holding the registry lock. A save that
// does not wait for it writes over that change or has its own name written over.
TEST_F(session, save_waits_for_the_wallet_application_s_change_to_the_file) {
  load_wallet({{"recv", {0, 1, 0, 0, 0, 0}}});
  set_handle("alice");
  std::atomic<bool> done{false};
  std::thread saver;
  {
    korb::RegistryLock lock;
    Json file = Json::parse(read_text(wallet_path("w1")));
    saver = std::thread([&done] {
      EXPECT_TRUE(korb::save_session());
      done = true;
    });
    for (int i = 0; i < 150 && !done; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    file["recv"] = {0, 3, 0, 0, 0, 0};
    std::string error;
    ASSERT_TRUE(korb::write_file_atomic(wallet_path("w1"), file.dump(2), error)) << error;
  }
  saver.join();
  Json file = Json::parse(read_text(wallet_path("w1")));
  EXPECT_EQ(file["paymail"], "alice");
  EXPECT_EQ(file["recv"][1], 3);
}

}  // namespace
