// BIP32 derivation against the published vectors, the wallet's fixed paths against addresses
// another BIP32 implementation gives for the same phrase, and the session's derivation cache.
#include "wallet/hd_keys.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "hd_session.h"
#include "wallet/encoding.h"

namespace {

using wallet::Bytes;
using wallet::ExtendedKey;

// Chain code and key out of a published xprv: version 4, depth 1, fingerprint 4, child 4,
// chain code 32, 00, key 32, checksum 4.
std::string chain_and_key(const std::string& xprv) {
  Bytes raw;
  EXPECT_TRUE(wallet::base58_decode(xprv, raw));
  EXPECT_EQ(raw.size(), 82u);
  return raw.size() == 82
             ? wallet::hex_encode(raw.data() + 13, 32) + wallet::hex_encode(raw.data() + 46, 32)
             : std::string();
}

TEST(hd_keys, bip32_published_vectors_1_to_4) {
  std::ifstream in(OSTAKKA_TEST_DATA "/bip32-vectors.json");
  const nlohmann::json data = nlohmann::json::parse(in, nullptr, false);
  ASSERT_TRUE(data.is_object()) << "tests/data/bip32-vectors.json missing or unreadable";
  int chains = 0;
  for (const auto& vector : data.at("vectors")) {
    const Bytes seed = wallet::hex_decode(vector.at("seed").get<std::string>());
    for (const auto& chain : vector.at("chains")) {
      const std::string path = chain.at("path");
      SCOPED_TRACE(vector.at("name").get<std::string>() + " " + path);
      ExtendedKey key;
      ASSERT_TRUE(wallet::master_key_from_seed(seed.data(), seed.size(), key));
      // "m/0H/1/2H": each number after a '/', an "H" marking a hardened index.
      for (std::size_t at = path.find('/'); at != std::string::npos; at = path.find('/', at + 1)) {
        std::size_t end = 0;
        const uint32_t index = static_cast<uint32_t>(std::stoul(path.substr(at + 1), &end));
        const bool hardened = path.compare(at + 1 + end, 1, "H") == 0;
        ASSERT_TRUE(
            wallet::derive_child_private(key, index | (hardened ? wallet::kHardened : 0), key));
      }
      EXPECT_EQ(
          wallet::hex_encode(key.chain_code.data(), 32) + wallet::hex_encode(key.key.data(), 32),
          chain_and_key(chain.at("xprv").get<std::string>()));
      ++chains;
    }
  }
  EXPECT_EQ(chains, 17);
}

// Addresses from another BIP32 implementation: the wallet application and the game must land on
// the same keys. They derive from the cache alone, and once it is reset nothing derives.
TEST(hd_keys, well_known_addresses_of_the_fixed_paths_and_the_cache) {
  ASSERT_TRUE(test_wallet::load_hd_session(test_wallet::kAbandonAbout));
  std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
  wallet::session().mnemonic.clear();
  const std::pair<wallet::DerivationPath, const char*> expected[] = {
      {{44 | wallet::kHardened, wallet::kHardened, wallet::kHardened, 0, 0},
       "1LqBGSKuX5yYUonjxT5qGfpUsXKYYWeabA"},                             // m/44'/0'/0'/0/0
      {wallet::receive_path(0), "18pBoqRpHUYf9udsab5G9LT3vQUPxEyMFf"},    // m/44'/236'/1'/0/0
      {wallet::encryption_path(), "17QGtSCrX8xWgEqYdHFBw3RdurZQfvNSHR"},  // m/44'/236'/101'/0/0
  };
  for (const auto& [path, address] : expected) {
    std::string priv, pub, derived;
    EXPECT_TRUE(wallet::derive_path_keys(path, priv, pub, derived));
    EXPECT_EQ(derived, address);
  }

  wallet::reset_derivation_cache();
  EXPECT_FALSE(wallet::session().seed_ready || wallet::session().master_ready);
  EXPECT_EQ(wallet::session().seed, (std::array<unsigned char, 64>{}));
  EXPECT_EQ(wallet::session().master_key, (std::array<unsigned char, 32>{}));
  std::string priv = "stale", pub = "stale", again = "stale";
  EXPECT_FALSE(wallet::derive_path_keys(wallet::identity_path(), priv, pub, again));
  EXPECT_TRUE(priv.empty() && pub.empty() && again.empty());
}

}  // namespace
