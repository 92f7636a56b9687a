// The korb command line, run as a real program against a fresh data directory: what it stores,
// what it prints, and that bad input never damages what is already stored.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <mutex>

#include "korb/atomic_file.h"
#include "korb/registry.h"
#include "korb/session.h"
#include "tools/korb/korb_test_support.h"
#include "wallet/mnemonic.h"
#include "wallet/signatures.h"

namespace {

using korb_test::read_json;
using korb_test::read_text;
using korb_test::run_korb;
using nlohmann::json;

class KorbCli : public ::testing::Test {
 protected:
  korb_test::TempDataDir dir;

  std::string registry_path() const { return dir.data_dir() + "/wallets.json"; }
  std::string wallet_path(const std::string& id) const {
    return dir.data_dir() + "/wallets/" + id + "/wallet.json";
  }
  json show(const std::string& id) {
    const auto run = run_korb({"show", id, "--json"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    return json::parse(run.out, nullptr, false);
  }
};

bool is_hex_key(const json& value) {
  if (!value.is_string()) return false;
  const std::string text = value.get<std::string>();
  return text.size() == 66 && (text.starts_with("02") || text.starts_with("03")) &&
         std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(c) != 0; });
}

// A created wallet is stored in the HD form a game loads, listed in the registry, and shown
// with keys that restoring the same words reproduces exactly.
TEST_F(KorbCli, created_wallet_is_stored_listed_and_restorable) {
  std::string words;
  const std::string id = korb_test::create_wallet("Main purse", &words);
  ASSERT_FALSE(id.empty());
  EXPECT_TRUE(wallet::validate_mnemonic(words)) << words;

  const json file = read_json(wallet_path(id));
  ASSERT_TRUE(file.is_object());
  EXPECT_EQ(file["mnemonic"], words);
  EXPECT_EQ(file["version"], 2);
  EXPECT_EQ(file["recv"], json::array({0, 0, 0, 0, 0, 0}));
  const json registry = read_json(registry_path());
  ASSERT_TRUE(registry.is_object());
  EXPECT_EQ(registry["wallets"], json::array({json{{"id", id}, {"name", "Main purse"}}}));
  EXPECT_EQ(registry["active"], id);

  const json shown = show(id);
  ASSERT_TRUE(shown.is_object());
  EXPECT_EQ(shown["id"], id);
  EXPECT_EQ(shown["name"], "Main purse");
  EXPECT_EQ(shown["address"], file["address"]);
  EXPECT_EQ(shown["identity_address"], file["identity"]);
  EXPECT_TRUE(is_hex_key(shown["identity_public_key"]));
  EXPECT_TRUE(is_hex_key(shown["encryption_public_key"]));
  EXPECT_NE(shown["identity_public_key"], shown["encryption_public_key"]);
  EXPECT_TRUE(shown["ordinals_address"].get<std::string>().starts_with("1"));
  EXPECT_NE(shown["ordinals_address"], shown["address"]);
  EXPECT_EQ(shown["show"], 0);

  const auto list = run_korb({"list"});
  EXPECT_EQ(list.exit_code, 0);
  EXPECT_NE(list.out.find(id + "\tMain purse\t" + file["address"].get<std::string>()),
            std::string::npos)
      << list.out;

  // The same words again would be a second entry spending the same coins: refused.
  const auto twice = run_korb({"restore", "--name", "Twice", "--mnemonic", words});
  EXPECT_EQ(twice.exit_code, 1);
  EXPECT_NE(twice.err.find("already in Korb as " + id), std::string::npos) << twice.err;
  EXPECT_EQ(read_json(registry_path())["wallets"].size(), 1u);

  // Typed in capitals with a tab, on another machine, the same words restore the same keys and
  // are stored tidy.
  std::string typed = words;
  std::transform(typed.begin(), typed.end(), typed.begin(),
                 [](char c) { return static_cast<char>(std::toupper(c)); });
  typed.replace(typed.find(' '), 1, "\t ");
  korb_test::TempDataDir elsewhere;
  const auto restored = run_korb({"restore", "--name", "Copy", "--mnemonic", typed});
  ASSERT_EQ(restored.exit_code, 0) << restored.err;
  EXPECT_TRUE(restored.out.starts_with("Restored wallet ")) << restored.out;
  const json copy_registry = read_json(elsewhere.data_dir() + "/wallets.json");
  const std::string copy_id = copy_registry["wallets"][0]["id"];
  const json copy = show(copy_id);
  for (const char* key : {"address", "identity_public_key", "identity_address",
                          "encryption_public_key", "ordinals_address"}) {
    EXPECT_EQ(copy[key], shown[key]) << key;
  }
  EXPECT_EQ(read_json(elsewhere.data_dir() + "/wallets/" + copy_id + "/wallet.json")["mnemonic"],
            words);
}

// A phrase that is not 12 valid words with a good checksum is refused before anything is
// written.
TEST_F(KorbCli, invalid_phrases_are_refused_without_writing) {
  std::string words;
  ASSERT_FALSE(korb_test::create_wallet("Only", &words).empty());
  const std::string before = read_text(registry_path());
  // One word in sixteen would still fit the 4-bit checksum; take a last word that does not.
  std::string last_swapped;
  for (size_t i = 0; last_swapped.empty() || wallet::validate_mnemonic(last_swapped); ++i) {
    last_swapped = words.substr(0, words.rfind(' ') + 1) + std::string(wallet::bip39_word(i));
  }
  for (const std::string& phrase :
       {words.substr(0, words.rfind(' ')), words + " abandon", last_swapped,
        std::string("abandon abandon abandon abandon abandon abandon abandon abandon abandon "
                    "abandon abandon notaword"),
        std::string()}) {
    const auto run = run_korb({"restore", "--name", "Bad", "--mnemonic", phrase});
    EXPECT_EQ(run.exit_code, 1) << phrase;
    EXPECT_NE(run.err.find("not a valid mnemonic"), std::string::npos) << run.err;
  }
  EXPECT_EQ(read_text(registry_path()), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.data_dir() + "/wallets"),
                          std::filesystem::directory_iterator()),
            1);
}

