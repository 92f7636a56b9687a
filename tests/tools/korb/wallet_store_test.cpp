// The wallet store under pressure: the game and the korb program changing the registry at the
// same time, korb writers killed at random moments, and the checks on names that go into it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <cctype>
#include <random>
#include <set>
#include <thread>

#include "fuzz_files.h"
#include "korb/registry.h"
#include "korb/session.h"
#include "tools/korb/korb_test_support.h"
#include "tools/korb/wallet_store.h"

namespace {

using namespace std::chrono_literals;
using korb_test::read_json;
using korb_test::run_korb;
using nlohmann::json;

class WalletStore : public ::testing::Test {
 protected:
  korb_test::TempDataDir dir;

  json registry() { return read_json(dir.data_dir() + "/wallets.json"); }

  std::string name_of(const json& reg, const std::string& id) {
    for (const json& entry : reg["wallets"]) {
      if (entry["id"] == id) return entry["name"];
    }
    return {};
  }
};

// Both programs add and rename wallets as fast as they can; the shared byte lock must make
// every read-modify-write whole, so no entry and no rename is lost.
TEST_F(WalletStore, game_and_korb_change_the_registry_at_once_without_losses) {
  const std::string korb_named = korb_test::create_wallet("K");
  const std::string game_named = korb_test::create_wallet("G");
  ASSERT_FALSE(korb_named.empty() || game_named.empty());

  constexpr int korb_rounds = 8;
  std::vector<std::string> korb_ids;
  std::atomic<bool> korb_done{false};
  std::atomic<int> korb_failures{0};
  // Joined however this test ends: every korb it starts is bounded by run_korb's time-out.
  std::jthread korb_side([&] {
    for (int i = 0; i < korb_rounds; ++i) {
      const std::string id = korb_test::create_wallet("k" + std::to_string(i));
      if (id.empty()) ++korb_failures;
      korb_ids.push_back(id);
      if (run_korb({"paymail", korb_named, "kname" + std::to_string(i)}).exit_code != 0) {
        ++korb_failures;
      }
    }
    korb_done = true;
  });

  int game_rounds = 0;
  for (; !korb_done || game_rounds < 5; ++game_rounds) {
    {
      korb::RegistryLock lock;
      json reg = korb::load_registry();
      reg["wallets"].push_back(
          json{{"id", "g" + std::to_string(game_rounds)}, {"name", "game entry"}});
      ASSERT_TRUE(korb::save_registry(reg));
    }
    ASSERT_TRUE(korb::rename_wallet(game_named, "gname" + std::to_string(game_rounds)));
    ASSERT_LT(game_rounds, 100000);
  }
  korb_side.join();

  EXPECT_EQ(korb_failures, 0);
  const json reg = registry();
  ASSERT_TRUE(reg.is_object());
  std::set<std::string> ids;
  for (const json& entry : reg["wallets"]) ids.insert(entry["id"].get<std::string>());
  for (const std::string& id : korb_ids) EXPECT_TRUE(ids.count(id)) << id;
  for (int i = 0; i < game_rounds; ++i) EXPECT_TRUE(ids.count("g" + std::to_string(i))) << i;
  EXPECT_EQ(reg["wallets"].size(), 2u + korb_rounds + static_cast<size_t>(game_rounds));
  EXPECT_EQ(name_of(reg, korb_named), "kname" + std::to_string(korb_rounds - 1));
  EXPECT_EQ(name_of(reg, game_named), "gname" + std::to_string(game_rounds - 1));
}

// korb writers killed at random moments: the registry and every listed wallet file still load,
// no listed wallet ever disappears, and a wallet being renamed keeps its words and holds either
// its old or its new name.
TEST_F(WalletStore, killed_writers_leave_loadable_files) {
  // Kill points spread over a whole run of the program, measured here, so some land in the
  // middle of writing files and not only while it starts up.
  std::string words;
  const auto started = std::chrono::steady_clock::now();
  const std::string named = korb_test::create_wallet("Named", &words);
  const auto run_us = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - started)
                          .count();
  ASSERT_FALSE(named.empty());
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<long> delay_us(0, run_us);

  std::set<std::string> listed;
  std::set<json> names_so_far = {json()};
  for (int i = 0; i < 30; ++i) {
    const std::string label = std::to_string(i);
    const std::vector<std::string> args =
        i % 2 == 0 ? std::vector<std::string>{"create", "--name", "c" + label}
                   : std::vector<std::string>{"paymail", named, "p" + label};
    if (i % 2 == 1) names_so_far.insert("p" + label);
    korb_test::Children children;
    const pid_t pid = children.start(args, "/dev/null");
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
    children.wait(pid, 0ms);

    const json reg = registry();
    ASSERT_TRUE(reg.is_object()) << "round " << i;
    ASSERT_TRUE(reg["wallets"].is_array());
    std::set<std::string> now;
    for (const json& entry : reg["wallets"]) {
      const std::string id = entry["id"];
      now.insert(id);
      const json file = read_json(dir.data_dir() + "/wallets/" + id + "/wallet.json");
      wallet::WalletSession fields;
      ASSERT_TRUE(korb::read_wallet_fields(file, fields)) << id << " round " << i;
      EXPECT_TRUE(fields.hd);
    }
    for (const std::string& id : listed) EXPECT_TRUE(now.count(id)) << id << " round " << i;
    listed = now;
    const json kept = read_json(dir.data_dir() + "/wallets/" + named + "/wallet.json");
    EXPECT_EQ(kept["mnemonic"], words);
    EXPECT_TRUE(names_so_far.count(kept.value("paymail", json()))) << kept.dump();
  }
  const auto list = run_korb({"list"});
  EXPECT_EQ(list.exit_code, 0) << list.err;
}

