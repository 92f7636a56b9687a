// The wallet registry, its cross-process lock, bindings and the legacy migration. The registry is
// shared with the wallet application, so lost updates and torn files here lose wallets.
#include "korb/registry.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include <set>
#include <thread>

#include "child_guard.h"
#include "korb/atomic_file.h"
#include "korb/paymail.h"
#include "korb_test_support.h"

namespace {

namespace fs = std::filesystem;
using korb_test::KorbTest;
using korb_test::read_text;
using korb_test::write_text;
using Json = nlohmann::json;

TEST(instance_key, keeps_letters_and_digits_lower_cased_and_the_last_96_characters) {
  EXPECT_EQ(korb::instance_key("C:\\Games\\O-Stakka"), "c__games_o_stakka");
  EXPECT_EQ(korb::instance_key(""), "default");
  // Every byte of a multi-byte character becomes its own "_".
  EXPECT_EQ(korb::instance_key("/home/j\xc3\xb6rg"), "_home_j__rg");

  std::string long_instance = "/" + std::string(100, 'A') + "/" + std::string(48, 'b');
  ASSERT_EQ(long_instance.size(), 150u);
  std::string key = korb::instance_key(long_instance);
  EXPECT_EQ(key.size(), 96u);
  EXPECT_EQ(key, std::string(47, 'a') + "_" + std::string(48, 'b'));
}

TEST(wallet_id, ids_are_w_and_milliseconds_and_never_repeat) {
  std::set<std::string> seen;
  std::string previous;
  for (int i = 0; i < 2000; ++i) {
    std::string id = korb::new_wallet_id();
    ASSERT_EQ(id[0], 'w');
    ASSERT_GE(id.size(), 14u);
    ASSERT_EQ(id.find_first_not_of("0123456789", 1), std::string::npos) << id;
    ASSERT_TRUE(seen.insert(id).second) << "duplicate " << id;
    if (!previous.empty()) {
      ASSERT_GT(std::stoll(id.substr(1)), std::stoll(previous.substr(1)));
    }
    previous = id;
  }
}

TEST(wallet_id, ids_that_would_leave_the_wallets_folder_are_unsafe) {
  for (const char* bad : {"", ".", "..", "../w1", "a/b", "a\\b", "/etc"}) {
    EXPECT_FALSE(korb::is_safe_wallet_id(bad)) << bad;
  }
  EXPECT_FALSE(korb::is_safe_wallet_id(std::string("w1\0x", 4)));
  EXPECT_TRUE(korb::is_safe_wallet_id("w1733490000000"));
  EXPECT_TRUE(korb::is_safe_wallet_id("..w"));
}

using registry = KorbTest;

TEST_F(registry, unreadable_or_mistyped_registries_read_as_empty) {
  const std::string path = data_dir() + "/wallets.json";
  for (const std::string& text :
       {std::string(), std::string("[]"), std::string("{\"wallets\": 5}"), std::string("{\"wal"),
        std::string("null"), std::string(100000, '['), std::string("\"text\"")}) {
    write_text(path, text);
    korb::RegistryLock lock;
    EXPECT_EQ(korb::load_registry(), Json::parse(R"({"wallets": []})")) << text.substr(0, 40);
  }
  // Too large to be ours: refused, not read into memory.
  std::string big =
      "{\"wallets\": [], \"pad\": \"" + std::string(korb::max_data_file_bytes, 'x') + "\"}";
  write_text(path, big);
  korb::RegistryLock lock;
  EXPECT_EQ(korb::load_registry()["wallets"], Json::array());
  EXPECT_FALSE(korb::load_registry().contains("pad"));
}

TEST_F(registry, save_keeps_unknown_members_sorted_with_two_space_indent_and_final_newline) {
  write_registry(Json::parse(R"({"zeta": {"b": 1, "a": 2}, "wallets": [{"id": "w1", "x": 1}]})"));
  {
    korb::RegistryLock lock;
    Json reg = korb::load_registry();
    reg["active"] = "w1";
    ASSERT_TRUE(korb::save_registry(reg));
  }
  std::string text = read_text(data_dir() + "/wallets.json");
  EXPECT_EQ(text,
            "{\n  \"active\": \"w1\",\n  \"wallets\": [\n    {\n      \"id\": \"w1\",\n      "
            "\"x\": 1\n    }\n  ],\n  \"zeta\": {\n    \"a\": 2,\n    \"b\": 1\n  }\n}\n");
  EXPECT_FALSE(korb::path_exists(data_dir() + "/wallets.json.tmp"));
}

TEST_F(registry, a_failed_save_leaves_the_previous_registry_in_place) {
  write_registry(Json::parse(R"({"wallets": [{"id": "w1", "name": "Old"}]})"));
  korb::RegistryLock lock;
  Json reg = korb::load_registry();
  reg["wallets"][0]["name"] = "New";
  // Larger than any reader accepts: writing it would lose every entry for good.
  reg["pad"] = std::string(korb::max_data_file_bytes, 'x');
  EXPECT_FALSE(korb::save_registry(reg));
  EXPECT_EQ(korb::load_registry()["wallets"][0]["name"], "Old");
}

TEST_F(registry, one_wallet_and_no_bind_file_binds_automatically) {
  write_registry(Json::parse(R"({"wallets": [{"id": "w17", "name": "Main"}]})"));
  korb::attach_app("C:\\Games\\O-Stakka", "O-Stakka");
  EXPECT_EQ(korb::bound_wallet_id(), "w17");
  EXPECT_EQ(korb::read_bound_wallet_id(), "w17");
  const std::string bind = data_dir() + "/binds/c__games_o_stakka.json";
  EXPECT_EQ(korb::bind_file_path(), bind);
  EXPECT_EQ(read_text(bind),
            "{\n  \"app\": \"O-Stakka\",\n  \"instance\": \"C:\\\\Games\\\\O-Stakka\",\n  "
            "\"wallet_id\": \"w17\"\n}");
  EXPECT_EQ(korb::wallet_file_path(), wallet_path("w17"));
}

TEST_F(registry, two_wallets_or_an_unsafe_single_id_bind_nothing) {
  write_registry(Json::parse(R"({"wallets": [{"id": "w1"}, {"id": "w2"}]})"));
  korb::attach_app("/games/ostakka", "O-Stakka");
  EXPECT_EQ(korb::bound_wallet_id(), "");
  EXPECT_FALSE(korb::path_exists(korb::bind_file_path()));
  EXPECT_EQ(korb::wallet_file_path(), data_dir() + "/orbweave_korb.json");

  write_registry(Json::parse(R"({"wallets": [{"id": "../../outside"}]})"));
  korb::attach_app("/games/ostakka", "O-Stakka");
  EXPECT_EQ(korb::bound_wallet_id(), "");
  EXPECT_FALSE(korb::path_exists(korb::bind_file_path()));
}

TEST_F(registry, the_bind_file_wins_and_unsafe_ids_in_it_read_as_no_binding) {
  write_registry(Json::parse(R"({"wallets": [{"id": "w1"}]})"));
  korb::attach_app("/games/ostakka", "");
  EXPECT_EQ(korb::attached_app_name(), "App");
  const std::string bind = korb::bind_file_path();

  write_text(bind, R"({"wallet_id": "w9"})");
  korb::attach_app("/games/ostakka", "O-Stakka");
  EXPECT_EQ(korb::bound_wallet_id(), "w9");

  for (const char* bad : {R"({"wallet_id": "../w1"})", R"({"wallet_id": ".."})",
                          R"({"wallet_id": "a/b"})", R"({"wallet_id": 5})", "[", ""}) {
    write_text(bind, bad);
    EXPECT_EQ(korb::read_bound_wallet_id(), "") << bad;
  }
  // bind_wallet refuses the same ids and keeps the binding it has.
  korb::bind_wallet("w2");
  korb::bind_wallet("../w3");
  korb::bind_wallet("");
  EXPECT_EQ(korb::bound_wallet_id(), "w2");
  EXPECT_EQ(korb::read_bound_wallet_id(), "w2");
  EXPECT_EQ(korb::wallet_file_path(), wallet_path("w2"));

  korb::unbind_wallet();
  EXPECT_EQ(korb::bound_wallet_id(), "");
  EXPECT_FALSE(korb::path_exists(bind));
}

TEST_F(registry, a_legacy_wallet_moves_into_an_empty_registry_as_wallet_1) {
  const std::string legacy = data_dir() + "/orbweave_korb.json";
  const std::string content = R"({"priv": "00", "address": "1legacy"})";
  write_text(legacy, content);
  korb::attach_app("/games/ostakka", "O-Stakka");

  EXPECT_FALSE(korb::path_exists(legacy));
  korb::RegistryLock lock;
  Json reg = korb::load_registry();
  ASSERT_EQ(reg["wallets"].size(), 1u);
  std::string id = reg["wallets"][0]["id"];
  EXPECT_EQ(reg["wallets"][0]["name"], "Wallet 1");
  EXPECT_EQ(reg["active"], id);
  EXPECT_EQ(read_text(wallet_path(id)), content);
  // With exactly one wallet the game is bound to it at the same start.
  EXPECT_EQ(korb::bound_wallet_id(), id);
  EXPECT_EQ(korb::wallet_display_name(id), "Wallet 1");
}

// Without the byte lock another program may be saving the registry at the same moment, and one
// of the two saves would be lost: every writer refuses, and the legacy file waits for a start
// that holds the lock.
TEST_F(registry, without_the_file_lock_nothing_is_written) {
  const std::string legacy = data_dir() + "/orbweave_korb.json";
  const std::string content = R"({"priv": "00", "address": "1legacy"})";
  write_text(legacy, content);
  write_registry(Json::parse(R"({"wallets": [{"id": "w1", "name": "A"}]})"));
  const std::string before = read_text(data_dir() + "/wallets.json");
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
  EXPECT_EQ(read_text(legacy), content);
  EXPECT_FALSE(korb::path_exists(data_dir() + "/wallets.json"));
  EXPECT_FALSE(korb::path_exists(data_dir() + "/wallets"));

  fs::remove(data_dir() + "/wallets.lock");
  korb::attach_app("/games/ostakka", "O-Stakka");
  EXPECT_FALSE(korb::path_exists(legacy));
  ASSERT_EQ(korb::list_wallets().size(), 1u);
  EXPECT_EQ(read_text(wallet_path(korb::list_wallets()[0].id)), content);
  EXPECT_EQ(korb::bound_wallet_id(), korb::list_wallets()[0].id);
}

// A symlink planted where a temporary file used to be named must never be written through: it
// pointed at a wallet file, which lost its mnemonic to registry text.
TEST_F(registry, a_planted_symlink_at_the_temporary_name_is_not_written_through) {
  write_hd_wallet("w1", korb_test::mnemonic_abandon);
  write_registry(Json::parse(R"({"wallets": [{"id": "w1", "name": "A"}]})"));
  const std::string wallet = read_text(wallet_path("w1"));
  fs::create_symlink(wallet_path("w1"), data_dir() + "/wallets.json.tmp");
  EXPECT_TRUE(korb::rename_wallet("w1", "B"));
  EXPECT_EQ(read_text(wallet_path("w1")), wallet);
  EXPECT_EQ(korb::list_wallets()[0].name, "B");
  EXPECT_FALSE(fs::is_symlink(data_dir() + "/wallets.json"));
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
  for (const std::string& emptied :
       {std::string(), std::string("{\"wallets\": []}"), std::string("{\"wallets\": [{\"id\"")}) {
    if (emptied.empty()) {
      fs::remove(data_dir() + "/wallets.json");
    } else {
      write_text(data_dir() + "/wallets.json", emptied);
    }
    {
      korb::RegistryLock lock;
      Json strict;
      std::string error;
      EXPECT_FALSE(korb::load_registry_strict(strict, error));
      EXPECT_NE(error.find("korb repair"), std::string::npos) << error;
    }
    EXPECT_FALSE(korb::rename_wallet("w1", "x"));
    korb::RepairReport report;
    std::string error;
    ASSERT_TRUE(korb::repair_registry(report, error)) << error;
    EXPECT_EQ(report.added, 2);
    std::string said;
    for (const std::string& line : report.lines) said += line + "\n";
    for (const char* expected :
         {"Listed w1 again as \"Recovered w1\"", "Listed w2 again as \"bob\"", "Left out w3",
          "Left out w4", "holds 4"}) {
      EXPECT_NE(said.find(expected), std::string::npos) << said;
    }
    const bool unparsable = emptied.find("id") != std::string::npos;
    EXPECT_EQ(said.find("kept it as") != std::string::npos, unparsable) << said;
    ASSERT_EQ(korb::list_wallets().size(), 2u);
    EXPECT_TRUE(korb::repair_registry(report, error));
    EXPECT_EQ(report.added, 0);
  }
  EXPECT_TRUE(korb::path_exists(data_dir() + "/wallets.json.damaged-1"));
}

TEST_F(registry, a_legacy_wallet_stays_when_the_registry_has_wallets) {
  const std::string legacy = data_dir() + "/orbweave_korb.json";
  write_text(legacy, "{}");
  write_registry(Json::parse(R"({"wallets": [{"id": "w1"}, {"id": "w2"}]})"));
  korb::attach_app("/games/ostakka", "O-Stakka");
  EXPECT_TRUE(korb::path_exists(legacy));
  korb::RegistryLock lock;
  EXPECT_EQ(korb::load_registry()["wallets"].size(), 2u);
}

TEST_F(registry, listing_skips_what_is_not_a_usable_wallet_and_names_fall_back_to_ids) {
  write_registry(Json::parse(R"({"wallets": [5, {"id": ""}, {"id": "w1", "name": "Main"},
      {"id": "w2"}, {"name": "no id"}, {"id": "../x", "name": "Escape"}, {"id": "w3", "name": 7}]})"));
  auto wallets = korb::list_wallets();
  ASSERT_EQ(wallets.size(), 3u);
  EXPECT_EQ(wallets[0].id, "w1");
  EXPECT_EQ(wallets[0].name, "Main");
  EXPECT_EQ(wallets[1].name, "w2");
  EXPECT_EQ(wallets[2].name, "w3");
  EXPECT_EQ(korb::wallet_display_name("w1"), "Main");
  EXPECT_EQ(korb::wallet_display_name("w404"), "w404");
}