// The paymail name lands in all three places a game reads it from, and a name another identity
// holds is refused without touching the second wallet.
TEST_F(KorbCli, paymail_name_is_registered_and_a_taken_name_refused) {
  const std::string first = korb_test::create_wallet("First");
  const std::string second = korb_test::create_wallet("Second");
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  const auto named = run_korb({"paymail", first, "@Alice@elsewhere.example"});
  ASSERT_EQ(named.exit_code, 0) << named.err;

  const json shown = show(first);
  EXPECT_EQ(shown["paymail"], "alice");
  EXPECT_EQ(read_json(wallet_path(first))["paymail"], "alice");
  EXPECT_EQ(read_json(registry_path())["wallets"][0]["name"], "alice");
  const json names = read_json(dir.data_dir() + "/orbweave_paymail.json");
  ASSERT_TRUE(names.is_object());
  EXPECT_EQ(names["names"]["alice"]["pubkey"], shown["identity_public_key"]);
  EXPECT_EQ(names["names"]["alice"]["address"], shown["address"]);

  const std::string second_file = read_text(wallet_path(second));
  const std::string registry = read_text(registry_path());
  const auto taken = run_korb({"paymail", second, "alice"});
  EXPECT_EQ(taken.exit_code, 1);
  EXPECT_NE(taken.err.find("alice@"), std::string::npos) << taken.err;
  EXPECT_NE(taken.err.find("is already taken"), std::string::npos) << taken.err;
  const auto empty = run_korb({"paymail", second, "@ !?"});
  EXPECT_EQ(empty.exit_code, 1);
  EXPECT_NE(empty.err.find("need a paymail name"), std::string::npos) << empty.err;
  EXPECT_EQ(read_text(wallet_path(second)), second_file);
  EXPECT_EQ(read_text(registry_path()), registry);
}

// sign-message gives the identity signature a game's session makes for the same wallet, and
// verify-message accepts it only for the exact message.
TEST_F(KorbCli, identity_signature_matches_the_game_and_verifies) {
  const std::string id = korb_test::create_wallet("Signer");
  ASSERT_FALSE(id.empty());
  const std::string message = "OW1|score|12345|\xc3\xa9";
  const auto signed_run = run_korb({"sign-message", id, message});
  ASSERT_EQ(signed_run.exit_code, 0) << signed_run.err;
  const std::string public_key = signed_run.out.substr(0, signed_run.out.find('\n'));
  const std::string signature =
      signed_run.out.substr(public_key.size() + 1, signed_run.out.size() - public_key.size() - 2);
  EXPECT_EQ(signature.size(), 88u);
  EXPECT_TRUE(wallet::verify_message(message, public_key, signature));

  {
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    korb::use_wallet(id);
    std::string game_key, game_signature, error;
    ASSERT_TRUE(korb::identity_sign(message, game_key, game_signature, error)) << error;
    EXPECT_EQ(game_key, public_key);
    korb::clear_session();
    korb::use_wallet("");
  }

  EXPECT_EQ(run_korb({"verify-message", message, public_key, signature}).exit_code, 0);
  const auto altered = run_korb({"verify-message", message + ".", public_key, signature});
  EXPECT_EQ(altered.exit_code, 1);
  EXPECT_EQ(altered.out, "invalid\n");
  EXPECT_EQ(run_korb({"verify-message", message, public_key, "!!"}).exit_code, 1);
}

