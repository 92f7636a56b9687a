// BIP32 derivation against the published vectors (the chain code and key read out of each xprv),
// the BIP39 vectors' master keys, the wallet's fixed paths against addresses another BIP32
// implementation gives for the same phrase, and the session's derivation cache.
#include "wallet/hd_keys.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "wallet/encoding.h"
#include "wallet/mnemonic.h"
#include "wallet/ow_korb_wallet.h"

namespace {

using wallet::Bytes;
using wallet::ExtendedKey;

constexpr char kAbandonAbout[] =
    "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about";

nlohmann::json load(const char* name) {
  std::ifstream in(std::string(OSTAKKA_TEST_DATA) + "/" + name);
  return nlohmann::json::parse(in, nullptr, false);
}

// Chain code and private key of a key, as hex, in the order an xprv carries them.
std::string chain_and_key(const ExtendedKey& key) {
  return wallet::hex_encode(key.chain_code.data(), 32) + wallet::hex_encode(key.key.data(), 32);
}

// The same two out of a published xprv: version 4, depth 1, fingerprint 4, child 4, chain code 32,
// 00, key 32, checksum 4.
std::string chain_and_key(const std::string& xprv) {
  Bytes raw;
  EXPECT_TRUE(wallet::base58_decode(xprv, raw));
  EXPECT_EQ(raw.size(), 82u);
  return raw.size() == 82
             ? wallet::hex_encode(raw.data() + 13, 32) + wallet::hex_encode(raw.data() + 46, 32)
             : std::string();
}

TEST(hd_keys, bip32_published_vectors_1_to_4) {
  const nlohmann::json data = load("bip32-vectors.json");
  ASSERT_TRUE(data.is_object()) << "tests/data/bip32-vectors.json missing or unreadable";
  int chains = 0;
  for (const auto& vector : data.at("vectors")) {
    const Bytes seed = wallet::hex_decode(vector.at("seed").get<std::string>());
    for (const auto& chain : vector.at("chains")) {
      const std::string path = chain.at("path");
      SCOPED_TRACE(vector.at("name").get<std::string>() + " " + path);
      ExtendedKey key;
      ASSERT_TRUE(wallet::master_key_from_seed(seed.data(), seed.size(), key));
      // "m/0H/1/2H": each part after "m", an "H" marking a hardened index.
      for (std::size_t at = path.find('/'); at != std::string::npos; at = path.find('/', at + 1)) {
        const std::size_t end = path.find('/', at + 1);
        std::string part = path.substr(at + 1, end == std::string::npos ? end : end - at - 1);
        const bool hardened = part.back() == 'H';
        if (hardened) part.pop_back();
        const uint32_t index =
            static_cast<uint32_t>(std::stoul(part)) | (hardened ? wallet::kHardened : 0);
        ASSERT_TRUE(wallet::derive_child_private(key, index, key));
      }
      EXPECT_EQ(chain_and_key(key), chain_and_key(chain.at("xprv").get<std::string>()));
      ++chains;
    }
  }
  EXPECT_EQ(chains, 17);
}

// Seed and master key together, from the mnemonic through to the published master xprv.
TEST(hd_keys, bip39_vectors_master_keys) {
  const nlohmann::json data = load("bip39-vectors.json");
  ASSERT_TRUE(data.is_object());
  for (const auto& v : data.at("english")) {
    wallet::Digest64 seed{};
    ASSERT_TRUE(wallet::mnemonic_to_seed(v.at(1).get<std::string>(), "TREZOR", seed));
    ExtendedKey master;
    ASSERT_TRUE(wallet::master_key_from_seed(seed.data(), seed.size(), master));
    EXPECT_EQ(chain_and_key(master), chain_and_key(v.at(3).get<std::string>()));
  }
}

TEST(hd_keys, invalid_parent_key_fails_and_wipes_child) {
  ExtendedKey zero;  // private key 0 is not a key
  ExtendedKey child;
  std::fill(child.key.begin(), child.key.end(), 0x11);
  std::fill(child.chain_code.begin(), child.chain_code.end(), 0x22);
  EXPECT_FALSE(wallet::derive_child_private(zero, 0, child));
  EXPECT_EQ(child.key, ExtendedKey{}.key);
  EXPECT_EQ(child.chain_code, ExtendedKey{}.chain_code);
  EXPECT_FALSE(wallet::derive_child_private(zero, wallet::kHardened, child));
}

class hd_session : public ::testing::Test {
 protected:
  void SetUp() override { wallet::wipe_session(); }
  void TearDown() override { wallet::wipe_session(); }

