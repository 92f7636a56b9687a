// BIP39: the compiled-in word list, the published vectors, and which phrases the wallet takes.
#include "wallet/mnemonic.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "wallet/encoding.h"

namespace {

std::string seed_hex(std::string_view mnemonic, std::string_view passphrase) {
  wallet::Digest64 seed{};
  if (!wallet::mnemonic_to_seed(mnemonic, passphrase, seed)) return "failed";
  return wallet::hex_encode(seed.data(), seed.size());
}

// The list must be the published one byte for byte (the SHA-256 of english.txt): a single changed
// word moves every key.
TEST(mnemonic, compiled_word_list_is_the_published_list) {
  std::string joined;
  for (std::size_t i = 0; i < wallet::kBip39WordCount; ++i) {
    joined.append(wallet::bip39_word(i)).push_back('\n');
    ASSERT_EQ(wallet::bip39_word_index(wallet::bip39_word(i)), static_cast<int>(i));
  }
  const wallet::Digest32 digest = wallet::sha256(joined);
  EXPECT_EQ(wallet::hex_encode(digest.data(), digest.size()),
            "2f5eed53a4727b4bf8880d8f3f199efc90e58503646d9ff8eff3a2ed3b24dbda");
}

// The published vectors use the passphrase "TREZOR"; the wallet itself never sets one.
TEST(mnemonic, published_vectors) {
  std::ifstream in(OSTAKKA_TEST_DATA "/bip39-vectors.json");
  const nlohmann::json vectors = nlohmann::json::parse(in, nullptr, false);
  ASSERT_TRUE(vectors.is_object()) << "tests/data/bip39-vectors.json missing or unreadable";
  int twelve_word = 0;
  for (const auto& v : vectors.at("english")) {
    const std::string entropy = v.at(0), mnemonic = v.at(1), seed = v.at(2);
    SCOPED_TRACE(mnemonic);
    EXPECT_EQ(seed_hex(mnemonic, vectors.at("passphrase").get<std::string>()), seed);
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

// Words are split by runs of spaces and tabs; a wrong checksum, count or word is refused.
TEST(mnemonic, which_phrases_validate) {
  const std::string eleven =
      "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon ";
  const std::pair<std::string, bool> phrases[] = {
      {eleven + "about", true},
      {"\t " + eleven + " \tabout  ", true},
      {eleven.substr(8) + "about", false},  // 11 words
      {eleven + "abandon", false},          // wrong checksum
      {eleven + "able", false},   // checksum 0010 where 0011 belongs: only the last bit is wrong
      {eleven + "abuot", false},  // unknown word
  };
  for (const auto& [phrase, valid] : phrases) {
    EXPECT_EQ(wallet::validate_mnemonic(phrase), valid) << phrase;
  }
}

}  // namespace