// A damaged registry is reported, never "repaired" into an empty one: the game reads a broken
// registry as empty, so saving over it would silently drop every wallet.
TEST_F(KorbCli, damaged_registry_is_reported_and_left_untouched) {
  const std::string id = korb_test::create_wallet("Kept");
  ASSERT_FALSE(id.empty());
  for (const std::string& damaged :
       {std::string("{\"wallets\": [{\"id\": \"") + id + "\"", std::string("[]"),
        std::string("{\"wallets\": 5}"), std::string("\x00\x01garbage", 9)}) {
    korb_test::write_text(registry_path(), damaged);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"create", "--name", "New"},
          {"restore", "--name", "New", "--mnemonic",
           "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon "
           "abandon about"},
          {"list"},
          {"show", id},
          {"paymail", id, "bob"}}) {
      const auto run = run_korb(args);
      EXPECT_EQ(run.exit_code, 1) << args[0] << " on " << damaged;
      EXPECT_NE(run.err.find("damaged"), std::string::npos) << run.err;
    }
    EXPECT_EQ(read_text(registry_path()), damaged);
  }
}

// A missing or broken wallet file, an unknown id and an id that tries to leave the wallets
// folder are all refused with a message, and the files stay as they were.
TEST_F(KorbCli, bad_wallet_files_and_ids_are_refused) {
  const std::string good = korb_test::create_wallet("Good");
  const std::string torn = korb_test::create_wallet("Torn");
  const std::string gone = korb_test::create_wallet("Gone");
  ASSERT_FALSE(good.empty() || torn.empty() || gone.empty());
  const std::string torn_text = "{\"mnemonic\": \"abandon aban";
  korb_test::write_text(wallet_path(torn), torn_text);
  std::filesystem::remove(wallet_path(gone));
  korb_test::write_text(dir.root() + "/outside/wallet.json", read_text(wallet_path(good)));
  const std::string registry = read_text(registry_path());

  for (const std::string& id : {torn, gone, std::string("w1"), std::string("../outside"),
                                std::string("../../outside"), std::string("")}) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"show", id, "--json"},
                                                 {"paymail", id, "carol"},
                                                 {"sign-message", id, "hello"},
                                                 {"watch", "--approve-with", id}}) {
      const auto run = run_korb(args);
      EXPECT_EQ(run.exit_code, 1) << args[0] << " " << id;
      EXPECT_TRUE(run.err.starts_with("korb: ")) << run.err;
      EXPECT_TRUE(run.out.empty()) << run.out;
    }
  }
  EXPECT_EQ(read_text(wallet_path(torn)), torn_text);
  EXPECT_EQ(read_text(registry_path()), registry);
  EXPECT_FALSE(std::filesystem::exists(dir.data_dir() + "/orbweave_paymail.json"));
  // The rest of the list still shows.
  const auto list = run_korb({"list"});
  EXPECT_EQ(list.exit_code, 0);
  EXPECT_NE(list.out.find(good), std::string::npos);
}

