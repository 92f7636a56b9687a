// The shared data folder: private to the user whatever the umask, and every file in it read safely.
#include "korb/data_directory.h"

#include <sys/stat.h>

#include "fuzz_files.h"
#include "korb/atomic_file.h"
#include "korb/connect.h"
#include "korb/paymail.h"
#include "korb_test_support.h"

namespace {

namespace fs = std::filesystem;
using korb_test::KorbTest;
using korb_test::mode_of;
using Json = nlohmann::json;

using data_directory = KorbTest;

// Under a loose umask the folders came out 0777, and another local user could swap a wallet
// folder. Everything we make is private whatever the umask, and an open data folder of ours
// from an earlier version is closed again.
TEST_F(data_directory, folders_and_files_are_private_whatever_the_umask) {
  const mode_t saved = umask(0);
  setenv("LOCALAPPDATA", (root_ + "/fresh").c_str(), 1);
  const std::string dir = korb::korb_data_dir();
  (void)korb::connect_dir();
  (void)korb::bind_file_path();
  std::string error;
  EXPECT_TRUE(korb::check_wallet_folder("w1", true, error)) << error;
  EXPECT_TRUE(korb::write_file_atomic(dir + "/wallets/w1/wallet.json", "{}", error)) << error;
  umask(saved);
  for (const std::string& folder :
       {root_ + "/fresh", dir, dir + "/connect", dir + "/binds", dir + "/wallets/w1"}) {
    EXPECT_EQ(mode_of(folder), 0700u) << folder;
  }
  EXPECT_EQ(mode_of(dir + "/wallets/w1/wallet.json"), 0600u);
  ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
  (void)korb::korb_data_dir();
  EXPECT_EQ(mode_of(dir), 0700u);
}

// Every file of the data directory can be written by the wallet application, an older version or
// another program. Damaged copies never crash a reader, and nothing unsafe gets through: no id
// that leaves the wallets folder, no loaded session without an address.
TEST_F(data_directory, damaged_files_never_crash_a_reader_or_let_unsafe_values_through) {
  const std::string& key = korb_test::key_a;
  const auto safe_or_empty = [](const std::string& id) {
    return id.empty() || korb::is_safe_wallet_id(id);
  };
  const auto load_w1 = [] {
    korb::use_wallet("w1");
    korb::clear_session();
    if (korb::ensure_session()) {
      std::lock_guard<std::recursive_mutex> g(wallet::session_mutex());
      ASSERT_FALSE(wallet::session().payment_address.empty());
      ASSERT_LE(wallet::session().show, wallet::session().recv[1]);
    }
    std::string address, paymail;
    bool hd = false;
    (void)korb::wallet_info(address, paymail, hd);
    korb::refresh_session();
    korb::use_wallet("");
  };
  const std::string wallet_file = data_dir() + "/wallets/w1/wallet.json";
  const std::vector<test_fuzz::FuzzedFile> table = {
      {wallet_file,
       R"({"recv": [0, 2, 0, 0, 0, 1], "show": 1, "paymail": "alice", "contacts": [],
           "ord_owned": [{"origin": "o", "vout": 1}], "mnemonic": ")" +
           std::string(korb_test::mnemonic_abandon) + "\"}",
       load_w1},
      {wallet_file, Json({{"priv", korb_test::legal_keys::receive_0.private_key}}).dump(), load_w1},
      {data_dir() + "/wallets.json",
       R"({"active": "w1", "wallets": [{"id": "w1", "name": "Main"}, {"id": "w2", "name": ""}]})",
       [&] {
         {
           korb::RegistryLock lock;
           const Json reg = korb::load_registry();
           ASSERT_TRUE(reg.is_object() && reg["wallets"].is_array());
         }
         for (const auto& w : korb::list_wallets()) ASSERT_TRUE(korb::is_safe_wallet_id(w.id));
       }},
      {data_dir() + "/binds/_g.json", R"({"app": "O-Stakka", "instance": "/g", "wallet_id": "w1"})",
       [&] {
         ASSERT_TRUE(safe_or_empty(korb::read_bound_wallet_id()));
         korb::attach_app("/g", "O-Stakka");
         ASSERT_TRUE(safe_or_empty(korb::bound_wallet_id()));
       }},
      {data_dir() + "/orbweave_paymail.json",
       R"({"self": "alice", "host_role": "dev", "avatars": {")" + key +
           R"(": "x"}, "names": {"alice": {"ord": "o", "pubkey": ")" + key + "\"}}}",
       [&] {
         (void)korb::find_name_by_pubkey(key);
         if (korb::register_local_name("carol", key, "1Addr").empty()) {
           std::lock_guard<std::mutex> g(korb::paymail_registry_mutex());
           ASSERT_EQ(korb::load_paymail_registry()["names"]["carol"]["pubkey"], key);
         }
         korb::sync_ordinals_address(key, "1BvBMSEYstWetqTFn5Au4m4GFg7xJaNVN2");
       }},
      {data_dir() + "/connect/w5.rep.json", R"({"ok": true, "wallet_id": "w1"})",
       [&] {
         const std::string result = korb::poll_connect_reply("w5");
         ASSERT_TRUE(result == "ok" || result == "denied") << result;
         ASSERT_TRUE(safe_or_empty(korb::bound_wallet_id()));
       }},
      {data_dir() + "/connect/w6.req.json",
       R"({"app": "O-Stakka", "id": "w6", "instance": "/g", "ts": 1})",
       [] {
         korb::ConnectRequest request;
         if (korb::read_connect_request("w6", request)) {
           ASSERT_EQ(request.id, "w6");
         }
       }},
  };
  korb::attach_app("/g", "O-Stakka");
  ASSERT_EQ(korb::bind_file_path(), data_dir() + "/binds/_g.json");
  test_fuzz::fuzz_files(table, 200);
}

}  // namespace
