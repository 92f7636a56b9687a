// Hash primitives against published answers: a wrong hash would silently change every address.
#include "wallet/hashes.h"

#include <gtest/gtest.h>

#include "wallet/encoding.h"

namespace {

using wallet::hex_encode;

std::string hex(const auto& digest) {
  return hex_encode(digest.data(), digest.size());
}

const unsigned char* bytes(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

TEST(hashes, sha_family_known_answers) {
  EXPECT_EQ(hex(wallet::sha256("abc")),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(hex(wallet::sha256d("")),
            "5df6e0e2761359d30a8275058e299fcc0381534545f55cf43e41983f5d4c9456");
  EXPECT_EQ(hex(wallet::sha512(bytes("abc"), 3)),
            "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
            "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
}

// hash160 of the generator point (the public key of private key 1), a well-known value.
TEST(hashes, hash160_of_generator_point) {
  const wallet::Bytes g =
      wallet::hex_decode("0279be667ef9dcbbac55a06295ce870b07029bfcdb2dce28d959f2815b16f81798");
  EXPECT_EQ(hex(wallet::hash160(g.data(), g.size())), "751e76e8199196d454941c45d1b3a323f1433bd6");
}

// RFC 4231 test case 2.
TEST(hashes, hmac_known_answers) {
  const std::string_view key = "Jefe";
  const std::string_view data = "what do ya want for nothing?";
  wallet::Digest32 mac256{};
  wallet::Digest64 mac512{};
  ASSERT_TRUE(wallet::hmac_sha256(bytes(key), key.size(), bytes(data), data.size(), mac256));
  ASSERT_TRUE(wallet::hmac_sha512(bytes(key), key.size(), bytes(data), data.size(), mac512));
  EXPECT_EQ(hex(mac256), "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  EXPECT_EQ(hex(mac512),
            "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea250554"
            "9758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b4b636e070a38bce737");
}

}  // namespace
