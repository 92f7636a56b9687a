// BIP39: the compiled-in word list, the published vectors, and the phrases the wallet must refuse.
#include "wallet/mnemonic.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "wallet/encoding.h"

namespace {

constexpr char kAbandonAbout[] =
    "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about";

nlohmann::json load_vectors() {
  std::ifstream in(OSTAKKA_TEST_DATA "/bip39-vectors.json");
  return nlohmann::json::parse(in, nullptr, false);
}

std::string seed_hex(std::string_view mnemonic, std::string_view passphrase) {
  wallet::Digest64 seed{};
  if (!wallet::mnemonic_to_seed(mnemonic, passphrase, seed)) return "failed";
  return wallet::hex_encode(seed.data(), seed.size());
}

// The list must be the published one byte for byte: a single changed word moves every key.
TEST(mnemonic, compiled_word_list_is_the_published_list) {
  std::string joined;
  for (std::size_t i = 0; i < wallet::kBip39WordCount; ++i) {
    joined.append(wallet::bip39_word(i)).push_back('\n');
    ASSERT_EQ(wallet::bip39_word_index(wallet::bip39_word(i)), static_cast<int>(i));
  }
  const wallet::Digest32 digest = wallet::sha256(joined);
  EXPECT_EQ(wallet::hex_encode(digest.data(), digest.size()),
            "2f5eed53a4727b4bf8880d8f3f199efc90e58503646d9ff8eff3a2ed3b24dbda");
  EXPECT_EQ(wallet::bip39_word(wallet::kBip39WordCount), "");
  EXPECT_EQ(wallet::bip39_word_index("Abandon"), -1);
}

// The published vectors use the passphrase "TREZOR"; the wallet itself never sets one.
TEST(mnemonic, published_vectors) {
  const nlohmann::json vectors = load_vectors();
  ASSERT_TRUE(vectors.is_object()) << "tests/data/bip39-vectors.json missing or unreadable";
  const std::string passphrase = vectors.at("passphrase");
  int twelve_word = 0;
  for (const auto& v : vectors.at("english")) {
    const std::string entropy = v.at(0), mnemonic = v.at(1), seed = v.at(2);
    SCOPED_TRACE(mnemonic);
    EXPECT_EQ(seed_hex(mnemonic, passphrase), seed);
    const bool twelve = entropy.size() == 32;
    EXPECT_EQ(wallet::validate_mnemonic(mnemonic), twelve) << "only 12-word phrases are accepted";
    if (twelve) {
      ++twelve_word;
      std::array<unsigned char, 16> bytes{};
      const wallet::Bytes decoded = wallet::hex_decode(entropy);
      std::copy(decoded.begin(), decoded.end(), bytes.begin());
      EXPECT_EQ(wallet::mnemonic_from_entropy(bytes), mnemonic);
    }
  }
  EXPECT_EQ(twelve_word, 8);
}

TEST(mnemonic, seed_without_passphrase) {
  EXPECT_EQ(seed_hex(kAbandonAbout, ""),
            "5eb00bbddcf069084889a8ab9155568165f5c453ccb85e70811aaed6f6da5fc1"
            "9a5ac40b389cd370d086206dec8aa6c43daea6690f20ad3d8d48b2d2ce9e38e4");
}

TEST(mnemonic, refuses_wrong_counts_checksums_line_breaks_and_unknown_words) {
  const std::string eleven =
      "abandon abandon abandon abandon abandon abandon abandon abandon "
      "abandon abandon about";
  const char* refused[] = {
      "",
      "   \t ",
      eleven.c_str(),
      "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon "
      "abandon about",  // 13 words
      "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon "
      "abandon",  // 12 valid words, wrong checksum
      "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon "
      "able",  // checksum 0010 where 0011 belongs: only the last bit is wrong
      "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon\n"
      "about",  // a line break is not a separator
      "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon "
      "abuot",  // unknown word
  };
  for (const char* phrase : refused) EXPECT_FALSE(wallet::validate_mnemonic(phrase)) << phrase;
}

TEST(mnemonic, separators_are_runs_of_spaces_and_tabs) {
  EXPECT_TRUE(wallet::validate_mnemonic(
      "  abandon\tabandon  abandon abandon \t abandon abandon abandon abandon abandon abandon "
      "abandon about  "));
}

// Words are matched lower-cased, but the seed comes from the text exactly as stored: another
// BIP39 wallet fed the same text must arrive at the same keys.
TEST(mnemonic, capitalised_word_validates_and_seed_keeps_the_capital) {
  const std::string capital = std::string("A") + (kAbandonAbout + 1);
  EXPECT_TRUE(wallet::validate_mnemonic(capital));
  EXPECT_NE(seed_hex(capital, ""), seed_hex(kAbandonAbout, ""));
  EXPECT_NE(seed_hex(capital, ""), "failed");
}

}  // namespace
