// The korb command line, run as a real program against a fresh data directory: what it stores,
// what it prints, and that bad input never damages what is already stored.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <sstream>

#include "korb/registry.h"
#include "tools/korb/korb_test_support.h"
#include "wallet/mnemonic.h"
#include "wallet/signatures.h"

namespace {

using korb_test::create_wallet;
using korb_test::read_json;
using korb_test::read_text;
using korb_test::run_korb;
using nlohmann::json;

const std::string abandon_about = korb_test::mnemonic_abandon;

class KorbCli : public korb_test::KorbTest {
 protected:
  std::string registry_path() const { return data_dir() + "/wallets.json"; }
  json show(const std::string& id) {
    const auto run = run_korb({"show", id, "--json"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    return json::parse(run.out, nullptr, false);
  }
  // korb must refuse with exit code 1, say `why` and print nothing on stdout.
  static void expect_refused(const std::vector<std::string>& args, const std::string& why) {
    const auto run = run_korb(args);
    EXPECT_EQ(run.exit_code, 1) << args[0];
    EXPECT_TRUE(run.err.starts_with("korb: ")) << run.err;
    EXPECT_NE(run.err.find(why), std::string::npos) << args[0] << ": " << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
  }
};

// A created wallet is stored in the HD form a game loads, signs with the identity key it
// shows, and is refused as a second entry for the same keys.
TEST_F(KorbCli, created_wallet_is_stored_listed_and_signs) {
  std::string words;
  const std::string id = create_wallet("Main purse", &words);
  ASSERT_TRUE(wallet::validate_mnemonic(words)) << id << ": " << words;
  const json file = read_json(wallet_path(id));
  EXPECT_EQ(file["mnemonic"], words);
  const json registry = read_json(registry_path());
  EXPECT_EQ(registry["wallets"], json::array({json{{"id", id}, {"name", "Main purse"}}}));
  EXPECT_EQ(registry["active"], id);
  const json shown = show(id);
  EXPECT_EQ(shown["identity_address"], file["identity"]);

  const std::string message = "OW1|score|12345|\xc3\xa9";
  std::istringstream signed_lines(run_korb({"sign-message", id, message}).out);
  std::string key, signature;
  std::getline(signed_lines, key);
  std::getline(signed_lines, signature);
  EXPECT_EQ(key, shown["identity_public_key"]);
  EXPECT_TRUE(wallet::verify_message(message, key, signature));

  // The same keys again would be a second entry spending the same coins.
  expect_refused({"restore", "--name", "Twice", "--mnemonic", words}, "already in Korb as " + id);
  EXPECT_EQ(read_json(registry_path())["wallets"].size(), 1u);
}

// Words typed in capitals with a tab restore the keys an implementation apart from ours derives
// from them, and are stored in the form other wallets derive the same seed from. Phrases that are
// not 12 valid words with a good checksum are refused before anything is written.
TEST_F(KorbCli, restored_words_give_the_keys_published_for_them) {
  std::string typed = abandon_about;
  std::transform(typed.begin(), typed.end(), typed.begin(),
                 [](char c) { return static_cast<char>(std::toupper(c)); });
  typed.replace(typed.find(' '), 1, "\t ");
  const auto restored = run_korb({"restore", "--name", "Copy", "--mnemonic", typed});
  ASSERT_EQ(restored.exit_code, 0) << restored.err;
  EXPECT_TRUE(restored.out.starts_with("Restored wallet ")) << restored.out;
  const std::string id = read_json(registry_path())["wallets"][0]["id"];
  const json shown = show(id);
  EXPECT_EQ(shown["address"], korb_test::abandon_keys::receive_0_address);
  EXPECT_EQ(shown["identity_public_key"], korb_test::abandon_keys::identity_public_key);
  EXPECT_EQ(shown["encryption_public_key"], korb_test::abandon_keys::encryption.public_key);
  EXPECT_EQ(read_json(wallet_path(id))["mnemonic"], abandon_about);

  const std::string registry = read_text(registry_path());
  const std::string eleven = abandon_about.substr(0, abandon_about.rfind(' '));
  // Twelve times "abandon" has every word right and the checksum wrong.
  for (const std::string& phrase : {eleven, abandon_about + " abandon", eleven + " abandon",
                                    eleven + " notaword", std::string()}) {
    expect_refused({"restore", "--name", "Bad", "--mnemonic", phrase}, "not a valid mnemonic");
  }
  EXPECT_EQ(read_text(registry_path()), registry);
  EXPECT_EQ(korb::wallet_folder_ids(), std::vector<std::string>{id});
}

// The paymail name lands in all three places a game reads it from, and a name another identity
// holds is refused without touching the second wallet.
TEST_F(KorbCli, paymail_name_is_registered_and_a_taken_name_refused) {
  const std::string first = create_wallet("First"), second = create_wallet("Second");
  const auto named = run_korb({"paymail", first, "@Alice@elsewhere.example"});
  ASSERT_EQ(named.exit_code, 0) << named.err;
  const json shown = show(first);
  EXPECT_EQ(shown["paymail"], "alice");
  EXPECT_EQ(read_json(registry_path())["wallets"][0]["name"], "alice");
  const json names = read_json(data_dir() + "/orbweave_paymail.json")["names"];
  EXPECT_EQ(names["alice"]["pubkey"], shown["identity_public_key"]);
  EXPECT_EQ(names["alice"]["address"], shown["address"]);

  const std::string second_file = read_text(wallet_path(second));
  const std::string registry = read_text(registry_path());
  expect_refused({"paymail", second, "alice"}, "is already taken");
  EXPECT_EQ(read_text(wallet_path(second)), second_file);
  EXPECT_EQ(read_text(registry_path()), registry);
}

// A damaged registry is never "repaired" into an empty one: the game reads a broken
// registry as empty, so saving over it would silently drop every wallet.
TEST_F(KorbCli, damaged_registry_is_reported_and_left_untouched) {
  const std::string id = create_wallet("Kept");
  for (const std::string& damaged :
       {std::string("{\"wallets\": [{\"id\": \"") + id + "\"", std::string("[]"),
        std::string("{\"wallets\": 5}"), std::string("\x00\x01garbage", 9)}) {
    korb_test::write_text(registry_path(), damaged);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"create", "--name", "New"},
          {"restore", "--name", "New", "--mnemonic", abandon_about},
          {"paymail", id, "bob"}}) {
      expect_refused(args, "damaged");
    }
    EXPECT_EQ(read_text(registry_path()), damaged);
  }
}

