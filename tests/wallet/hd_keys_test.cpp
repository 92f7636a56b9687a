// BIP32 derivation checked against the published vectors (through xprv/xpub strings built here),
// the BIP39 vectors' master keys, a well-known BIP44 address, and the derivation cache.
#include "wallet/hd_keys.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "wallet/curve.h"
#include "wallet/encoding.h"
#include "wallet/keys.h"
#include "wallet/mnemonic.h"
#include "wallet/ow_korb_wallet.h"

namespace {

using wallet::Bytes;
using wallet::ExtendedKey;

struct Node {
  ExtendedKey key;
  uint8_t depth = 0;
  uint32_t fingerprint = 0;  // of the parent
  uint32_t child = 0;
};

std::string base58check(Bytes payload) {
  const wallet::Digest32 check = wallet::sha256d(payload.data(), payload.size());
  payload.insert(payload.end(), check.begin(), check.begin() + 4);
  return wallet::base58_encode(payload.data(), payload.size());
}

wallet::PublicKey33 public_of(const ExtendedKey& key) {
  wallet::PublicKey33 pub{};
  EXPECT_TRUE(wallet::public_key_from_private_bytes(key.key.data(), pub));
  return pub;
}

// BIP32 serialisation: version, depth, parent fingerprint, child number, chain code, key.
std::string serialize(const Node& node, bool is_private) {
  Bytes out = is_private ? Bytes{0x04, 0x88, 0xad, 0xe4} : Bytes{0x04, 0x88, 0xb2, 0x1e};
  out.push_back(node.depth);
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(node.fingerprint >> shift));
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(node.child >> shift));
  out.insert(out.end(), node.key.chain_code.begin(), node.key.chain_code.end());
  if (is_private) {
    out.push_back(0);
    out.insert(out.end(), node.key.key.begin(), node.key.key.end());
  } else {
    const wallet::PublicKey33 pub = public_of(node.key);
    out.insert(out.end(), pub.begin(), pub.end());
  }
  return base58check(out);
}

bool derive(const Node& parent, uint32_t index, Node& child) {
  const wallet::PublicKey33 pub = public_of(parent.key);
  const wallet::Hash160 id = wallet::hash160(pub.data(), pub.size());
  child.depth = static_cast<uint8_t>(parent.depth + 1);
  child.fingerprint = uint32_t{id[0]} << 24 | uint32_t{id[1]} << 16 | uint32_t{id[2]} << 8 | id[3];
  child.child = index;
  return wallet::derive_child_private(parent.key, index, child.key);
}

nlohmann::json load(const char* name) {
  std::ifstream in(std::string(OSTAKKA_TEST_DATA) + "/" + name);
  return nlohmann::json::parse(in, nullptr, false);
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
      Node node;
      ASSERT_TRUE(wallet::master_key_from_seed(seed.data(), seed.size(), node.key));
      // "m/0H/1/2H": walk the indices after "m".
      std::size_t pos = 1;
      while (pos < path.size()) {
        const std::size_t next = path.find('/', pos + 1);
        std::string part = path.substr(pos + 1, next == std::string::npos ? next : next - pos - 1);
        uint32_t index = 0;
        if (part.back() == 'H') {
          part.pop_back();
          index = wallet::kHardened;
        }
        index |= static_cast<uint32_t>(std::stoul(part));
        Node child;
        ASSERT_TRUE(derive(node, index, child));
        node = child;
        pos = next == std::string::npos ? path.size() : next;
      }
      EXPECT_EQ(serialize(node, true), chain.at("xprv").get<std::string>());
      EXPECT_EQ(serialize(node, false), chain.at("xpub").get<std::string>());
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
    Node master;
    ASSERT_TRUE(wallet::master_key_from_seed(seed.data(), seed.size(), master.key));
    EXPECT_EQ(serialize(master, true), v.at(3).get<std::string>());
  }
}

TEST(hd_keys, invalid_parent_key_fails_and_wipes_child) {
  ExtendedKey zero;  // private key 0 is not a key
  ExtendedKey child;
  child.key.fill(0x11);
  child.chain_code.fill(0x22);
  EXPECT_FALSE(wallet::derive_child_private(zero, 0, child));
  EXPECT_EQ(child.key, ExtendedKey{}.key);
  EXPECT_EQ(child.chain_code, ExtendedKey{}.chain_code);
  EXPECT_FALSE(wallet::derive_child_private(zero, wallet::kHardened, child));
}

class hd_session : public ::testing::Test {
 protected:
  void SetUp() override { wallet::wipe_session(); }
  void TearDown() override { wallet::wipe_session(); }
};