// Damaged registries: reading never crashes and lists only safe ids, and a registry the store
// refuses is never written over by a new wallet.
TEST_F(WalletStore, damaged_registries_are_read_safely_and_never_overwritten) {
  std::string words;
  ASSERT_TRUE(korb_app::generate_mnemonic(words));
  const std::string path = dir.data_dir() + "/wallets.json";
  int round = 0;
  test_fuzz::fuzz_files(
      {{path, R"({"active": "w1", "wallets": [{"id": "w1", "name": "A"}, {"id": "w2"}]})",
        [&] {
          std::vector<korb_app::StoredWallet> wallets;
          std::string error, id;
          if (korb_app::list_stored_wallets(wallets, error)) {
            for (const auto& stored : wallets) ASSERT_TRUE(korb::is_safe_wallet_id(stored.id));
            return;
          }
          EXPECT_NE(error.find("damaged"), std::string::npos) << error;
          // Only every few rounds: each attempt derives keys, which takes a few milliseconds.
          if (++round % 8 != 0) return;
          const std::string before = korb_test::read_text(path);
          EXPECT_FALSE(korb_app::add_wallet("New", words, id, error)) << before;
          EXPECT_EQ(korb_test::read_text(path), before);
        }}},
      400);
}

// A wallet file nested a million levels deep (still under the size cap) is refused as damaged:
// copying or writing such a value recurses once per level and would overflow the stack.
TEST_F(WalletStore, a_deeply_nested_wallet_file_is_refused_not_followed_into_a_crash) {
  std::string words;
  ASSERT_TRUE(korb_app::generate_mnemonic(words));
  std::string id, error;
  ASSERT_TRUE(korb_app::add_wallet("Deep", words, id, error)) << error;
  const std::string path = dir.data_dir() + "/wallets/" + id + "/wallet.json";
  json file = read_json(path);
  file.erase("contacts");
  std::string text = file.dump();
  text.pop_back();
  text += ", \"contacts\": " + std::string(1000000, '[') + std::string(1000000, ']') + "}";
  korb_test::write_text(path, text);

  korb_app::WalletDetails details;
  EXPECT_FALSE(korb_app::wallet_details(id, details, error));
  EXPECT_NE(error.find("damaged"), std::string::npos) << error;
  std::string name;
  EXPECT_FALSE(korb_app::set_wallet_paymail(id, "alice", name, error));
  EXPECT_FALSE(korb_app::check_wallet_usable(id, error));
  EXPECT_EQ(korb_test::read_text(path), text);
}

// Names are shown in games and written into JSON: only trimmed, bounded, printable UTF-8 gets in.
TEST(wallet_names, only_bounded_printable_utf8_is_accepted) {
  std::string cleaned, error;
  EXPECT_TRUE(
      korb_app::clean_wallet_name("  Zo\xc3\xab's purse \xf0\x9f\x91\x9b ", cleaned, error));
  EXPECT_EQ(cleaned, "Zo\xc3\xab's purse \xf0\x9f\x91\x9b");
  EXPECT_TRUE(korb_app::clean_wallet_name(std::string(64, 'x'), cleaned, error));
  for (const std::string& bad :
       {std::string("   "), std::string(65, 'x'), std::string("tab\there"), std::string("a\nb"),
        std::string("\xff"), std::string("\xc0\xaf"), std::string("\xed\xa0\x80"),
        std::string("cut \xe2\x82"), std::string("del\x7f")}) {
    error.clear();
    EXPECT_FALSE(korb_app::clean_wallet_name(bad, cleaned, error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

// Whatever bytes arrive as a name, the check never crashes and what it lets through can be
// written as JSON.
TEST(wallet_names, random_bytes_never_break_the_json_writer) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> byte(0, 255), length(0, 80);
  for (int round = 0; round < 20000; ++round) {
    std::string name(static_cast<size_t>(length(random)), '\0');
    for (char& c : name) c = static_cast<char>(byte(random));
    std::string cleaned, error;
    if (korb_app::clean_wallet_name(name, cleaned, error)) {
      const std::string text =
          json{{"name", cleaned}}.dump(-1, ' ', false, json::error_handler_t::strict);
      EXPECT_FALSE(text.empty());
    }
  }
}

// The stored phrase is the canonical one, so the seed a game derives matches other wallets'.
TEST(mnemonics, are_stored_lower_case_with_single_spaces) {
  std::string words;
  ASSERT_TRUE(korb_app::generate_mnemonic(words));
  EXPECT_EQ(korb_app::normalized_mnemonic(words), words);
  std::string messy = "  ";
  for (char c : words)
    messy += c == ' ' ? std::string(" \t ") : std::string(1, char(std::toupper(c)));
  EXPECT_EQ(korb_app::normalized_mnemonic(messy + "\t"), words);
  EXPECT_EQ(korb_app::normalized_mnemonic(words + " " + words), "");
  std::string other;
  ASSERT_TRUE(korb_app::generate_mnemonic(other));
  EXPECT_NE(other, words);
}

}  // namespace