// A missing, broken or absurdly nested wallet file, an unknown id and an id that tries to leave
// the wallets folder are all refused with a message, and the files stay as they were.
TEST_F(KorbCli, bad_wallet_files_and_ids_are_refused) {
  const std::string good = create_wallet("Good"), torn = create_wallet("Torn");
  const std::string gone = create_wallet("Gone"), deep = create_wallet("Deep");
  const std::string torn_text = "{\"mnemonic\": \"abandon aban";
  korb_test::write_text(wallet_path(torn), torn_text);
  std::filesystem::remove(wallet_path(gone));
  // Under the size cap, but copying or writing a value a million levels deep recurses once per
  // level and overflows the stack.
  json deep_file = read_json(wallet_path(deep));
  deep_file.erase("contacts");
  std::string deep_text = deep_file.dump();
  deep_text.pop_back();
  deep_text += ", \"contacts\": " + std::string(1000000, '[') + std::string(1000000, ']') + "}";
  korb_test::write_text(wallet_path(deep), deep_text);
  korb_test::write_text(root_ + "/outside/wallet.json", read_text(wallet_path(good)));
  const std::string registry = read_text(registry_path());

  for (const std::string& id : {torn, gone, deep, std::string("w1"), std::string("../outside"),
                                std::string("../../outside"), std::string("")}) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"show", id, "--json"},
                                                 {"paymail", id, "carol"},
                                                 {"sign-message", id, "hello"},
                                                 {"watch", "--approve-with", id}}) {
      SCOPED_TRACE(id);
      expect_refused(args, "");
    }
  }
  EXPECT_EQ(read_text(wallet_path(torn)), torn_text);
  EXPECT_EQ(read_text(wallet_path(deep)), deep_text);
  EXPECT_EQ(read_text(registry_path()), registry);
  EXPECT_FALSE(std::filesystem::exists(data_dir() + "/orbweave_paymail.json"));
  EXPECT_NE(run_korb({"list"}).out.find(good), std::string::npos);
}

// Without the registry's byte lock another korb could be saving at the same moment, and a new
// wallet would vanish from the list after its words were shown.
TEST_F(KorbCli, nothing_is_created_without_the_registry_lock) {
  std::filesystem::create_directories(data_dir() + "/wallets.lock");
  expect_refused({"create", "--name", "Unlisted"}, "wallets.lock");
  EXPECT_FALSE(std::filesystem::exists(registry_path()));
  EXPECT_TRUE(korb::wallet_folder_ids().empty());
}

// Ids, names and request fields come from files any program can write; a terminal obeys the
// escape codes in them. Whatever korb prints of them is printable.
TEST_F(KorbCli, ids_and_names_from_files_reach_the_terminal_printable) {
  korb_test::write_text(
      registry_path(),
      json{{"wallets", {{{"id", "w1\x1b]0;owned\x07"}, {"name", "evil\x1b[2J\r\nx\xc2\x9b"}}}}}
          .dump());
  korb_test::write_text(data_dir() + "/connect/w6.req.json",
                        R"({"app": "\u001b[2Jgame", "ts": 1})");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"list"},
                                               {"requests"},
                                               {"approve", "w6\x1b[2J", "--wallet", "w1"},
                                               {"show", "w1\x1b]0;owned\x07"}}) {
    const auto run = run_korb(args);
    for (const std::string& text : {run.out, run.err}) {
      EXPECT_EQ(text.find_first_of(std::string("\x1b\x07\r\x7f", 4)), std::string::npos)
          << args[0] << ": " << text;
      EXPECT_EQ(text.find("\xc2\x9b"), std::string::npos) << args[0];
    }
  }
}

}  // namespace