// The address every BIP44 wallet shows first for this phrase (coin type 0).
TEST_F(hd_session, well_known_bip44_address_and_cache) {
  std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
  wallet::session().mnemonic =
      "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon "
      "about";
  const wallet::DerivationPath path = {44 | wallet::kHardened, 0 | wallet::kHardened,
                                       0 | wallet::kHardened, 0, 0};
  std::string priv, pub, address;
  ASSERT_TRUE(wallet::derive_path_keys(path, priv, pub, address));
  EXPECT_EQ(address, "1LqBGSKuX5yYUonjxT5qGfpUsXKYYWeabA");
  EXPECT_EQ(priv.size(), 64u);
  std::string pub_again;
  ASSERT_TRUE(wallet::public_key_from_private(priv, pub_again));
  EXPECT_EQ(pub_again, pub);

  // The cache now holds the seed and master; a second derivation must not need the mnemonic.
  EXPECT_TRUE(wallet::session().seed_ready);
  EXPECT_TRUE(wallet::session().master_ready);
  wallet::session().mnemonic.clear();
  std::string address_again;
  ASSERT_TRUE(wallet::derive_path_keys(path, priv, pub, address_again));
  EXPECT_EQ(address_again, address);

  // Resetting wipes the cache, and without a mnemonic nothing can be derived.
  wallet::reset_derivation_cache();
  EXPECT_FALSE(wallet::session().seed_ready);
  EXPECT_FALSE(wallet::session().master_ready);
  EXPECT_EQ(wallet::session().seed, (std::array<unsigned char, 64>{}));
  EXPECT_EQ(wallet::session().master_key, (std::array<unsigned char, 32>{}));
  EXPECT_EQ(wallet::session().master_chain_code, (std::array<unsigned char, 32>{}));
  EXPECT_FALSE(wallet::derive_path_keys(path, priv, pub, address_again));
  EXPECT_TRUE(priv.empty() && pub.empty() && address_again.empty());
}

// The wallet's fixed paths, against addresses computed for this phrase by a separate BIP32
// implementation: the wallet application and the game must land on the same keys.
TEST_F(hd_session, fixed_paths_give_the_agreed_addresses) {
  std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
  wallet::session().mnemonic =
      "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon "
      "about";
  const std::pair<wallet::DerivationPath, const char*> expected[] = {
      {wallet::receive_path(0), "18pBoqRpHUYf9udsab5G9LT3vQUPxEyMFf"},    // m/44'/236'/1'/0/0
      {wallet::receive_path(5), "199ffw9X3CGnZwcuF5Uq8V8cgw8t4b87Gq"},    // m/44'/236'/1'/0/5
      {wallet::identity_path(), "1Hg7Jm7G3DUetk4vxbAdjSf49qq3zbp8g6"},    // m/44'/236'/100'/0/0
      {wallet::encryption_path(), "17QGtSCrX8xWgEqYdHFBw3RdurZQfvNSHR"},  // m/44'/236'/101'/0/0
      {wallet::ordinals_path(3), "1PyJ5VxnafEVS3Bfr8pvaYYZvanULpRjMD"},   // m/44'/236'/5'/0/3
  };
  for (const auto& [path, address] : expected) {
    std::string priv, pub, derived;
    ASSERT_TRUE(wallet::derive_path_keys(path, priv, pub, derived));
    EXPECT_EQ(derived, address);
  }
}

// The session seeds from the phrase exactly as stored: a capital letter gives other keys, the
// same ones any BIP39 wallet derives from that exact text.
TEST_F(hd_session, seed_comes_from_the_stored_text_with_its_capital) {
  const std::string capital =
      "Abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon "
      "about";
  ASSERT_TRUE(wallet::validate_mnemonic(capital));
  wallet::Digest64 seed{};
  ASSERT_TRUE(wallet::mnemonic_to_seed(capital, "", seed));
  ExtendedKey key;
  ASSERT_TRUE(wallet::master_key_from_seed(seed.data(), seed.size(), key));
  const wallet::DerivationPath path = wallet::identity_path();
  for (uint32_t index : path) ASSERT_TRUE(wallet::derive_child_private(key, index, key));
  const std::string expected = wallet::hex_encode(key.key.data(), key.key.size());

  std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
  wallet::session().mnemonic = capital;
  std::string priv, pub, address;
  ASSERT_TRUE(wallet::derive_path_keys(path, priv, pub, address));
  EXPECT_EQ(priv, expected);
  wallet::wipe_session();
  wallet::session().mnemonic = "a" + capital.substr(1);
  std::string lower_priv;
  ASSERT_TRUE(wallet::derive_path_keys(path, lower_priv, pub, address));
  EXPECT_NE(lower_priv, priv);
}

}  // namespace
