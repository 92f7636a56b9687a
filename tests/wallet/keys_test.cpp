// Public keys and P2PKH addresses: known answers, the curve's edge scalars, and every refusal of
// address decoding. An address accepted wrongly is money sent nowhere.
#include "wallet/keys.h"

#include <gtest/gtest.h>

#include <random>

#include "random_seed.h"
#include "wallet/encoding.h"

namespace {

constexpr char kOrderHex[] = "fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141";
constexpr char kOrderMinusOneHex[] =
    "fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364140";
constexpr char kGeneratorHex[] =
    "0279be667ef9dcbbac55a06295ce870b07029bfcdb2dce28d959f2815b16f81798";
constexpr char kGeneratorAddress[] = "1BgGZ9tcN4rm9KBzDn7KprQz87SZ26SAMH";

// Base58Check of any version byte, to build testnet and P2SH addresses for the refusals.
std::string base58check(unsigned char version, const wallet::Hash160& hash) {
  wallet::Bytes payload{version};
  payload.insert(payload.end(), hash.begin(), hash.end());
  const wallet::Digest32 check = wallet::sha256d(payload.data(), payload.size());
  payload.insert(payload.end(), check.begin(), check.begin() + 4);
  return wallet::base58_encode(payload.data(), payload.size());
}

TEST(keys, public_key_and_address_of_key_one) {
  std::string pub;
  ASSERT_TRUE(wallet::public_key_from_private(std::string(63, '0') + "1", pub));
  EXPECT_EQ(pub, kGeneratorHex);
  EXPECT_EQ(wallet::address_from_public_key(pub), kGeneratorAddress);
}

// n-1 is the largest valid key; its point is -G, same x with odd y.
TEST(keys, private_key_range_edges) {
  std::string pub;
  ASSERT_TRUE(wallet::public_key_from_private(kOrderMinusOneHex, pub));
  EXPECT_EQ(pub, "03" + std::string(kGeneratorHex).substr(2));
  EXPECT_FALSE(wallet::public_key_from_private(std::string(64, '0'), pub));
  EXPECT_TRUE(pub.empty());
  EXPECT_FALSE(wallet::public_key_from_private(kOrderHex, pub));
  EXPECT_FALSE(wallet::public_key_from_private(std::string(64, 'f'), pub));
  EXPECT_FALSE(wallet::public_key_from_private(std::string(61, '0') + "1", pub));  // 31 bytes
  EXPECT_FALSE(wallet::public_key_from_private(std::string(63, '0') + "x", pub));
  EXPECT_FALSE(wallet::public_key_from_private(std::string(66, '1'), pub));
  EXPECT_TRUE(pub.empty());
}

TEST(keys, address_from_public_key_needs_33_bytes) {
  EXPECT_EQ(wallet::address_from_public_key(std::string(kGeneratorHex).substr(2)), "");
  EXPECT_EQ(wallet::address_from_public_key(std::string(kGeneratorHex) + "00"), "");
  EXPECT_EQ(wallet::address_from_public_key("zz" + std::string(kGeneratorHex).substr(2)), "");
}

TEST(keys, address_decoding_refusals) {
  wallet::Hash160 hash{};
  ASSERT_TRUE(wallet::address_to_hash160(kGeneratorAddress, hash));
  EXPECT_EQ(wallet::hex_encode(hash.data(), hash.size()),
            "751e76e8199196d454941c45d1b3a323f1433bd6");

  const std::string good = kGeneratorAddress;
  std::vector<std::string> refused = {
      good.substr(0, 25),                                  // too short
      good + "1111",                                       // cut to 36 characters below
      "1" + good,                                          // one more leading zero byte: 26 bytes
      good.substr(0, 33) + "0",                            // a zero digit
      good.substr(0, 33) + "O",                            // capital O
      good.substr(0, 33) + "I",                            // capital I
      good.substr(0, 33) + "l",                            // small l
      good.substr(0, 33) + (good[33] == 'M' ? "N" : "M"),  // checksum broken
      base58check(0x6f, hash),                             // testnet P2PKH
      base58check(0x05, hash),                             // P2SH
      "",
  };
  refused[1].resize(36, '1');
  for (const std::string& address : refused) {
    wallet::Hash160 out{};
    out.fill(0xaa);
    EXPECT_FALSE(wallet::address_to_hash160(address, out)) << address;
    EXPECT_EQ(out, wallet::Hash160{}) << "hash not cleared for " << address;
  }
}

TEST(keys, random_hash_round_trips_through_addresses) {
  SCOPED_TRACE(wallet_test::seed_note());
  std::mt19937_64 rng(wallet_test::test_seed() ^ 0x6b657973);
  for (int round = 0; round < 200; ++round) {
    wallet::Hash160 hash{};
    for (auto& b : hash) b = static_cast<unsigned char>(rng());
    if (round % 4 == 0) hash[0] = 0;  // more leading "1"s
    const std::string address = wallet::address_from_hash160(hash);
    ASSERT_EQ(address[0], '1');
    wallet::Hash160 back{};
    ASSERT_TRUE(wallet::address_to_hash160(address, back)) << address;
    EXPECT_EQ(back, hash);
  }
}

}  // namespace