TEST_F(registry, set_wallet_name_writes_the_session_handle_to_every_matching_entry) {
  write_registry(Json::parse(R"({"wallets": [{"id": "w1", "name": "A"}, {"id": "w2"},
      {"id": "w1", "name": "dup"}], "extra": true})"));
  korb::set_wallet_name("w1");  // no handle yet: nothing happens
  EXPECT_EQ(korb::list_wallets()[0].name, "A");
  {
    std::lock_guard<std::recursive_mutex> g(wallet::session_mutex());
    wallet::session().paymail_handle = "alice";
  }
  korb::set_wallet_name("w1");
  auto wallets = korb::list_wallets();
  EXPECT_EQ(wallets[0].name, "alice");
  EXPECT_EQ(wallets[1].name, "w2");
  EXPECT_EQ(wallets[2].name, "alice");
  korb::RegistryLock lock;
  EXPECT_TRUE(korb::load_registry()["extra"].get<bool>());
}

// The lenient readers turn a damaged registry into an empty one, which is right for lookups; a
// writer that saved that result would wipe every wallet or paymail name the wallet application
// wrote. Every writer of either registry refuses and leaves the file as it was.
TEST_F(registry, no_writer_saves_over_a_damaged_registry) {
  load_wallet({{"ord_avatar", "insc_0"}, {"paymail", "alice"}, {"recv", {0, 0, 0, 0, 0, 3}}});
  const std::string wallets = data_dir() + "/wallets.json";
  const std::string names = data_dir() + "/orbweave_paymail.json";
  const std::string legacy = data_dir() + "/orbweave_korb.json";
  const std::string key = "02" + std::string(64, 'a');
  const struct {
    const std::string& path;
    const char* writer;
    std::function<void()> write;
  } writers[] = {
      {wallets, "rename", [] { EXPECT_FALSE(korb::rename_wallet("w1", "bob")); }},
      {wallets, "wallet name", [] { korb::set_wallet_name("w1"); }},
      {wallets, "legacy migration",
       [&] {
         write_text(legacy, R"({"priv": "00"})");
         korb::migrate_legacy_wallet();
         EXPECT_TRUE(korb::path_exists(legacy));
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
  for (const std::string& damaged :
       {std::string(R"({"wallets": [{"id": "w1"}, "names": {"bob": {"pubkey": ")"),
        std::string("[1, 2]"), std::string(R"({"wallets": 7, "names": 7, "self": "bob"})"),
        std::string(200, '[')}) {
    for (const auto& w : writers) {
      write_text(w.path, damaged);
      w.write();
      EXPECT_EQ(read_text(w.path), damaged) << w.writer << " on " << damaged.substr(0, 30);
    }
    korb::RegistryLock lock;
    Json strict;
    std::string error;
    EXPECT_FALSE(korb::load_registry_strict(strict, error));
    EXPECT_NE(error.find("damaged"), std::string::npos) << error;
  }
  // Without wallet folders beside them, missing and blank files are a fresh start, not damage.
  fs::remove_all(data_dir() + "/wallets");
  for (const std::string& fresh : {std::string(" \n"), std::string()}) {
    if (fresh.empty()) {
      fs::remove(wallets);
    } else {
      write_text(wallets, fresh);
    }
    korb::RegistryLock lock;
    Json strict;
    std::string error;
    EXPECT_TRUE(korb::load_registry_strict(strict, error)) << error;
    EXPECT_EQ(strict, Json::parse(R"({"wallets": []})"));
  }
  write_text(names, "\n");
  EXPECT_EQ(korb::register_local_name("carol", key, "1Addr"), "");
}

// Adds one wallet per call under the lock, the way both programs change the registry.
void add_wallet(const std::string& id) {
  korb::RegistryLock lock;
  Json reg = korb::load_registry();
  reg["wallets"].push_back({{"id", id}, {"name", id}});
  ASSERT_TRUE(korb::save_registry(reg));
}

TEST_F(registry, threads_adding_and_renaming_under_the_lock_lose_no_update) {
  write_registry(Json::parse(R"({"wallets": [{"id": "shared", "name": "start"}]})"));
  constexpr int threads = 4;
  constexpr int per_thread = 20;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([t] {
      for (int i = 0; i < per_thread; ++i) {
        add_wallet("t" + std::to_string(t) + "-" + std::to_string(i));
        ASSERT_TRUE(korb::rename_wallet("shared", "t" + std::to_string(t)));
      }
    });
  }
  for (auto& w : workers) w.join();
  auto wallets = korb::list_wallets();
  EXPECT_EQ(wallets.size(), 1u + threads * per_thread);
  std::set<std::string> ids;
  for (auto& w : wallets) ids.insert(w.id);
  EXPECT_EQ(ids.size(), wallets.size());
}

TEST_F(registry, processes_adding_and_renaming_wallets_at_once_lose_no_update) {
  write_registry(Json::parse(R"({"wallets": [{"id": "own0"}, {"id": "own1"}, {"id": "own2"},
      {"id": "own3"}]})"));
  constexpr int processes = 4;  // three children and this process
  constexpr int rounds = 25;
  auto work = [](int p) {
    for (int i = 0; i < rounds; ++i) {
      {
        korb::RegistryLock lock;
        Json reg = korb::load_registry();
        reg["wallets"].push_back({{"id", "p" + std::to_string(p) + "-" + std::to_string(i)}});
        if (!korb::save_registry(reg)) return false;
      }
      if (!korb::rename_wallet("own" + std::to_string(p), "round " + std::to_string(i))) {
        return false;
      }
    }
    return true;
  };
  test_children::Guard children;
  std::vector<pid_t> pids;
  for (int p = 1; p < processes; ++p) {
    pid_t pid = children.add(fork());
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(work(p) ? 0 : 2);
    pids.push_back(pid);
  }
  EXPECT_TRUE(work(0));
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    children.forget(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto wallets = korb::list_wallets();
  EXPECT_EQ(wallets.size(), static_cast<std::size_t>(processes * (rounds + 1)));
  for (int p = 0; p < processes; ++p) {
    EXPECT_EQ(korb::wallet_display_name("own" + std::to_string(p)),
              "round " + std::to_string(rounds - 1));
  }
}

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
  int fd = open((data_dir() + "/wallets.lock").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 1;
  EXPECT_EQ(fcntl(fd, F_GETLK, &fl), 0);
  EXPECT_EQ(fl.l_type, F_WRLCK);
  EXPECT_EQ(fl.l_pid, pid);
  close(fd);
  close(ready[0]);
  close(ready[1]);
}

}  // namespace
