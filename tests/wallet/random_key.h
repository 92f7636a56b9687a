// A random secp256k1 key pair: private key, compressed and uncompressed public key, all hex.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "wallet/curve.h"
#include "wallet/encoding.h"
#include "wallet/keys.h"

namespace wallet_test {

struct TestKey {
  std::string priv, pub, pub_uncompressed;
};

inline TestKey random_key(std::mt19937_64& rng) {
  TestKey key;
  wallet::PrivateKey32 bytes{};
  do {
    for (auto& b : bytes) b = static_cast<unsigned char>(rng());
  } while (!wallet::private_key_in_range(bytes.data()));
  key.priv = wallet::hex_encode(bytes.data(), bytes.size());
  EXPECT_TRUE(wallet::public_key_from_private(key.priv, key.pub));
  const wallet::Bytes pub = wallet::hex_decode(key.pub);
  std::array<unsigned char, 65> full{};
  EXPECT_EQ(EC_POINT_point2oct(wallet::secp256k1_group(),
                               wallet::point_from_bytes(pub.data(), pub.size()).get(),
                               POINT_CONVERSION_UNCOMPRESSED, full.data(), full.size(), nullptr),
            65u);
  key.pub_uncompressed = wallet::hex_encode(full.data(), full.size());
  return key;
}

}  // namespace wallet_test
