// Public keys and P2PKH addresses: known answers, the edges of the private key range, and every
// refusal of address decoding. An address accepted wrongly is money sent nowhere.
#include "wallet/keys.h"

#include <gtest/gtest.h>

namespace {

constexpr char kGeneratorHex[] =
    "0279be667ef9dcbbac55a06295ce870b07029bfcdb2dce28d959f2815b16f81798";
constexpr char kGeneratorAddress[] = "1BgGZ9tcN4rm9KBzDn7KprQz87SZ26SAMH";

// Key 1 gives the generator; n-1, the largest valid key, gives -G (same x, odd y).
TEST(keys, public_keys_and_addresses_of_the_range_edges) {
  std::string pub;
  ASSERT_TRUE(wallet::public_key_from_private(std::string(63, '0') + "1", pub));
  EXPECT_EQ(pub, kGeneratorHex);
  EXPECT_EQ(wallet::address_from_public_key(pub), kGeneratorAddress);
  ASSERT_TRUE(wallet::public_key_from_private(
      "fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364140", pub));
  EXPECT_EQ(pub, "03" + std::string(kGeneratorHex).substr(2));
  for (const std::string& bad :
       {std::string(64, '0'),
        std::string("fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141"),
        std::string(61, '0') + "1", std::string(63, '0') + "x", std::string(66, '1')}) {
    EXPECT_FALSE(wallet::public_key_from_private(bad, pub)) << bad;
    EXPECT_TRUE(pub.empty());
  }
}

TEST(keys, address_decoding_refusals) {
  const std::string good = kGeneratorAddress;
  const std::string refused[] = {
      good.substr(0, 25),                                  // too short
      good + "1111",                                       // too long
      "1" + good,                                          // one more leading zero byte: 26 bytes
      good.substr(0, 33) + "0",                            // not a Base58 digit
      good.substr(0, 33) + (good[33] == 'M' ? "N" : "M"),  // last checksum byte broken
      "mpLQjfK79b7CCV4VMJWEWAj5Mpx8Up5zxB",                // testnet P2PKH, valid checksum
      "3J98t1WpEZ73CNmQviecrnyiWrnqRhWNLy",                // P2SH, valid checksum
      "",
  };
  for (const std::string& address : refused) {
    wallet::Hash160 out{};
    out.fill(0xaa);
    EXPECT_FALSE(wallet::address_to_hash160(address, out)) << address;
    EXPECT_EQ(out, wallet::Hash160{}) << "hash not cleared for " << address;
  }
}

}  // namespace