// Without the registry's byte lock another korb could be saving at the same moment, and a new
// wallet would vanish from the list after its words were shown. Refused, nothing written.
TEST_F(KorbCli, nothing_is_created_without_the_registry_lock) {
  std::filesystem::create_directories(dir.data_dir() + "/wallets.lock");
  const auto run = run_korb({"create", "--name", "Unlisted"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("wallets.lock"), std::string::npos) << run.err;
  EXPECT_TRUE(run.out.empty()) << "no words shown: " << run.out;
  EXPECT_FALSE(std::filesystem::exists(registry_path()));
  EXPECT_TRUE(korb::wallet_folder_ids().empty());
}

// The registry reader refuses files over its cap; a save that grew past it would lose every
// entry. The wallet that would not fit is not made at all.
TEST_F(KorbCli, a_registry_the_reader_would_refuse_is_never_written) {
  const std::string first = korb_test::create_wallet("First");
  ASSERT_FALSE(first.empty());
  json registry = read_json(registry_path());
  const size_t size = read_text(registry_path()).size();
  registry["pad"] = std::string(korb::max_data_file_bytes - size - 40, 'x');
  korb_test::write_text(registry_path(), registry.dump(2) + "\n");
  const std::string before = read_text(registry_path());
  ASSERT_LE(before.size(), korb::max_data_file_bytes);
  const auto run = run_korb({"create", "--name", "Second"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("would grow past"), std::string::npos) << run.err;
  EXPECT_TRUE(run.out.empty()) << run.out;
  EXPECT_EQ(read_text(registry_path()), before);
  EXPECT_EQ(korb::wallet_folder_ids(), std::vector<std::string>{first});
}

// The seed comes from the stored text as it stands, so the same words in capitals with a tab
// are another wallet. Only the same keys make a duplicate.
TEST_F(KorbCli, duplicates_are_decided_by_keys_not_by_words) {
  const std::string words =
      "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon "
      "about";
  std::string typed = "ABANDON\t" + words.substr(8);
  typed.replace(typed.size() - 5, 5, "ABOUT");
  korb_test::write_text(wallet_path("w1"),
                        json{{"mnemonic", typed}, {"recv", {0, 0, 0, 0, 0, 0}}}.dump());
  korb_test::write_text(registry_path(), R"({"wallets": [{"id": "w1", "name": "Typed"}]})");
  const auto restored = run_korb({"restore", "--name", "Plain", "--mnemonic", words});
  ASSERT_EQ(restored.exit_code, 0) << restored.err;
  const std::string plain = read_json(registry_path())["wallets"][1]["id"];
  EXPECT_NE(show("w1")["identity_public_key"], show(plain)["identity_public_key"]);
  const auto again = run_korb({"restore", "--name", "Again", "--mnemonic", words});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_NE(again.err.find("already in Korb as " + plain), std::string::npos) << again.err;
}

// Ids, names and request fields come from files any program can write; a terminal obeys the
// escape codes in them. Whatever korb prints of them is printable.
TEST_F(KorbCli, ids_and_names_from_files_reach_the_terminal_printable) {
  korb_test::write_text(
      registry_path(),
      json{{"wallets", {{{"id", "w1\x1b]0;owned\x07"}, {"name", "evil\x1b[2J\r\nx\xc2\x9b"}}}}}
          .dump());
  korb_test::write_text(dir.data_dir() + "/connect/w5\x1b[31m.req.json", "{}");
  korb_test::write_text(dir.data_dir() + "/connect/w6.req.json",
                        R"({"app": "\u001b[2Jgame", "ts": 1})");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"list"},
                                               {"requests"},
                                               {"approve", "w6\x1b[2J", "--wallet", "w1"},
                                               {"show", "w1\x1b]0;owned\x07"},
                                               {"deny", "w5\x1b[31m"}}) {
    const auto run = run_korb(args);
    for (const std::string& text : {run.out, run.err}) {
      EXPECT_EQ(text.find_first_of(std::string("\x1b\x07\r\x7f", 4)), std::string::npos)
          << args[0] << ": " << text;
      EXPECT_EQ(text.find("\xc2\x9b"), std::string::npos) << args[0];
    }
  }
  EXPECT_NE(run_korb({"list"}).out.find("w1?]0;owned?\tevil?[2J??x?"), std::string::npos);
}

// "No wallets yet" must mean that: a data folder korb cannot use is reported as such.
TEST_F(KorbCli, an_unusable_data_folder_is_reported_not_taken_for_empty) {
  korb_test::write_text(dir.data_dir(), "a file where the folder should be");
  for (const char* verb : {"list", "requests"}) {
    const auto run = run_korb({verb});
    EXPECT_EQ(run.exit_code, 1) << verb;
    EXPECT_NE(run.err.find("is not a folder"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("No "), std::string::npos) << run.out;
  }
}

// An emptied registry next to wallet folders is damage: a create would orphan them. korb
// refuses, and `korb repair` lists them again (the details are the registry test's).
TEST_F(KorbCli, an_emptied_registry_is_repaired_not_written_over) {
  const std::string a = korb_test::create_wallet("A");
  ASSERT_FALSE(a.empty());
  korb_test::write_text(registry_path(), "{\"wallets\": []}\n");
  const auto refused = run_korb({"create", "--name", "C"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find("korb repair"), std::string::npos) << refused.err;
  const auto repaired = run_korb({"repair"});
  EXPECT_EQ(repaired.exit_code, 0) << repaired.err;
  EXPECT_NE(repaired.out.find("Listed 1 wallet(s) again."), std::string::npos) << repaired.out;
  EXPECT_NE(run_korb({"list"}).out.find(a), std::string::npos);
}

// A clean data directory is a normal start, and mistakes in the command line are usage errors.
TEST_F(KorbCli, clean_start_and_usage_errors) {
  const auto list = run_korb({"list"});
  EXPECT_EQ(list.exit_code, 0);
  EXPECT_NE(list.out.find("No wallets yet"), std::string::npos);
  EXPECT_EQ(run_korb({"requests"}).exit_code, 0);
  // Which mistakes are caught is the command line parser's test; here, how the program answers.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"bogus"}, {"create", "--name"}}) {
    const auto run = run_korb(args);
    EXPECT_EQ(run.exit_code, 2) << args[0];
    EXPECT_NE(run.err.find("korb sign-message"), std::string::npos);
  }
  EXPECT_FALSE(std::filesystem::exists(registry_path()));
}

}  // namespace
