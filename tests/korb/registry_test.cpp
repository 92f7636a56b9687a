// The wallet registry, its cross-process lock, bindings and the legacy migration. The registry is
// shared with the wallet application, so lost updates and torn files here lose wallets.
#include "korb/registry.h"

#include <fcntl.h>

#include <thread>

#include "child_guard.h"
#include "korb/atomic_file.h"
#include "korb/paymail.h"
#include "korb_test_support.h"

namespace {

namespace fs = std::filesystem;
using korb_test::read_text;
using korb_test::write_text;
using Json = nlohmann::json;

TEST(wallet_id, new_ids_are_w_and_rising_milliseconds_and_ids_never_leave_the_wallets_folder) {
  std::string previous = "w0";
  for (int i = 0; i < 2000; ++i) {
    const std::string id = korb::new_wallet_id();
    ASSERT_GE(id.size(), 14u);
    ASSERT_EQ(id.find_first_not_of("0123456789", 1), std::string::npos) << id;
    ASSERT_GT(std::stoll(id.substr(1)), std::stoll(previous.substr(1))) << "repeated " << id;
    previous = id;
  }
  for (const std::string bad : {"", ".", "..", "../w1", "a/b", "a\\b", "/etc"}) {
    EXPECT_FALSE(korb::is_safe_wallet_id(bad)) << bad;
  }
  EXPECT_FALSE(korb::is_safe_wallet_id(std::string("w1\0x", 4)));
  EXPECT_TRUE(korb::is_safe_wallet_id("..w"));
}

using registry = korb_test::KorbTest;

TEST_F(registry, one_wallet_binds_by_itself_two_bind_nothing_and_the_bind_file_wins) {
  write_registry(R"({"wallets": [{"id": "w17", "name": "Main"}]})");
  // A folder name that is not UTF-8 is written with a replacement character, not refused.
  korb::attach_app("C:\\Spiele\\O-St\xe4kka", "O-Stakka");
  const std::string bind = data_dir() + "/binds/c__spiele_o_st_kka.json";
  EXPECT_EQ(read_text(bind),
            "{\n  \"app\": \"O-Stakka\",\n  \"instance\": \"C:\\\\Spiele\\\\O-St\xef\xbf\xbd"
            "kka\",\n  \"wallet_id\": \"w17\"\n}");
  EXPECT_EQ(korb::wallet_file_path(), wallet_path("w17"));

  for (const char* unbindable : {R"({"wallets": [{"id": "w1"}, {"id": "w2"}]})",
                                 R"({"wallets": [{"id": "../../outside"}]})"}) {
    write_registry(unbindable);
    korb::attach_app("/games/ostakka", "O-Stakka");
    EXPECT_EQ(korb::bound_wallet_id(), "") << unbindable;
    EXPECT_FALSE(korb::path_exists(korb::bind_file_path()));
  }
  EXPECT_EQ(korb::wallet_file_path(), data_dir() + "/orbweave_korb.json");

  write_text(korb::bind_file_path(), R"({"wallet_id": "w9"})");
  korb::attach_app("/games/ostakka", "O-Stakka");
  EXPECT_EQ(korb::bound_wallet_id(), "w9");
  korb::bind_wallet("w2");
  korb::bind_wallet("../w3");
  EXPECT_EQ(korb::read_bound_wallet_id(), "w2");
  EXPECT_EQ(korb::wallet_file_path(), wallet_path("w2"));
  korb::unbind_wallet();
  EXPECT_FALSE(korb::path_exists(korb::bind_file_path()));
}

TEST_F(registry, a_legacy_wallet_moves_into_an_empty_registry_only) {
  const std::string legacy = data_dir() + "/orbweave_korb.json";
  const std::string content = R"({"priv": "00", "address": "1legacy"})";
  write_text(legacy, content);
  write_registry(R"({"wallets": [{"id": "w1"}, {"id": "w2"}]})");
  korb::attach_app("/games/ostakka", "O-Stakka");
  EXPECT_TRUE(korb::path_exists(legacy));

  fs::remove(data_dir() + "/wallets.json");
  korb::attach_app("/games/ostakka", "O-Stakka");
  EXPECT_FALSE(korb::path_exists(legacy));
  const auto wallets = korb::list_wallets();
  ASSERT_EQ(wallets.size(), 1u);
  EXPECT_EQ(wallets[0].name, "Wallet 1");
  EXPECT_EQ(read_text(wallet_path(wallets[0].id)), content);
  EXPECT_EQ(korb::bound_wallet_id(), wallets[0].id);
}

// Without the byte lock another program may be saving the registry at the same moment and one of
// the two saves would be lost: every writer refuses, and the legacy file waits for a later start.
TEST_F(registry, without_the_file_lock_nothing_is_written) {
  const std::string legacy = data_dir() + "/orbweave_korb.json";
  write_text(legacy, "{}");
  write_registry(R"({"wallets": [{"id": "w1", "name": "A"}]})");
  fs::create_directories(data_dir() + "/wallets.lock");  // cannot be opened for locking
  {
    korb::RegistryLock lock;
    std::string error;
    EXPECT_FALSE(lock.held(error));
    EXPECT_NE(error.find("wallets.lock"), std::string::npos) << error;
    EXPECT_FALSE(korb::save_registry(Json::parse(R"({"wallets": []})")));
  }
  EXPECT_FALSE(korb::rename_wallet("w1", "B"));
  fs::remove(data_dir() + "/wallets.json");
  korb::migrate_legacy_wallet();
  EXPECT_TRUE(korb::path_exists(legacy));
  EXPECT_FALSE(korb::path_exists(data_dir() + "/wallets.json"));
}

// An emptied or lost registry beside wallet folders would orphan them at the next save. It
// counts as damage, and repair lists every usable folder again, reporting the rest.
TEST_F(registry, an_empty_registry_beside_wallet_folders_is_damage_that_repair_mends) {
  write_hd_wallet("w1", korb_test::mnemonic_abandon);
  write_hd_wallet("w2", korb_test::mnemonic_legal, Json{{"paymail", "bob"}});
  write_text(wallet_path("w3"), "{\"mnemonic\": \"not words\"}");
  fs::create_directories(root_ + "/elsewhere");
  fs::create_symlink(root_ + "/elsewhere", data_dir() + "/wallets/w4");
  write_text(root_ + "/elsewhere/wallet.json", read_text(wallet_path("w1")));
  const std::string damaged = "{\"wallets\": [{\"id\"";
  write_registry(damaged);
  EXPECT_FALSE(korb::rename_wallet("w1", "x"));
  korb::RepairReport report;
  std::string error;
  ASSERT_TRUE(korb::repair_registry(report, error)) << error;
  EXPECT_EQ(report.added, 2);
  std::string said;
  for (const std::string& line : report.lines) said += line + "\n";
  for (const char* expected : {"Listed w1 again as \"Recovered w1\"", "Listed w2 again as \"bob\"",
                               "Left out w3", "Left out w4", "holds 4", "kept it as"}) {
    EXPECT_NE(said.find(expected), std::string::npos) << said;
  }
  EXPECT_EQ(read_text(data_dir() + "/wallets.json.damaged-1"), damaged);
  ASSERT_TRUE(korb::repair_registry(report, error));
  EXPECT_EQ(report.added, 0);
  EXPECT_EQ(korb::list_wallets().size(), 2u);
}

// The lenient readers turn a damaged registry into an empty one, which is right for lookups; a
// writer that saved that result would wipe every wallet or paymail name the wallet application
// wrote. Every writer of either registry refuses and leaves the file as it was.
TEST_F(registry, no_writer_saves_over_a_damaged_registry) {
  load_wallet({{"ord_avatar", "insc_0"}, {"paymail", "alice"}, {"recv", {0, 0, 0, 0, 0, 3}}});
  const std::string wallets = data_dir() + "/wallets.json";
  const std::string names = data_dir() + "/orbweave_paymail.json";
  const std::string& key = korb_test::key_a;
  const struct {
    const std::string& path;
    const char* writer;
    std::function<void()> write;
  } writers[] = {
      {wallets, "rename", [] { EXPECT_FALSE(korb::rename_wallet("w1", "bob")); }},
      {wallets, "wallet name", [] { korb::set_wallet_name("w1"); }},
      {wallets, "legacy migration",
       [&] {
         write_text(data_dir() + "/orbweave_korb.json", R"({"priv": "00"})");
         korb::migrate_legacy_wallet();
       }},
      {names, "register",
       [&] {
         EXPECT_EQ(korb::register_local_name("carol", key, "1Addr"),
                   "could not write paymail registry");
       }},
      {names, "avatar", [] { EXPECT_EQ(korb::sync_avatar(), "could not write paymail registry"); }},
      {names, "ordinals address",
       [&] { korb::sync_ordinals_address(key, "1BvBMSEYstWetqTFn5Au4m4GFg7xJaNVN2"); }},
      {names, "paymail step", [] { korb::paymail_step(true); }},
  };
  for (const std::string damaged : {R"({"wallets": [{"id": "w1"}, "names": {"bob": {"pubkey": ")",
                                    "[1, 2]", R"({"wallets": 7, "names": 7, "self": "bob"})"}) {
    for (const auto& w : writers) {
      write_text(w.path, damaged);
      w.write();
      EXPECT_EQ(read_text(w.path), damaged) << w.writer << " on " << damaged;
    }
  }
}