  static std::string address_of(const wallet::DerivationPath& path) {
    std::string priv, pub, address;
    EXPECT_TRUE(wallet::derive_path_keys(path, priv, pub, address));
    return address;
  }
};

// The address every BIP44 wallet shows first for this phrase (coin type 0), and the wallet's
// fixed paths against addresses computed for it by a separate BIP32 implementation: the wallet
// application and the game must land on the same keys.
TEST_F(hd_session, well_known_addresses_of_the_fixed_paths) {
  std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
  wallet::session().mnemonic = std::string(kAbandonAbout);
  const std::pair<wallet::DerivationPath, const char*> expected[] = {
      {{44 | wallet::kHardened, wallet::kHardened, wallet::kHardened, 0, 0},
       "1LqBGSKuX5yYUonjxT5qGfpUsXKYYWeabA"},                             // m/44'/0'/0'/0/0
      {wallet::receive_path(0), "18pBoqRpHUYf9udsab5G9LT3vQUPxEyMFf"},    // m/44'/236'/1'/0/0
      {wallet::receive_path(5), "199ffw9X3CGnZwcuF5Uq8V8cgw8t4b87Gq"},    // m/44'/236'/1'/0/5
      {wallet::identity_path(), "1Hg7Jm7G3DUetk4vxbAdjSf49qq3zbp8g6"},    // m/44'/236'/100'/0/0
      {wallet::encryption_path(), "17QGtSCrX8xWgEqYdHFBw3RdurZQfvNSHR"},  // m/44'/236'/101'/0/0
      {wallet::ordinals_path(3), "1PyJ5VxnafEVS3Bfr8pvaYYZvanULpRjMD"},   // m/44'/236'/5'/0/3
  };
  for (const auto& [path, address] : expected) EXPECT_EQ(address_of(path), address);
}

// The first derivation fills the seed and master cache, so the next needs no mnemonic; a reset
// wipes the cache, and without a mnemonic nothing can be derived.
TEST_F(hd_session, derivation_cache) {
  std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
  wallet::session().mnemonic = std::string(kAbandonAbout);
  const std::string address = address_of(wallet::identity_path());
  EXPECT_TRUE(wallet::session().seed_ready);
  EXPECT_TRUE(wallet::session().master_ready);
  wallet::session().mnemonic.clear();
  EXPECT_EQ(address_of(wallet::identity_path()), address);

  wallet::reset_derivation_cache();
  EXPECT_FALSE(wallet::session().seed_ready);
  EXPECT_FALSE(wallet::session().master_ready);
  EXPECT_EQ(wallet::session().seed, (std::array<unsigned char, 64>{}));
  EXPECT_EQ(wallet::session().master_key, (std::array<unsigned char, 32>{}));
  EXPECT_EQ(wallet::session().master_chain_code, (std::array<unsigned char, 32>{}));
  std::string priv = "stale", pub = "stale", again = "stale";
  EXPECT_FALSE(wallet::derive_path_keys(wallet::identity_path(), priv, pub, again));
  EXPECT_TRUE(priv.empty() && pub.empty() && again.empty());
}

// The session seeds from the phrase exactly as stored: a capital letter gives other keys, the
// ones any BIP39 wallet derives from that exact text.
TEST_F(hd_session, seed_comes_from_the_stored_text_with_its_capital) {
  std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
  wallet::session().mnemonic = "A" + std::string(kAbandonAbout + 1);
  const std::string capital = address_of(wallet::identity_path());
  EXPECT_FALSE(capital.empty());
  EXPECT_NE(capital, "1Hg7Jm7G3DUetk4vxbAdjSf49qq3zbp8g6");
}

}  // namespace