// Threads add wallets and rename their own at once, each under the registry lock, as both
// programs do: no update may be lost. Across processes the byte lock below does the same.
TEST_F(registry, threads_changing_the_registry_at_once_lose_no_update) {
  write_registry(R"({"wallets": [{"id": "own0"}, {"id": "own1"}, {"id": "own2"}]})");
  constexpr int workers = 3, rounds = 20;
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w) {
    threads.emplace_back([w] {
      for (int i = 0; i < rounds; ++i) {
        {
          korb::RegistryLock lock;
          Json reg = korb::load_registry();
          reg["wallets"].push_back({{"id", "p" + std::to_string(w) + "-" + std::to_string(i)}});
          EXPECT_TRUE(korb::save_registry(reg));
        }
        EXPECT_TRUE(korb::rename_wallet("own" + std::to_string(w), "round " + std::to_string(i)));
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(korb::list_wallets().size(), static_cast<std::size_t>(workers * (rounds + 1)));
  for (int w = 0; w < workers; ++w) {
    EXPECT_EQ(korb::wallet_display_name("own" + std::to_string(w)), "round 19");
  }
}

// The wallet application takes a write lock on byte 0 of wallets.lock; a shared lock or another
// byte would let both programs write at once.
TEST_F(registry, the_lock_holds_byte_0_of_wallets_lock_against_other_processes) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  test_children::Guard children;
  const pid_t pid = children.add(fork());
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    korb::RegistryLock outer;
    korb::RegistryLock nested;  // re-entering must not deadlock or drop the lock
    char c = 'x';
    if (write(ready[1], &c, 1) != 1) _exit(3);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  const int fd = open((data_dir() + "/wallets.lock").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_len = 1;
  EXPECT_EQ(fcntl(fd, F_GETLK, &fl), 0);
  EXPECT_EQ(fl.l_type, F_WRLCK);
  EXPECT_EQ(fl.l_pid, pid);
  close(fd);
  close(ready[0]);
  close(ready[1]);
}

}  // namespace
